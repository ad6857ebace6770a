#include "engine/part_file.h"

#include <QFile>
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
