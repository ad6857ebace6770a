// The folder history file shared by the save-folder dialog and the copy
// window.

#include "download_window/folder_history.h"
#include "engine/gbk.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

    // Only the user's own file is ever written; the one beside the program
    // is the seed of a user without a history, read until the first save.
    // The program's folder may be writable (root runs the program) or gone.
    void onlyTheUsersOwnFileIsWritten_data()
    {
        QTest::addColumn<bool>("appFolderExists");
        QTest::addColumn<QByteArray>("seed"); // the installed file; empty: none
        QTest::addColumn<QStringList>("firstLoad");
        QTest::newRow("writable program folder with a seed")
            << true << QByteArray("/seed/a/\r\n/seed/b/\r\n")
            << QStringList{"/seed/a/", "/seed/b/"};
        QTest::newRow("writable program folder, no seed") << true << QByteArray() << QStringList{};
        QTest::newRow("no program folder") << false << QByteArray() << QStringList{};
    }

    void onlyTheUsersOwnFileIsWritten()
    {
        QFETCH(bool, appFolderExists);
        QFETCH(QByteArray, seed);
        QFETCH(QStringList, firstLoad);
        QTemporaryDir dir;
        const FolderHistoryLocation where{dir.filePath("app"), dir.filePath("user")};
        const QString installed = dir.filePath("app/SaveList.dat");
        const QString own = dir.filePath("user/SaveList.dat");
        if (appFolderExists)
            QVERIFY(QDir().mkpath(where.applicationFolder));
        if (!seed.isEmpty())
            test::writeFile(installed, seed);

        QCOMPARE(where.writePath(), own);
        QCOMPARE(where.readPath(), installed);
        QCOMPARE(LoadFolderHistory(where.readPath()).value_or(QStringList{}), firstLoad);

        QVERIFY(SaveFolderHistory(firstLoad + QStringList{"/mine/"}, where.writePath()));
        QCOMPARE(where.readPath(), own);
        QCOMPARE(*LoadFolderHistory(where.readPath()), firstLoad + QStringList{"/mine/"});
        // The program's folder is as it was.
        if (seed.isEmpty())
            QVERIFY(!QFileInfo::exists(installed));
        else
            QCOMPARE(test::readFile(installed), seed);
    }

    // Without a per-user data folder nothing is saved, not even beside the
    // program.
    void noUserFolderSavesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("app")));
        const FolderHistoryLocation where{dir.filePath("app"), QString()};
        QCOMPARE(where.writePath(), QString());
        QCOMPARE(where.readPath(), dir.filePath("app/SaveList.dat"));
        QVERIFY(!SaveFolderHistory({"/mine/"}, where.writePath()));
        QCOMPARE(QDir(dir.filePath("app")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // The standard place: the per-user data folder of whoever runs the
    // program, and nothing new in the program's folder, which this test's
    // own folder stands for (writable when the suite runs as root).
    void standardLocationIsTheUsersDataFolder()
    {
        QTemporaryDir data;
        const QByteArray before = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
        const FolderHistoryLocation where = FolderHistoryLocation::standard();
        const QDir program(QCoreApplication::applicationDirPath());
        const QStringList programFiles = program.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

        QCOMPARE(where.applicationFolder, program.path());
        QVERIFY2(where.writePath().startsWith(data.path() + "/"), qPrintable(where.writePath()));
        QVERIFY(SaveFolderHistory({"/mine/"}, where.writePath()));
        QCOMPARE(*LoadFolderHistory(where.readPath()), QStringList{"/mine/"});
        QCOMPARE(program.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), programFiles);
        if (before.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", before);
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
