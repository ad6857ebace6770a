#include "support/local_proxy.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"

#include "support/cli_process.h"
#include "support/loopback_http_server.h"
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <QTest>

#include <csignal>

using lumen::test::LocalProxy;
using lumen::test::TestSite;
using lumen::testsite::firstItemWith;
using lumen::testsite::ItemBehaviour;

// lumenarc-get download as users run it: a real process against the local
// repository site, files in a real folder.
class TestCliDownload : public QObject
{
    Q_OBJECT

    TestSite m_site;

    using Result = lumen::test::CliResult;

    static Result run(const QString &home, const QStringList &args,
                      const QByteArray &stdinBytes = QByteArray())
    {
        QProcess p;
        p.setProcessEnvironment(lumen::test::isolatedEnvironment(home));
        p.start(QStringLiteral(LUMEN_CLI_PATH), QStringList{"download"} + args);
        p.write(stdinBytes);
        p.closeWriteChannel();
        return lumen::test::finishCli(p, 60000);
    }

    QString item(ItemBehaviour b) const
    {
        return m_site.url(QStringLiteral("/items/%1.pdf").arg(firstItemWith(b))).toString();
    }

private slots:
    void initTestCase() { QVERIFY(m_site.start()); }

    void downloadsFromTheSite_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("method 1") << "1";
        QTest::newRow("method 2") << "2";
    }
    void downloadsFromTheSite()
    {
        QFETCH(QString, method);
        QTemporaryDir home;
        QTemporaryDir out;
        const QString folder = out.path() + "/";
        const QStringList urls = {item(ItemBehaviour::Pdf), item(ItemBehaviour::Chunked),
                                  item(ItemBehaviour::TooLarge), item(ItemBehaviour::ServerError),
                                  "file:///etc/hostname"};
        const Result r =
            run(home.path(),
                QStringList{"--folder", out.path(), "--method", method, "--threads", "3"} + urls);
        QCOMPARE(r.exitCode, 1); // the file: URL failed
        QCOMPARE(r.lines.size(), urls.size());
        QVERIFY(r.err.contains("总数:5"));

        const int pdfId = firstItemWith(ItemBehaviour::Pdf);
        QStringList f = r.lines.at(0).split('\t');
        QCOMPARE(f.size(), 8);
        QCOMPARE(f.at(0), QString("Finished"));
        QCOMPARE(f.at(1), QString::number(pdfId));
        QCOMPARE(f.at(2), QString("pdf"));
        QCOMPARE(f.at(3), f.at(4));
        QCOMPARE(f.at(5), QString("100%"));
        QCOMPARE(f.at(6), folder);
        QCOMPARE(f.at(7), urls.at(0));
        QCOMPARE(QFileInfo(folder + f.at(1) + ".pdf").size(), f.at(3).toLongLong());

        f = r.lines.at(1).split('\t'); // no announced length
        QCOMPARE(f.at(0), QString("Finished"));
        QCOMPARE(f.at(5), QString("100%"));
        QCOMPARE(QFileInfo(folder + f.at(1) + "." + f.at(2)).size(), f.at(4).toLongLong());

        f = r.lines.at(2).split('\t');
        QCOMPARE(f.at(0), QString("Finished"));
        QCOMPARE(f.at(5), QString("大文件，跳过"));
        QVERIFY(!QFile::exists(folder + f.at(1) + ".pdf"));

        f = r.lines.at(3).split('\t'); // the server's error page is stored as a page
        QCOMPARE(f.at(0), QString("Finished"));
        QVERIFY(f.at(2).startsWith("htm"));

        f = r.lines.at(4).split('\t');
        QCOMPARE(f.at(0), QString("Failed"));
        QCOMPARE(f.at(7), QString("file:///etc/hostname"));

        // Nothing half-written is left behind.
        QVERIFY(QDir(out.path()).entryList({"*.part"}, QDir::Files).isEmpty());
    }

    void exitsZeroWhenNothingFailed()
    {
        QTemporaryDir home;
        QTemporaryDir out;
        const Result r =
            run(home.path(), {"--folder", out.path(), "--method", "2", item(ItemBehaviour::Pdf)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.size(), 1);
        QVERIFY(r.lines.at(0).startsWith("Finished\t"));
    }

    // The command starts its first transfer at once and ends with its last
    // record: a one-file run has no floor of scheduler or monitor ticks
    // (they took 2 s; the first monitor tick alone comes after 950 ms at
    // the earliest). The run itself takes some tens of milliseconds: the
    // bound leaves room for a busy machine; the benchmark holds the figure.
    void oneFileEndsWithoutWaitingForTicks_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("exists"); // under skip: settled without a transfer
        QTest::newRow("method 1") << "1" << false;
        QTest::newRow("method 2") << "2" << false;
        QTest::newRow("method 1, skipped") << "1" << true;
        QTest::newRow("method 2, skipped") << "2" << true;
    }
    void oneFileEndsWithoutWaitingForTicks()
    {
        QFETCH(QString, method);
        QFETCH(bool, exists);
        QTemporaryDir home;
        QTemporaryDir out;
        const QString name = QString::number(firstItemWith(ItemBehaviour::Pdf)) + ".pdf";
        if (exists) {
            QFile f(out.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("already here");
        }
        QElapsedTimer wall;
        wall.start();
        const Result r = run(home.path(), {"--folder", out.path(), "--method", method,
                                           "--same-name", "skip", item(ItemBehaviour::Pdf)});
        const qint64 ms = wall.elapsed();
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.size(), 1);
        QVERIFY2(r.lines.at(0).startsWith("Finished\t"), qPrintable(r.lines.at(0)));
        QCOMPARE(QFileInfo(out.filePath(name)).size() == 12, exists);
        QVERIFY2(ms < 900, qPrintable(QString("the command took %1 ms").arg(ms)));
    }

    // The repository site keeps connections open and its redirect answers
    // carry a body and a length of their own. Over a reused connection, a
    // reply that followed the redirect by itself at times came with both
    // answers' headers merged, the redirect's length first, and a whole
    // document was thrown away as cut short (one in ten, one after another).
    void redirectedDocumentsAreKeptWhole_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("method 1") << "1";
        QTest::newRow("method 2") << "2";
    }
    void redirectedDocumentsAreKeptWhole()
    {
        QFETCH(QString, method);
        QTemporaryDir home;
        QTemporaryDir out;
        const QString url = item(ItemBehaviour::Redirect);
        QByteArray list;
        constexpr int Count = 600;
        for (int i = 0; i < Count; ++i)
            list += (url + "?i=" + QString::number(i) + '\n').toUtf8();
        const QString listFile = home.filePath("list.txt");
        QFile f(listFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(list);
        f.close();
        const Result r = run(home.path(), {"--folder", out.path(), "--method", method, "--threads",
                                           "1", "--list", listFile});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err.left(2000)));
        const QStringList pdfs = QDir(out.path()).entryList({"*.pdf"}, QDir::Files);
        QCOMPARE(pdfs.size(), Count);
        for (const QString &name : pdfs) {
            QFile pdf(out.filePath(name));
            QVERIFY(pdf.open(QIODevice::ReadOnly));
            QVERIFY2(pdf.read(4) == "%PDF", qPrintable(name));
        }
    }

    // The next record starts the moment one ends, so the stop after five
    // errors or web pages is checked as each record ends: on the monitor's
    // second alone, hundreds of pages went by first.
    void stopAfterErrorsStopsAtFive_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<int>("atMost"); // records still running when the fifth ends finish
        QTest::newRow("method 1") << "1" << 5;
        QTest::newRow("method 2, six slots") << "2" << 10;
    }
    void stopAfterErrorsStopsAtFive()
    {
        QFETCH(QString, method);
        QFETCH(int, atMost);
        QTemporaryDir home;
        QTemporaryDir out;
        const QString url = item(ItemBehaviour::LoginGated);
        QByteArray list;
        for (int i = 0; i < 300; ++i)
            list += (url + "?i=" + QString::number(i) + '\n').toUtf8();
        const Result r = run(home.path(),
                             {"--folder", out.path(), "--method", method, "--threads", "6",
                              "--stop-after-errors", "--list", "-"},
                             list);
        QVERIFY(r.exitCode != 0);
        const int pages = int(QDir(out.path()).entryList({"*.htm"}, QDir::Files).size());
        QVERIFY2(pages >= 5 && pages <= atMost, qPrintable(QString::number(pages)));
    }

    void listFromStdinWithNamesTypesAndReferers()
    {
        QTemporaryDir home;
        QTemporaryDir out;
        const QByteArray list = "\n" + item(ItemBehaviour::NeedsReferer).toUtf8() +
                                "\tpaper\ttwo\tpdf\t" + m_site.baseUrl().toString().toUtf8() +
                                "items/1\n\n" + item(ItemBehaviour::Pdf).toUtf8() + "\n";
        const Result r =
            run(home.path(), {"--folder", out.path(), "--method", "1", "--list", "-"}, list);
        QCOMPARE(r.lines.size(), 2);
        // The name field "paper<TAB>two" ... is split at tabs: name "paper", type "two".
        const QStringList f = r.lines.at(0).split('\t');
        QCOMPARE(f.at(0), QString("Finished"));
        QCOMPARE(f.at(1), QString("paper"));
        QVERIFY(r.lines.at(1).startsWith("Finished\t"));
        bool refererSent = false;
        for (const QString &line : m_site.requestLog()) {
            if (line.contains(QStringLiteral("/items/%1.pdf")
                                  .arg(firstItemWith(ItemBehaviour::NeedsReferer))))
                refererSent = refererSent || line.contains("/items/1");
        }
        QVERIFY(refererSent);
    }

    void fieldsAreEscaped()
    {
        QTemporaryDir home;
        QTemporaryDir out;
        // A backslash in the URL is written doubled; the link's file name is
        // what follows the last slash or backslash.
        const Result r = run(home.path(), {"--folder", out.path(), "file:///tmp/dir\\a.b.pdf"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines, QStringList{QStringLiteral("Failed\ta.b\tpdf\t\t\t\t%1/\t"
                                                     "file:///tmp/dir\\\\a.b.pdf")
                                          .arg(out.path())});
    }

    void sameNameSkip()
    {
        QTemporaryDir home;
        QTemporaryDir out;
        const QString name = QString::number(firstItemWith(ItemBehaviour::Pdf));
        QFile existing(out.filePath(name + ".pdf"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("12345");
        existing.close();
        const Result r = run(
            home.path(), {"--folder", out.path(), "--same-name", "skip", item(ItemBehaviour::Pdf)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.value(0), QStringLiteral("Finished\t%1\tpdf\t5\t5\t已存在，跳过\t%2/\t%3")
                                       .arg(name, out.path(), item(ItemBehaviour::Pdf)));
    }

    void proxyOption()
    {
        LocalProxy proxy;
        QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
        QTemporaryDir home;
        QTemporaryDir out;
        const Result r = run(home.path(), {"--folder", out.path(), "--method", "1", "--proxy",
                                           QStringLiteral("127.0.0.1:%1").arg(proxy.port()),
                                           item(ItemBehaviour::Pdf)});
        QCOMPARE(r.exitCode, 0);
        QTRY_VERIFY(proxy.log().join('\n').contains(
            QStringLiteral("/items/%1.pdf").arg(firstItemWith(ItemBehaviour::Pdf))));
    }

    // Each failure says why on stderr as its record ends; a web page stored
    // instead of the document counts as failed for the exit status.
    void failuresSayWhy_data()
    {
        QTest::addColumn<QString>("folder"); // under the temporary folder, or absolute
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder is a file") << "file"
                                          << "pdf"
                                          << "Failed"
                                          << "is not a folder";
        QTest::newRow("folder below a file") << "file/sub"
                                             << "pdf"
                                             << "Failed"
                                             << "file is not a folder";
        QTest::newRow("folder that cannot be made")
            << "/proc/lumenarc-none/x"
            << "pdf"
            << "Failed"
            << "cannot make the folder /proc/lumenarc-none: No such file or directory";
        QTest::newRow("server error page") << ""
                                           << "error"
                                           << "Finished"
                                           << "web page instead of the document (stored as "
                                              "htm): HTTP 500 Internal Server Error";
        QTest::newRow("only http and https") << ""
                                             << "file"
                                             << "Failed"
                                             << "failed: not an http or https address";
    }
    void failuresSayWhy()
    {
        QFETCH(QString, folder);
        QFETCH(QString, behaviour);
        QFETCH(QString, state);
        QFETCH(QString, reason);
        QTemporaryDir home;
        QTemporaryDir out;
        QFile file(out.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString target = folder.startsWith('/') ? folder : out.filePath(folder);
        const QString url = behaviour == "pdf"     ? item(ItemBehaviour::Pdf)
                            : behaviour == "error" ? item(ItemBehaviour::ServerError)
                                                   : QStringLiteral("file:///etc/hostname");
        for (const QString method : {"1", "2"}) {
            const Result r = run(home.path(), {"--folder", target, "--method", method, url});
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.lines.size(), 1);
            QCOMPARE(r.lines.at(0).section('\t', 0, 0), state);
            QVERIFY2(r.err.contains(reason), qPrintable(method + ": " + r.err));
            QVERIFY2(r.err.contains(url), qPrintable(r.err));
            QVERIFY2(r.err.contains("1 records: 0 documents"), qPrintable(r.err));
        }
    }

    // A run of every kind of end: one line on stderr for each record that
    // came without its document, a summary that counts each kind apart, the
    // same folder in both methods, and an exit status that only the user's
    // own skips leave at 0.
    void mixedRunSaysEachEnd_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<bool>("withFailures");
        for (const char *method : {"1", "2"}) {
            QTest::addRow("failures and pages, method %s", method) << method << true;
            QTest::addRow("documents and skips only, method %s", method) << method << false;
        }
    }
    void mixedRunSaysEachEnd()
    {
        QFETCH(QString, method);
        QFETCH(bool, withFailures);
        QTemporaryDir home;
        QTemporaryDir out;
        const QString pdf = item(ItemBehaviour::Pdf);
        const QString there = item(ItemBehaviour::Chunked);
        const QString big = item(ItemBehaviour::TooLarge);
        const QString page = item(ItemBehaviour::ServerError);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString refused = QStringLiteral("http://127.0.0.1:%1/a.pdf").arg(probe.serverPort());
        probe.close();
        // The file of the second record is already there under the skip rule.
        const QString thereName = QString::number(firstItemWith(ItemBehaviour::Chunked));
        QFile existing(out.filePath(thereName + ".pdf"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("%PDF-1.4 kept");
        existing.close();
        QByteArray list = (pdf + "\n" + there + "\t" + thereName + "\tpdf\n" + big + "\n").toUtf8();
        if (withFailures)
            list += (page + "\n" + refused + "\tgone\n").toUtf8();
        // A relative folder: both methods print it absolute.
        const Result r = run(home.path(),
                             {"--folder", QDir::current().relativeFilePath(out.path()) + "/",
                              "--method", method, "--same-name", "skip", "--list", "-"},
                             list);
        QCOMPARE(r.exitCode, withFailures ? 1 : 0);
        QCOMPARE(r.lines.size(), withFailures ? 5 : 3);
        for (const QString &line : r.lines)
            QCOMPARE(line.section('\t', 6, 6), QDir::cleanPath(out.path()) + "/");
        const QStringList ends = r.err.split('\n').filter(QRegularExpression(" \\((http|file)"));
        QStringList expected = {
            QStringLiteral("%1: skipped, already there: ").arg(thereName),
            "skipped, over the size limit: ",
        };
        if (withFailures)
            expected << "web page instead of the document (stored as htm): HTTP 500 Internal "
                        "Server Error"
                     << "gone: failed: Connection refused";
        QCOMPARE(ends.size(), expected.size());
        for (const QString &want : std::as_const(expected))
            QVERIFY2(!ends.filter(want).isEmpty(), qPrintable(want + "\n" + r.err));
        const QString summary =
            withFailures
                ? "5 records: 1 documents, 1 web pages instead of the document, 2 skipped (1 "
                  "already there, 1 over the size limit), 1 failed (0 could not replace a file, 0 "
                  "cancelled), 0 not done"
                : "3 records: 1 documents, 0 web pages instead of the document, 2 skipped (1 "
                  "already there, 1 over the size limit), 0 failed (0 could not replace a file, 0 "
                  "cancelled), 0 not done";
        QVERIFY2(r.err.contains(summary), qPrintable(r.err));
        QCOMPARE(QFile(out.filePath(thereName + ".pdf")).size(), qint64(13)); // kept as it was
    }

    // Lists as they come: LF, CR LF or lone CR line ends; a line no list
    // holds; the same address twice.
    void listLines_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("message");
        const QByteArray a = "file:///x/a.pdf\tfirst";
        const QByteArray b = "file:///x/b.pdf\tsecond";
        QTest::newRow("LF") << a + "\n" + b + "\n" << 1 << QStringList{"first", "second"} << "";
        QTest::newRow("CR LF") << a + "\r\n" + b << 1 << QStringList{"first", "second"} << "";
        QTest::newRow("lone CR") << a + "\r" + b + "\r" << 1 << QStringList{"first", "second"}
                                 << "";
        QTest::newRow("mixed, blank lines")
            << "\r\n" + a + "\r\r\n\n" + b << 1 << QStringList{"first", "second"} << "";
        QTest::newRow("line too long") << a + "\n" + b + "\n" + QByteArray(70000, 'x') + "\n"
                                       << 2 << QStringList{} << "line 3: longer than 65536 bytes";
        QTest::newRow("same address with another name")
            << a + "\n" + b + "\n" + "file:///x/a.pdf\tagain\n"
            << 1 << QStringList{"first", "second"} << "1 of 3 entries repeat an earlier URL";
    }
    void listLines()
    {
        QFETCH(QByteArray, list);
        QFETCH(int, exitCode);
        QFETCH(QStringList, names);
        QFETCH(QString, message);
        QTemporaryDir home;
        QTemporaryDir out;
        const Result r = run(home.path(), {"--folder", out.path(), "--list", "-"}, list);
        QCOMPARE(r.exitCode, exitCode);
        QStringList got;
        for (const QString &line : r.lines)
            got << line.section('\t', 1, 1);
        QCOMPARE(got, names);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    // A list without line ends is refused after the length limit, not read
    // until the memory runs out.
    void endlessLine()
    {
        QTemporaryDir home;
        const Result r = run(home.path(), {"--list", "/dev/zero"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains("/dev/zero line 1: longer than"), qPrintable(r.err));
    }

    // Control characters and direction overrides of a name never reach the
    // file name; in printed fields they come escaped.
    void controlCharactersStayOffTheTerminal()
    {
        QTemporaryDir home;
        QTemporaryDir out;
        const QByteArray list = item(ItemBehaviour::Pdf).toUtf8() +
                                "\t\x1b[2Jpaper\x07\xe2\x80\xae"
                                "fdp.exe\n"
                                "file:///x/\x1b]0;title\x07.pdf\tb\xc2\x9b"
                                "c\n";
        const Result r = run(home.path(), {"--folder", out.path(), "--list", "-"}, list);
        QCOMPARE(r.lines.size(), 2);
        QCOMPARE(r.lines.at(0).section('\t', 0, 1), QString("Finished\t[2Jpaperfdp.exe"));
        QVERIFY(QFile::exists(out.filePath("[2Jpaperfdp.exe.pdf")));
        QCOMPARE(r.lines.at(1).section('\t', 7), QString("file:///x/\\x1b]0;title\\x07.pdf"));
        const QString all = r.lines.join('\n') + r.err;
        for (const QChar c : all) {
            if (c == QLatin1Char('\n') || c == QLatin1Char('\t'))
                continue;
            QVERIFY2(c >= QChar(0x20) && c != QChar(0x7f) && c != QChar(0x9b) && c != QChar(0x202e),
                     qPrintable(QString::number(c.unicode(), 16)));
        }
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no URL") << QStringList{};
        QTest::newRow("method 3") << QStringList{"--method", "3", "http://127.0.0.1/a.pdf"};
        QTest::newRow("7 threads") << QStringList{"--threads", "7", "http://127.0.0.1/a.pdf"};
        QTest::newRow("same-name") << QStringList{"--same-name", "keep", "http://127.0.0.1/a"};
        QTest::newRow("interval") << QStringList{"--interval", "x", "http://127.0.0.1/a"};
        QTest::newRow("proxy") << QStringList{"--proxy", "localhost", "http://127.0.0.1/a"};
        QTest::newRow("unknown") << QStringList{"--fast", "http://127.0.0.1/a"};
        QTest::newRow("missing list") << QStringList{"--list", "/nonexistent/list.txt"};
        // What would read as "no limit" further on is no size limit.
        for (const char *size : {"nan", "inf", "-inf", "1e308", "-1", "12MB"})
            QTest::newRow(qPrintable(QStringLiteral("max-size %1").arg(size)))
                << QStringList{"--max-size", size, "http://127.0.0.1/a"};
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QTemporaryDir home;
        const Result r = run(home.path(), args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.lines.isEmpty());
        QVERIFY(r.err.contains("usage: lumenarc-get download"));
    }

    void signalStopsAndPrintsTheList_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalStopsAndPrintsTheList()
    {
        QFETCH(int, signal);
        QTemporaryDir home;
        QTemporaryDir out;
        QProcess p;
        p.setProcessEnvironment(lumen::test::isolatedEnvironment(home.path()));
        p.start(QStringLiteral(LUMEN_CLI_PATH),
                {"download", "--folder", out.path(), "--method", "1", item(ItemBehaviour::Stall),
                 item(ItemBehaviour::Pdf)});
        QVERIFY(p.waitForStarted());
        // Wait until the stalling record is being downloaded.
        QString err;
        QDeadlineTimer deadline(20000);
        while (!err.contains("正在下载:1") && !deadline.hasExpired()) {
            p.waitForReadyRead(200);
            err += QString::fromUtf8(p.readAllStandardError());
        }
        QVERIFY2(err.contains("正在下载:1"), qPrintable(err));
        ::kill(pid_t(p.processId()), signal);
        const Result r = lumen::test::finishCli(p, 60000);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.lines.size(), 2);
        const QStringList f = r.lines.at(0).split('\t');
        QCOMPARE(f.at(0), QString("Failed"));
        QCOMPARE(f.at(5), QString("下载取消"));
        QVERIFY(r.lines.at(1).startsWith("Waiting\t"));
        QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
    }

    // A run killed outright in the middle of a body leaves what the next run
    // needs: that one asks only for the rest, and the file comes whole.
    void killedRunIsResumedByTheNext_data()
    {
        QTest::addColumn<QString>("method");
        QTest::newRow("method 1") << "1";
        QTest::newRow("method 2") << "2";
    }
    void killedRunIsResumedByTheNext()
    {
        using lumen::test::LoopbackHttpServer;
        QFETCH(QString, method);
        QTemporaryDir home;
        QTemporaryDir out;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        QByteArray body = "%PDF-1.4\n";
        while (body.size() < 200000)
            body += "line " + QByteArray::number(body.size()) + '\n';
        LoopbackHttpServer::Route route = LoopbackHttpServer::body(body);
        route.headers << qMakePair(QByteArray("ETag"), QByteArray("\"paper-1\""));
        route.ranges = true;
        route.sendFirst = 60000;
        route.then = LoopbackHttpServer::Route::Then::Hold;
        server.setRoute("/paper.pdf", route);
        const QStringList args{"download", "--folder", out.path(),
                               "--method", method,     server.url("/paper.pdf")};
        const QString part = out.path() + "/paper.pdf.part";

        // The server runs on this test's event loop: the tool is waited for
        // without blocking it.
        QProcess first;
        first.setProcessEnvironment(lumen::test::isolatedEnvironment(home.path()));
        first.start(QStringLiteral(LUMEN_CLI_PATH), args);
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo(part).size() == 60000 && QFileInfo::exists(part + ".meta"), 30000);
        ::kill(pid_t(first.processId()), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 30000);
        server.dropAll();
        QVERIFY(!QFileInfo::exists(out.path() + "/paper.pdf"));

        route.sendFirst = -1;
        route.then = LoopbackHttpServer::Route::Then::Finish;
        server.setRoute("/paper.pdf", route);
        QProcess second;
        second.setProcessEnvironment(lumen::test::isolatedEnvironment(home.path()));
        second.start(QStringLiteral(LUMEN_CLI_PATH), args);
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 30000);
        const Result r = lumen::test::finishCli(second, 1000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QCOMPARE(server.requestCount("/paper.pdf"), 2);
        QCOMPARE(server.requests().last().headers.value("range"), QByteArray("bytes=60000-"));
        QCOMPARE(server.requests().last().headers.value("if-range"), QByteArray("\"paper-1\""));
        QFile stored(out.path() + "/paper.pdf");
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == body);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"paper.pdf"});
    }

    // A busy server's pause is waited out: the run says the record waits
    // and until when, does not end meanwhile, and stores the document after.
    void busyServerIsWaitedOut()
    {
        using lumen::test::LoopbackHttpServer;
        QTemporaryDir home;
        QTemporaryDir out;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        LoopbackHttpServer::Route busy =
            LoopbackHttpServer::body("<html>later</html>", "text/html");
        busy.status = 503;
        busy.headers << qMakePair(QByteArray("Retry-After"), QByteArray("1"));
        server.queueRoutes("/paper.pdf", {busy});
        server.setRoute("/paper.pdf", LoopbackHttpServer::body("%PDF-1.4\nbody"));
        QProcess p;
        p.setProcessEnvironment(lumen::test::isolatedEnvironment(home.path()));
        p.start(QStringLiteral(LUMEN_CLI_PATH),
                {"download", "--folder", out.path(), "--method", "2", server.url("/paper.pdf")});
        QVERIFY(p.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(p.state(), QProcess::NotRunning, 30000);
        const Result r = lumen::test::finishCli(p, 1000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(
            r.err.contains(QRegularExpression(
                "paper: waiting: HTTP 503 Service Unavailable, retry at \\d\\d:\\d\\d:\\d\\d")),
            qPrintable(r.err));
        QCOMPARE(server.requestCount("/paper.pdf"), 2);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"paper.pdf"});
    }
};

QTEST_GUILESS_MAIN(TestCliDownload)
#include "test_cli_download.moc"
