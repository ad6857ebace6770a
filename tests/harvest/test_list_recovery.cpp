#include "engine/download_list.h"
#include "harvest/harvest_list.h"
#include "harvest/list_recovery.h"
#include "support/fake_prompter.h"
#include "support/file_size_limit.h"

#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace lumen;
using lumen::test::FakePrompter;
using S = DownloadState;
using Answer = Prompter::Answer;

namespace
{

const QString Question = QStringLiteral("恢复上次未完成的下载列表？");

// One run of the program over the journal folder: both lists, the offer.
struct Run {
    DownloadList downloads;
    HarvestList harvest;
    FakePrompter prompter;
    ListRecovery recovery;
    bool harvestFirst = false;
    explicit Run(const QString &folder) : recovery(downloads, prompter, folder) {}
    bool start(bool enabled)
    {
        // Either order: the search may start before or after the offer.
        if (harvestFirst)
            recovery.attachHarvest(harvest);
        const bool shown = recovery.start(enabled);
        recovery.attachHarvest(harvest);
        return shown;
    }
};

void addRecord(DownloadList &list, const QString &name, S state)
{
    const qint64 row =
        list.append(QStringLiteral("http://127.0.0.1/items/") + name, name, QStringLiteral("pdf"),
                    QStringLiteral("/tmp/papers/"), QString());
    list.setState(row, state);
}

void addEntry(HarvestList &list, const QString &title, const QString &state)
{
    list.add(title, QStringLiteral("http://127.0.0.1/items/") + title + QStringLiteral(".pdf"),
             QStringLiteral("http://127.0.0.1/search?q=demo"), HarvestText::FileTypePdf, QString(),
             HarvestText::SourceSearch);
    list.setState(list.count() - 1, state);
}

} // namespace

class TestListRecovery : public QObject
{
    Q_OBJECT

private slots:
    // The offer comes only when the last run left work undone; Yes brings
    // both lists back, No empties the journals for good.
    void theOfferAndItsAnswers_data()
    {
        QTest::addColumn<S>("recordState");
        QTest::addColumn<QString>("entryState");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("restored");
        QTest::newRow("waiting record, yes")
            << S::Waiting << HarvestText::Succeeded << true << Answer::Yes << true;
        QTest::newRow("downloading record, no")
            << S::Downloading << HarvestText::Succeeded << true << Answer::No << false;
        QTest::newRow("entry not handed on, yes")
            << S::Finished << QString() << true << Answer::Yes << true;
        QTest::newRow("all done: no offer")
            << S::Failed << HarvestText::Succeeded << false << Answer::Yes << false;
    }
    void theOfferAndItsAnswers()
    {
        QFETCH(S, recordState);
        QFETCH(QString, entryState);
        QFETCH(bool, asked);
        QFETCH(Answer, answer);
        QFETCH(bool, restored);
        QTemporaryDir dir;
        {
            Run last(dir.path());
            QVERIFY(!last.start(true));
            QCOMPARE(last.prompter.shown.size(), 0);
            addRecord(last.downloads, QStringLiteral("a"), recordState);
            addEntry(last.harvest, QStringLiteral("t"), entryState);
        }
        {
            Run next(dir.path());
            next.harvestFirst = entryState.isEmpty();
            next.prompter.answers.enqueue(answer);
            const bool showWindow = next.start(true);
            QCOMPARE(next.prompter.messages(), asked ? QStringList{Question} : QStringList{});
            QCOMPARE(showWindow, restored);
            QCOMPARE(next.downloads.count(), restored ? 1 : 0);
            QCOMPARE(next.harvest.count(), restored ? 1 : 0);
            if (restored)
                QCOMPARE(next.downloads.at(0).state,
                         recordState == S::Downloading ? S::Waiting : recordState);
        }
        // Whatever was declined or done is not offered again.
        Run after(dir.path());
        after.prompter.answers.enqueue(Answer::No);
        after.start(true);
        QCOMPARE(after.prompter.messages().contains(Question), restored && asked);
    }

    // A second copy started beside a running one neither offers the first
    // one's list, nor wipes it, nor writes its own records into it; a lock
    // left by a run that was killed holds nothing back.
    void aSecondRunLeavesTheFirstRunsJournalAlone()
    {
        QTemporaryDir dir;
        const QString another =
            QStringLiteral("另一个正在运行的本程序正在记录下载列表，本次运行不记录列表。");
        {
            Run first(dir.path());
            first.start(true);
            addRecord(first.downloads, QStringLiteral("a"), S::Waiting);
            {
                Run second(dir.path());
                second.prompter.answers.enqueue(Answer::No);
                QVERIFY(!second.start(true));
                QCOMPARE(second.prompter.messages(), QStringList{another});
                QVERIFY(!second.recovery.downloadJournal());
                QVERIFY(!second.recovery.harvestJournal());
                addRecord(second.downloads, QStringLiteral("b"), S::Waiting);
                addRecord(second.downloads, QStringLiteral("c"), S::Waiting);
            }
            addRecord(first.downloads, QStringLiteral("d"), S::Waiting);
        }
        // A run killed with its lock held.
        const pid_t child = fork();
        if (child == 0) {
            QLockFile held(dir.filePath(QStringLiteral("lists.lock")));
            _exit(held.tryLock(0) ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("lists.lock"))));

        Run next(dir.path());
        next.prompter.answers.enqueue(Answer::Yes);
        QVERIFY(next.start(true));
        QCOMPARE(next.prompter.messages(), QStringList{Question});
        QCOMPARE(next.downloads.count(), 2);
        QCOMPARE(next.downloads.at(0).name, QStringLiteral("a"));
        QCOMPARE(next.downloads.at(1).name, QStringLiteral("d"));
    }

    // A journal that stops taking writes (a full disk) says so while it
    // happens, once, and again only after it had recovered.
    void writesThatFailAreTold()
    {
        QTemporaryDir dir;
        Run run(dir.path());
        run.start(true);
        DownloadJournal *journal = run.recovery.downloadJournal();
        QVERIFY(journal);
        addRecord(run.downloads, QStringLiteral("a"), S::Waiting);
        QVERIFY(journal->flush());
        const auto warnings = [&] {
            int n = 0;
            for (const auto &shown : run.prompter.shown)
                n += shown.icon == Prompter::Icon::Warning &&
                     shown.text.contains(QStringLiteral("列表记录文件无法写入")) &&
                     shown.text.contains(QStringLiteral("downloads.sqlite"));
            return n;
        };
        {
            lumen::test::FileSizeLimit full(1);
            addRecord(run.downloads, QStringLiteral("b"), S::Waiting);
            QVERIFY(!journal->flush());
            addRecord(run.downloads, QStringLiteral("c"), S::Waiting);
            QVERIFY(!journal->flush());
        }
        QCOMPARE(warnings(), 1);
        // Nothing gathered was lost meanwhile.
        QVERIFY(journal->flush());
        QCOMPARE(journal->storedRecords().size(), 3);
        {
            lumen::test::FileSizeLimit full(1);
            addRecord(run.downloads, QStringLiteral("d"), S::Waiting);
            QVERIFY(!journal->flush());
        }
        QCOMPARE(warnings(), 2);
    }

    // Turned off, the journals are emptied and nothing is offered, now or
    // next time.
    void turnedOff()
    {
        QTemporaryDir dir;
        {
            Run last(dir.path());
            last.start(true);
            addRecord(last.downloads, QStringLiteral("a"), S::Waiting);
        }
        {
            Run off(dir.path());
            QVERIFY(!off.start(false));
            QCOMPARE(off.prompter.shown.size(), 0);
            addRecord(off.downloads, QStringLiteral("b"), S::Waiting);
        }
        Run on(dir.path());
        QVERIFY(!on.start(true));
        QCOMPARE(on.prompter.shown.size(), 0);
    }

    // A damaged journal is set aside with a message and the start goes on;
    // a folder where no journal can be kept is no reason to stop either.
    void unusableJournals()
    {
        QTemporaryDir dir;
        QFile broken(dir.filePath(QStringLiteral("downloads.sqlite")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray("garbage, not a journal ").repeated(100));
        broken.close();
        {
            Run run(dir.path());
            QVERIFY(!run.start(true));
            QCOMPARE(run.prompter.shown.size(), 1);
            QCOMPARE(run.prompter.shown.at(0).icon, Prompter::Icon::Warning);
            QVERIFY(
                run.prompter.shown.at(0).text.contains(QStringLiteral("downloads.sqlite.broken-")));
            QVERIFY(run.recovery.downloadJournal());
        }
        // A file where the folder should be.
        QFile blocker(dir.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Run run(dir.filePath(QStringLiteral("blocked")));
        QVERIFY(!run.start(true));
        QCOMPARE(run.prompter.shown.size(), 0);
        QVERIFY(!run.recovery.downloadJournal());
        addRecord(run.downloads, QStringLiteral("a"), S::Waiting);
        QCOMPARE(run.downloads.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestListRecovery)
#include "test_list_recovery.moc"
