// The engine set up from what the settings store holds, as every front
// that downloads does before its own options.

#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "settings/stored_download_settings.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_sound_player.h"

#include <QTemporaryDir>
#include <QTest>

using namespace lumen;

class TestStoredDownloadSettings : public QObject
{
    Q_OBJECT
private slots:
    void engineFollowsTheStore_data()
    {
        QTest::addColumn<QStringList>("stored"); // method, thread index, same name, MB, proxy on
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("threads");
        QTest::addColumn<SameNamePolicy>("policy");
        QTest::addColumn<double>("maxMB");
        QTest::addColumn<bool>("proxy");
        QTest::newRow("nothing stored: the defaults")
            << QStringList{} << 2 << 3 << SameNamePolicy::Rename << 10.0 << false;
        QTest::newRow("method two, four connections")
            << QStringList{"2", "3", "跳过", "25.5", "1"} << 2 << 4 << SameNamePolicy::Skip << 25.5
            << true;
        QTest::newRow("method one keeps one connection")
            << QStringList{"1", "5", "覆盖", "0", "0"} << 1 << 1 << SameNamePolicy::Overwrite << 0.0
            << false;
    }
    void engineFollowsTheStore()
    {
        QFETCH(QStringList, stored);
        QFETCH(int, method);
        QFETCH(int, threads);
        QFETCH(SameNamePolicy, policy);
        QFETCH(double, maxMB);
        QFETCH(bool, proxy);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("settings.ini"));
        if (!stored.isEmpty()) {
            QVERIFY(store.write(setting::DownloadMethod, stored.at(0)));
            QVERIFY(store.write(setting::ThreadIndex, stored.at(1)));
            QVERIFY(store.write(setting::SameNamePolicy, stored.at(2)));
            QVERIFY(store.write(setting::MaxFileSizeMB, stored.at(3)));
            QVERIFY(store.write(setting::ProxyEnabled, stored.at(4)));
            QVERIFY(store.write(setting::ProxyAddress, "127.0.0.1"));
            QVERIFY(store.write(setting::ProxyPort, "3128"));
        }
        DownloadWindowSettings window;
        const AppSettings app = loadForCommandLine(store, &window);

        DownloadList list;
        test::FakeClock clock;
        test::FakeSoundPlayer sound;
        test::FakePrompter prompter;
        DownloadEngine engine(list, clock, sound, prompter);
        engine.setTimersDriven(false);
        // Whatever the engine held before, the store decides.
        engine.setDownloadMethod(method == 2 ? DownloadMethod::SingleConnection
                                             : DownloadMethod::MultiConnection);
        engine.setThreadCount(6);
        applyStoredDownloadSettings(engine, app, window);
        QCOMPARE(engine.downloadMethod(), downloadMethodFromNumber(method));
        QCOMPARE(engine.threadCount(), threads);
        QCOMPARE(engine.sameNamePolicy(), policy);
        QCOMPARE(engine.maxFileSizeMB(), maxMB);
        QCOMPARE(engine.proxyEnabled(), proxy);
    }
};

QTEST_GUILESS_MAIN(TestStoredDownloadSettings)
#include "test_stored_download_settings.moc"
