#include "harvest/harvest_journal.h"
#include "settings/journal_database.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lumen;

class TestHarvestJournal : public QObject
{
    Q_OBJECT

private slots:
    // Harvested entries come back with their analysis states and order;
    // removing the handed-on ones is journaled too.
    void entriesComeBackWithTheirStates()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("harvest.sqlite"));
        QStringList order;
        {
            JournalDatabase db(file, HarvestJournal::SchemaVersion, HarvestJournal::schema());
            QVERIFY(db.open());
            HarvestList list;
            HarvestJournal journal(list, db);
            for (int i = 0; i < 5; ++i)
                list.add(QStringLiteral("title %1").arg(i),
                         QStringLiteral("http://127.0.0.1/items/%1.pdf").arg(i),
                         QStringLiteral("http://127.0.0.1/search?q=demo"), HarvestText::FileTypePdf,
                         QStringLiteral("/tmp/papers/"), HarvestText::SourceSearch);
            list.setState(0, HarvestText::Succeeded);
            list.setState(1, HarvestText::Failed);
            list.setState(4, HarvestText::Succeeded);
            QVERIFY(journal.flush());
            QVERIFY(journal.hasUnfinishedEntries());
            list.removeSucceeded();
            QVERIFY(journal.flush());
            for (const HarvestItem &it : list.items())
                order << it.title;
        }
        JournalDatabase db(file, HarvestJournal::SchemaVersion, HarvestJournal::schema());
        QVERIFY(db.open());
        HarvestList list;
        HarvestJournal journal(list, db);
        QCOMPARE(journal.restore(), 3);
        QStringList titles;
        for (const HarvestItem &it : list.items())
            titles << it.title;
        QCOMPARE(titles, order);
        QCOMPARE(list.at(0).state, HarvestText::Failed);
        QCOMPARE(list.at(1).state, QString());
        QCOMPARE(list.at(1).folder, QStringLiteral("/tmp/papers/"));
        QCOMPARE(list.at(1).pageLink, QStringLiteral("http://127.0.0.1/search?q=demo"));
        QCOMPARE(journal.storedEntries().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestHarvestJournal)
#include "test_harvest_journal.moc"
