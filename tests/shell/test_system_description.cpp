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

    // The word size of the architecture decides, not a "64" in its name;
    // a name not known takes the program's own word size.
    void bitness_data()
    {
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<int>("programWordSize");
        QTest::addColumn<QString>("bitness");
        const struct {
            const char *arch;
            int program;
            const char *bitness;
        } rows[] = {
            {"x86_64", 64, "64"},  {"x86_64", 32, "64"}, {"s390x", 64, "64"},
            {"sparcv9", 64, "64"}, {"arm64", 64, "64"},  {"aarch64", 64, "64"},
            {"power64", 64, "64"}, {"ia64", 64, "64"},   {"riscv64", 64, "64"},
            {"i386", 64, "32"},    {"i686", 32, "32"},   {"arm", 32, "32"},
            {"armv7l", 32, "32"},  {"s390", 32, "32"},   {"sparc", 32, "32"},
            {"power", 32, "32"},   {"mips", 64, "32"},   {"", 32, "32"},
            {"", 64, "64"},        {"vax", 32, "32"},    {"future64", 32, "32"},
        };
        for (const auto &r : rows)
            QTest::addRow("%s, %d-bit program", *r.arch ? r.arch : "unknown", r.program)
                << QString::fromLatin1(r.arch) << r.program << QString::fromLatin1(r.bitness);
    }
    void bitness()
    {
        QFETCH(QString, architecture);
        QFETCH(int, programWordSize);
        QFETCH(QString, bitness);
        QCOMPARE(osBitnessOf(architecture, programWordSize), bitness);
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
