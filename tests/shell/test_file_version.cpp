// Version information of libraries: the fields of the record, and the
// version read from a library's file name or soname.

#include "support/fake_prompter.h"
#include "support/files.h"
#include "tools/file_version.h"

#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::FakePrompter;
using lumen::test::readFile;
using lumen::test::writeFile;

namespace
{

QString qtCoreLibrary()
{
    return QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Core.so.6");
}

} // namespace

class TestFileVersion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void recordFields_data()
    {
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<quint32>("os");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<quint32>("subtype");
        QTest::addColumn<QString>("expected"); // flags|os|type|subtype

        QTest::newRow("debug and patched")
            << 5u << 0x40004u << 2u << 0u << "Debug Patched |NT-Win32|DLL|was";
        QTest::newRow("all flags")
            << 63u << 0x10001u << 1u << 0u
            << "Debug PreRel Patched Private Info Special |DOS-Win16|App|was";
        QTest::newRow("higher flag bits are not named")
            << 64u << 0x10004u << 7u << 0u << "|DOS-Win32|Lib|was";
        QTest::newRow("OS/2 16") << 0u << 0x20002u << 5u << 0u << "|OS/2-16 PM-16|VxD|was";
        QTest::newRow("OS/2 32, unknown type")
            << 0u << 0x30003u << 6u << 0u << "|OS/2-16 PM-32|Unknown|was";
        QTest::newRow("unknown OS") << 0u << 0u << 0u << 0u << "|Unknown|Unknown|was";
        QTest::newRow("network driver") << 0u << 0u << 3u << 6u << "|Unknown|Driver|Network drv";
        QTest::newRow("comm driver") << 0u << 0u << 3u << 10u << "|Unknown|Driver|Comm drv";
        QTest::newRow("unknown driver") << 0u << 0u << 3u << 0u << "|Unknown|Driver|Unknown";
        QTest::newRow("driver subtype out of table")
            << 0u << 0u << 3u << 11u << "|Unknown|Driver|was";
        QTest::newRow("truetype font") << 0u << 0u << 4u << 3u << "|Unknown|Font|TrueType Font";
        QTest::newRow("font subtype 0") << 0u << 0u << 4u << 0u << "|Unknown|Font|was";
    }
    void recordFields()
    {
        QFETCH(quint32, flags);
        QFETCH(quint32, os);
        QFETCH(quint32, type);
        QFETCH(quint32, subtype);
        QFETCH(QString, expected);
        FixedFileInfo info;
        info.fileFlags = flags;
        info.fileOS = os;
        info.fileType = type;
        info.fileSubtype = subtype;
        FileVersionRecord record;
        record.fileSubType = QStringLiteral("was");
        fillFileVersionRecord(info, record);
        QCOMPARE(QStringList({record.fileFlags, record.fileOS, record.fileType, record.fileSubType})
                     .join(u'|'),
                 expected);
    }

    void versionWordsAreUnsigned()
    {
        FixedFileInfo info;
        info.strucVersion = 0x00010000;
        info.fileVersionMS = 0x0001ffff;
        info.fileVersionLS = 0x80000007;
        info.productVersionMS = 0x00060004;
        info.productVersionLS = 0x00020000;
        FileVersionRecord record;
        fillFileVersionRecord(info, record);
        QCOMPARE(record.strucVersion, QStringLiteral("1.0"));
        QCOMPARE(record.fileVersion, QStringLiteral("1.65535.32768.7"));
        QCOMPARE(record.productVersion, QStringLiteral("6.4.2.0"));
    }

    // The library this test runs on: its link names the full version.
    void theRealQtLibrary()
    {
        const QString path = qtCoreLibrary();
        if (!QFile::exists(path))
            QSKIP("Qt's core library is not where Qt says it is");
        FileVersionRecord record;
        QVERIFY(readFileVersion(path, record, nullptr));
        QCOMPARE(record.productVersion, QString::fromLatin1(qVersion()) + QStringLiteral(".0"));
        QCOMPARE(record.fileVersion, record.productVersion);
        QCOMPARE(record.fileType, QStringLiteral("DLL"));
        QCOMPARE(record.fileOS, QStringLiteral("Unknown"));
    }

    // Names and links in a folder of our own.
    void fromNames_data()
    {
        QTest::addColumn<QString>("target"); // the file itself
        QTest::addColumn<QString>("link");   // a link to it, or empty
        QTest::addColumn<QString>("version");

        QTest::newRow("three parts") << "libdemo.so.1.2.3"
                                     << ""
                                     << "1.2.3.0";
        QTest::newRow("link to the full name") << "libdemo.so.1.2.3"
                                               << "libdemo.so.1"
                                               << "1.2.3.0";
        QTest::newRow("one part") << "libone.so.7"
                                  << ""
                                  << "7.0.0.0";
        QTest::newRow("four parts") << "libfour.so.1.2.3.4"
                                    << ""
                                    << "1.2.3.4";
        QTest::newRow("five parts") << "libfive.so.1.2.3.4.5"
                                    << ""
                                    << "";
        QTest::newRow("part above 16 bits") << "libdate.so.20240101"
                                            << ""
                                            << "";
        QTest::newRow("no version") << "libplain.so"
                                    << ""
                                    << "";
        QTest::newRow("text file") << "notes.txt"
                                   << ""
                                   << "";
    }
    void fromNames()
    {
        QFETCH(QString, target);
        QFETCH(QString, link);
        QFETCH(QString, version);
        const QString file = m_dir.filePath(target);
        writeFile(file, "not a library\n");
        QString path = file;
        if (!link.isEmpty()) {
            path = m_dir.filePath(link);
            QVERIFY(QFile::link(file, path));
        }
        const auto info = readFixedFileInfo(path);
        QCOMPARE(info ? versionText(info->productVersionMS, info->productVersionLS) : QString(),
                 version);
    }

    // A copy of a library under a name without a version still carries its
    // soname.
    void fromSoname()
    {
        if (!QFile::exists(qtCoreLibrary()))
            QSKIP("Qt's core library is not where Qt says it is");
        const QString copy = m_dir.filePath(QStringLiteral("renamed-core"));
        QVERIFY(QFile::copy(qtCoreLibrary(), copy));
        const auto info = readFixedFileInfo(copy);
        QVERIFY(info);
        QCOMPARE(versionText(info->productVersionMS, info->productVersionLS),
                 QString::number(QT_VERSION_MAJOR) + QStringLiteral(".0.0.0"));
    }

    // Cut or doctored libraries give no version and no crash.
    void damagedLibraries_data()
    {
        QTest::addColumn<int>("keep");    // bytes of the real library kept
        QTest::addColumn<int>("patchAt"); // -1: none
        QTest::addColumn<QByteArray>("patch");

        QTest::newRow("magic only") << 4 << -1 << QByteArray();
        QTest::newRow("header only") << 64 << -1 << QByteArray();
        QTest::newRow("first page") << 4096 << -1 << QByteArray();
        QTest::newRow("section table far away")
            << 65536 << 0x28 << QByteArray("\xff\xff\xff\xff\xff\xff\xff\x7f", 8);
        QTest::newRow("huge section entries") << 65536 << 0x3a << QByteArray("\xff\xff", 2);
        QTest::newRow("not 32 or 64 bit") << 65536 << 4 << QByteArray("\x07", 1);
    }
    void damagedLibraries()
    {
        QFETCH(int, keep);
        QFETCH(int, patchAt);
        QFETCH(QByteArray, patch);
        if (!QFile::exists(qtCoreLibrary()))
            QSKIP("Qt's core library is not where Qt says it is");
        QByteArray bytes = readFile(qtCoreLibrary()).left(keep);
        if (patchAt >= 0)
            bytes.replace(patchAt, patch.size(), patch);
        const QString path = m_dir.filePath(QStringLiteral("damaged-") +
                                            QString::fromLatin1(QTest::currentDataTag()));
        writeFile(path, bytes);
        QVERIFY(!readFixedFileInfo(path));
    }

    // A file without a version says so and leaves the last record alone.
    void noVersionKeepsTheRecord()
    {
        const QString path = m_dir.filePath(QStringLiteral("readme.txt"));
        writeFile(path, "text\n");
        FileVersionRecord record;
        record.productVersion = QStringLiteral("6.4.2.0");
        const FileVersionRecord before = record;
        FakePrompter prompter;
        QVERIFY(!readFileVersion(path, record, &prompter));
        QCOMPARE(prompter.messages(), QStringList{QStringLiteral("No Version Info available!")});
        QVERIFY(record == before);
        QVERIFY(
            !readFileVersion(m_dir.filePath(QStringLiteral("missing.so.1")), record, &prompter));
        QCOMPARE(prompter.shown.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFileVersion)
#include "test_file_version.moc"
