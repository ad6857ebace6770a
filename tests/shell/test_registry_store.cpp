// The path-addressed key store, its file, and the browser emulation value
// the start-up files in it.

#include "shell/browser_emulation.h"
#include "shell/registry_store.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::readFile;
using lumen::test::writeFile;
using Root = RegistryStore::Root;

Q_DECLARE_METATYPE(lumen::RegistryStore::Root)

namespace
{

const QString Machine = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumenarc");
const QString Program = QStringLiteral("lumenarc");
const QString ValueName = QStringLiteral("lumenarc.exe");

} // namespace

class TestRegistryStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString storePath(const QString &name) { return m_dir.filePath(name); }

private slots:
    void splitPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Root>("root");
        QTest::addColumn<QString>("rest"); // the path afterwards

        QTest::newRow("machine key")
            << "HKEY_LOCAL_MACHINE\\SOFTWARE\\A" << Root::LocalMachine << "SOFTWARE\\A";
        QTest::newRow("root alone") << "HKEY_CURRENT_USER" << Root::CurrentUser << "";
        QTest::newRow("every root name") << "HKEY_DYN_DATA\\X" << Root::DynData << "X";
        QTest::newRow("performance data")
            << "HKEY_PERFORMANCE_DATA\\X" << Root::PerformanceData << "X";
        QTest::newRow("lower-case prefix")
            << "hkey_local_machine\\SOFTWARE" << Root::None << "hkey_local_machine\\SOFTWARE";
        QTest::newRow("trailing backslash")
            << "HKEY_LOCAL_MACHINE\\SOFTWARE\\" << Root::None << "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
        QTest::newRow("unknown root")
            << "HKEY_NOWHERE\\SOFTWARE" << Root::None << "HKEY_NOWHERE\\SOFTWARE";
        QTest::newRow("root name in mixed case after the prefix")
            << "HKEY_Users\\S-1" << Root::Users << "S-1";
        QTest::newRow("no prefix") << "SOFTWARE\\A" << Root::None << "SOFTWARE\\A";
    }
    void splitPath()
    {
        QFETCH(QString, path);
        QFETCH(Root, root);
        QFETCH(QString, rest);
        QCOMPARE(RegistryStore::splitPath(path), root);
        QCOMPARE(path, rest);
    }

    void rootHandleTrimsAndUpperCases()
    {
        QCOMPARE(RegistryStore::rootHandle(QStringLiteral("  hkey_classes_root ")),
                 Root::ClassesRoot);
        QCOMPARE(RegistryStore::rootHandle(QStringLiteral("HKEY_CURRENT_CONFIG")),
                 Root::CurrentConfig);
        QCOMPARE(RegistryStore::rootHandle(QStringLiteral("HKCU")), Root::None);
    }

    // Reads and writes, views and the failure answers, and that all of it
    // survives a new store on the same file.
    void valuesAndViews()
    {
        const QString path = storePath(QStringLiteral("values/store.ini"));
        {
            RegistryStore store(path, QStringLiteral("64"));
            QCOMPARE(store.readText(Machine, QStringLiteral("Name")), QStringLiteral("Error"));
            // Writes never create a key.
            QVERIFY(!store.writeNumber(Machine, QStringLiteral("N"), 1));
            QVERIFY(!store.removeValue(Machine, QStringLiteral("N")));
            QVERIFY(!QFile::exists(path));

            QVERIFY(store.createKey(Machine, QStringLiteral("64")));
            QVERIFY(store.keyExists(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE"),
                                    QStringLiteral("64")));
            QVERIFY(!store.keyExists(Machine, QStringLiteral("32")));
            QVERIFY(store.keyExists(QStringLiteral("HKEY_USERS"), QStringLiteral("32")));

            // An empty view is the system's; "64" the 64-bit one; any other
            // text the program's own 32-bit one.
            QVERIFY(store.writeNumber(Machine, QStringLiteral("N"), -5));
            QCOMPARE(store.readNumber(Machine, QStringLiteral("n"), QStringLiteral("64")),
                     QStringLiteral("-5"));
            QCOMPARE(store.readNumber(Machine, QStringLiteral("N"), QStringLiteral("32")),
                     QStringLiteral("Error"));
            QVERIFY(!store.writeNumber(Machine, QStringLiteral("N"), 1, QStringLiteral("x")));

            QVERIFY(store.writeText(Machine, QStringLiteral("Name"),
                                    QStringLiteral("  澜图 = [x]; %41\nzwei  ")));
            QVERIFY(store.writeText(Machine, QStringLiteral("Cut"),
                                    QStringLiteral(" kept") + QChar(0) + QStringLiteral("gone")));
            // A text is not a number and a number is not a text.
            QCOMPARE(store.readNumber(Machine, QStringLiteral("Name")), QStringLiteral("Error"));
            QCOMPARE(store.readText(Machine, QStringLiteral("N")), QStringLiteral("Error"));

            QVERIFY(store.removeValue(Machine, QStringLiteral("missing")));
        }
        RegistryStore again(path, QStringLiteral("64"));
        QVERIFY(!again.wasDamaged());
        QCOMPARE(again.readNumber(Machine, QStringLiteral("N")), QStringLiteral("-5"));
        QCOMPARE(again.readText(Machine, QStringLiteral("NAME")),
                 QStringLiteral("澜图 = [x]; %41\nzwei"));
        QCOMPARE(again.readText(Machine, QStringLiteral("Cut")), QStringLiteral("kept"));
        QVERIFY(again.removeValue(Machine, QStringLiteral("N")));
        QCOMPARE(RegistryStore(path, QStringLiteral("64")).readNumber(Machine, QStringLiteral("N")),
                 QStringLiteral("Error"));
    }

    // A text with its terminating NUL must fit 255 bytes.
    void textBufferLimit()
    {
        RegistryStore store(storePath(QStringLiteral("limit.ini")), QStringLiteral("32"));
        QVERIFY(store.createKey(Machine));
        QVERIFY(store.writeText(Machine, QStringLiteral("Fits"), QString(254, u'a')));
        QVERIFY(store.writeText(Machine, QStringLiteral("Long"), QString(255, u'a')));
        // Three bytes each in the file's encoding.
        QVERIFY(store.writeText(Machine, QStringLiteral("Wide"), QString(85, u'澜')));
        QCOMPARE(store.readText(Machine, QStringLiteral("Fits")).size(), 254);
        QCOMPARE(store.readText(Machine, QStringLiteral("Long")), QStringLiteral("Error"));
        QCOMPARE(store.readText(Machine, QStringLiteral("Wide")), QStringLiteral("Error"));
    }

    // Whatever the file holds, the store opens; the lines that make sense are
    // kept and the next write leaves a clean file.
    void damagedFileNeverStopsTheStore_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("kept"); // the number read back, or Error

        const QByteArray good = "[64\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Lumenarc]\nN=dword:7\n";
        QTest::newRow("clean") << good << "7";
        QTest::newRow("binary noise")
            << QByteArray("\xff\xfe\x00\x01garbage\x80", 12) + "\n" + good << "7";
        QTest::newRow("value before any key") << "N=dword:1\n" + good << "7";
        QTest::newRow("unknown root")
            << QByteArray("[64\\HKEY_NOWHERE\\X]\nN=dword:9\n") + good << "7";
        QTest::newRow("bad number") << QByteArray(good).replace("7", "7x") << "Error";
        QTest::newRow("unclosed section")
            << QByteArray(good).replace("Lumenarc]", "Lumenarc") << "Error";
        QTest::newRow("unknown view") << QByteArray(good).replace("[64", "[16") << "Error";
        QTest::newRow("too large")
            << good + QByteArray(RegistryStore::MaxFileBytes, ';') << "Error";
    }
    void damagedFileNeverStopsTheStore()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, kept);
        const QString path = storePath(QStringLiteral("damaged.ini"));
        writeFile(path, content);
        {
            RegistryStore store(path, QStringLiteral("64"));
            QCOMPARE(store.wasDamaged(), QTest::currentDataTag() != QLatin1String("clean"));
            QCOMPARE(store.readNumber(Machine, QStringLiteral("N")), kept);
            QVERIFY(store.createKey(Machine));
            QVERIFY(store.writeNumber(Machine, QStringLiteral("M"), 3));
        }
        RegistryStore again(path, QStringLiteral("64"));
        QVERIFY(!again.wasDamaged());
        QCOMPARE(again.readNumber(Machine, QStringLiteral("N")), kept);
        QCOMPARE(again.readNumber(Machine, QStringLiteral("M")), QStringLiteral("3"));
    }

    // A store that cannot be written reports it and keeps what it had.
    void unwritableStore()
    {
        const QString folder = storePath(QStringLiteral("vanishing"));
        const QString path = folder + QStringLiteral("/store.ini");
        RegistryStore store(path, QStringLiteral("32"));
        QVERIFY(store.createKey(Machine));
        QVERIFY(store.writeNumber(Machine, QStringLiteral("N"), 1));
        // A file where the folder was: no user, not even root, writes there.
        QVERIFY(QDir(folder).removeRecursively());
        writeFile(folder, "not a folder");
        QVERIFY(!store.writeNumber(Machine, QStringLiteral("N"), 2));
        QCOMPARE(store.readNumber(Machine, QStringLiteral("N")), QStringLiteral("1"));
        QVERIFY(!store.createKey(Machine + QStringLiteral("\\Sub")));
        QVERIFY(!store.keyExists(Machine + QStringLiteral("\\Sub")));
    }

    void emulationTable_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("value"); // -1: none

        QTest::newRow("IE10 forced") << "IE10" << true << 10001;
        QTest::newRow("IE10") << "IE10" << false << 10000;
        QTest::newRow("IE9 forced") << "IE9" << true << 9999;
        QTest::newRow("ie9 in lower case") << "ie9" << false << 9000;
        QTest::newRow("IE8 forced") << "IE8" << true << 8888;
        QTest::newRow("IE8") << "Ie8" << false << 8000;
        QTest::newRow("IE7 forced") << "IE7" << true << 7000;
        QTest::newRow("IE7") << "IE7" << false << 7000;
        QTest::newRow("IE11 is not known") << "IE11" << true << -1;
        QTest::newRow("empty") << "" << false << -1;
    }
    void emulationTable()
    {
        QFETCH(QString, version);
        QFETCH(bool, force);
        QFETCH(int, value);
        const auto got = browserEmulationValue(version, force);
        QCOMPARE(got ? *got : -1, value);
    }

    void emulationIsFiledInBothViewsOnA64BitSystem()
    {
        const QString path = storePath(QStringLiteral("emulation64.ini"));
        RegistryStore store(path, QStringLiteral("64"));
        QVERIFY(store.createKey(BrowserEmulationKey, QStringLiteral("32")));
        QVERIFY(store.createKey(BrowserEmulationKey, QStringLiteral("64")));
        QVERIFY(store.writeNumber(BrowserEmulationKey, ValueName, 10001, QStringLiteral("32")));
        QVERIFY(store.writeNumber(BrowserEmulationKey, ValueName, 8000, QStringLiteral("64")));

        setBrowserEmulation(store, Program, QStringLiteral("64"), QStringLiteral("IE10"), true);
        RegistryStore again(path);
        QCOMPARE(again.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("32")),
                 QStringLiteral("10001"));
        QCOMPARE(again.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("64")),
                 QStringLiteral("10001"));

        // An unknown version removes the value from both views.
        setBrowserEmulation(store, Program, QStringLiteral("64"), QStringLiteral("IE6"), true);
        QCOMPARE(store.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("32")),
                 QStringLiteral("Error"));
        QCOMPARE(store.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("64")),
                 QStringLiteral("Error"));
    }

    void emulationOnA32BitSystemLeavesThe64BitViewAlone()
    {
        RegistryStore store(storePath(QStringLiteral("emulation32.ini")), QStringLiteral("32"));
        QVERIFY(store.createKey(BrowserEmulationKey, QStringLiteral("32")));
        QVERIFY(store.createKey(BrowserEmulationKey, QStringLiteral("64")));
        setBrowserEmulation(store, Program, QStringLiteral("32"), QStringLiteral("ie9"), false);
        QCOMPARE(store.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("32")),
                 QStringLiteral("9000"));
        QCOMPARE(store.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("64")),
                 QStringLiteral("Error"));
    }

    // Without the key nothing is written; the start-up makes the key first.
    void startupEmulation()
    {
        const QString path = storePath(QStringLiteral("startup.ini"));
        RegistryStore store(path, QStringLiteral("64"));
        setBrowserEmulation(store, Program, QStringLiteral("64"), QStringLiteral("IE10"), true);
        QVERIFY(!QFile::exists(path));

        applyStartupBrowserEmulation(store, Program, QStringLiteral("64"));
        RegistryStore again(path);
        QCOMPARE(again.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("32")),
                 QStringLiteral("10001"));
        QCOMPARE(again.readNumber(BrowserEmulationKey, ValueName, QStringLiteral("64")),
                 QStringLiteral("10001"));
        QVERIFY(readFile(path).contains("FEATURE_BROWSER_EMULATION]\nlumenarc.exe=dword:10001\n"));
    }
};

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "test_registry_store.moc"
