#include "download_window/download_journal.h"
#include "engine/download_list.h"
#include "settings/journal_database.h"
#include "support/record_figures.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace lumen;
using S = DownloadState;

namespace
{

struct JournalRig {
    QTemporaryDir dir;
    QString file = dir.filePath(QStringLiteral("data/journal.sqlite"));
    std::unique_ptr<JournalDatabase> db;
    std::unique_ptr<DownloadList> list;
    std::unique_ptr<DownloadJournal> journal;

    // A run of the program: a fresh list and a journal over the file.
    bool start()
    {
        journal.reset();
        list.reset();
        db = std::make_unique<JournalDatabase>(file, DownloadJournal::SchemaVersion,
                                               DownloadJournal::schema(),
                                               DownloadJournal::upgrades());
        if (!db->open())
            return false;
        list = std::make_unique<DownloadList>();
        journal = std::make_unique<DownloadJournal>(*list, *db);
        journal->setFlushInterval(20);
        return true;
    }
    quint64 add(const QString &name, S state = S::Waiting, const QString &percent = QString())
    {
        const qint64 row = list->append(QStringLiteral("http://127.0.0.1/items/") + name, name,
                                        QStringLiteral("pdf"), dir.path() + QLatin1Char('/'),
                                        QStringLiteral("http://127.0.0.1/search"));
        list->update(row, [&](DownloadItem &it) {
            it.state = state;
            test::showFigures(it, QString(), QString(), percent);
        });
        return list->at(row).id;
    }
    QStringList storedNames() const
    {
        QStringList out;
        for (const DownloadItem &it : journal->storedRecords())
            out << it.name;
        return out;
    }
    QStringList listNames() const
    {
        QStringList out;
        for (qint64 r = 0; r < list->count(); ++r)
            out << list->at(r).name;
        return out;
    }
};

} // namespace

class TestDownloadJournal : public QObject
{
    Q_OBJECT

private slots:
    // Progress updates only mark their record; the batch that follows
    // writes each changed record once, in one transaction.
    void changesAreWrittenInBatches()
    {
        JournalRig rig;
        QVERIFY(rig.start());
        QSignalSpy flushed(rig.journal.get(), &DownloadJournal::flushed);
        const quint64 a = rig.add(QStringLiteral("a"));
        rig.add(QStringLiteral("b"));
        for (int pct = 1; pct <= 200; ++pct)
            rig.list->updateById(a, [&](DownloadItem &it) {
                it.state = S::Downloading;
                it.size = 200000;
                it.received = pct * 1000;
            });
        QVERIFY(flushed.wait());
        QCOMPARE(flushed.count(), 1);
        QCOMPARE(flushed.at(0).at(0).toLongLong(), 2);
        const QList<DownloadItem> stored = rig.journal->storedRecords();
        QCOMPARE(stored.size(), 2);
        QCOMPARE(receivedColumnText(stored.at(0)), QStringLiteral("200000"));
        QCOMPARE(percentColumnText(stored.at(0)), QStringLiteral("100%"));
        QCOMPARE(stored.at(0).state, S::Downloading);
    }

    // The next run finds the list as the last one left it, in its order;
    // what was downloading waits again, finished and failed records and the
    // files they stored stay as they were.
    void aNewRunRestoresTheList()
    {
        JournalRig rig;
        QVERIFY(rig.start());
        rig.add(QStringLiteral("done"), S::Finished, QStringLiteral("100%"));
        rig.add(QStringLiteral("running"), S::Downloading, QStringLiteral("37%"));
        rig.add(QStringLiteral("failed"), S::Failed);
        rig.add(QStringLiteral("waiting"));
        rig.list->update(0,
                         [&](DownloadItem &it) { it.storedPath = rig.dir.filePath("done.pdf"); });
        rig.list->sortByColumn(DownloadList::NameColumn, Qt::DescendingOrder);
        const QStringList order = rig.listNames();
        QVERIFY(rig.journal->flush());

        QVERIFY(rig.start());
        QVERIFY(rig.journal->hasUnfinishedRecords());
        QCOMPARE(rig.journal->restore(), 4);
        QCOMPARE(rig.listNames(), order);
        const auto rec = [&](const QString &name) {
            return rig.list->at(
                rig.list->rowOfUrl(QStringLiteral("http://127.0.0.1/items/") + name));
        };
        QCOMPARE(rec("done").state, S::Finished);
        QCOMPARE(rec("done").storedPath, rig.dir.filePath("done.pdf"));
        QCOMPARE(rec("running").state, S::Waiting);
        QCOMPARE(percentColumnText(rec("running")), QStringLiteral("37%"));
        QCOMPARE(rec("failed").state, S::Failed);
        QCOMPARE(rec("waiting").state, S::Waiting);
        QCOMPARE(rec("waiting").referer, QStringLiteral("http://127.0.0.1/search"));
        // Journaled again under this run's records.
        QCOMPARE(rig.storedNames(), order);
    }

    // Removing, shuffling and clearing rewrite the journal to the list as
    // it then stands.
    void bulkChangesRewriteTheJournal()
    {
        JournalRig rig;
        QVERIFY(rig.start());
        for (const char *n : {"a", "b", "c", "d", "e"})
            rig.add(QString::fromLatin1(n), n[0] % 2 ? S::Failed : S::Finished);
        QVERIFY(rig.journal->flush());
        rig.list->removeIf([](const DownloadItem &it) { return it.state == S::Failed; });
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), (QStringList{"b", "d"}));
        std::mt19937_64 random(7);
        rig.add(QStringLiteral("f"));
        rig.list->shuffle(random);
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), rig.listNames());
        rig.list->clear();
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), QStringList{});
        QVERIFY(!rig.journal->hasUnfinishedRecords());
    }

    // Declining the offer, or turning journaling off, leaves nothing to
    // offer next time; while off nothing is written.
    void discardAndTurningOff()
    {
        JournalRig rig;
        QVERIFY(rig.start());
        rig.add(QStringLiteral("a"));
        QVERIFY(rig.journal->flush());
        rig.journal->discard();
        QVERIFY(!rig.journal->hasUnfinishedRecords());

        rig.journal->setEnabled(false);
        rig.add(QStringLiteral("b"));
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), QStringList{});
        rig.journal->setEnabled(true);
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), (QStringList{"a", "b"}));
    }

    // A file the journal cannot trust is moved aside untouched, and the
    // program starts with an empty journal instead of failing.
    void unusableFilesAreSetAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("userVersion");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("not a database")
            << QByteArray("this is not a journal\n").repeated(200) << 0 << "broken";
        QTest::newRow("damaged header")
            << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\xff') << 0 << "broken";
        QTest::newRow("newer version") << QByteArray() << 99 << "newer";
    }
    void unusableFilesAreSetAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, userVersion);
        QFETCH(QString, suffix);
        JournalRig rig;
        QVERIFY(QDir().mkpath(QFileInfo(rig.file).absolutePath()));
        if (userVersion > 0) {
            JournalDatabase newer(rig.file, userVersion, {"CREATE TABLE future (x)"});
            QVERIFY(newer.open());
        } else {
            QFile f(rig.file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        QFile before(rig.file);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray original = before.readAll();
        before.close();

        QVERIFY(rig.start());
        QVERIFY(!rig.db->problem().isEmpty());
        const QString aside = rig.db->setAsidePath();
        QVERIFY2(aside.contains(QLatin1Char('.') + suffix + QLatin1Char('-')), qPrintable(aside));
        QFile kept(aside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), original);
        QCOMPARE(rig.storedNames(), QStringList{});
        rig.add(QStringLiteral("a"));
        QVERIFY(rig.journal->flush());
        QCOMPARE(rig.storedNames(), QStringList{"a"});
    }

    // A journal of the first version kept the figures as the list's texts:
    // it is read on, its texts turned back into numbers, notes and outcomes
    // that show the very same texts.
    void firstVersionJournalIsUpgraded_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("texts"); // size, received, percent as stored
        QTest::addColumn<Outcome>("outcome");
        const int waiting = int(S::Waiting), finished = int(S::Finished), failed = int(S::Failed);
        QTest::newRow("untouched") << "pdf" << waiting << QStringList{"", "", ""} << Outcome::None;
        QTest::newRow("document") << "pdf" << finished << QStringList{"5016", "5016", "100%"}
                                  << Outcome::Document;
        QTest::newRow("web page") << "HTM" << finished << QStringList{"120", "120", "100%"}
                                  << Outcome::WebPage;
        QTest::newRow("cut body") << "pdf" << failed << QStringList{"100000", "30000", "30%"}
                                  << Outcome::Failed;
        QTest::newRow("size unknown")
            << "pdf" << failed << QStringList{"未知", "", ""} << Outcome::Failed;
        QTest::newRow("waiting again")
            << "pdf" << waiting << QStringList{"等待重新下载", "", ""} << Outcome::None;
        QTest::newRow("too large")
            << "pdf" << finished << QStringList{"20000000", "", "大文件，跳过"}
            << Outcome::SkippedTooLarge;
        QTest::newRow("exists") << "pdf" << finished << QStringList{"16", "16", "已存在，跳过"}
                                << Outcome::SkippedExists;
        QTest::newRow("cannot replace")
            << "pdf" << failed << QStringList{"3", "3", "无法替换"} << Outcome::CannotReplace;
        QTest::newRow("cancelled")
            << "pdf" << failed << QStringList{"5000", "1000", "下载取消"} << Outcome::Cancelled;
        QTest::newRow("bad proxy")
            << "pdf" << failed << QStringList{"", "", "代理服务器设置有误"} << Outcome::Failed;
        QTest::newRow("missing file")
            << "pdf" << finished << QStringList{"9", "9", "不存在"} << Outcome::Document;
    }
    void firstVersionJournalIsUpgraded()
    {
        QFETCH(QString, type);
        QFETCH(int, state);
        QFETCH(QStringList, texts);
        QFETCH(Outcome, outcome);
        JournalRig rig;
        {
            JournalDatabase old(
                rig.file, 1,
                {"CREATE TABLE records (id INTEGER PRIMARY KEY, position INTEGER NOT NULL, "
                 "url TEXT NOT NULL, name TEXT, file_type TEXT, size_text TEXT, "
                 "received_text TEXT, percent_text TEXT, folder TEXT, base_flag TEXT, "
                 "referer TEXT, stored_path TEXT, state INTEGER NOT NULL)"});
            QVERIFY(old.open());
            QSqlQuery q(old.database());
            QVERIFY(q.prepare("INSERT INTO records VALUES (7, 0, 'http://127.0.0.1/items/a', "
                              "'a', ?, ?, ?, ?, '/papers/', '', '', '/papers/a.pdf', ?)"));
            q.addBindValue(type);
            q.addBindValue(texts.at(0));
            q.addBindValue(texts.at(1));
            q.addBindValue(texts.at(2));
            q.addBindValue(state);
            QVERIFY(q.exec());
        }
        QVERIFY(rig.start());
        QVERIFY2(rig.db->setAsidePath().isEmpty(), qPrintable(rig.db->problem()));
        QCOMPARE(rig.journal->restore(), 1);
        const DownloadItem &it = rig.list->at(0);
        QCOMPARE(sizeColumnText(it), texts.at(0));
        QCOMPARE(receivedColumnText(it), texts.at(1));
        QCOMPARE(percentColumnText(it), texts.at(2));
        QCOMPARE(it.outcome, outcome);
        QCOMPARE(int(it.state), state);
        QCOMPARE(it.fileType, type);
        QCOMPARE(it.storedPath, QStringLiteral("/papers/a.pdf"));
        QVERIFY(it.reason.isEmpty());
        // The upgraded file is the current version: the next run reads it as is.
        QVERIFY(rig.journal->flush());
        QVERIFY(rig.start());
        QCOMPARE(rig.journal->storedRecords().size(), 1);
        QCOMPARE(percentColumnText(rig.journal->storedRecords().first()), texts.at(2));
    }

    // A file of an older version that no upgrade reads is set aside, never
    // read as if it were the current one.
    void unknownOlderVersionIsSetAside()
    {
        JournalRig rig;
        QVERIFY(QDir().mkpath(QFileInfo(rig.file).absolutePath()));
        {
            JournalDatabase old(rig.file, 1, {"CREATE TABLE records (x)"});
            QVERIFY(old.open());
        }
        rig.db = std::make_unique<JournalDatabase>(rig.file, 3, QStringList{"CREATE TABLE t (x)"},
                                                   QMap<int, QStringList>{{2, {"SELECT 1"}}});
        QVERIFY(rig.db->open());
        QVERIFY2(rig.db->setAsidePath().contains(".older-"), qPrintable(rig.db->setAsidePath()));
    }

    // A program killed outright loses at most the changes since its last
    // committed batch, which comes every second.
    void survivesAKill()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("journal.sqlite"));
        QProcess writer;
        writer.start(QStringLiteral(LUMEN_JOURNAL_WRITER), {file});
        QVERIFY(writer.waitForStarted());
        qint64 lastFlushed = -1;
        int batches = 0;
        QElapsedTimer sinceFirst;
        while (batches < 3 && writer.waitForReadyRead(5000)) {
            while (writer.canReadLine()) {
                const QByteArray line = writer.readLine().trimmed();
                if (!line.startsWith("flushed "))
                    continue;
                if (batches++ == 0)
                    sinceFirst.start();
                lastFlushed = line.mid(8).toLongLong();
            }
        }
        QCOMPARE(batches, 3);
        // Three batches in about two intervals: no batch waits for more
        // than a second of changes.
        QVERIFY2(sinceFirst.elapsed() < 2 * DownloadJournal::FlushIntervalMs + 1000,
                 qPrintable(QString::number(sinceFirst.elapsed())));
        ::kill(pid_t(writer.processId()), SIGKILL);
        QVERIFY(writer.waitForFinished());

        JournalDatabase db(file, DownloadJournal::SchemaVersion, DownloadJournal::schema(),
                           DownloadJournal::upgrades());
        QVERIFY(db.open());
        QVERIFY2(db.setAsidePath().isEmpty(), qPrintable(db.problem()));
        DownloadList list;
        DownloadJournal journal(list, db);
        const QList<DownloadItem> stored = journal.storedRecords();
        QVERIFY2(stored.size() >= lastFlushed,
                 qPrintable(QStringLiteral("%1 of %2").arg(stored.size()).arg(lastFlushed)));
        QVERIFY(journal.hasUnfinishedRecords());
        QCOMPARE(stored.first().name, QStringLiteral("paper 0"));
        QCOMPARE(percentColumnText(stored.first()), QStringLiteral("50%"));
    }
};

QTEST_GUILESS_MAIN(TestDownloadJournal)
#include "test_download_journal.moc"
