#include "engine/download_engine.h"
#include "engine/downloader.h"
#include "support/engine_fixture.h"
#include "support/local_process.h"
#include "support/loopback_http_server.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;
using Route = LoopbackHttpServer::Route;

class TestMethodTwo : public QObject
{
    Q_OBJECT

    static void startSlots(EngineFixture &f, int threads)
    {
        f.engine->setDownloadMethod(DownloadMethod::MultiConnection);
        f.engine->setThreadCount(threads);
        f.engine->startDownloading();
        f.tickAfter();
    }

private slots:
    void threeSlotsEachUpdateOnlyTheirOwnRow()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        QList<quint64> ids;
        for (int i = 0; i < 3; ++i) {
            const QString path = QStringLiteral("/r%1.pdf").arg(i);
            server.setRoute(path, LoopbackHttpServer::held(pdfBytes(1000 * (i + 1)), 300));
            ids << f.add(server.url(path), QStringLiteral("r%1").arg(i));
        }
        startSlots(f, 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(f.state(ids[i]), DownloadState::Downloading);
            QTRY_COMPARE(sizeColumnText(f.rec(ids[i])), QString::number(1000 * (i + 1)));
        }
        QCOMPARE(f.engine->countSlotInstances(), 4);

        server.release("/r1.pdf");
        QTRY_COMPARE(f.state(ids[1]), DownloadState::Finished);
        QCOMPARE(receivedColumnText(f.rec(ids[1])), QString("2000"));
        QCOMPARE(percentColumnText(f.rec(ids[1])), QString("100%"));
        QCOMPARE(f.engine->actionText(), QString("完成下载:r1"));
        QCOMPARE(f.state(ids[0]), DownloadState::Downloading);
        QCOMPARE(f.state(ids[2]), DownloadState::Downloading);
        QCOMPARE(sizeColumnText(f.rec(ids[0])), QString("1000"));
        QCOMPARE(sizeColumnText(f.rec(ids[2])), QString("3000"));
        QCOMPARE(f.engine->countSlotInstances(), 3);

        server.release("/r2.pdf");
        server.release("/r0.pdf");
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(f.state(ids[i]), DownloadState::Finished);
            QCOMPARE(f.readFile(QStringLiteral("r%1.pdf").arg(i)), pdfBytes(1000 * (i + 1)));
        }
        QCOMPARE(f.engine->countSlotInstances(), 1);
    }

    void sameNameInOneTickGetsNumbered()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/1.pdf", LoopbackHttpServer::held(pdfBytes(1000), 100));
        server.setRoute("/2.pdf", LoopbackHttpServer::held(pdfBytes(2000), 100));
        f.engine->setSameNamePolicy(SameNamePolicy::Rename);
        const quint64 a = f.add(server.url("/1.pdf"), "paper");
        const quint64 b = f.add(server.url("/2.pdf"), "paper");
        startSlots(f, 2);
        QCOMPARE(f.rec(a).name, QString("paper"));
        QCOMPARE(f.rec(b).name, QString("paper[001]"));
        QTRY_COMPARE(server.openConnections(), 2);
        server.release("/2.pdf");
        server.release("/1.pdf");
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QTRY_COMPARE(f.state(b), DownloadState::Finished);
        QCOMPARE(f.readFile("paper.pdf"), pdfBytes(1000));
        QCOMPARE(f.readFile("paper[001].pdf"), pdfBytes(2000));
    }

    // Same-name records under overwrite never run at once: each body goes to
    // a partial file of its own, and the name is stored by one record at a
    // time, so the file always holds one whole body.
    void overwriteRunsSameNamesOneAfterAnother()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QList<int> sizes{160000, 40000, 90000};
        QList<quint64> ids;
        for (int i = 0; i < sizes.size(); ++i) {
            const QString path = QStringLiteral("/e%1.pdf").arg(i);
            server.setRoute(path, LoopbackHttpServer::held(pdfBytes(sizes[i]), 100));
            ids << f.add(server.url(path), "Editorial");
        }
        f.engine->setSameNamePolicy(SameNamePolicy::Overwrite);
        startSlots(f, 3);
        QCOMPARE(f.state(ids[0]), DownloadState::Downloading);
        QCOMPARE(f.state(ids[1]), DownloadState::Waiting);
        QCOMPARE(f.state(ids[2]), DownloadState::Waiting);
        QCOMPARE(f.engine->countSlotInstances(), 2);
        for (int i = 0; i < sizes.size(); ++i) {
            QTRY_COMPARE(server.requestCount(QStringLiteral("/e%1.pdf").arg(i)), 1);
            server.releaseAll();
            QTRY_COMPARE(f.state(ids[i]), DownloadState::Finished);
            QCOMPARE(percentColumnText(f.rec(ids[i])), QString("100%"));
            QCOMPARE(f.readFile("Editorial.pdf"), pdfBytes(sizes[i]));
            f.tickAfter();
        }
        QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files), QStringList{"Editorial.pdf"});
    }

    // Under skip, a same-name record waits while another stores its name:
    // it is neither skipped for a file that is not there yet nor numbered,
    // and nothing stands under the name before a body is complete.
    void skipWaitsForTheRecordStoringItsName()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/1.pdf", LoopbackHttpServer::held(pdfBytes(1000), 100));
        // Held too: the second starts as soon as the first ends, and must not
        // have stored its file before the first one's end is looked at.
        server.setRoute("/2.pdf", LoopbackHttpServer::held(pdfBytes(2000), 0));
        f.engine->setSameNamePolicy(SameNamePolicy::Skip);
        const quint64 a = f.add(server.url("/1.pdf"), "paper");
        const quint64 b = f.add(server.url("/2.pdf"), "paper");
        startSlots(f, 2);
        QCOMPARE(f.state(a), DownloadState::Downloading);
        QCOMPARE(f.state(b), DownloadState::Waiting);
        QTRY_COMPARE(receivedColumnText(f.rec(a)), QString("100"));
        QVERIFY(!f.exists("paper.pdf"));
        f.tickAfter();
        QCOMPARE(f.state(b), DownloadState::Waiting);
        // The first one fails: the name is free again and the second is
        // downloaded, not taken as existing.
        server.dropAll();
        QTRY_COMPARE(f.state(a), DownloadState::Failed);
        QVERIFY(!f.exists("paper.pdf"));
        f.tickAfter();
        QTRY_COMPARE(server.requestCount("/2.pdf"), 1);
        server.release("/2.pdf");
        QTRY_COMPARE(f.state(b), DownloadState::Finished);
        QCOMPARE(percentColumnText(f.rec(b)), QString("100%"));
        QCOMPARE(f.rec(b).name, QString("paper"));
        QCOMPARE(f.readFile("paper.pdf"), pdfBytes(2000));
    }

    // What the window makes of a slot's completion, driven by a server that
    // sends the whole body or breaks off part-way.
    void completionReport_data()
    {
        QTest::addColumn<int>("sendFirst"); // -1: the whole body
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("percent");
        QTest::newRow("whole and stored") << -1 << true << "5016"
                                          << "100%";
        QTest::newRow("dropped short of 100%") << 3000 << false << "3000"
                                               << "59%";
    }
    void completionReport()
    {
        QFETCH(int, sendFirst);
        QFETCH(bool, finished);
        QFETCH(QString, received);
        QFETCH(QString, percent);
        EngineFixture f;
        f.soundsOn({"101.wav", "102.wav", "103.wav"});
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        Route r = LoopbackHttpServer::body(pdfBytes(5016));
        if (sendFirst >= 0) {
            r.sendFirst = sendFirst;
            r.then = Route::Then::Drop;
        }
        server.setRoute("/a.pdf", r);
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        startSlots(f, 1);
        f.clock.advanceSeconds(3);
        QTRY_COMPARE(f.engine->countSlotInstances(), 1);
        QCOMPARE(f.state(a), finished ? DownloadState::Finished : DownloadState::Failed);
        QCOMPARE(sizeColumnText(f.rec(a)), QString("5016"));
        QCOMPARE(receivedColumnText(f.rec(a)), received);
        QCOMPARE(percentColumnText(f.rec(a)), percent);
        QCOMPARE(f.engine->actionText(), QString("完成下载:a"));
        QCOMPARE(f.sound.played, finished ? QStringList{} : QStringList{f.path("103.wav")});
        QCOMPARE(f.engine->lastFinishTime(), f.clock.secondsSinceMidnight());
        QCOMPARE(f.exists("a.pdf"), finished);
        QCOMPARE(f.rec(a).storedPath, finished ? f.path("a.pdf") : QString());
    }

    void aWebPagePlays101AndIsAnnounced()
    {
        EngineFixture f;
        f.soundsOn({"101.wav", "102.wav", "103.wav"});
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/a.pdf", LoopbackHttpServer::body("<html><head><title>Log in</title>"
                                                           "</head><body>form</body></html>",
                                                           "text/html"));
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        QSignalSpy page(f.engine.get(), &DownloadEngine::webPageDownloaded);
        startSlots(f, 1);
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(f.rec(a).fileType, QString("htm")); // corrected by content
        QVERIFY(f.exists("a.htm"));
        QVERIFY(!f.exists("a.pdf"));
        QCOMPARE(f.sound.played, QStringList{f.path("101.wav")});
        QCOMPARE(page.size(), 1);
    }

    void tooLargeLeavesNothingUnderTheName()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        Route big = LoopbackHttpServer::held(pdfBytes(1000), 500);
        big.announcedLength = 12 * 1024 * 1024;
        server.setRoute("/big.pdf", big);
        f.engine->setSameNamePolicy(SameNamePolicy::Skip);
        const quint64 a = f.add(server.url("/big.pdf"), "big");
        startSlots(f, 1);
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(percentColumnText(f.rec(a)), RecordText::BigFileSkipped);
        QCOMPARE(sizeColumnText(f.rec(a)), QString::number(12 * 1024 * 1024));
        QCOMPARE(f.engine->countSlotInstances(), 1);
        QCOMPARE(f.engine->lastFinishTime(), f.clock.secondsSinceMidnight());
        QTRY_VERIFY(!f.exists("big.pdf"));
        // So a later re-download is not skipped as an existing file.
        f.setState(a, DownloadState::Waiting);
        f.list.update(f.list.rowOfId(a), [](DownloadItem &it) { clearProgress(it); });
        f.engine->setMaxFileSizeMB(20);
        f.tickAfter();
        QCOMPARE(f.state(a), DownloadState::Downloading);
        f.engine->stopDownloading();
    }

    void errorReportFailsQuietly()
    {
        EngineFixture f;
        f.soundsOn({"101.wav", "102.wav", "103.wav"});
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        // Refused twice (the read and its one-piece second attempt): an
        // error report, not a completion.
        const quint64 a =
            f.add(QStringLiteral("http://127.0.0.1:%1/a.pdf").arg(freeLocalPort()), "a");
        startSlots(f, 1);
        f.clock.advanceSeconds(2);
        QTRY_COMPARE(f.state(a), DownloadState::Failed);
        QCOMPARE(f.engine->lastFinishTime(), f.clock.secondsSinceMidnight());
        QVERIFY(f.sound.played.isEmpty()); // an error report plays nothing
        QVERIFY(!f.exists("a.pdf"));
        QCOMPARE(f.engine->countSlotInstances(), 1);
    }

    void ampersandEntitiesAreRequestedAsAmpersands()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/get?x=1&y=2", LoopbackHttpServer::body(pdfBytes(100)));
        const quint64 a = f.add(server.url("/get?x=1&amp;y=2"), "a");
        startSlots(f, 1);
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(server.requestCount("/get?x=1&y=2"), 1);
    }

    void onlyHttpAndHttpsAreFetched()
    {
        EngineFixture f;
        const quint64 a = f.add("file:///etc/hosts", "a", "txt");
        const quint64 b = f.add("javascript:void(0)", "b", "txt");
        startSlots(f, 2);
        QCOMPARE(f.state(a), DownloadState::Failed);
        QCOMPARE(f.state(b), DownloadState::Failed);
        QCOMPARE(f.engine->countSlotInstances(), 1);
        QVERIFY(QDir(f.dir.path()).entryList(QDir::Files).isEmpty());
    }

    void aBadFolderIsReportedOncePerRun()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QString bad = f.path("a/" + QString(300, QLatin1Char('n')) + "/b/");
        const qint64 r1 = f.list.append(server.url("/1.pdf"), "one", "pdf", bad, QString());
        const qint64 r2 = f.list.append(server.url("/2.pdf"), "two", "pdf", bad, QString());
        startSlots(f, 2);
        QCOMPARE(f.list.at(r1).state, DownloadState::Failed);
        QCOMPARE(f.list.at(r2).state, DownloadState::Failed);
        QCOMPARE(f.prompter.messages(), QStringList{"文件夹名称有误！不能创建文件夹！"});
        QVERIFY(server.requests().isEmpty());
        // Both back in the queue, a new run: the message comes once more.
        f.engine->stopDownloading();
        f.setState(f.list.at(r1).id, DownloadState::Waiting);
        f.setState(f.list.at(r2).id, DownloadState::Waiting);
        f.list.update(r1, [&](DownloadItem &it) { it.folder = bad; });
        f.list.update(r2, [&](DownloadItem &it) { it.folder = bad; });
        f.engine->startDownloading();
        f.tickAfter();
        QCOMPARE(f.prompter.messages().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestMethodTwo)
#include "test_method_two.moc"
