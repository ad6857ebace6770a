#include "engine/download_engine.h"
#include "engine/requeue.h"
#include "support/engine_fixture.h"
#include "support/local_process.h"
#include "support/loopback_http_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

Q_DECLARE_METATYPE(lumen::DownloadEngine::RedownloadFilter)

// URLs of a scheme that is never fetched: the record fails at once without a
// request, which gives the scheduler a download that ends inside its tick.
static QString instantFailure(int n)
{
    return QStringLiteral("ftp://127.0.0.1/f%1.pdf").arg(n);
}

class TestDownloadScheduler : public QObject
{
    Q_OBJECT

private slots:
    void intervalFromLoad_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<double>("wait");
        QTest::addColumn<bool>("starts");
        QTest::newRow("0, same instant") << 0 << 0.0 << false;
        QTest::newRow("0, next tick") << 0 << 1.0 << true;
        QTest::newRow("5, after 5 s") << 5 << 5.0 << false;
        QTest::newRow("5, after 6 s") << 5 << 6.0 << true;
        QTest::newRow("10, after 10 s") << 10 << 10.0 << false;
        QTest::newRow("10, after 10.5 s") << 10 << 10.5 << true;
    }
    void intervalFromLoad()
    {
        QFETCH(int, interval);
        QFETCH(double, wait);
        QFETCH(bool, starts);
        EngineFixture f;
        const quint64 id = f.add(instantFailure(1), "a");
        f.engine->setIntervalSeconds(interval);
        f.engine->startDownloading();
        f.tickAfter(wait);
        QCOMPARE(f.state(id) != DownloadState::Waiting, starts);
    }

    void intervalCountsFromTheLastEnd()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        const quint64 b = f.add(instantFailure(2), "b");
        f.engine->setIntervalSeconds(10);
        f.engine->startDownloading();
        f.tickAfter(11);
        QCOMPARE(f.state(a), DownloadState::Failed);
        QCOMPARE(f.engine->lastFinishTime(), f.clock.secondsSinceMidnight());
        for (int s = 1; s <= 10; ++s) {
            f.tickAfter(1);
            QCOMPARE(f.state(b), DownloadState::Waiting);
        }
        f.tickAfter(1);
        QCOMPARE(f.state(b), DownloadState::Failed);
    }

    void intervalPassesMidnight()
    {
        EngineFixture f;
        f.clock.setSecondsSinceMidnight(86399.5);
        f.engine = std::make_unique<DownloadEngine>(f.list, f.clock, f.sound, f.prompter);
        f.engine->setTimersDriven(false);
        const quint64 a = f.add(instantFailure(1), "a");
        f.engine->startDownloading();
        f.tickAfter(1); // 00:00:00.5 — the difference is large, the test passes
        QCOMPARE(f.state(a), DownloadState::Failed);
    }

    void startCommandFollowsTheRun()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        QVERIFY(f.engine->startEnabled());
        f.engine->startDownloading();
        f.engine->monitorTick();
        QVERIFY(!f.engine->startEnabled());
        f.tickAfter();
        QCOMPARE(f.state(a), DownloadState::Failed);
        f.engine->monitorTick();
        QVERIFY(f.engine->startEnabled());
        QVERIFY(!f.engine->isRunning());
    }

    void emptyListStopsTheScheduler()
    {
        EngineFixture f;
        f.engine->startDownloading();
        QVERIFY(f.engine->isRunning());
        f.tickAfter();
        QVERIFY(!f.engine->isRunning());
    }

    void stoppedSchedulerStartsNothing()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        f.tickAfter(5);
        QCOMPARE(f.state(a), DownloadState::Waiting);
    }

    void skipPolicyMarksExistingFilesInOneTick()
    {
        EngineFixture f;
        f.engine->setSameNamePolicy(SameNamePolicy::Skip);
        f.writeFile("a.pdf", "12345");
        f.writeFile("b.pdf", "1234567");
        const quint64 a = f.add(instantFailure(1), "a");
        const quint64 b = f.add(instantFailure(2), "b");
        const quint64 c = f.add(instantFailure(3), "c");
        const quint64 d = f.add(instantFailure(4), "d");
        f.engine->startDownloading();
        f.tickAfter();
        QCOMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(percentColumnText(f.rec(a)), RecordText::ExistsSkipped);
        QCOMPARE(sizeColumnText(f.rec(a)), QString("5"));
        QCOMPARE(receivedColumnText(f.rec(b)), QString("7"));
        QCOMPARE(f.state(c), DownloadState::Failed); // chosen and started
        QCOMPARE(f.state(d), DownloadState::Waiting);
    }

    void needsDownload_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<SameNamePolicy>("policy");
        QTest::addColumn<bool>("expected");
        QTest::newRow("skip, file exists") << true << SameNamePolicy::Skip << false;
        QTest::newRow("skip, no file") << false << SameNamePolicy::Skip << true;
        QTest::newRow("overwrite, file exists") << true << SameNamePolicy::Overwrite << true;
        QTest::newRow("rename, file exists") << true << SameNamePolicy::Rename << true;
    }
    void needsDownload()
    {
        QFETCH(bool, exists);
        QFETCH(SameNamePolicy, policy);
        QFETCH(bool, expected);
        EngineFixture f;
        const QString folder = f.folder();
        if (exists)
            f.writeFile("Report.pdf", QByteArray(1234, 'x'));
        DownloadList list;
        list.append("http://h/1", "Report", "pdf", folder, "");
        list.append("http://h/2", "Other", "pdf", folder, "");
        QCOMPARE(lumen::needsDownload(list, 0, policy), expected);
        const DownloadItem &it = list.at(0);
        if (expected) {
            QCOMPARE(it.state, DownloadState::Waiting);
            QVERIFY(sizeColumnText(it).isEmpty() && receivedColumnText(it).isEmpty() &&
                    percentColumnText(it).isEmpty());
        } else {
            QCOMPARE(it.state, DownloadState::Finished);
            QCOMPARE(sizeColumnText(it), QStringLiteral("1234"));
            QCOMPARE(receivedColumnText(it), QStringLiteral("1234"));
            QCOMPARE(percentColumnText(it), QStringLiteral("已存在，跳过"));
        }
        QCOMPARE(list.at(1).state, DownloadState::Waiting);
        QVERIFY(!lumen::needsDownload(list, 2, policy));
        QVERIFY(!lumen::needsDownload(list, -1, policy));
    }

    void schedulerCleansNameAndFolder()
    {
        EngineFixture f;
        const qint64 row = f.list.append(instantFailure(1), "n", "pdf", f.dir.path(), "");
        f.list.update(row, [](DownloadItem &it) { it.name = QStringLiteral("  a:b*c?  "); });
        f.engine->startDownloading();
        f.tickAfter();
        QCOMPARE(f.list.at(row).name, QString("abc"));
        QCOMPARE(f.list.at(row).folder, f.folder());
    }

    void methodOneRefusesASecondStartWhileBusy()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const auto held = LoopbackHttpServer::held(QByteArray(4000, 'x'), 100);
        server.setRoute("/a.pdf", held);
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        const quint64 b = f.add(server.url("/b.pdf"), "b");
        f.engine->startDownloading();
        f.tickAfter();
        QCOMPARE(f.state(a), DownloadState::Downloading);
        QVERIFY(f.engine->downloadBusy());
        QTRY_COMPARE(receivedColumnText(f.rec(a)), QString("100"));
        f.tickAfter(); // busy: nothing else starts
        QCOMPARE(f.state(b), DownloadState::Waiting);
        QVERIFY(sizeColumnText(f.rec(b)).isEmpty());

        // "下载当前项" while the transfer runs is refused and re-queued.
        f.setState(b, DownloadState::Downloading);
        f.engine->downloadCurrent(b);
        QCOMPARE(f.state(b), DownloadState::Waiting);
        QCOMPARE(sizeColumnText(f.rec(b)), RecordText::WaitingAgain);
        QCOMPARE(server.requestCount("/b.pdf"), 0);
        // ... and a record re-queued like that is not "not yet downloaded".
        QCOMPARE(f.list.countNotDownloaded(), 0);

        server.release("/a.pdf");
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        // Its end starts the re-queued record at once; once that one is over
        // too, nothing is busy.
        QTRY_VERIFY(f.list.isListFinished());
        QTRY_VERIFY(!f.engine->downloadBusy());
        QCOMPARE(server.requestCount("/b.pdf"), 1);
    }

    void methodTwoStartsEveryFreeSlotInOneTick()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        QList<quint64> ids;
        for (int i = 0; i < 10; ++i) {
            const auto held = LoopbackHttpServer::held(QByteArray(4000, 'x'), 100);
            server.setRoute(QStringLiteral("/r%1.pdf").arg(i), held);
            ids << f.add(server.url(QStringLiteral("/r%1.pdf").arg(i)),
                         QStringLiteral("r%1").arg(i));
        }
        f.engine->setDownloadMethod(DownloadMethod::MultiConnection);
        f.engine->setThreadCount(3);
        QCOMPARE(f.engine->countSlotInstances(), 1);
        f.engine->startDownloading();
        f.tickAfter();
        for (int i = 0; i < 10; ++i)
            QCOMPARE(f.state(ids[i]), i < 3 ? DownloadState::Downloading : DownloadState::Waiting);
        QCOMPARE(f.engine->countSlotInstances(), 4);
        QCOMPARE(f.engine->slotRecord(1), ids[0]);
        QCOMPARE(f.engine->slotRecord(3), ids[2]);
        // Running slots keep the next tick from starting more.
        f.tickAfter();
        QCOMPARE(f.state(ids[3]), DownloadState::Waiting);

        f.engine->stopDownloading();
        QCOMPARE(f.engine->countSlotInstances(), 1);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(f.state(ids[i]), DownloadState::Failed);
    }

    // With no pause to keep, an end starts the next record at once: a run
    // of small files goes through without a single scheduler tick, in list
    // order, each slot refilled as it frees.
    void endsStartTheNextRecordWithoutATick_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("threads");
        QTest::newRow("method one") << 1 << 1;
        QTest::newRow("method two, 6 slots") << 2 << 6;
    }
    void endsStartTheNextRecordWithoutATick()
    {
        QFETCH(int, method);
        QFETCH(int, threads);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        QList<quint64> ids;
        QStringList paths;
        for (int i = 0; i < 20; ++i) {
            paths << QStringLiteral("/r%1.pdf").arg(i);
            server.setRoute(paths.last(), LoopbackHttpServer::body(pdfBytes(2000 + i)));
            ids << f.add(server.url(paths.last()), QStringLiteral("r%1").arg(i));
        }
        f.engine->setDownloadMethod(downloadMethodFromNumber(method));
        f.engine->setThreadCount(threads);
        // At most the thread count runs at once, however fast ends come.
        int mostAtOnce = 0;
        connect(&server, &LoopbackHttpServer::requestReceived, this,
                [&] { mostAtOnce = qMax(mostAtOnce, server.openConnections()); });
        f.engine->startDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(f.list.isListFinished(), 20000);
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(f.state(ids[i]), DownloadState::Finished);
            QCOMPARE(f.readFile(QStringLiteral("r%1.pdf").arg(i)), pdfBytes(2000 + i));
        }
        QCOMPARE(server.requests().size(), 20);
        QVERIFY(mostAtOnce <= threads);
        if (method == 1) {
            // One at a time, top to bottom.
            for (int i = 0; i < 20; ++i)
                QCOMPARE(server.requests().at(i).path, paths.at(i));
        }
        QVERIFY(f.engine->isRunning()); // the run itself still ends on the monitor
        f.engine->monitorTick();
        QVERIFY(!f.engine->isRunning());
    }

    // An end never starts the next record inside its own call chain, so a
    // long run of records that end at once does not pile up on the stack.
    void aRunOfInstantEndsDoesNotNest()
    {
        EngineFixture f;
        const int n = 3000;
        for (int i = 0; i < n; ++i)
            f.add(instantFailure(i), QStringLiteral("f%1").arg(i));
        int ends = 0;
        int startedWithinAnEnd = 0;
        connect(f.engine.get(), &DownloadEngine::downloadEnded, this, [&] {
            ++ends;
            if (ends < n && f.list.at(ends).state != DownloadState::Waiting)
                ++startedWithinAnEnd;
        });
        f.engine->startDownloading();
        QTRY_COMPARE_WITH_TIMEOUT(ends, n, 30000);
        QCOMPARE(startedWithinAnEnd, 0);
        QVERIFY(f.list.isListFinished());
    }

    // A pause between downloads still holds the next start until the tick
    // that finds it over; the end itself starts nothing.
    void intervalHoldsTheStartAfterAnEnd()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/a.pdf", LoopbackHttpServer::body(pdfBytes(3000)));
        server.setRoute("/b.pdf", LoopbackHttpServer::body(pdfBytes(3000)));
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        const quint64 b = f.add(server.url("/b.pdf"), "b");
        f.engine->setIntervalSeconds(3);
        f.engine->startDownloading();
        // Nothing runs before the pause after the load is over.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(f.state(a), DownloadState::Waiting);
        f.tickAfter(4);
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCOMPARE(f.state(b), DownloadState::Waiting);
        f.tickAfter(3);
        QCOMPARE(f.state(b), DownloadState::Waiting);
        f.tickAfter(1);
        QVERIFY(f.state(b) != DownloadState::Waiting);
        QTRY_COMPARE(f.state(b), DownloadState::Finished);
        QCOMPARE(server.requestCount("/b.pdf"), 1);
    }

    void stopEndsTheRunAndTheAutomaticOptions()
    {
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const auto held = LoopbackHttpServer::held(QByteArray(4000, 'x'), 100);
        server.setRoute("/a.pdf", held);
        server.setRoute("/b.pdf", held);
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        const quint64 b = f.add(server.url("/b.pdf"), "b");
        f.engine->setDownloadMethod(DownloadMethod::MultiConnection);
        f.engine->setThreadCount(2);
        f.engine->setAutoStart(true);
        f.engine->setAutoRedownload(true);
        f.engine->startDownloading();
        f.tickAfter();
        QCOMPARE(f.state(b), DownloadState::Downloading);
        QTRY_COMPARE(server.openConnections(), 2);
        f.engine->stopDownloading();
        QVERIFY(!f.engine->isRunning());
        QVERIFY(!f.engine->autoStart());
        QVERIFY(!f.engine->autoRedownload());
        QVERIFY(!f.engine->downloadBusy());
        QCOMPARE(f.state(a), DownloadState::Failed);
        QCOMPARE(f.state(b), DownloadState::Failed);
        QCOMPARE(f.engine->countSlotInstances(), 1);
        // Nothing stands under the final names, and no late completion
        // changes the records: both transfers have hung up, so the rest of
        // the bodies has nowhere to arrive.
        QTRY_COMPARE(server.openConnections(), 0);
        server.release("/a.pdf");
        server.release("/b.pdf");
        QCOMPARE(f.state(a), DownloadState::Failed);
        QVERIFY(!f.exists("a.pdf"));
        QVERIFY(!f.exists("b.pdf"));
        // The monitor does not start the run again.
        f.clock.advanceSeconds(1);
        f.engine->monitorTick();
        QVERIFY(!f.engine->isRunning());
    }

    void monitorEndsAFinishedRun_data()
    {
        QTest::addColumn<bool>("soundOn");
        QTest::newRow("sound on") << true;
        QTest::newRow("sound off") << false;
    }
    void monitorEndsAFinishedRun()
    {
        QFETCH(bool, soundOn);
        EngineFixture f;
        f.engine->setSoundFolders({f.dir.path()});
        f.writeFile("102.wav", "RIFF");
        const quint64 a = f.add(instantFailure(1), "a");
        f.setState(a, DownloadState::Finished);
        f.engine->setSoundOn(soundOn);
        f.engine->startDownloading();
        f.engine->monitorTick();
        QVERIFY(!f.engine->isRunning());
        QCOMPARE(f.sound.played, soundOn ? QStringList{f.path("102.wav")} : QStringList{});
        // A stopped run ends only once.
        f.engine->monitorTick();
        QCOMPARE(f.sound.played.size(), soundOn ? 1 : 0);
    }

    // A record that failed before any byte came has empty columns; it waits
    // for nothing, so auto-start starts no run for it: no run that the next
    // tick finds finished (with its sound), once a second for ever.
    void autoStartLeavesAFailedUntouchedRow()
    {
        EngineFixture f;
        f.soundsOn({"102.wav"});
        const quint64 a = f.add(instantFailure(1), "a");
        f.setState(a, DownloadState::Failed); // progress texts stay empty
        f.engine->setAutoStart(true);
        for (int tick = 0; tick < 3; ++tick) {
            f.engine->monitorTick();
            QVERIFY(!f.engine->isRunning());
        }
        QVERIFY(f.sound.played.isEmpty());
        // A record that does wait still starts a run.
        f.add(instantFailure(2), "b");
        f.engine->monitorTick();
        QVERIFY(f.engine->isRunning());
    }

    // Auto re-download over a list with nothing to take again starts no run:
    // a run over a finished list would end on the next tick, beep and start
    // again, every second.
    void autoRedownloadWithNothingToTakeStartsNoRun()
    {
        EngineFixture f;
        f.soundsOn({"102.wav"});
        const quint64 a = f.add(instantFailure(1), "a");
        f.setState(a, DownloadState::Finished);
        f.engine->setAutoRedownload(true);
        for (int tick = 0; tick < 3; ++tick) {
            f.engine->monitorTick();
            QVERIFY(!f.engine->isRunning());
        }
        QVERIFY(f.sound.played.isEmpty());
    }

    void autoStartWaitsForUntouchedRows()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        f.list.update(0, [](DownloadItem &it) { it.sizeNote = SizeNote::WaitingAgain; });
        f.engine->setAutoStart(true);
        f.engine->monitorTick();
        QVERIFY(!f.engine->isRunning());
        f.add(instantFailure(2), "b");
        f.engine->monitorTick();
        QVERIFY(f.engine->isRunning());
        Q_UNUSED(a);
    }

    void autoRedownload_data()
    {
        QTest::addColumn<DownloadEngine::RedownloadFilter>("filter");
        QTest::addColumn<QString>(
            "expected"); // states of: failed pdf, finished html, finished xml, failed htm
        QTest::newRow("failed") << DownloadEngine::RedownloadFilter::Failed << "WFFW";
        QTest::newRow("web pages") << DownloadEngine::RedownloadFilter::WebPages << "XWWW";
        QTest::newRow("failed and web pages")
            << DownloadEngine::RedownloadFilter::FailedAndWebPages << "WWWW";
    }
    void autoRedownload()
    {
        QFETCH(DownloadEngine::RedownloadFilter, filter);
        QFETCH(QString, expected);
        EngineFixture f;
        const QList<quint64> ids = {
            f.add(instantFailure(1), "a", "pdf"), f.add(instantFailure(2), "b", "html"),
            f.add(instantFailure(3), "c", "xml"), f.add(instantFailure(4), "d", "htm")};
        const QList<DownloadState> states = {DownloadState::Failed, DownloadState::Finished,
                                             DownloadState::Finished, DownloadState::Failed};
        for (int i = 0; i < 4; ++i)
            f.setState(ids[i], states[i]);
        f.engine->setAutoRedownload(true);
        f.engine->setRedownloadFilter(filter);
        f.engine->startDownloading();
        // The same tick finds the list finished, re-queues and restarts.
        f.engine->monitorTick();
        QVERIFY(f.engine->isRunning());
        const QString letters = "?WDFX";
        QString got;
        for (quint64 id : ids)
            got += letters.at(int(f.state(id)));
        QCOMPARE(got, expected);
        for (quint64 id : ids) {
            if (f.state(id) == DownloadState::Waiting && f.rec(id).fileType != "pdf")
                QCOMPARE(f.rec(id).fileType, QString("xxx"));
        }
    }

    void autoRedownloadRepeatsWhileRowsKeepFailing()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        f.engine->setAutoRedownload(true);
        f.engine->startDownloading();
        for (int round = 0; round < 3; ++round) {
            f.tickAfter();
            QCOMPARE(f.state(a), DownloadState::Failed);
            f.engine->monitorTick();
            QCOMPARE(f.state(a), DownloadState::Waiting);
            QVERIFY(f.engine->isRunning());
        }
    }

    void errorStop_data()
    {
        QTest::addColumn<int>("failedRows");
        QTest::addColumn<bool>("autoStart");
        QTest::addColumn<bool>("stops");
        QTest::newRow("4 failed") << 4 << false << false;
        QTest::newRow("5 failed") << 5 << false << true;
        QTest::newRow("5 failed, auto-start fights back in vain") << 5 << true << true;
    }
    void errorStop()
    {
        QFETCH(int, failedRows);
        QFETCH(bool, autoStart);
        QFETCH(bool, stops);
        EngineFixture f;
        f.soundsOn({"102.wav"});
        for (int i = 0; i < failedRows; ++i) {
            const quint64 id = f.add(instantFailure(i), QStringLiteral("x%1").arg(i));
            f.setState(id, DownloadState::Failed);
            f.list.update(f.list.rowOfId(id), [](DownloadItem &it) {
                it.size = 100;
                it.received = 0;
            });
        }
        f.add(instantFailure(99), "waiting");
        f.engine->setErrorStop(true);
        f.engine->setAutoStart(autoStart);
        f.engine->startDownloading();
        f.engine->monitorTick();
        QCOMPARE(f.engine->isRunning(), !stops);
        QCOMPARE(f.sound.played.size(), stops ? 1 : 0);
    }

    void errorStopCountsPages()
    {
        EngineFixture f;
        for (int i = 0; i < 5; ++i) {
            const quint64 id = f.add(instantFailure(i), QStringLiteral("p%1").arg(i), "HTM");
            f.setState(id, DownloadState::Finished);
        }
        f.add(instantFailure(99), "waiting");
        f.engine->setErrorStop(true);
        f.engine->startDownloading();
        f.engine->monitorTick();
        QVERIFY(!f.engine->isRunning());
    }

    void switchMethod_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("to");
        QTest::addColumn<bool>("threadBoxEnabled");
        QTest::newRow("2 → 1") << 2 << 4 << 1 << false;
        QTest::newRow("1 → 2") << 1 << 1 << 2 << true;
    }
    void switchMethod()
    {
        QFETCH(int, from);
        QFETCH(int, threads);
        QFETCH(int, to);
        QFETCH(bool, threadBoxEnabled);
        EngineFixture f;
        f.engine->setDownloadMethod(downloadMethodFromNumber(from));
        f.engine->setThreadCount(threads);
        f.engine->switchMethod();
        QCOMPARE(f.engine->downloadMethod(), downloadMethodFromNumber(to));
        QCOMPARE(f.engine->threadCount(), 1);
        QCOMPARE(f.engine->threadCountEnabled(), threadBoxEnabled);
        QCOMPARE(f.engine->methodText(), QStringLiteral("下载方式：%1").arg(to));
    }

    void busyFlagInMethodTwoFollowsTheScheduler()
    {
        EngineFixture f;
        f.add(instantFailure(1), "a");
        f.engine->setDownloadMethod(DownloadMethod::MultiConnection);
        f.engine->startDownloading();
        f.engine->monitorTick();
        QVERIFY(f.engine->downloadBusy());
        f.engine->stopDownloading();
        f.engine->monitorTick();
        QVERIFY(!f.engine->downloadBusy());
    }

    // Whichever way the method changes during a run (the "切换" button, or
    // the settings dialog setting it), method one goes on starting records.
    void switchingToMethodOneMidRunStartsDownloads_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("switch button") << true;
        QTest::newRow("method set by the settings") << false;
    }
    void switchingToMethodOneMidRunStartsDownloads()
    {
        QFETCH(bool, byButton);
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a");
        f.engine->setDownloadMethod(DownloadMethod::MultiConnection);
        f.engine->startDownloading();
        f.engine->monitorTick();
        QVERIFY(f.engine->downloadBusy());
        if (byButton)
            f.engine->switchMethod();
        else
            f.engine->setDownloadMethod(DownloadMethod::SingleConnection);
        f.engine->monitorTick();
        QVERIFY(!f.engine->downloadBusy());
        f.tickAfter();
        QCOMPARE(f.state(a), DownloadState::Failed); // started (and failed at once)
    }

    void idleGuardRefusesWhileRunning()
    {
        EngineFixture f;
        QVERIFY(f.engine->downloadIdleGuard(f.prompter));
        QVERIFY(f.prompter.shown.isEmpty());
        f.add(instantFailure(1), "a");
        f.engine->startDownloading();
        QVERIFY(!f.engine->downloadIdleGuard(f.prompter));
        QCOMPARE(f.prompter.messages(), QStringList{"停止下载以后，才能执行此操作！"});
    }

    void countersText()
    {
        EngineFixture f;
        const QList<DownloadState> states = {DownloadState::Waiting,     DownloadState::Waiting,
                                             DownloadState::Downloading, DownloadState::Finished,
                                             DownloadState::Finished,    DownloadState::Finished,
                                             DownloadState::Finished,    DownloadState::Finished,
                                             DownloadState::Finished,    DownloadState::Failed};
        for (int i = 0; i < states.size(); ++i)
            f.setState(f.add(instantFailure(i), QString::number(i)), states[i]);
        QSignalSpy spy(f.engine.get(), &DownloadEngine::countersTextChanged);
        f.engine->monitorTick();
        const QString expected = QStringLiteral("总数:10 正在下载:1 等待:2 已完成:6 失败:1");
        QCOMPARE(f.engine->countersText(), expected);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), expected);
    }

    void playNoticeSound_data()
    {
        QTest::addColumn<QString>("appFile");  // file in the application folder
        QTest::addColumn<QString>("userFile"); // file in the per-user folder
        QTest::addColumn<QString>("expected"); // "app", "user" or ""
        QTest::newRow("application folder") << "103.wav"
                                            << ""
                                            << "app";
        QTest::newRow("application folder first") << "103.wav"
                                                  << "103.wav"
                                                  << "app";
        QTest::newRow("per-user folder") << ""
                                         << "103.wav"
                                         << "user";
        QTest::newRow("missing") << ""
                                 << ""
                                 << "";
        QTest::newRow("another number only") << "101.wav"
                                             << "102.wav"
                                             << "";
    }
    void playNoticeSound()
    {
        QFETCH(QString, appFile);
        QFETCH(QString, userFile);
        QFETCH(QString, expected);
        EngineFixture f;
        const QString app = f.path("app folder with spaces");
        const QString user = f.path("user");
        QDir().mkpath(app);
        QDir().mkpath(user);
        if (!appFile.isEmpty())
            f.writeFile("app folder with spaces/" + appFile, "RIFF");
        if (!userFile.isEmpty())
            f.writeFile("user/" + userFile, "RIFF");
        f.engine->setSoundFolders({app, user});
        f.engine->playNoticeSound(103);
        if (expected.isEmpty())
            QVERIFY(f.sound.played.isEmpty());
        else
            QCOMPARE(f.sound.played,
                     QStringList{(expected == "app" ? app : user) + QStringLiteral("/103.wav")});
        QVERIFY(f.prompter.shown.isEmpty());
    }

    void requeueDeletesOldFilesAndAppliesTheXxxRule()
    {
        EngineFixture f;
        const quint64 a = f.add(instantFailure(1), "a", "HTML");
        f.setState(a, DownloadState::Failed);
        f.list.update(0, [&](DownloadItem &it) {
            it.size = 10;
            it.received = 10;
            it.storedPath = f.path("a.HTML");
        });
        f.writeFile("a.HTML", "page");
        f.writeFile("a.xxx", "older");
        const quint64 b = f.add(instantFailure(2), "b", "pdf");
        f.setState(b, DownloadState::Finished);
        f.list.update(1, [&](DownloadItem &it) { it.storedPath = f.path("b.pdf"); });
        f.writeFile("b.pdf", "%PDF");
        QCOMPARE(requeueFailed(f.list), 1);
        QCOMPARE(f.state(a), DownloadState::Waiting);
        QCOMPARE(f.rec(a).fileType, QString("xxx"));
        QVERIFY(sizeColumnText(f.rec(a)).isEmpty() && percentColumnText(f.rec(a)).isEmpty());
        QVERIFY(f.rec(a).storedPath.isEmpty());
        QVERIFY(!f.exists("a.HTML"));
        // Not this record's file, although it now carries the record's name.
        QVERIFY(f.exists("a.xxx"));
        QVERIFY(f.exists("b.pdf"));
        RequeueRecord(f.list, f.list.rowOfId(b));
        QVERIFY(!f.exists("b.pdf"));
        QCOMPARE(f.rec(b).fileType, QString("pdf"));
    }

    // A record that failed before it stored anything keeps the bare title;
    // re-queueing it (by hand or by the automatic re-download every tick)
    // must not delete the user's file of that name, nor another record's.
    void requeueNeverDeletesAFileTheRecordDidNotStore_data()
    {
        QTest::addColumn<bool>("automatic");
        QTest::newRow("re-download operation") << false;
        QTest::newRow("automatic re-download") << true;
    }
    void requeueNeverDeletesAFileTheRecordDidNotStore()
    {
        QFETCH(bool, automatic);
        EngineFixture f;
        f.writeFile("Report.pdf", "the user's own notes");
        // Refused before any header arrived: nothing was stored.
        const quint64 a =
            f.add(QStringLiteral("http://127.0.0.1:%1/r.pdf").arg(freeLocalPort()), "Report");
        f.engine->startDownloading();
        f.tickAfter();
        QTRY_COMPARE(f.state(a), DownloadState::Failed);
        QVERIFY(f.rec(a).storedPath.isEmpty());
        if (automatic) {
            f.engine->stopDownloading();
            f.engine->setAutoRedownload(true);
            f.engine->monitorTick();
        } else {
            RequeueRecord(f.list, f.list.rowOfId(a));
        }
        QCOMPARE(f.state(a), DownloadState::Waiting);
        QCOMPARE(f.readFile("Report.pdf"), QByteArray("the user's own notes"));
        f.engine->stopDownloading();
    }
};

QTEST_GUILESS_MAIN(TestDownloadScheduler)
#include "test_download_scheduler.moc"
