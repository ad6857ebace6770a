// The folder history file shared by the save-folder dialog and the copy
// window.

#include "download_window/folder_history.h"
#include "engine/gbk.h"
#include "support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;

class TestFolderHistory : public QObject
{
    Q_OBJECT

private slots:
    void loadRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("blank lines and letter case")
            << QByteArray("/d/a/\r\n\r\n/D/A/\r\n  /e/b/  \r\n") << QStringList{"/d/a/", "/e/b/"};
        QTest::newRow("unix line ends and no last line end")
            << QByteArray("/x/\n/y/") << QStringList{"/x/", "/y/"};
        QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("utf-8") << QByteArray("/home/u/\xe8\xae\xba\xe6\x96\x87/\r\n")
                               << QStringList{QString::fromUtf8("/home/u/论文/")};
        QTest::newRow("older GBK file") << gbk::encode(QString::fromUtf8("D:\\论文\\\r\n"))
                                        << QStringList{QString::fromUtf8("D:\\论文\\")};

        // Duplicates count towards the hundred lines read.
        QByteArray hundred;
        QStringList distinct;
        for (int i = 0; i < 99; ++i) {
            hundred += "/f" + QByteArray::number(i % 50) + "/\r\n";
            if (i < 50)
                distinct << QString("/f%1/").arg(i);
        }
        QTest::newRow("hundred lines, then more") << hundred + "\r\n/last-read/\r\n/not-read/\r\n"
                                                  << distinct + QStringList{"/last-read/"};
    }

    void loadRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, folders);
        QTemporaryDir dir;
        test::writeFile(dir.filePath("SaveList.dat"), file);
        const std::optional<QStringList> got = LoadFolderHistory(dir.filePath("SaveList.dat"));
        QVERIFY(got);
        QCOMPARE(*got, folders);
    }

    void noFileLeavesTheListAlone()
    {
        QTemporaryDir dir;
        QVERIFY(!LoadFolderHistory(dir.filePath("SaveList.dat")));
        QVERIFY(!LoadFolderHistory(dir.path())); // a folder is no history file
    }

    void saveWritesWholeFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("SaveList.dat");
        test::writeFile(path, "/old/one/\r\n/old/two/\r\n/old/three/\r\n");
        const QStringList folders{"/a/", QString::fromUtf8("/论文/"), "/a/"};
        QVERIFY(SaveFolderHistory(folders, path));
        QCOMPARE(test::readFile(path), QByteArray("/a/\r\n/\xe8\xae\xba\xe6\x96\x87/\r\n/a/\r\n"));
        QCOMPARE(*LoadFolderHistory(path), QStringList({"/a/", QString::fromUtf8("/论文/")}));

        QVERIFY(SaveFolderHistory({}, path));
        QCOMPARE(test::readFile(path), QByteArray("\r\n"));
        QCOMPARE(*LoadFolderHistory(path), QStringList{});

        // A history that cannot be written leaves the old one as it was.
        test::writeFile(dir.filePath("blocker"), "a file where a folder should be");
        QVERIFY(!SaveFolderHistory(folders, dir.filePath("blocker/SaveList.dat")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"blocker", "SaveList.dat"}));
    }

    // An installation the user cannot write to: the user's own copy is
    // written, and read from then on.
    void userCopyTakesOverFromAnUnwritableInstallation()
    {
        QTemporaryDir dir;
        FolderHistoryLocation writable{dir.filePath("app"), dir.filePath("user")};
        QVERIFY(QDir().mkpath(writable.applicationFolder));
        QCOMPARE(writable.writePath(), dir.filePath("app/SaveList.dat"));
        QCOMPARE(writable.readPath(), dir.filePath("app/SaveList.dat"));

        // A folder that is not there cannot be written into either.
        FolderHistoryLocation gone{dir.filePath("missing-app"), dir.filePath("user")};
        QCOMPARE(gone.writePath(), dir.filePath("user/SaveList.dat"));
        QCOMPARE(gone.readPath(), dir.filePath("missing-app/SaveList.dat"));
        QVERIFY(SaveFolderHistory({"/mine/"}, gone.writePath()));
        QCOMPARE(gone.readPath(), dir.filePath("user/SaveList.dat"));
        QCOMPARE(*LoadFolderHistory(gone.readPath()), QStringList{"/mine/"});
    }

    void containsIgnoresCaseAndSpaces()
    {
        const QStringList folders{"/Data/A/", "/b/"};
        QVERIFY(folderHistoryContains(folders, " /data/a/ "));
        QVERIFY(!folderHistoryContains(folders, "/data/a"));
        QVERIFY(!folderHistoryContains({}, "/b/"));
    }
};

QTEST_GUILESS_MAIN(TestFolderHistory)
#include "test_folder_history.moc"
