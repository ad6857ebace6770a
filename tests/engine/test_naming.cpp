#include "engine/download_list.h"
#include "engine/gbk.h"
#include "engine/naming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;

namespace
{

const QString Han = QStringLiteral("文");

QString repeated(const QString &s, int n)
{
    QString out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

void touch(const QString &path, const QByteArray &content = "x")
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(content);
}

} // namespace

class TestNaming : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

    // A fresh empty folder per test row, ending in "/".
    QString freshFolder()
    {
        static int n = 0;
        const QString dir = m_tmp.filePath(QStringLiteral("f%1").arg(++n));
        QDir().mkpath(dir);
        return dir + QLatin1Char('/');
    }

private slots:
    void sanitize_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("reserved characters") << "a/b:c*?d"
                                             << "abcd";
        QTest::newRow("all reserved") << "\\/:*?\"<>|"
                                      << "";
        QTest::newRow("dots at both ends") << "..name.."
                                           << "name";
        QTest::newRow("spaces at both ends") << "  x  "
                                             << "x";
        QTest::newRow("dot then spaces") << ".  x"
                                         << "x";
        QTest::newRow("spaces then dot: dots go first") << "  .x"
                                                        << ".x";
        QTest::newRow("line breaks and NUL") << QStringLiteral("a\r\nb\nc\rd") + QChar(0) + "e"
                                             << "abcde";
        QTest::newRow("tabs, brackets, Chinese punctuation stay")
            << QStringLiteral("a\tb【研究】[1]，（二）")
            << QStringLiteral("a\tb【研究】[1]，（二）");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("only dots") << "..."
                                   << "";
        QTest::newRow("dot-dot inside spaces") << " .. "
                                               << "";
        QTest::newRow("dots and spaces") << ". . ."
                                         << "";
        QTest::newRow("traversal") << "../../etc/passwd"
                                   << "etcpasswd";
        QTest::newRow("unpaired surrogate dropped")
            << QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b") << "ab";
        QTest::newRow("pair kept") << QStringLiteral("a😀b") << QStringLiteral("a😀b");
        // Linux stores names as at most 255 UTF-8 bytes; 200 are left for the name.
        QTest::newRow("200 Chinese characters fit the file system")
            << repeated(Han, 200) << repeated(Han, 66);
        QTest::newRow("10 000 ASCII characters") << QString(10000, 'a') << QString(200, 'a');
        QTest::newRow("Chinese character not split at the byte limit")
            << QString(199, 'a') + Han + "b" << QString(199, 'a');
        QTest::newRow("emoji not split at the byte limit")
            << QString(198, 'a') + QStringLiteral("😀") << QString(198, 'a');
        QTest::newRow("spaces left by the cut are trimmed")
            << QString(150, 'a') + QString(60, ' ') + "b" << QString(150, 'a');
    }
    void sanitize()
    {
        QFETCH(QString, input);
        QTEST(SanitizeFileName(input), "expected");
    }

    // The legacy code-page limit itself: 250 GBK bytes, never half a character.
    void gbkCut_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("200 Chinese characters") << repeated(Han, 200) << repeated(Han, 125);
        QTest::newRow("250 ASCII") << QString(300, 'a') << QString(250, 'a');
        QTest::newRow("double-byte character across the limit")
            << QString(249, 'a') + Han + Han << QString(249, 'a');
        QTest::newRow("mixed scripts")
            << repeated(QStringLiteral("a文"), 100) << repeated(QStringLiteral("a文"), 83) + "a";
    }
    void gbkCut()
    {
        QFETCH(QString, input);
        const QString cut = gbk::truncateToBytes(input, MaxNameBytes);
        QTEST(cut, "expected");
        QVERIFY(gbk::byteLength(cut) <= MaxNameBytes);
        // What remains round-trips through GBK intact.
        QCOMPARE(gbk::decode(gbk::encode(cut)), cut);
    }

    // Whatever a title holds, its name is one file inside the folder.
    void hostileTitlesStayInside_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("dot-dot") << "..";
        QTest::newRow("separators") << "/../..\\..//";
        QTest::newRow("control characters") << QStringLiteral("\x01\x02\t\x1b[0m\x7f");
        QTest::newRow("dots and spaces") << "  ..  ";
        QTest::newRow("long mixed") << repeated(QStringLiteral("Ab文/😀.. "), 2000);
        QTest::newRow("long dots") << QString(10000, '.');
        QTest::newRow("lone surrogates") << QString(3, QChar(0xDC00)) + "..";
    }
    void hostileTitlesStayInside()
    {
        QFETCH(QString, title);
        const QString name = SanitizeFileName(title);
        QVERIFY(name.isEmpty() || isSafeFileName(name));
        QVERIFY(name.toUtf8().size() <= MaxNameFileSystemBytes);
        QVERIFY(gbk::byteLength(name) <= MaxNameBytes);
        QCOMPARE(QString::fromUtf8(name.toUtf8()), name);

        const QString folder = freshFolder();
        DownloadItem item;
        item.folder = folder;
        item.name = name;
        item.fileType = QStringLiteral("pdf");
        const QString path = ItemFilePath(item);
        if (name.isEmpty()) {
            QVERIFY(path.isEmpty());
            return;
        }
        QCOMPARE(QFileInfo(path).absolutePath() + "/", folder);
        // And the file system takes it, with room for the partial-file ending.
        QFile f(path + ".part");
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(f.errorString()));
    }

    void itemFilePath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder with separator") << "/d/lit/"
                                               << "Report"
                                               << "pdf"
                                               << "/d/lit/Report.pdf";
        QTest::newRow("separator added") << "/d/lit"
                                         << "Report"
                                         << "pdf"
                                         << "/d/lit/Report.pdf";
        QTest::newRow("no type, no dot") << "/d/"
                                         << "Report"
                                         << ""
                                         << "/d/Report";
        QTest::newRow("empty name") << "/d/"
                                    << ""
                                    << "pdf"
                                    << "";
        QTest::newRow("empty name and type") << "/d/"
                                             << ""
                                             << ""
                                             << "";
        QTest::newRow("dot-dot name") << "/d/"
                                      << ".."
                                      << ""
                                      << "";
        QTest::newRow("separator in name") << "/d/"
                                           << "../x"
                                           << "pdf"
                                           << "";
        QTest::newRow("separator in type") << "/d/"
                                           << "x"
                                           << "/../../y"
                                           << "";
        QTest::newRow("empty folder") << ""
                                      << "x"
                                      << "pdf"
                                      << "";
    }
    void itemFilePath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, type);
        DownloadItem item;
        item.folder = folder;
        item.name = name;
        item.fileType = type;
        QTEST(ItemFilePath(item), "expected");
    }

    void fileAndFolderExist()
    {
        const QString dir = freshFolder();
        const QString file = dir + "a.pdf";
        touch(file);
        QVERIFY(FileExists(file));
        QVERIFY(FileExists("  " + file + "  "));
        QVERIFY(FileExists("file://" + file));
        QVERIFY(FileExists("FILE://" + file));
        QVERIFY(!FileExists(dir));
        QVERIFY(!FileExists(dir + "b.pdf"));
        QVERIFY(!FileExists(""));
        QVERIFY(!FileExists("file://"));
        QVERIFY(FolderExists(dir));
        QVERIFY(FolderExists(dir.chopped(1)));
        QVERIFY(!FolderExists(file));
        QVERIFY(!FolderExists(""));
        QVERIFY(!FolderExists("   "));
    }

    // pieces are appended to a fresh folder; "made" lists folders that must exist.
    void createFolderPath_data()
    {
        QTest::addColumn<QString>("pieces");
        QTest::addColumn<QString>("expected"); // relative to the fresh folder, "" = empty answer
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<bool>("badName");
        const QString tooLong = repeated("n", 256);
        QTest::newRow("nested with trailing separator")
            << "a/b/"
            << "a/b" << QStringList{"a", "a/b"} << false;
        QTest::newRow("existing folder") << ""
                                         << "." << QStringList{} << false;
        QTest::newRow("a name no file system holds stops the walk")
            << "a/" + tooLong + "/b"
            << "a" << QStringList{"a"} << true;
        QTest::newRow("255 bytes are still a name")
            << repeated("n", 255) << repeated("n", 255) << QStringList{repeated("n", 255)} << false;
        QTest::newRow("dot-dot is resolved") << "a/../b"
                                             << "b" << QStringList{"b"} << false;
        QTest::newRow("dot is resolved") << "a/./b"
                                         << "a/b" << QStringList{"a/b"} << false;
        QTest::newRow("names stay as written")
            << "x:y*z?/with space /.hidden/<>"
            << "x:y*z?/with space /.hidden/<>"
            << QStringList{"x:y*z?", "x:y*z?/with space ", "x:y*z?/with space /.hidden/<>"}
            << false;
        QTest::newRow("repeated separators count as one")
            << "a//b///c"
            << "a/b/c" << QStringList{"a/b/c"} << false;
    }
    void createFolderPath()
    {
        QFETCH(QString, pieces);
        QFETCH(QString, expected);
        QFETCH(QStringList, made);
        QFETCH(bool, badName);
        const QString base = freshFolder();
        const FolderPathResult result = CreateFolderPath(base + pieces);
        const QString want = expected == "." ? base.chopped(1) : base + expected;
        QCOMPARE(result.path, want);
        QCOMPARE(result.badName, badName);
        for (const QString &m : made)
            QVERIFY2(QFileInfo(base + m).isDir(), qPrintable(m));
    }

    // Relative folders count from the working folder, as the shell reads them.
    void createFolderPathRelative_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected"); // relative to the working folder
        QTest::newRow("dot slash") << "./out"
                                   << "work/out";
        QTest::newRow("parent") << "../x"
                                << "x";
        QTest::newRow("plain") << "dl/sub/"
                               << "work/dl/sub";
    }
    void createFolderPathRelative()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        const QString base = freshFolder();
        QVERIFY(QDir(base).mkpath("work"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(base + "work"));
        const FolderPathResult result = CreateFolderPath(given);
        QDir::setCurrent(before);
        QVERIFY(!result.badName);
        QCOMPARE(result.path, QDir::cleanPath(base + expected));
        QVERIFY(QFileInfo(result.path).isDir());
    }

    void createFolderPathFailures()
    {
        QCOMPARE(CreateFolderPath("").path, QString());
        // The root is no folder to store into.
        QCOMPARE(CreateFolderPath("/").path, QString());
        QVERIFY(!CreateFolderPath("/").badName);
        // A piece that is a file: nothing can be built below it, and that
        // is no fault of the name.
        const QString base = freshFolder();
        touch(base + "file");
        const FolderPathResult below = CreateFolderPath(base + "file/sub/");
        QCOMPARE(below.path, QString());
        QVERIFY(!below.badName);
    }

    // A name running transfers hold counts as taken for numbering.
    void renameSavePathSkipsReservedNames()
    {
        const QString folder = freshFolder();
        NameReservations reserved;
        QVERIFY(reserved.reserve(folder + "Editorial.pdf"));
        QVERIFY(!reserved.reserve(folder + "./Editorial.pdf")); // one name, however spelt
        const SavePath p =
            lumen::renameSavePath(folder, "Editorial", "pdf", SameNamePolicy::Rename, &reserved);
        QCOMPARE(p.name, QString("Editorial[001]"));
        QVERIFY(!QFile::exists(folder + "Editorial.pdf")); // nothing stands on disk for it
        reserved.release(folder + "Editorial.pdf");
        QCOMPARE(
            lumen::renameSavePath(folder, "Editorial", "pdf", SameNamePolicy::Rename, &reserved)
                .name,
            QString("Editorial"));
    }

    void renameSavePath_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<SameNamePolicy>("policy");
        QTest::addColumn<QString>("expected");
        const auto R = SameNamePolicy::Rename;
        QTest::newRow("free") << QStringList{} << "Report"
                              << "pdf" << R << "Report";
        QTest::newRow("first copy") << QStringList{"Report.pdf"} << "Report"
                                    << "pdf" << R << "Report[001]";
        QTest::newRow("second copy") << QStringList{"Report.pdf", "Report[001].pdf"} << "Report"
                                     << "pdf" << R << "Report[002]";
        QTest::newRow("numbered name counts on") << QStringList{"Report[004].pdf"} << "Report[004]"
                                                 << "pdf" << R << "Report[005]";
        QTest::newRow("year in brackets, space kept")
            << QStringList{"Study [2019].pdf"} << "Study [2019]"
            << "pdf" << R << "Study [2020]";
        QTest::newRow("non-number brackets become corner brackets")
            << QStringList{"Vol [A].pdf"} << "Vol [A]"
            << "pdf" << R << "Vol 『A』";
        QTest::newRow("corner-bracket name taken too")
            << QStringList{"Vol [A].pdf", "Vol 『A』.pdf"} << "Vol [A]"
            << "pdf" << R << "Vol 『A』[001]";
        QTest::newRow("text after the number is dropped")
            << QStringList{"R[7]x.pdf", "R[007].pdf"} << "R[7]x"
            << "pdf" << R << "R[008]";
        QTest::newRow("no type, no dot") << QStringList{"Report"} << "Report"
                                         << "" << R << "Report[001]";
        QTest::newRow("other type does not collide") << QStringList{"Report.caj"} << "Report"
                                                     << "pdf" << R << "Report";
        QTest::newRow("overwrite keeps the name") << QStringList{"Report.pdf"} << "Report"
                                                  << "pdf" << SameNamePolicy::Overwrite << "Report";
        QTest::newRow("skip numbers as well") << QStringList{"Report.pdf"} << "Report"
                                              << "pdf" << SameNamePolicy::Skip << "Report[001]";
        QTest::newRow("a folder takes the name too") << QStringList{"Report.pdf/"} << "Report"
                                                     << "pdf" << R << "Report[001]";
        QTest::newRow("bracket zero") << QStringList{"[0].pdf"} << "[0]"
                                      << "pdf" << R << "[001]";
    }
    void renameSavePath()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(SameNamePolicy, policy);
        QFETCH(QString, expected);
        const QString folder = freshFolder();
        for (const QString &e : existing) {
            if (e.endsWith('/'))
                QDir().mkdir(folder + e);
            else
                touch(folder + e);
        }
        // The folder is given without its separator: one is added.
        const SavePath result = lumen::renameSavePath(folder.chopped(1), name, type, policy);
        QCOMPARE(result.name, expected);
        QCOMPARE(result.path, folder + expected + (type.isEmpty() ? "" : "." + type));
    }

    void renameSavePathRefusesUnsafeNames()
    {
        const QString folder = freshFolder();
        QCOMPARE(lumen::renameSavePath(folder, "../x", "pdf", SameNamePolicy::Rename).path,
                 QString());
        QCOMPARE(lumen::renameSavePath(folder, "", "pdf", SameNamePolicy::Rename).path, QString());
        QCOMPARE(lumen::renameSavePath(folder, "..", "", SameNamePolicy::Rename).path, QString());
        QCOMPARE(lumen::renameSavePath("", "x", "pdf", SameNamePolicy::Rename).path, QString());
    }

    void uniqueCorrectedPath_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free path unchanged") << QStringList{} << "a.pdf"
                                             << "a.pdf";
        QTest::newRow("taken twice") << QStringList{"a.pdf", "a[0001].pdf"} << "a.pdf"
                                     << "a[0002].pdf";
        QTest::newRow("old number dropped") << QStringList{"a[0003].pdf"} << "a[0003].pdf"
                                            << "a.pdf";
        QTest::newRow("no extension") << QStringList{"a"} << "a"
                                      << "a[0001]";
        QTest::newRow("hidden file counts")
            << QStringList{"a.pdf", ".x", "a[0001].pdf", "a[0002].pdf"} << "a.pdf"
            << "a[0003].pdf";
        QTest::newRow("long base cut to 100")
            << QStringList{QString(150, 'b') + ".pdf"} << QString(150, 'b') + ".pdf"
            << QString(100, 'b') + ".pdf";
        QTest::newRow("mixed base cut to 100 characters")
            << QStringList{repeated(Han, 60) + QString(60, 'b') + ".caj"}
            << repeated(Han, 60) + QString(60, 'b') + ".caj"
            << repeated(Han, 60) + QString(40, 'b') + ".caj";
        QTest::newRow("cut never splits a character")
            << QStringList{QString(99, 'b') + QStringLiteral("😀c.pdf")}
            << QString(99, 'b') + QStringLiteral("😀c.pdf") << QString(99, 'b') + ".pdf";
    }
    void uniqueCorrectedPath()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, file);
        QFETCH(QString, expected);
        const QString folder = freshFolder();
        for (const QString &e : existing)
            touch(folder + e);
        QCOMPARE(UniqueCorrectedPath(folder + file), folder + expected);
    }

    void uniqueCorrectedPathWithoutFolder()
    {
        QCOMPARE(UniqueCorrectedPath("a.pdf"), QStringLiteral("a.pdf"));
        QCOMPARE(UniqueCorrectedPath(""), QString());
    }
};

QTEST_GUILESS_MAIN(TestNaming)
#include "test_naming.moc"
