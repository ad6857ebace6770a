#include "support/harvest_rig.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

class TestHarvestList : public QObject
{
    Q_OBJECT
private slots:
    void addKeepsFirstRowOfAKey();
    void rowsShowTheFiveColumns();
    void clearCommands_data();
    void clearCommands();
    void clearCommandsRefusedWhileAnalysing_data();
    void clearCommandsRefusedWhileAnalysing();
    void clearCommandsWorkDuringAddAll();
    void idsSurviveRemovals();
};

void TestHarvestList::addKeepsFirstRowOfAKey()
{
    HarvestList list;
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QVERIFY(list.add("A", "http://h/a.pdf", "http://h/search?q=1", "pdf", "/f/", "搜索"));
    list.setState(0, HarvestText::Succeeded);
    // Same key, every other field different: nothing changes, nothing is said.
    QVERIFY(!list.add("B", "http://h/a.pdf", "http://h/other", "doc", "/g/", "other"));
    QCOMPARE(list.count(), 1);
    QCOMPARE(inserted.count(), 1);
    const HarvestItem &it = list.at(0);
    QCOMPARE(it.title, QString("A"));
    QCOMPARE(it.state, HarvestText::Succeeded);
    QCOMPARE(it.folder, QString("/f/"));
    QCOMPARE(it.pageLink, QString("http://h/search?q=1"));
    // Keys differ by letter case are different links.
    QVERIFY(list.add("A2", "http://h/A.pdf", "p", "pdf", "", "搜索"));
    QCOMPARE(list.countText(), QString("2"));
}

void TestHarvestList::rowsShowTheFiveColumns()
{
    HarvestList list;
    list.add("Title", "http://h/a.pdf", "http://h/s", "pdf", "/save/", "搜索");
    QCOMPARE(list.columnCount(), 5);
    const QStringList headers = {"标题", "类型", "分析状态", "保存路径", "TYPE"};
    const QStringList cells = {"Title", "pdf", "", "/save/", "搜索"};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(list.headerData(c, Qt::Horizontal).toString(), headers.at(c));
        QCOMPARE(list.data(list.index(0, c)).toString(), cells.at(c));
        QVERIFY(!(list.flags(list.index(0, c)) & Qt::ItemIsEditable));
    }
    QCOMPARE(list.data(list.index(0, 0), HarvestList::KeyRole).toString(),
             QString("http://h/a.pdf"));
    QCOMPARE(list.data(list.index(0, 0), HarvestList::PageLinkRole).toString(),
             QString("http://h/s"));
}

enum class Clear { Selected, Succeeded, Containing, NotContaining, All };
Q_DECLARE_METATYPE(Clear)

static qint64 runClear(HarvestRig &rig, Clear command, const QList<int> &selectedRows)
{
    switch (command) {
    case Clear::Selected:
        return rig.session.clearSelected(rig.list().idsOfRows(selectedRows));
    case Clear::Succeeded:
        return rig.session.clearSucceeded();
    case Clear::Containing:
        return rig.session.clearTitleContaining();
    case Clear::NotContaining:
        return rig.session.clearTitleNotContaining();
    case Clear::All:
        return rig.session.clearAll();
    }
    return -1;
}

void TestHarvestList::clearCommands_data()
{
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<Clear>("command");
    QTest::addColumn<QVariant>("input"); // text typed, null = input cancelled
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QStringList>("shown"); // prompts and messages, in order

    const QStringList five = {"x abc y", "ABC", "ab c", "other", "zAbC"};
    const QStringList none = {"", "", "", "", ""};
    const QStringList input = {"请输入指定字符："};
    QTest::newRow("contains: any case, separated letters stay")
        << five << none << Clear::Containing << QVariant("abc") << QList<int>{} << true
        << QStringList{"ab c", "other"} << input;
    QTest::newRow("contains: adjacent matches both go")
        << QStringList{"k1", "abc1", "abc2", "k2"} << QStringList{"", "", "", ""}
        << Clear::Containing << QVariant("ABC") << QList<int>{} << true << QStringList{"k1", "k2"}
        << input;
    QTest::newRow("not containing")
        << five << none << Clear::NotContaining << QVariant("abc") << QList<int>{} << true
        << QStringList{"x abc y", "ABC", "zAbC"} << input;
    QTest::newRow("not containing: nothing matches empties the list")
        << five << none << Clear::NotContaining << QVariant("qqq") << QList<int>{} << true
        << QStringList{} << input;
    QTest::newRow("input is used untrimmed")
        << five << none << Clear::Containing << QVariant(" abc") << QList<int>{} << true
        << QStringList{"ABC", "ab c", "other", "zAbC"} << input;
    QTest::newRow("empty input removes nothing")
        << five << none << Clear::Containing << QVariant("") << QList<int>{} << true << five
        << input;
    QTest::newRow("cancelled input removes nothing")
        << five << none << Clear::NotContaining << QVariant() << QList<int>{} << true << five
        << input;
    QTest::newRow("filter on an empty list")
        << QStringList{} << QStringList{} << Clear::NotContaining << QVariant("a") << QList<int>{}
        << true << QStringList{} << input;
    QTest::newRow("succeeded") << five << QStringList{"成功", "", "分析失败", "成功", "成功"}
                               << Clear::Succeeded << QVariant() << QList<int>{} << true
                               << QStringList{"ABC", "ab c"} << QStringList{};
    QTest::newRow("selected, scattered")
        << five << none << Clear::Selected << QVariant() << QList<int>{0, 2, 4} << true
        << QStringList{"ABC", "other"} << QStringList{};
    QTest::newRow("selected, none") << five << none << Clear::Selected << QVariant() << QList<int>{}
                                    << true << five << QStringList{};
    QTest::newRow("clear all, yes")
        << five << none << Clear::All << QVariant() << QList<int>{} << true << QStringList{}
        << QStringList{"您确定要清空辛辛苦苦搜索的列表数据吗？"};
    QTest::newRow("clear all, no")
        << five << none << Clear::All << QVariant() << QList<int>{} << false << five
        << QStringList{"您确定要清空辛辛苦苦搜索的列表数据吗？"};
    QTest::newRow("clear all asks even when empty")
        << QStringList{} << QStringList{} << Clear::All << QVariant() << QList<int>{} << true
        << QStringList{} << QStringList{"您确定要清空辛辛苦苦搜索的列表数据吗？"};
}

void TestHarvestList::clearCommands()
{
    QFETCH(QStringList, titles);
    QFETCH(QStringList, states);
    QFETCH(Clear, command);
    QFETCH(QVariant, input);
    QFETCH(QList<int>, selected);
    QFETCH(bool, answerYes);
    QFETCH(QStringList, remaining);
    QFETCH(QStringList, shown);

    HarvestRig rig;
    for (int i = 0; i < titles.size(); ++i)
        rig.addRow(titles.at(i), states.at(i));
    rig.prompter.texts.enqueue(input.isNull() ? std::nullopt
                                              : std::optional<QString>(input.toString()));
    rig.prompter.answers.enqueue(answerYes ? Prompter::Answer::Yes : Prompter::Answer::No);
    QSignalSpy label(&rig.session, &HarvestSession::countTextChanged);

    const qint64 removed = runClear(rig, command, selected);

    QCOMPARE(rig.titles(), remaining);
    QCOMPARE(removed, qint64(titles.size() - remaining.size()));
    QCOMPARE(rig.prompter.messages(), shown);
    // Keys and ids still find the rows that stayed.
    for (qint64 r = 0; r < rig.list().count(); ++r) {
        QCOMPARE(rig.list().rowOfKey(rig.list().at(r).fullTextLink), r);
        QCOMPARE(rig.list().rowOfId(rig.list().at(r).id), r);
    }
    if (removed > 0) {
        QVERIFY(!label.isEmpty());
        QCOMPARE(label.last().at(0).toString(), QString::number(remaining.size()));
    }
}

void TestHarvestList::clearCommandsRefusedWhileAnalysing_data()
{
    QTest::addColumn<Clear>("command");
    QTest::newRow("selected") << Clear::Selected;
    QTest::newRow("succeeded") << Clear::Succeeded;
    QTest::newRow("containing") << Clear::Containing;
    QTest::newRow("not containing") << Clear::NotContaining;
    QTest::newRow("all") << Clear::All;
}

void TestHarvestList::clearCommandsRefusedWhileAnalysing()
{
    QFETCH(Clear, command);
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true; // no dialog at analysis
    rig.addRow("abc", "成功");
    rig.addRow("abd", "成功");
    rig.analysis().run(AnalysisKind::All); // walks on the event loop: still running
    QVERIFY(!rig.analysis().isIdle());
    rig.prompter.texts.enqueue(QString("abc"));

    QCOMPARE(runClear(rig, command, {0, 1}), qint64(0));

    QCOMPARE(rig.titles(), (QStringList{"abc", "abd"}));
    QCOMPARE(rig.prompter.shown.size(), 1);
    QCOMPARE(rig.prompter.shown.at(0).text, QString("正在分析，不能清除！"));
    QCOMPARE(rig.prompter.shown.at(0).icon, Prompter::Icon::Critical);
}

void TestHarvestList::clearCommandsWorkDuringAddAll()
{
    HarvestRig rig;
    const QString url = "http://127.0.0.1/search?q=a&rows=100&start=0";
    rig.browser.setPage(url, FakeBrowser::resultsPage(url, {{"one", "http://127.0.0.1/1"}}, true));
    rig.browser.show(url);
    rig.harvester().startAddAll();
    QVERIFY(rig.harvester().isAddAllRunning());
    rig.prompter.texts.enqueue(QString("one"));
    QCOMPARE(rig.session.clearTitleContaining(), qint64(1));
    QVERIFY(rig.list().isEmpty());
    rig.harvester().stopAddAll();
}

void TestHarvestList::idsSurviveRemovals()
{
    HarvestList list;
    for (int i = 0; i < 6; ++i)
        list.add(QString::number(i), QString("http://h/%1").arg(i), "", "pdf", "", "搜索");
    const quint64 id4 = list.at(4).id;
    list.removeIds({list.at(1).id, list.at(2).id});
    QCOMPARE(list.rowOfId(id4), qint64(2));
    QCOMPARE(list.at(2).title, QString("4"));
    // A removed key may come back as a new row with a new id.
    QVERIFY(list.add("1 again", "http://h/1", "", "pdf", "", "搜索"));
    QVERIFY(list.at(list.count() - 1).id > id4);
}

QTEST_GUILESS_MAIN(TestHarvestList)
#include "test_harvest_list.moc"
