// The update check against the local repository site, which publishes any
// version text it is started with, and against a loopback server for the
// answers a real site gives when something is wrong with it.

#include "shell/update_check.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_shell.h"
#include "support/loopback_http_server.h"
#include "support/test_site.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using lumen::test::FakeClock;
using lumen::test::FakePrompter;
using lumen::test::FakeShell;
using lumen::test::LoopbackHttpServer;
using lumen::test::TestSite;
using Outcome = UpdateCheck::Outcome;

Q_DECLARE_METATYPE(lumen::UpdateCheck::Outcome)

namespace
{

// A check with its seams, run to its end.
struct Rig {
    FakeShell shell;
    FakePrompter prompter;
    FakeClock clock;
    UpdateCheck check;
    Rig(const QString &root, const VersionNumber &own = {1, 5, 1116})
        : check(root, QStringLiteral("lumenarc"), shell, prompter, clock)
    {
        check.setOwnVersion(own);
    }
    Outcome run()
    {
        QSignalSpy done(&check, &UpdateCheck::finished);
        check.start();
        if (done.isEmpty() && !done.wait(10000))
            return Outcome(-1);
        return done.takeFirst().at(0).value<Outcome>();
    }
};

VersionNumber version(const QString &text)
{
    const QStringList p = text.split(u'.');
    return {p.value(0).toLongLong(), p.value(1).toLongLong(), p.value(2).toLongLong()};
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void parsePublishedVersion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // empty: not a version

        QTest::newRow("plain") << "1.5.1116"
                               << "1.5.1116";
        QTest::newRow("blanks and line end around") << " 1.6.0 \r\n"
                                                    << "1.6.0";
        QTest::newRow("blanks inside parts") << "1 . 6 . 0"
                                             << "1.6.0";
        QTest::newRow("signs") << "+1.-2.3"
                               << "1.-2.3";
        QTest::newRow("ten characters") << "10.10.1000"
                                        << "10.10.1000";
        QTest::newRow("eleven characters") << "10.10.10000"
                                           << "";
        QTest::newRow("two parts") << "1.5"
                                   << "";
        QTest::newRow("four parts") << "1.5.1116.0"
                                    << "";
        QTest::newRow("empty part") << "1..0"
                                    << "";
        QTest::newRow("letters") << "1.6.0b"
                                 << "";
        QTest::newRow("lone sign") << "1.+.0"
                                   << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks only") << "   "
                                     << "";
        QTest::newRow("full-width digits") << "１.６.０"
                                           << "";
    }
    void parsePublishedVersion()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const auto parsed = lumen::parsePublishedVersion(text);
        QCOMPARE(parsed ? parsed->toString() : QString(), expected);
    }

    void programVersionIsTheBuildVersion()
    {
        QCOMPARE(programVersion().toString(), programVersionText());
        QVERIFY(lumen::parsePublishedVersion(programVersionText()).has_value());
    }

    // The whole check against the local site publishing `published`.
    void answersFromTheSite_data()
    {
        QTest::addColumn<QString>("own");
        QTest::addColumn<QString>("published");
        QTest::addColumn<Outcome>("outcome");

        QTest::newRow("equal") << "1.5.1116"
                               << "1.5.1116" << Outcome::Current;
        QTest::newRow("newer") << "1.5.1116"
                               << "1.6.0" << Outcome::Newer;
        QTest::newRow("newer with blanks") << "1.5.1116"
                                           << "  1.6.0  " << Outcome::Newer;
        QTest::newRow("older") << "1.5.1116"
                               << "1.4.9999" << Outcome::Current;
        // A sum of 32-bit floats would make these two equal.
        QTest::newRow("last part one higher") << "2.0.0"
                                              << "2.0.1" << Outcome::Newer;
        // A weighted sum would make 1.0.10000 newer than 1.0.9999 and equal to 1.1.0.
        QTest::newRow("higher minor beats long revision") << "1.1.0"
                                                          << "1.0.99999" << Outcome::Current;
        QTest::newRow("two parts") << "1.5.1116"
                                   << "1.6" << Outcome::Malformed;
        QTest::newRow("four parts") << "1.5.1116"
                                    << "1.6.0.0" << Outcome::Malformed;
        QTest::newRow("too long") << "1.5.1116"
                                  << "10.10.10000" << Outcome::Malformed;
        QTest::newRow("not numbers") << "1.5.1116"
                                     << "v1.x.0" << Outcome::Malformed;
    }
    void answersFromTheSite()
    {
        QFETCH(QString, own);
        QFETCH(QString, published);
        QFETCH(Outcome, outcome);

        TestSite site;
        QVERIFY(site.start({QStringLiteral("--version"), published}));
        Rig rig(site.baseUrl().toString(), version(own));
        QCOMPARE(rig.run(), outcome);
        QVERIFY(!rig.check.isRunning());
        QVERIFY(site.requestLog().value(0).contains(QLatin1String("/lumenarc/newver.txt")));

        const QString page = site.url(QStringLiteral("/lumenarc/")).toString();
        if (outcome == Outcome::Newer) {
            QCOMPARE(rig.check.notice(), QStringLiteral("有最新版本：V") + published.trimmed());
            QCOMPARE(rig.shell.requests, QStringList{QStringLiteral("openUrl\t") + page});
        } else {
            QCOMPARE(rig.check.notice(), QString());
            QVERIFY(rig.shell.requests.isEmpty());
        }
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    // Each repeat of a check that found a newer version announces it again.
    void repeatedCheckAnnouncesAgain()
    {
        TestSite site;
        QVERIFY(site.start({QStringLiteral("--version"), QStringLiteral("1.6.0")}));
        Rig rig(site.baseUrl().toString());
        QSignalSpy notices(&rig.check, &UpdateCheck::noticeChanged);
        QCOMPARE(rig.run(), Outcome::Newer);
        QCOMPARE(rig.run(), Outcome::Newer);
        QCOMPARE(notices.size(), 2);
        QCOMPARE(rig.shell.requests.size(), 2);
        QCOMPARE(site.requestLog().size(), 2);
    }

    void failuresSayToKeepTheNetworkUp_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not published (404)") << "404";
        QTest::newRow("site down") << "down";
        QTest::newRow("not a web address") << "ftp";
    }
    void failuresSayToKeepTheNetworkUp()
    {
        QFETCH(QString, kind);
        TestSite site;
        QVERIFY(site.start());
        QString root = site.url(QStringLiteral("/unpublished/")).toString();
        if (kind == QLatin1String("down")) {
            root = site.baseUrl().toString();
            site.stop();
        } else if (kind == QLatin1String("ftp")) {
            root = QStringLiteral("ftp://127.0.0.1/");
        }
        Rig rig(root);
        QCOMPARE(rig.run(), Outcome::Failed);
        QCOMPARE(rig.prompter.shown.size(), 1);
        QCOMPARE(rig.prompter.shown[0].text, QStringLiteral("请保持网络畅通！"));
        QCOMPARE(rig.prompter.shown[0].icon, Prompter::Icon::Critical);
        QCOMPARE(rig.check.notice(), QString());
        QVERIFY(rig.shell.requests.isEmpty());
    }

    // A captive portal or a misconfigured server answers 200 with a page.
    void errorPageIsIgnoredQuietly()
    {
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute(
            "/lumenarc/newver.txt",
            LoopbackHttpServer::body("<html><body><h1>Error</h1></body></html>", "text/html"));
        Rig rig(server.url(QStringLiteral("/")));
        QCOMPARE(rig.run(), Outcome::Malformed);
        QVERIFY(rig.prompter.shown.isEmpty());
        QVERIFY(rig.shell.requests.isEmpty());
    }

    // A site that takes the request and never answers ends the check once
    // the answer time is up, and no sooner.
    void silentSiteTimesOut()
    {
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        LoopbackHttpServer::Route silent;
        silent.noResponse = true;
        server.setRoute("/lumenarc/newver.txt", silent);
        Rig rig(server.url(QStringLiteral("/")));
        QSignalSpy done(&rig.check, &UpdateCheck::finished);
        QSignalSpy arrived(&server, &LoopbackHttpServer::requestReceived);
        rig.check.start();
        QVERIFY(arrived.wait(10000));
        rig.clock.advanceMs(UpdateCheck::AnswerTimeoutMs - 1);
        // The check has looked at the clock since, and kept waiting.
        QSignalSpy polled(&rig.check.fetcher(), &AsyncFetcher::readyStateChanged);
        QVERIFY(polled.wait(10000));
        QVERIFY(done.isEmpty());
        QVERIFY(rig.check.isRunning());
        rig.clock.advanceMs(1);
        QVERIFY(done.wait(10000));
        QCOMPARE(done.at(0).at(0).value<Outcome>(), Outcome::Failed);
        QCOMPARE(rig.prompter.messages(), QStringList{QStringLiteral("请保持网络畅通！")});
        QVERIFY(!rig.check.isRunning());
    }

    void noProductSiteSkipsQuietly()
    {
        Rig rig(QStringLiteral("  "));
        QVERIFY(!rig.check.isEnabled());
        QCOMPARE(rig.run(), Outcome::Skipped);
        QVERIFY(rig.prompter.shown.isEmpty());
        QVERIFY(rig.shell.requests.isEmpty());
        rig.check.openProductPage();
        QVERIFY(rig.shell.requests.isEmpty());
    }

    void addresses()
    {
        Rig rig(QStringLiteral("http://127.0.0.1:8080/releases"));
        QCOMPARE(rig.check.versionFileUrl(),
                 QUrl(QStringLiteral("http://127.0.0.1:8080/releases/lumenarc/newver.txt")));
        QCOMPARE(rig.check.productPageUrl(),
                 QUrl(QStringLiteral("http://127.0.0.1:8080/releases/lumenarc/")));
    }

    void environmentOverridesTheBuild()
    {
        qputenv("LUMENARC_PRODUCT_SITE", " http://127.0.0.1:9/ ");
        QCOMPARE(UpdateCheck::configuredProductSite(), QStringLiteral("http://127.0.0.1:9/"));
        qputenv("LUMENARC_PRODUCT_SITE", "");
        QCOMPARE(UpdateCheck::configuredProductSite(), QString());
        qunsetenv("LUMENARC_PRODUCT_SITE");
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "test_update_check.moc"
