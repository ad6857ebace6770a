// lumenarc-get harvest as users run it: a real process with its browser
// without a window, against the local repository site, files in a real
// folder.

#include "harvest/web_engine_profile.h"
#include "support/loopback_http_server.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"

#include "support/cli_process.h"
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>

#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using lumen::test::LoopbackHttpServer;
using lumen::test::TestSite;
using lumen::testsite::behaviourOf;
using lumen::testsite::ItemBehaviour;
using lumen::testsite::LoginPassword;

class TestCliHarvestUi : public QObject
{
    Q_OBJECT

    TestSite m_site;
    QTemporaryDir m_home;

    using Result = lumen::test::CliResult;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = lumen::test::isolatedEnvironment(m_home.path());
        env.insert("LUMENARC_REPOSITORY", m_site.baseUrl().toString());
        return env;
    }

    void start(QProcess &p, const QStringList &args) const
    {
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(LUMEN_CLI_PATH), QStringList{"harvest"} + args);
        p.closeWriteChannel();
    }

    static Result finish(QProcess &p) { return lumen::test::finishCli(p, 120000); }

    Result run(const QStringList &args) const
    {
        QProcess p;
        start(p, args);
        return finish(p);
    }

    // A run against a server of this test process: the process is waited
    // for on the event loop, so the server can answer it meanwhile. The
    // environment names no repository, so the walk must stay on the server
    // the URL names.
    Result runServed(const QStringList &args) const
    {
        QProcess p;
        QProcessEnvironment env = lumen::test::isolatedEnvironment(m_home.path());
        env.remove("LUMENARC_REPOSITORY");
        p.setProcessEnvironment(env);
        QSignalSpy finished(&p, &QProcess::finished);
        p.start(QStringLiteral(LUMEN_CLI_PATH), QStringList{"harvest"} + args);
        p.closeWriteChannel();
        if (!finished.wait(120000))
            p.kill();
        return finish(p);
    }

    // A results page as the repository writes it: entries, and the page's
    // own "next" link when another page follows.
    static QByteArray resultsPage(const QStringList &titles, int firstId, bool hasNext)
    {
        QByteArray html = "<html><head><title>results</title></head><body><ol>";
        for (int i = 0; i < titles.size(); ++i)
            html += "<li><a href=\"/items/" + QByteArray::number(firstId + i) +
                    "\"><div class=\"c-clientmarkup\">" + titles.at(i).toUtf8() + "</div></a></li>";
        html += "</ol>";
        if (hasNext)
            html += "<a href=\"#\" onclick=\"gotoNextresultset(); return false;\">next</a>";
        return html + "</body></html>";
    }

    QString search(const QString &query) const
    {
        return m_site.url(QStringLiteral("/search?") + query).toString();
    }

    static int idOf(const QString &link)
    {
        static const QRegularExpression re(QStringLiteral("/items/(\\d+)\\.pdf$"));
        return re.match(link).captured(1).toInt();
    }

    // Checks the harvest lines and returns the item ids in order.
    QList<int> harvestedIds(const Result &r, const QString &folder) const
    {
        QList<int> ids;
        for (const QString &line : r.lines) {
            const QStringList f = line.split('\t');
            if (f.size() != 7) {
                QTest::qFail(qPrintable("not a harvest line: " + line), __FILE__, __LINE__);
                return {};
            }
            const bool ok = !f.at(0).isEmpty() && f.at(1) == "pdf" && f.at(2).isEmpty() &&
                            f.at(3) == folder && f.at(4) == QString::fromUtf8("搜索") &&
                            f.at(6).startsWith(search("q="));
            if (!ok) {
                QTest::qFail(qPrintable("unexpected fields: " + line), __FILE__, __LINE__);
                return {};
            }
            ids << idOf(f.at(5));
        }
        return ids;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QVERIFY(m_site.start());
    }

    void harvestsOnePage()
    {
        QTemporaryDir out;
        const QString page = search("q=demo&rows=20");
        const Result r = run({"--folder", out.path(), page});
        QCOMPARE(r.exitCode, 0);
        const QList<int> ids = harvestedIds(r, out.path() + "/");
        QCOMPARE(ids.size(), 20);
        QCOMPARE(ids.first(), 1);
        QCOMPARE(QSet<int>(ids.cbegin(), ids.cend()).size(), 20);
        for (const QString &line : r.lines)
            QCOMPARE(line.split('\t').at(6), page);
        QVERIFY2(r.err.contains("20 entries on " + page), qPrintable(r.err));
        // Nothing is downloaded without --download.
        QVERIFY(QDir(out.path()).isEmpty());
    }

    // From a page of 20 the walk goes on to the search in pages of 100,
    // which holds the rest; one settle wait of real time.
    void harvestsEveryPage()
    {
        QTemporaryDir out;
        const Result r = run({"--all", "--folder", out.path(), search("q=demo&rows=20")});
        QCOMPARE(r.exitCode, 0);
        const QList<int> ids = harvestedIds(r, out.path() + "/");
        QList<int> expected;
        for (int id = 1; id <= 60; ++id)
            if (behaviourOf(id) != ItemBehaviour::Stall)
                expected << id;
        QCOMPARE(ids, expected);
        QVERIFY2(r.err.contains("page 2: loading " + search("q=demo&rows=100&start=0")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains("pages walked: 2, rows harvested: 57"), qPrintable(r.err));
    }

    // Every row downloaded, named by its title and typed by what came.
    void downloadsThePage()
    {
        QTemporaryDir out;
        const QString folder = out.path() + "/";
        const Result r = run({"--download", "--folder", out.path(), "--method", "2", "--threads",
                              "3", search("q=demo&rows=20")});
        QCOMPARE(r.exitCode, 1); // a body cut off mid-way fails
        QCOMPARE(r.lines.size(), 20);
        QVERIFY2(r.err.contains("20 rows handed to the download list"), qPrintable(r.err));
        QVERIFY(r.err.contains(QString::fromUtf8("总数:20")));
        QHash<ItemBehaviour, QStringList> byBehaviour; // STATE, NAME, TYPE, PERCENT
        for (const QString &line : r.lines) {
            const QStringList f = line.split('\t');
            QCOMPARE(f.size(), 8);
            QCOMPARE(f.at(6), folder);
            byBehaviour[behaviourOf(idOf(f.at(7)))] = {f.at(0), f.at(1), f.at(2), f.at(5)};
            if (f.at(0) == "Finished" && f.at(5) == "100%") {
                const QFileInfo file(folder + f.at(1) + "." + f.at(2));
                QVERIFY2(file.exists(), qPrintable(file.filePath()));
                QCOMPARE(QString::number(file.size()), f.at(4));
            }
        }
        const auto check = [&](ItemBehaviour b, const char *state, const char *type) {
            const QStringList rec = byBehaviour.value(b);
            QVERIFY2(rec.size() == 4, qPrintable(QString::number(int(b))));
            QCOMPARE(rec.at(0), QString::fromLatin1(state));
            QCOMPARE(rec.at(2), QString::fromLatin1(type));
        };
        check(ItemBehaviour::Pdf, "Finished", "pdf");
        check(ItemBehaviour::TextPlain, "Finished", "pdf");
        check(ItemBehaviour::Caj, "Finished", "caj");
        check(ItemBehaviour::Kdh, "Finished", "kdh");
        check(ItemBehaviour::Nh, "Finished", "nh");
        check(ItemBehaviour::LoginGated, "Finished", "htm"); // nobody signed in
        check(ItemBehaviour::DropMidBody, "Failed", "pdf");
        // Named by title, not by the link's file name.
        QVERIFY(!byBehaviour.value(ItemBehaviour::Pdf).at(1).contains(".pdf"));
        QVERIFY(QDir(out.path()).entryList({"*.part"}, QDir::Files).isEmpty());
        QVERIFY(QFile(folder + byBehaviour.value(ItemBehaviour::Pdf).at(1) + ".pdf")
                    .open(QIODevice::ReadOnly));
    }

    // The first five items all come through, one of them as the login page
    // it is: files named by the link's own name, and exit status 1, because
    // a sign-in page is not the document.
    void namesByTheLinkWhenAsked()
    {
        QTemporaryDir out;
        const Result r =
            run({"--download", "--source-names", "--folder", out.path(), search("q=demo&rows=5")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("5 records: 4 documents, 1 web pages instead of the document, 0 "
                                "skipped (0 already there, 0 over the size limit), 0 failed"),
                 qPrintable(r.err));
        QCOMPARE(r.lines.size(), 5);
        for (const QString &line : r.lines) {
            const QStringList f = line.split('\t');
            QCOMPARE(f.at(0), QString("Finished"));
            QCOMPARE(f.at(1), QString::number(idOf(f.at(7))));
        }
        QStringList files = QDir(out.path()).entryList(QDir::Files);
        files.sort();
        QCOMPARE(files, QStringList({"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.htm"}));
    }

    void refusesWhatItCannotLoad_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing listens") << "http://127.0.0.1:1/search?q=x" << 1 << "cannot load";
        QTest::newRow("server error answer")
            << search("q=servererror") << 1 << "the server answered HTTP 500";
        QTest::newRow("not http") << "file:///etc/hostname" << 2 << "not an http or https";
        QTest::newRow("no address") << "search?q=x" << 2 << "not an http or https";
    }
    void refusesWhatItCannotLoad()
    {
        QFETCH(QString, url);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Result r = run({url});
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(r.lines.isEmpty());
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    // The next page of the search does not come: the rows of the pages
    // before are printed, stderr names the page and why, exit status 1.
    void walkCutShort_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<QString>("message");
        QTest::newRow("404") << "404"
                             << "did not load: the server answered HTTP 404";
        QTest::newRow("500") << "500"
                             << "did not load: the server answered HTTP 500";
        QTest::newRow("connection dropped") << "drop"
                                            << "did not load: no answer from the server";
    }
    void walkCutShort()
    {
        QFETCH(QString, trouble);
        QFETCH(QString, message);
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QString first = "/search?q=deepsea&rows=100&start=0";
        const QString second = "/search?q=deepsea&rows=100&start=100";
        server.setRoute(first, LoopbackHttpServer::body(resultsPage({"A", "B", "C"}, 1, true),
                                                        "text/html; charset=utf-8"));
        LoopbackHttpServer::Route bad =
            LoopbackHttpServer::body("<html><body><h1>Sorry</h1></body></html>", "text/html");
        if (trouble == "drop") {
            bad.noResponse = true;
            connect(&server, &LoopbackHttpServer::requestReceived, &server,
                    [&server](const QString &path) {
                        if (path.endsWith("start=100"))
                            QTimer::singleShot(0, &server, [&server] { server.dropAll(); });
                    });
        } else {
            bad.status = trouble.toInt();
        }
        server.setRoute(second, bad);

        const Result r = runServed({"--all", server.url(first)});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines.size(), 3);
        QVERIFY2(r.err.contains("page 2 (" + server.url(second) + ") " + message),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains("not harvested whole"), qPrintable(r.err));
        QVERIFY(server.requestCount(second) >= 1);
    }

    // A result may be titled with the words of a server error; only the
    // answer's status or the page around the entries tells an error page.
    void resultTitledLikeAnError()
    {
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QString first = "/search?q=grid&rows=100&start=0";
        const QString second = "/search?q=grid&rows=100&start=100";
        server.setRoute(first,
                        LoopbackHttpServer::body(
                            resultsPage({"Internal Server Error rates in grids", "B"}, 1, true),
                            "text/html; charset=utf-8"));
        server.setRoute(second, LoopbackHttpServer::body(resultsPage({"C"}, 3, false),
                                                         "text/html; charset=utf-8"));
        const Result r = runServed({"--all", server.url(first)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.size(), 3);
        QVERIFY(r.lines.first().startsWith("Internal Server Error rates in grids\t"));
    }

    // "#results" after the query is no part of it: the walk reaches the
    // end of the search instead of reloading the same page for ever.
    void fragmentAfterTheQuery()
    {
        QTemporaryDir out;
        const Result r = run({"--all", "--folder", out.path(), search("q=demo") + "#results"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.contains("page 2: loading " + search("q=demo&rows=100&start=0") + "\n"),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains("pages walked: 2, rows harvested: 57"), qPrintable(r.err));
    }

    // A sign-in kept by the browser profile, as the desktop program keeps
    // it, is the one the command-line tool downloads with: the profile is
    // filed under the application, not under the program's name.
    void signInCarriesOverFromTheDesktopProgram()
    {
        QTemporaryDir home;
        // Sign in on the site and keep the session as the profile keeps it.
        QNetworkAccessManager nam;
        QNetworkRequest request(m_site.url("/login"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::unique_ptr<QNetworkReply> reply(
            nam.post(request, QByteArray("userid=reader&password=") + LoginPassword));
        QSignalSpy done(reply.get(), &QNetworkReply::finished);
        QVERIFY(done.wait(20000));
        const QList<QNetworkCookie> set =
            reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>();
        QCOMPARE(set.size(), 1);
        QNetworkCookie session = set.first();
        session.setDomain(m_site.baseUrl().host());
        session.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(1));

        // Where the desktop program keeps its profile under that home.
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(".local/share")));
        const QString folder = lumen::WebEngineProfile::defaultStorageFolder();
        qputenv("XDG_DATA_HOME", dataHome);
        QVERIFY(QDir().mkpath(folder));
        QFile cookies(folder + "/cookies.txt");
        QVERIFY(cookies.open(QIODevice::WriteOnly));
        cookies.write(session.toRawForm() + '\n');
        cookies.close();

        QTemporaryDir out;
        QProcess p;
        QProcessEnvironment env = lumen::test::isolatedEnvironment(home.path());
        env.insert("LUMENARC_REPOSITORY", m_site.baseUrl().toString());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LUMEN_CLI_PATH), {"harvest", "--download", "--source-names",
                                                 "--folder", out.path(), search("q=demo&rows=5")});
        p.closeWriteChannel();
        const Result r = finish(p);
        QCOMPARE(r.exitCode, 0);
        QStringList files = QDir(out.path()).entryList(QDir::Files);
        files.sort();
        QCOMPARE(files, QStringList({"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"}));
    }

    void usageErrors()
    {
        QCOMPARE(run({}).exitCode, 2);
        QCOMPARE(run({"--threads", "9", search("q=demo")}).exitCode, 2);
        QCOMPARE(run({"--bogus", search("q=demo")}).exitCode, 2);
        QCOMPARE(run({search("q=demo"), search("q=all")}).exitCode, 2);
    }

    // SIGTERM during the walk's settle wait: the walk stops and the rows
    // harvested so far are printed.
    void stopsOnSignal()
    {
        QProcess p;
        start(p, {"--all", search("q=demo&rows=20")});
        QVERIFY(p.waitForStarted());
        QString err;
        QDeadlineTimer deadline(60000);
        while (!err.contains("loading ") && !deadline.hasExpired() &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(200);
            err += QString::fromUtf8(p.readAllStandardError());
        }
        QVERIFY2(err.contains("loading "), qPrintable(err));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
        const Result r = finish(p);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines.size(), 20);
    }
};

QTEST_GUILESS_MAIN(TestCliHarvestUi)
#include "test_cli_harvest_ui.moc"
