// The operating-system description from the system's release file.

#include "shell/system_description.h"
#include "support/files.h"

#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::writeFile;

class TestSystemDescription : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void description_data()
    {
        QTest::addColumn<QByteArray>("releaseFile"); // "<none>": no file at all
        QTest::addColumn<QString>("expected");

        QTest::newRow("debian")
            << QByteArray("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                          "NAME=\"Debian GNU/Linux\"\n"
                          "VERSION_ID=\"12\"\n"
                          "VERSION=\"12 (bookworm)\"\n"
                          "ID=debian\n")
            << "Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:6.1.0-18-amd64)"
               "[64位]";
        QTest::newRow("single quotes, escapes, comments, no line end")
            << QByteArray("# written by hand\nPRETTY_NAME='Test OS'\nVERSION_ID=\"1.\\\"2\\\"\"")
            << "Test OS 版本:1.\"2\" (内部版本:6.1.0-18-amd64)[64位]";
        QTest::newRow("no pretty name, no version id")
            << QByteArray("NAME=Arch\nVERSION=rolling\n")
            << "Arch rolling 版本:rolling (内部版本:6.1.0-18-amd64)[64位]";
        QTest::newRow("empty file")
            << QByteArray() << "Linux 版本:6.1.0 (内部版本:6.1.0-18-amd64)[64位]";
        QTest::newRow("no release file")
            << QByteArray("<none>") << "Linux 版本:6.1.0 (内部版本:6.1.0-18-amd64)[64位]";
    }
    void description()
    {
        QFETCH(QByteArray, releaseFile);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        if (releaseFile != "<none>")
            writeFile(path, releaseFile);
        const OsRelease release = readOsRelease({path, m_dir.filePath(QStringLiteral("absent"))});
        QCOMPARE(osDescription(osProductName(release, QStringLiteral("linux"),
                                             QStringLiteral("6.1.0-18-amd64")),
                               QStringLiteral("64")),
                 expected);
    }

    void bitness_data()
    {
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<QString>("bitness");
        QTest::newRow("x86_64") << "x86_64"
                                << "64";
        QTest::newRow("arm64") << "arm64"
                               << "64";
        QTest::newRow("i386") << "i386"
                              << "32";
        QTest::newRow("arm") << "arm"
                             << "32";
        QTest::newRow("unknown") << ""
                                 << "32";
    }
    void bitness()
    {
        QFETCH(QString, architecture);
        QFETCH(QString, bitness);
        QCOMPARE(osBitnessOf(architecture), bitness);
    }

    // This machine's own description has every part.
    void currentMachine()
    {
        const QString text = currentOsDescription();
        QVERIFY2(text.contains(QStringLiteral(" 版本:")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("(内部版本:") + QSysInfo::kernelVersion() +
                               QStringLiteral(")[")),
                 qPrintable(text));
        QVERIFY(text.endsWith(QStringLiteral("[") + osBitness() + QStringLiteral("位]")));
    }
};

QTEST_GUILESS_MAIN(TestSystemDescription)
#include "test_system_description.moc"
