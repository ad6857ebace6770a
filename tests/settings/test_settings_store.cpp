#include "engine/app_title.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "settings/window_geometry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;

// (section, key, text) triples a case starts from.
using Stored = QList<std::tuple<QString, QString, QString>>;

Q_DECLARE_METATYPE(SameNamePolicy)
Q_DECLARE_METATYPE(WindowPlacement)

namespace
{

const QString Settings = QStringLiteral("设置");
const QString Win = QStringLiteral("fFileDownload");

void put(SettingsStore &store, const Stored &values)
{
    for (const auto &[section, key, text] : values)
        QVERIFY(store.write(section, key, text));
}

QString raw(const SettingsStore &store, const SettingKey &k)
{
    return store.read(k.section, k.key, QStringLiteral("<absent>"));
}

QString raw(const SettingsStore &store, const QString &section, QStringView key)
{
    return store.read(section, key, QStringLiteral("<absent>"));
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;
    // Every case gets a file of its own.
    QString freshPath() { return m_dir.filePath(QStringLiteral("s%1/settings.ini").arg(++m_n)); }

private slots:
    void firstRunDefaults()
    {
        SettingsStore store(freshPath());
        AppSettings app;
        readStartupSettings(store, app);
        QCOMPARE(app.maxFileSizeMB, 10.0);
        readSearchWindowSettings(store, app);
        QCOMPARE(app.promptForSaveFolder, true);

        AppSettings fresh;
        const DownloadWindowSettings w = loadDownloadWindowSettings(store, fresh);
        QCOMPARE(fresh.downloadMethod, DownloadMethod::MultiConnection);
        QCOMPARE(w.threadIndex, 2);
        QCOMPARE(w.sameNamePolicy, SameNamePolicy::Rename);
        QCOMPARE(fresh.proxyEnabled, false);
        QVERIFY(fresh.proxyAddress.isEmpty() && fresh.proxyPort.isEmpty());
        QCOMPARE(fresh.maxFileSizeMB, 10.0);

        QVERIFY(lumen::restoreGeometry(store, setting::DownloadWindowName, "1920*1080").maximised);

        loadSaveFolder(store, fresh);
        QCOMPARE(fresh.saveFolder, QDir::homePath() + "/12345/");
        QCOMPARE(store.read(setting::SaveFolder), fresh.saveFolder);
        QCOMPARE(store.read(setting::CopyMoveFolder), QCoreApplication::applicationDirPath() + "/");
        QCOMPARE(store.read(setting::CopyMoveOption), QStringLiteral("4"));
        QVERIFY(!fresh.useSourceFileName && !fresh.saveFolderDialogCancelled);
        // Reading never creates anything.
        QVERIFY(!QFile::exists(store.path()));
    }

    void downloadWindowLoad_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<DownloadMethod>("method");
        QTest::addColumn<int>("threadIndex");
        QTest::addColumn<SameNamePolicy>("policy");
        QTest::addColumn<bool>("proxyEnabled");
        QTest::addColumn<double>("maxSize");

        // Before each load: method 1, proxy on, 7.5 MB (what an earlier read left);
        // absent keys give their defaults, junk keeps these.
        QTest::newRow("method one never reads the thread index")
            << Stored{{Settings, "下载方式", "1"}, {"下载", "线程", "4"}}
            << DownloadMethod::SingleConnection << 0 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("method two reads it")
            << Stored{{Settings, "下载方式", "2"}, {"下载", "线程", "4"}}
            << DownloadMethod::MultiConnection << 4 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("junk method keeps the old one")
            << Stored{{Settings, "下载方式", "abc"}, {"下载", "线程", "5"}}
            << DownloadMethod::SingleConnection << 0 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("method beyond 16 bits is junk")
            << Stored{{Settings, "下载方式", "70001"}} << DownloadMethod::SingleConnection << 0
            << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("blanks and halves round to even")
            << Stored{{Settings, "下载方式", " 1.5 "}, {"下载", "线程", "2.5"}}
            << DownloadMethod::MultiConnection << 2 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("thread index past the last item leaves the box at 1")
            << Stored{{"下载", "线程", "6"}} << DownloadMethod::MultiConnection << 0
            << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("negative thread index")
            << Stored{{"下载", "线程", "-1"}} << DownloadMethod::MultiConnection << 0
            << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("junk thread index")
            << Stored{{"下载", "线程", ""}} << DownloadMethod::MultiConnection << 0
            << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("skip") << Stored{{"专利下载", "重复文件名设置", "跳过"}}
                              << DownloadMethod::MultiConnection << 2 << SameNamePolicy::Skip
                              << false << 10.0;
        QTest::newRow("overwrite")
            << Stored{{"专利下载", "重复文件名设置", "覆盖"}} << DownloadMethod::MultiConnection
            << 2 << SameNamePolicy::Overwrite << false << 10.0;
        QTest::newRow("untrimmed caption is not an option")
            << Stored{{"专利下载", "重复文件名设置", " 跳过"}} << DownloadMethod::MultiConnection
            << 2 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("unknown policy means rename")
            << Stored{{"专利下载", "重复文件名设置", "skip"}} << DownloadMethod::MultiConnection
            << 2 << SameNamePolicy::Rename << false << 10.0;
        QTest::newRow("junk proxy flag and size keep the old values")
            << Stored{{Settings, "代理服务器有效", "yes"}, {Settings, "文件最大值", "ten"}}
            << DownloadMethod::MultiConnection << 2 << SameNamePolicy::Rename << true << 7.5;
        QTest::newRow("stored proxy flag and size")
            << Stored{{Settings, "代理服务器有效", "0"}, {Settings, "文件最大值", "0.25"}}
            << DownloadMethod::MultiConnection << 2 << SameNamePolicy::Rename << false << 0.25;
    }

    void downloadWindowLoad()
    {
        QFETCH(Stored, stored);
        SettingsStore store(freshPath());
        put(store, stored);
        AppSettings app;
        app.downloadMethod = DownloadMethod::SingleConnection;
        app.proxyEnabled = true;
        app.maxFileSizeMB = 7.5;
        const DownloadWindowSettings w = loadDownloadWindowSettings(store, app);
        QTEST(app.downloadMethod, "method");
        QTEST(w.threadIndex, "threadIndex");
        QTEST(w.sameNamePolicy, "policy");
        QTEST(app.proxyEnabled, "proxyEnabled");
        QTEST(app.maxFileSizeMB, "maxSize");
    }

    void proxyTextsAreTrimmedOnLoad()
    {
        SettingsStore store(freshPath());
        put(store,
            {{Settings, "代理服务器网址", " 127.0.0.1 "}, {Settings, "代理服务器端口", "8080 "}});
        AppSettings app;
        loadDownloadWindowSettings(store, app);
        QCOMPARE(app.proxyAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(app.proxyPort, QStringLiteral("8080"));
    }

    // Outside the download window nothing earlier could stand in for a damaged
    // value, so the readers fall back to the defaults.
    void otherReadersFallBackToDefaults()
    {
        SettingsStore store(freshPath());
        put(store,
            {{Settings, "文件最大值", "x"}, {Settings, "提取网页信息时提示下载保存路径", "?"}});
        AppSettings app;
        readStartupSettings(store, app);
        readSearchWindowSettings(store, app);
        QCOMPARE(app.maxFileSizeMB, 10.0);
        QCOMPARE(app.promptForSaveFolder, true);
        put(store,
            {{Settings, "文件最大值", "3.5"}, {Settings, "提取网页信息时提示下载保存路径", "0"}});
        readStartupSettings(store, app);
        readSearchWindowSettings(store, app);
        QCOMPARE(app.maxFileSizeMB, 3.5);
        QCOMPARE(app.promptForSaveFolder, false);
    }

    void closeOrder_data()
    {
        QTest::addColumn<bool>("goAhead");
        QTest::newRow("yes to the close question") << true;
        QTest::newRow("no to the close question") << false;
    }

    void closeOrder()
    {
        QFETCH(bool, goAhead);
        SettingsStore store(freshPath());
        put(store, {{"下载", "线程", "1"}, {Win, "分辨率", "800*600"}, {Win, "上", "10"}});
        AppSettings app;
        app.downloadMethod = DownloadMethod::SingleConnection;
        DownloadWindowSettings w;
        w.threadIndex = 5;
        w.sameNamePolicy = SameNamePolicy::Overwrite;
        QStringList seenWhenAsked;
        const bool closed = storeOnDownloadWindowClose(
            store, app, w, {false, 30, 45, 9000, 6000}, "1920*1080", [&] {
                seenWhenAsked << raw(store, setting::SameNamePolicy)
                              << raw(store, setting::DownloadMethod)
                              << raw(store, setting::ThreadIndex);
                return goAhead;
            });
        QCOMPARE(closed, goAhead);
        // Policy and method are stored before the question is asked.
        QCOMPARE(seenWhenAsked, (QStringList{"覆盖", "1", "1"}));
        QCOMPARE(raw(store, setting::ThreadIndex), goAhead ? "5" : "1");
        QCOMPARE(raw(store, Win, setting::ResolutionKey), goAhead ? "1920*1080" : "800*600");
        QCOMPARE(raw(store, Win, setting::TopKey), goAhead ? "30" : "10");
        QCOMPARE(raw(store, Win, setting::HeightKey), goAhead ? "6000" : "<absent>");
    }

    void restorePlacement_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<WindowPlacement>("expected");

        const WindowPlacement maxed;
        QTest::newRow("first run") << Stored{} << maxed;
        QTest::newRow("closed maximised")
            << Stored{{Win, "分辨率", "0*0"}, {Win, "上", "5"}} << maxed;
        QTest::newRow("saved on another screen")
            << Stored{{Win, "分辨率", "1280*1024"}, {Win, "上", "5"}, {Win, "左", "5"}} << maxed;
        QTest::newRow("same screen, stored place") << Stored{{Win, "分辨率", "1920*1080"},
                                                             {Win, "上", "450"},
                                                             {Win, "左", "300"},
                                                             {Win, "宽", "12000"},
                                                             {Win, "高", "8000"}}
                                                   << WindowPlacement{false, 450, 300, 12000, 8000};
        QTest::newRow("only the resolution stored: defaults")
            << Stored{{Win, "分辨率", "1920*1080"}}
            << WindowPlacement{false, 100, 100, 15000, 10000};
        QTest::newRow("negative top, too narrow")
            << Stored{{Win, "分辨率", "1920*1080"}, {Win, "上", "-300"}, {Win, "宽", "2000"}}
            << WindowPlacement{false, 0, 100, 4000, 10000};
        QTest::newRow("negative left, too low")
            << Stored{{Win, "分辨率", "1920*1080"}, {Win, "左", "-1"}, {Win, "高", "2999"}}
            << WindowPlacement{false, 100, 0, 15000, 3000};
        QTest::newRow("junk positions count as zero") << Stored{{Win, "分辨率", "1920*1080"},
                                                                {Win, "上", "x"},
                                                                {Win, "左", ""},
                                                                {Win, "宽", "wide"},
                                                                {Win, "高", "1e99"}}
                                                      << WindowPlacement{false, 0, 0, 4000, 3000};
        QTest::newRow("single-precision texts round half to even")
            << Stored{{Win, "分辨率", "1920*1080"}, {Win, "上", "1234.5"}, {Win, "左", "1235.5"}}
            << WindowPlacement{false, 1234, 1236, 15000, 10000};
    }

    void restorePlacement()
    {
        QFETCH(Stored, stored);
        QFETCH(WindowPlacement, expected);
        SettingsStore store(freshPath());
        put(store, stored);
        const WindowPlacement got =
            lumen::restoreGeometry(store, setting::DownloadWindowName, "1920*1080");
        QCOMPARE(got.maximised, expected.maximised);
        if (!expected.maximised) {
            QCOMPARE(got.top, expected.top);
            QCOMPARE(got.left, expected.left);
            QCOMPARE(got.width, expected.width);
            QCOMPARE(got.height, expected.height);
        }
    }

    void saveGeometryThenRestore()
    {
        SettingsStore store(freshPath());
        saveGeometry(store, setting::DownloadWindowName, {false, 1500, 1234.56789, 14000, 9000},
                     "1600*900");
        QCOMPARE(raw(store, Win, setting::LeftKey), QStringLiteral("1234.568"));
        QCOMPARE(lumen::restoreGeometry(store, setting::DownloadWindowName, "1600*900"),
                 (WindowPlacement{false, 1500, 1235, 14000, 9000}));

        // Closed maximised: only the marker changes, the older place stays for later.
        saveGeometry(store, setting::DownloadWindowName, {true, 1, 2, 3, 4}, "1600*900");
        QCOMPARE(raw(store, Win, setting::ResolutionKey), QStringLiteral("0*0"));
        QCOMPARE(raw(store, Win, setting::TopKey), QStringLiteral("1500"));
        QCOMPARE(raw(store, Win, setting::WidthKey), QStringLiteral("14000"));
        QVERIFY(lumen::restoreGeometry(store, setting::DownloadWindowName, "1600*900").maximised);
    }

    void geometryWriteOrder()
    {
        const auto writes = geometryWrites({false, 1, 2, 3, 4}, "1024*768");
        QStringList keys;
        for (const auto &kv : writes)
            keys << kv.first;
        QCOMPARE(keys, (QStringList{"分辨率", "上", "左", "宽", "高"}));
        QCOMPARE(writes.first().second, QStringLiteral("1024*768"));
        QCOMPARE(resolutionText(QSize(1920, 1080)), QStringLiteral("1920*1080"));
    }

    void settingsDialogOk_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("size");
        QTest::addColumn<bool>("malformed");
        QTest::addColumn<QString>("storedSize");

        QTest::newRow("proxy on, well formed") << true << " 127.0.0.1 "
                                               << " 3128"
                                               << "12.5" << false << "12.5";
        QTest::newRow("port with a letter is stored anyway") << true << "127.0.0.1"
                                                             << "80a"
                                                             << "10" << true << "10";
        QTest::newRow("empty address") << true << "  "
                                       << "80"
                                       << "10" << true << "10";
        QTest::newRow("proxy off: nothing checked") << false << ""
                                                    << "x"
                                                    << "1e1" << false << "10";
        QTest::newRow("size that is no number keeps the old one") << false << ""
                                                                  << ""
                                                                  << "ten" << false << "4";
    }

    void settingsDialogOk()
    {
        QFETCH(bool, enabled);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, size);
        SettingsStore store(freshPath());
        put(store, {{Settings, "文件最大值", "4"}});
        AppSettings app;
        app.maxFileSizeMB = 4;
        const SettingsDialogResult r = storeSettingsDialog(
            store, app, {DownloadMethod::SingleConnection, enabled, address, port, false, size});
        QTEST(r.proxyMalformed, "malformed");
        QCOMPARE(raw(store, setting::DownloadMethod), QStringLiteral("1"));
        QCOMPARE(raw(store, setting::ProxyEnabled), QString::number(int(enabled)));
        QCOMPARE(raw(store, setting::ProxyAddress), address.trimmed());
        QCOMPARE(raw(store, setting::ProxyPort), port.trimmed());
        QCOMPARE(raw(store, setting::PromptForSaveFolder), QStringLiteral("0"));
        QTEST(raw(store, setting::MaxFileSizeMB), "storedSize");
        QCOMPARE(app.maxFileSizeMB, raw(store, setting::MaxFileSizeMB).toDouble());
        QCOMPARE(app.proxyPort, port.trimmed());

        // The download window, opened later, picks the new values up.
        AppSettings later;
        const auto w = loadDownloadWindowSettings(store, later);
        QCOMPARE(later.downloadMethod, DownloadMethod::SingleConnection);
        QCOMPARE(w.threadIndex, 0);
        QCOMPARE(later.proxyEnabled, enabled);
    }

    void saveFolder()
    {
        SettingsStore store(freshPath());
        AppSettings app;
        app.saveFolderDialogCancelled = true;
        QVERIFY(!storeSaveFolder(store, app, QString()));
        QCOMPARE(raw(store, setting::SaveFolder), QStringLiteral("<absent>"));
        QVERIFY(app.saveFolderDialogCancelled);

        QVERIFY(storeSaveFolder(store, app, "/data/论文"));
        QCOMPARE(app.saveFolder, QStringLiteral("/data/论文/"));
        QVERIFY(!app.saveFolderDialogCancelled);
        QVERIFY(storeSaveFolder(store, app, "/data/x/"));
        AppSettings other;
        loadSaveFolder(store, other);
        QCOMPARE(other.saveFolder, QStringLiteral("/data/x/"));
    }

    void survivesReopen()
    {
        const QString path = freshPath();
        {
            SettingsStore store(path);
            QVERIFY(store.write(setting::ProxyAddress, "proxy, with a comma"));
            QVERIFY(store.write(setting::SaveFolder, "/home/u/a\\b/"));
            DownloadWindowSettings w;
            w.threadIndex = 4;
            w.sameNamePolicy = SameNamePolicy::Skip;
            AppSettings app;
            app.downloadMethod = DownloadMethod::MultiConnection;
            QVERIFY(storeOnDownloadWindowClose(store, app, w, {}, "1*1", [] { return true; }));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(file.readAll()).contains("proxy, with a comma"));
        SettingsStore again(path);
        DownloadWindowSettings w;
        const AppSettings app = loadForCommandLine(again, &w);
        QCOMPARE(app.proxyAddress, QStringLiteral("proxy, with a comma"));
        QCOMPARE(app.saveFolder, QStringLiteral("/home/u/a\\b/"));
        QCOMPARE(app.downloadMethod, DownloadMethod::MultiConnection);
        QCOMPARE(w.threadIndex, 4);
        QCOMPARE(w.sameNamePolicy, SameNamePolicy::Skip);
        QCOMPARE(raw(again, Win, setting::TopKey), QStringLiteral("0"));
    }

    void commandLineGetsEveryValue()
    {
        SettingsStore store(freshPath());
        put(store, {{Settings, "下载方式", "1"},
                    {"下载", "线程", "4"},
                    {Settings, "代理服务器有效", "1"},
                    {Settings, "代理服务器网址", "127.0.0.1"},
                    {Settings, "代理服务器端口", "3128"},
                    {Settings, "文件最大值", "ten"},
                    {Settings, "提取网页信息时提示下载保存路径", "0"},
                    {Settings, "下载文件保存路径", "/srv/papers"}});
        DownloadWindowSettings w{3, SameNamePolicy::Skip};
        const AppSettings app = loadForCommandLine(store, &w);
        QCOMPARE(app.downloadMethod, DownloadMethod::SingleConnection);
        QCOMPARE(w.threadIndex, 0);
        QCOMPARE(w.sameNamePolicy, SameNamePolicy::Rename);
        QCOMPARE(app.proxyEnabled, true);
        QCOMPARE(app.proxyAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(app.proxyPort, QStringLiteral("3128"));
        // Damaged size: start-up's default survives the window's skipped read.
        QCOMPARE(app.maxFileSizeMB, 10.0);
        QCOMPARE(app.promptForSaveFolder, false);
        QCOMPARE(app.saveFolder, QStringLiteral("/srv/papers/"));
        QVERIFY(!app.useSourceFileName && !app.saveFolderDialogCancelled);
    }

    void defaultPathIsNamedAfterTheTitle()
    {
        QVERIFY(SettingsStore::defaultPath().endsWith("/" + ApplicationTitle + ".ini"));
    }

    void unwritableFileIsReported()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        // The settings file would have to live inside a plain file.
        SettingsStore store(dir.filePath("file/settings.ini"));
        QVERIFY(!store.write(setting::DownloadMethod, "1"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
