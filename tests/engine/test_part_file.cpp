#include "engine/part_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

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

    // A later attempt takes up only its own partial file, through no link,
    // and a partial file that leaves (a stop, a cut) stays only when it can
    // be continued.
    void adoptionTakesOnlyItsOwnFile_data()
    {
        QTest::addColumn<QString>("beside"); // what the sidecar or the name holds
        QTest::addColumn<bool>("adopted");
        QTest::newRow("own, with its version") << "own" << true;
        QTest::newRow("another URL's") << "other" << false;
        QTest::newRow("no sidecar") << "none" << false;
        QTest::newRow("sidecar of another program") << "foreign" << false;
        QTest::newRow("link under the partial name") << "link" << false;
    }
    void adoptionTakesOnlyItsOwnFile()
    {
        QFETCH(QString, beside);
        QFETCH(bool, adopted);
        QTemporaryDir dir;
        const QString target = dir.filePath("a.pdf");
        const QString partPath = PartFile::partPathFor(target);
        const QString url = "http://127.0.0.1/a.pdf";
        const QString victim = dir.filePath("victim");
        {
            QFile f(beside == "link" ? victim : partPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("12345");
        }
        if (beside == "link")
            QVERIFY(QFile::link(victim, partPath));
        ResumeMeta meta;
        meta.url = beside == "other" ? QString("http://127.0.0.1/b.pdf") : url;
        meta.etag = "\"v1\"";
        meta.length = 10;
        if (beside == "foreign") {
            QFile f(resumeMetaPath(partPath));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("url http://127.0.0.1/a.pdf\n");
        } else if (beside != "none") {
            QVERIFY(writeResumeMeta(partPath, meta));
        }

        PartFile part(target);
        QCOMPARE(part.adopt(url), adopted);
        if (!adopted)
            return;
        QCOMPARE(part.written(), qint64(5));
        QVERIFY(part.canResume());
        QCOMPARE(part.resumeMeta().validator(), QByteArray("\"v1\""));
        QVERIFY(part.write(QByteArray("67")));
        part.leave(); // 7 of 10: kept with its sidecar
        QCOMPARE(read(partPath), QByteArray("1234567"));
        QVERIFY(QFile::exists(resumeMetaPath(partPath)));

        PartFile again(target);
        QVERIFY(again.adopt(url));
        QVERIFY(again.write(QByteArray("890")));
        QVERIFY(again.commit());
        QCOMPARE(read(target), QByteArray("1234567890"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"a.pdf"});
    }

    // Without a known version nothing may be joined later: such a file goes
    // as its attempt ends, and so does one started over.
    void leaveKeepsOnlyWhatCanBeContinued_data()
    {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<bool>("kept");
        QTest::newRow("strong tag") << QByteArray("\"t\"") << QByteArray() << qint64(100) << true;
        QTest::newRow("date") << QByteArray() << QByteArray("Wed, 09 Dec 2026 10:00:00 GMT")
                              << qint64(100) << true;
        QTest::newRow("weak tag only")
            << QByteArray("W/\"t\"") << QByteArray() << qint64(100) << false;
        QTest::newRow("no length") << QByteArray("\"t\"") << QByteArray() << qint64(-1) << false;
        QTest::newRow("no validator") << QByteArray() << QByteArray() << qint64(100) << false;
    }
    void leaveKeepsOnlyWhatCanBeContinued()
    {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        QFETCH(qint64, length);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString target = dir.filePath("a.pdf");
        PartFile part(target);
        QVERIFY(part.open());
        ResumeMeta meta{"http://127.0.0.1/a.pdf", etag, lastModified, length};
        QVERIFY(part.setResumeMeta(meta));
        QVERIFY(part.write(QByteArray(40, 'x')));
        part.leave();
        const QStringList expected =
            kept ? QStringList{"a.pdf.part", "a.pdf.part.meta"} : QStringList{};
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), expected);
        if (!kept)
            return;
        PartFile again(target);
        QVERIFY(again.adopt(meta.url));
        QVERIFY(again.restart());
        QCOMPARE(again.written(), qint64(0));
        QVERIFY(!QFile::exists(resumeMetaPath(PartFile::partPathFor(target))));
        again.leave();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{});
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

    // Bytes go to the disk from another thread: every byte taken arrives in
    // order, past the queue's limit too (write never refuses for a full
    // queue), and a caller waiting for room is called back in its own thread.
    void queuedBytesArriveWholeAndInOrder()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("big.bin");
        PartFile part(target);
        QVERIFY(part.open());
        QByteArray expected;
        const qint64 chunk = 256 * 1024;
        for (int i = 0; i < 40; ++i) {
            const QByteArray bytes(chunk, char('a' + i % 26));
            QVERIFY(part.write(bytes));
            expected += bytes;
        }
        QCOMPARE(part.written(), qint64(expected.size()));
        QObject context;
        bool called = false;
        part.whenRoom(&context, [&] {
            QCOMPARE(QThread::currentThread(), context.thread());
            called = true;
        });
        QTRY_VERIFY(called);
        QVERIFY(part.hasRoom());
        QVERIFY(part.flush());
        QCOMPARE(QFileInfo(part.partPath()).size(), qint64(expected.size()));
        QVERIFY(part.commit());
        QCOMPARE(read(target), expected);
    }

    // A write the disk refuses is not lost in the writing thread: the next
    // write, flush and commit fail with the system's reason, and nothing
    // reaches the final name. The file size limit stands in for a full disk
    // and holds for root too.
    void aRefusedWriteFailsTheFileWithTheSystemsReason()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("cut.pdf");
        PartFile part(target);
        QVERIFY(part.open());
        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = before;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        bool refusedLater = false;
        for (int i = 0; i < 8 && !refusedLater; ++i) {
            refusedLater = !part.write(QByteArray(32 * 1024, 'x'));
            if (!refusedLater)
                refusedLater = !part.flush();
        }
        const bool committed = part.commit();
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(refusedLater);
        QVERIFY(!committed);
        QCOMPARE(part.errorString(), QString::fromLocal8Bit(std::strerror(EFBIG)));
        QVERIFY(!QFileInfo::exists(target));
        part.discard();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPartFile)
#include "test_part_file.moc"
