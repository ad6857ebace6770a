#include "engine/part_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;

class TestPartFile : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void commitReplacesTargetOnlyWhenComplete()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("a.pdf");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        PartFile part(target);
        QVERIFY(part.open());
        QVERIFY(part.write(QByteArray("new ")));
        QVERIFY(part.write(QByteArray("bytes")));
        QCOMPARE(part.written(), 9);
        // While the transfer runs the finished-looking name keeps its old content.
        QCOMPARE(read(target), QByteArray("old"));
        QVERIFY(part.commit());
        QCOMPARE(read(target), QByteArray("new bytes"));
        QVERIFY(!QFile::exists(PartFile::partPathFor(target)));
    }

    void discardLeavesNothing()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("b.pdf");
        PartFile part(target);
        QVERIFY(part.open());
        part.write(QByteArray("xx"));
        part.discard();
        QVERIFY(!QFile::exists(target));
        QVERIFY(!QFile::exists(PartFile::partPathFor(target)));
    }

    // A link planted under the partial name (dangling, or to a file the
    // process may write) must not receive the body, and the file it points
    // at must not even be created.
    void aPlantedLinkIsNeverWrittenThrough_data()
    {
        QTest::addColumn<bool>("dangling");
        QTest::newRow("link to an existing file") << false;
        QTest::newRow("dangling link") << true;
    }
    void aPlantedLinkIsNeverWrittenThrough()
    {
        QFETCH(bool, dangling);
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim.txt");
        if (!dangling) {
            QFile v(victim);
            QVERIFY(v.open(QIODevice::WriteOnly));
            v.write("precious");
        }
        const QString target = dir.filePath("paper.pdf");
        QVERIFY(QFile::link(victim, PartFile::partPathFor(target)));

        PartFile part(target);
        QVERIFY(part.open());
        QVERIFY(part.partPath() != PartFile::partPathFor(target));
        QVERIFY(part.write(QByteArray("%PDF-body")));
        QVERIFY(part.commit());
        QCOMPARE(read(target), QByteArray("%PDF-body"));
        if (dangling)
            QVERIFY(!QFileInfo::exists(victim));
        else
            QCOMPARE(read(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(PartFile::partPathFor(target)).isSymLink());
    }

    void twoTransfersForOneNameNeverShareAPartialFile()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("Editorial.pdf");
        PartFile first(target);
        PartFile second(target);
        QVERIFY(first.open());
        QVERIFY(second.open());
        QVERIFY(first.partPath() != second.partPath());
        QVERIFY(first.write(QByteArray(1000, 'a')));
        QVERIFY(second.write(QByteArray(400, 'b')));
        QVERIFY(first.commit(target, PartFile::Existing::Keep));
        // The name is taken now: a no-replace commit keeps the first body.
        QVERIFY(!second.commit(target, PartFile::Existing::Keep));
        QVERIFY(second.nameWasTaken());
        QCOMPARE(read(target), QByteArray(1000, 'a'));
        second.discard();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Editorial.pdf"});
    }

    void openFailsInMissingFolder()
    {
        QTemporaryDir dir;
        PartFile part(dir.filePath("no/such/c.pdf"));
        QVERIFY(!part.open());
        QVERIFY(!part.errorString().isEmpty());
        QVERIFY(!part.commit());
        PartFile unnamed{QString()};
        QVERIFY(!unnamed.open());
    }
};

QTEST_GUILESS_MAIN(TestPartFile)
#include "test_part_file.moc"
