#include "engine/download_list.h"
#include "engine/type_correction.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::readFile;
using lumen::test::writeFile;

namespace
{

const QByteArray PageBytes =
    "<html><head><title>登录</title></head><body>please sign in</body></html>";
const QByteArray PdfBytes = "%PDF-1.4\n" + QByteArray(2000, 'p');
const QByteArray UnknownBytes = QByteArray(4000, '\x07');

} // namespace

class TestTypeCorrection : public QObject
{
    Q_OBJECT

private slots:
    void splitFileName_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("ext");
        QTest::newRow("plain") << "/x/paper.pdf"
                               << "paper"
                               << "pdf";
        QTest::newRow("last dot counts") << "/x/a.b.c"
                                         << "a.b"
                                         << "c";
        QTest::newRow("seven characters are no extension") << "/x/archive.backup1"
                                                           << "archive.backup1"
                                                           << "";
        QTest::newRow("six characters are") << "/x/archive.backup"
                                            << "archive"
                                            << "backup";
        QTest::newRow("no dot") << "/x/README"
                                << "README"
                                << "";
        QTest::newRow("spaces trimmed") << "  /x/ a b .htm  "
                                        << "a b"
                                        << "htm";
        QTest::newRow("dot in a folder only") << "/x.y/name"
                                              << "name"
                                              << "";
        QTest::newRow("bare name") << "名字[0001].htm"
                                   << "名字[0001]"
                                   << "htm";
    }
    void splitFileName()
    {
        QFETCH(QString, path);
        QFETCH(QString, base);
        QFETCH(QString, ext);
        const SplitName s = SplitFileName(path);
        QCOMPARE(s.base, base);
        QCOMPARE(s.ext, ext);
    }

    void correctFileType_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("occupied"); // other files already in the folder
        QTest::addColumn<bool>("corrected");
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("newType");

        const QString longName = QString(120, QChar(u'n'));
        QTest::newRow("page stored as pdf")
            << "paper"
            << "pdf" << PageBytes << QStringList() << true << "paper"
            << "htm";
        QTest::newRow("case of the type ignored")
            << "paper"
            << "PDF" << PdfBytes << QStringList() << false << "paper"
            << "PDF";
        QTest::newRow("type unknown") << "paper"
                                      << "pdf" << UnknownBytes << QStringList() << false << "paper"
                                      << "pdf";
        QTest::newRow("no type yet") << "paper"
                                     << "" << PdfBytes << QStringList() << true << "paper"
                                     << "pdf";
        QTest::newRow("target taken")
            << "paper"
            << "pdf" << PageBytes << QStringList{"paper.htm"} << true << "paper[0001]"
            << "htm";
        QTest::newRow("target and first number taken")
            << "paper"
            << "pdf" << PageBytes << QStringList{"paper.htm", "paper[0001].htm"} << true
            << "paper[0002]"
            << "htm";
        QTest::newRow("old number dropped")
            << "paper[0003]"
            << "pdf" << PageBytes << QStringList{"paper[0003].htm"} << true << "paper"
            << "htm";
        QTest::newRow("old number dropped, numbering again")
            << "paper[0003]"
            << "pdf" << PageBytes << QStringList{"paper[0003].htm", "paper.htm"} << true
            << "paper[0001]"
            << "htm";
        QTest::newRow("long name into a free target")
            << longName << "pdf" << PageBytes << QStringList() << true << longName << "htm";
        QTest::newRow("long name into a taken target")
            << longName << "pdf" << PageBytes << QStringList{longName + ".htm"} << true
            << longName.left(100) << "htm";
        QTest::newRow("dots in the name")
            << "v1.2 notes"
            << "pdf" << PageBytes << QStringList() << true << "v1.2 notes"
            << "htm";
    }
    void correctFileType()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, occupied);
        QFETCH(bool, corrected);
        QFETCH(QString, newName);
        QFETCH(QString, newType);

        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadList list;
        const qint64 row = list.append("http://127.0.0.1/a", name, type, folder, QString());
        list.update(row, [](DownloadItem &it) {
            it.size = 123;
            it.received = 123;
        });
        list.setState(row, DownloadState::Finished);
        const quint64 id = list.at(row).id;
        const QString stored = folder + name + (type.isEmpty() ? "" : "." + type);
        writeFile(stored, content);
        for (const QString &other : occupied)
            writeFile(folder + other, "someone else's file");

        QCOMPARE(CorrectFileType(list, id), corrected);
        const DownloadItem &item = list.at(list.rowOfId(id));
        QCOMPARE(item.name, newName);
        QCOMPARE(item.fileType, newType);
        QCOMPARE(readFile(folder + newName + (newType.isEmpty() ? "" : "." + newType)), content);
        if (corrected)
            QVERIFY(!QFile::exists(stored));
        for (const QString &other : occupied)
            QCOMPARE(readFile(folder + other), QByteArray("someone else's file"));
        // Only the name and type move.
        QCOMPARE(item.state, DownloadState::Finished);
        QCOMPARE(sizeColumnText(item), QString("123"));
        QCOMPARE(percentColumnText(item), QString("100%"));
    }

    void correctFileTypeWithoutAFile()
    {
        QTemporaryDir dir;
        DownloadList list;
        list.append("http://127.0.0.1/a", "gone", "pdf", dir.path() + "/", QString());
        QVERIFY(!CorrectFileType(list, list.at(0).id));
        QVERIFY(!CorrectFileType(list, 999999)); // no such record
        QCOMPARE(list.at(0).fileType, QString("pdf"));
    }
};

QTEST_GUILESS_MAIN(TestTypeCorrection)
#include "test_type_correction.moc"
