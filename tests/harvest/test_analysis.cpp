#include "support/harvest_rig.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

Q_DECLARE_METATYPE(lumen::AnalysisKind)

namespace
{

QStringList handedTitles(const DownloadList &downloads)
{
    QStringList out;
    for (const DownloadItem &it : downloads.items())
        out << it.name;
    return out;
}

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void commands_data();
    void commands();
    void stopAfterTheRowInHand_data();
    void stopAfterTheRowInHand();
    void guardAndTakeOver();
    void saveFolderDecision_data();
    void saveFolderDecision();
    void emptyList();
    void analyseButton();
    void rowsHarvestedDuringTheWalkWait();
    void automatic();
    void closeGuard();
    void manyRowsOneAtATime();
    void stopClickArrivesBetweenRows();
    void clearRefusedWhenAnalysisStartsDuringTheBox_data();
    void clearRefusedWhenAnalysisStartsDuringTheBox();
};

void TestAnalysis::commands_data()
{
    QTest::addColumn<AnalysisKind>("kind");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("statesAfter");
    QTest::addColumn<QStringList>("handed");

    // Rows: a "", b "成功", c "", d "分析失败", e "成功" but not from a search.
    QTest::newRow("unanalysed") << AnalysisKind::Unanalysed << QList<int>{}
                                << QStringList{"成功", "成功", "成功", "分析失败", "成功"}
                                << QStringList{"a", "c"};
    QTest::newRow("failed") << AnalysisKind::Failed << QList<int>{}
                            << QStringList{"", "成功", "", "成功", "成功"} << QStringList{"d"};
    QTest::newRow("all") << AnalysisKind::All << QList<int>{}
                         << QStringList{"成功", "成功", "成功", "成功", ""}
                         << QStringList{"a", "b", "c", "d"};
    QTest::newRow("selected") << AnalysisKind::Selected << QList<int>{1, 2, 4}
                              << QStringList{"", "成功", "成功", "分析失败", ""}
                              << QStringList{"b", "c"};
}

void TestAnalysis::commands()
{
    QFETCH(AnalysisKind, kind);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, statesAfter);
    QFETCH(QStringList, handed);

    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a", "");
    rig.addRow("b", "成功");
    rig.addRow("c", "");
    rig.addRow("d", "分析失败");
    rig.addRow("e", "成功", "导入");
    QSignalSpy panel(&rig.analysis(), &HarvestAnalysis::progressPanelVisibleChanged);
    QSignalSpy show(&rig.session.transfer(), &DownloadTransfer::downloadWindowShowRequested);
    QSignalSpy finished(&rig.analysis(), &HarvestAnalysis::finished);

    rig.analysis().run(kind, rig.list().idsOfRows(selected));
    QVERIFY(!rig.analysis().isIdle());
    rig.finishAnalysis();

    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(rig.states(), statesAfter);
    QCOMPARE(handedTitles(rig.downloads), handed);
    QCOMPARE(panel.count(), 2);
    QCOMPARE(panel.at(0).at(0).toBool(), true);
    QCOMPARE(panel.at(1).at(0).toBool(), false);
    QCOMPARE(show.count(), 1);
    QCOMPARE(show.at(0).at(0).toBool(), false);
    QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(handed.size()));
    QVERIFY(rig.prompter.shown.isEmpty());
}

void TestAnalysis::stopAfterTheRowInHand_data()
{
    QTest::addColumn<AnalysisKind>("kind");
    QTest::newRow("all") << AnalysisKind::All;
    QTest::newRow("unanalysed") << AnalysisKind::Unanalysed;
    QTest::newRow("selected") << AnalysisKind::Selected;
}

void TestAnalysis::stopAfterTheRowInHand()
{
    QFETCH(AnalysisKind, kind);
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    for (int i = 1; i <= 10; ++i)
        rig.addRow(QString::number(i));
    // The stop button is pressed while row 5 is being handed on.
    connect(&rig.downloads, &QAbstractItemModel::rowsInserted, &rig.analysis(), [&rig] {
        if (rig.downloads.count() == 5)
            rig.analysis().stop();
    });
    QList<int> all;
    for (int i = 0; i < 10; ++i)
        all << i;
    rig.analysis().run(kind, rig.list().idsOfRows(all));
    rig.finishAnalysis();
    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(rig.downloads.count(), qint64(5));
    QCOMPARE(rig.states(),
             (QStringList{"成功", "成功", "成功", "成功", "成功", "", "", "", "", ""}));
}

void TestAnalysis::guardAndTakeOver()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a");
    rig.addRow("b", "分析失败");
    rig.analysis().run(AnalysisKind::Unanalysed);
    QVERIFY(!rig.analysis().isIdle());

    // The guarded commands refuse and leave the running one alone.
    rig.analysis().run(AnalysisKind::Unanalysed);
    rig.analysis().run(AnalysisKind::Selected, rig.list().idsOfRows({1}));
    QCOMPARE(rig.prompter.messages(),
             (QStringList{"正在分析，不能清除！", "正在分析，不能清除！"}));
    QCOMPARE(rig.prompter.shown.at(0).icon, Prompter::Icon::Critical);
    QVERIFY(rig.analysis().isWalking());

    // "分析全部" has no guard: it walks every row, and the other command ends.
    QSignalSpy finished(&rig.analysis(), &HarvestAnalysis::finished);
    rig.analysis().run(AnalysisKind::All);
    rig.finishAnalysis();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).value<AnalysisKind>(), AnalysisKind::All);
    QCOMPARE(rig.states(), (QStringList{"成功", "成功"}));
    QCOMPARE(rig.downloads.count(), qint64(2));
    // Stop between two batches: the next batch ends the walk untouched.
    rig.analysis().run(AnalysisKind::All);
    rig.analysis().stop();
    rig.finishAnalysis();
    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(rig.states(), (QStringList{"成功", "成功"})); // no row was touched
    QCOMPARE(rig.downloads.count(), qint64(2));
}

void TestAnalysis::saveFolderDecision_data()
{
    QTest::addColumn<AnalysisKind>("kind");
    QTest::addColumn<bool>("prompt");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("folder"); // of the record; empty = nothing handed

    QTest::newRow("all, asked at analysis")
        << AnalysisKind::All << false << false << false << 1 << "/tmp/chosen/";
    QTest::newRow("all, dialog cancelled")
        << AnalysisKind::All << false << false << true << 1 << "";
    QTest::newRow("all, asked at harvest instead")
        << AnalysisKind::All << true << false << false << 0 << "/old/";
    QTest::newRow("unanalysed by hand")
        << AnalysisKind::Unanalysed << false << false << false << 1 << "/tmp/chosen/";
    QTest::newRow("unanalysed in automatic mode")
        << AnalysisKind::Unanalysed << false << true << false << 0 << "/old/";
    QTest::newRow("failed in automatic mode still asks")
        << AnalysisKind::Failed << false << true << false << 1 << "/tmp/chosen/";
}

void TestAnalysis::saveFolderDecision()
{
    QFETCH(AnalysisKind, kind);
    QFETCH(bool, prompt);
    QFETCH(bool, automatic);
    QFETCH(bool, cancel);
    QFETCH(int, asked);
    QFETCH(QString, folder);

    HarvestRig rig;
    rig.settings.promptForSaveFolder = prompt;
    rig.settings.saveFolder = "/old/";
    rig.settings.saveFolderDialogCancelled = true; // left over from an earlier dialog
    rig.chooser.cancel = cancel;
    rig.analysis().setAutomatic(automatic);
    rig.addRow("x", kind == AnalysisKind::Failed ? "分析失败" : "");
    QSignalSpy show(&rig.session.transfer(), &DownloadTransfer::downloadWindowShowRequested);

    rig.analysis().run(kind);
    rig.finishAnalysis();

    QCOMPARE(rig.chooser.asked, asked);
    QVERIFY(rig.analysis().isIdle());
    // The download window comes forward only for rows handed on.
    QCOMPARE(show.count(), folder.isEmpty() ? 0 : 1);
    if (folder.isEmpty()) {
        QVERIFY(rig.downloads.isEmpty());
        QCOMPARE(rig.downloadListAsked, 0);
        QCOMPARE(rig.states(), QStringList{""}); // states unchanged
    } else {
        QCOMPARE(rig.downloads.count(), qint64(1));
        QCOMPARE(rig.downloads.at(0).folder, folder);
        QCOMPARE(rig.states(), QStringList{"成功"});
    }
}

void TestAnalysis::emptyList()
{
    HarvestRig rig;
    QSignalSpy panel(&rig.analysis(), &HarvestAnalysis::progressPanelVisibleChanged);
    QSignalSpy show(&rig.session.transfer(), &DownloadTransfer::downloadWindowShowRequested);
    // By a menu command: quietly, with the panel shown and hidden.
    rig.analysis().run(AnalysisKind::All);
    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(panel.count(), 2);
    QCOMPARE(show.count(), 0); // nothing handed on

    QVERIFY(rig.prompter.shown.isEmpty());
    QCOMPARE(rig.chooser.asked, 0);
    // By the button: told so.
    bool menuShown = false;
    rig.analysis().analyseButtonClicked({}, [&] {
        menuShown = true;
        return std::optional<AnalysisKind>();
    });
    QCOMPARE(rig.prompter.messages(), QStringList{"列表没有数据哦！"});
    QCOMPARE(rig.prompter.shown.at(0).icon, Prompter::Icon::Information);
    QVERIFY(!menuShown);
}

void TestAnalysis::analyseButton()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a", "成功");
    rig.addRow("b", "分析失败");
    int menuShown = 0;
    std::optional<AnalysisKind> pick;
    auto menu = [&] {
        ++menuShown;
        return pick;
    };
    // No selection: everything, without the menu.
    rig.analysis().analyseButtonClicked({}, menu);
    rig.finishAnalysis();
    QCOMPARE(menuShown, 0);
    QCOMPARE(rig.downloads.count(), qint64(2));
    // A selection: the menu; nothing picked, nothing done.
    rig.list().setState(1, HarvestText::Failed);
    rig.analysis().analyseButtonClicked(rig.list().idsOfRows({0}), menu);
    QCOMPARE(menuShown, 1);
    QVERIFY(rig.analysis().isIdle());
    pick = AnalysisKind::Selected;
    rig.analysis().analyseButtonClicked(rig.list().idsOfRows({1}), menu);
    rig.finishAnalysis();
    QCOMPARE(rig.states(), (QStringList{"成功", "成功"}));
}

void TestAnalysis::rowsHarvestedDuringTheWalkWait()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a");
    rig.analysis().run(AnalysisKind::Unanalysed);
    rig.addRow("late"); // harvested by a running add-all walk
    rig.finishAnalysis();
    QCOMPARE(rig.states(), (QStringList{"成功", ""}));
}

void TestAnalysis::automatic()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = false;
    rig.settings.saveFolder = "/auto/";
    rig.addRow("a");
    QSignalSpy show(&rig.session.transfer(), &DownloadTransfer::downloadWindowShowRequested);
    rig.analysis().setAutomatic(true);
    QVERIFY(rig.analysis().isAutomatic());

    rig.clock.advanceSeconds(29);
    rig.analysis().automaticTick();
    QVERIFY(rig.analysis().isIdle());
    rig.clock.advanceSeconds(1);
    rig.analysis().automaticTick();
    QVERIFY(!rig.analysis().isIdle());
    rig.finishAnalysis();
    QCOMPARE(rig.states(), QStringList{"成功"});
    QCOMPARE(rig.downloads.at(0).folder, QString("/auto/"));
    QCOMPARE(rig.chooser.asked, 0);
    QCOMPARE(show.count(), 1); // a row was handed on

    // Every 30 s with nothing new: the download window is left where it is.
    for (int run = 0; run < 3; ++run) {
        rig.clock.advanceSeconds(30);
        rig.analysis().automaticTick();
        rig.finishAnalysis();
    }
    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(show.count(), 1);

    // A run still walking when the interval comes round is left alone,
    // without a box.
    rig.addRow("b");
    rig.addRow("c", "分析失败");
    rig.settings.promptForSaveFolder = true;
    rig.analysis().run(AnalysisKind::Failed);
    rig.clock.advanceSeconds(30);
    rig.analysis().automaticTick();
    QVERIFY(rig.prompter.shown.isEmpty());
    rig.finishAnalysis();
    QCOMPARE(rig.states(), (QStringList{"成功", "", "成功"}));
    // ... and the rows are taken at the next interval.
    rig.clock.advanceSeconds(30);
    rig.analysis().automaticTick();
    rig.finishAnalysis();
    QCOMPARE(rig.states(), (QStringList{"成功", "成功", "成功"}));

    // Unchecked: the timer does nothing any more.
    rig.analysis().setAutomatic(false);
    rig.addRow("d");
    rig.clock.advanceSeconds(60);
    rig.analysis().automaticTick();
    QVERIFY(rig.analysis().isIdle());
    QCOMPARE(rig.states().last(), QString());
}

void TestAnalysis::closeGuard()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a");
    rig.analysis().setAutomatic(true);
    rig.analysis().run(AnalysisKind::All);
    QVERIFY(!rig.session.requestClose());
    QCOMPARE(rig.prompter.messages(), QStringList{"正在工作，停止以后才能退出窗口！"});
    rig.finishAnalysis();

    const QString url = "http://127.0.0.1/search?q=a&rows=100&start=0";
    rig.browser.setPage(url, FakeBrowser::resultsPage(url, {{"x", "http://127.0.0.1/x"}}, true));
    rig.browser.show(url);
    rig.harvester().startAddAll();
    QVERIFY(!rig.session.requestClose());
    rig.harvester().stopAddAll();

    QVERIFY(rig.session.requestClose());
    QVERIFY(!rig.analysis().isAutomatic());
}

void TestAnalysis::manyRowsOneAtATime()
{
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    for (int i = 0; i < 1000; ++i)
        rig.addRow(QString::number(i), i < 500 ? "成功" : "");
    rig.analysis().run(AnalysisKind::Unanalysed);
    // A turn passes over rows the command does not take, a bounded number
    // at a time, and hands on one row at most.
    rig.analysis().step();
    QCOMPARE(rig.downloads.count(), qint64(0));
    for (int i = 0; i < 2; ++i)
        rig.analysis().step();
    QCOMPARE(rig.downloads.count(), qint64(1));
    rig.analysis().step();
    QCOMPARE(rig.downloads.count(), qint64(2));
    QVERIFY(rig.analysis().isWalking());
    rig.finishAnalysis();
    QCOMPARE(rig.downloads.count(), qint64(500));
}

void TestAnalysis::stopClickArrivesBetweenRows()
{
    // A click reaches the stop button as an event of the loop, never from
    // inside the transfer: it is queued while row 1 is handed on, and the
    // walk ends before it takes many more.
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    for (int i = 1; i <= 50; ++i)
        rig.addRow(QString::number(i));
    bool clicked = false;
    connect(&rig.analysis(), &HarvestAnalysis::rowHandedOn, &rig.analysis(), [&] {
        if (std::exchange(clicked, true))
            return;
        QMetaObject::invokeMethod(&rig.analysis(), &HarvestAnalysis::stop, Qt::QueuedConnection);
    });
    QSignalSpy finished(&rig.analysis(), &HarvestAnalysis::finished);
    rig.analysis().run(AnalysisKind::All);
    QVERIFY(finished.wait(10000));
    QVERIFY2(rig.downloads.count() <= 2, qPrintable(QString::number(rig.downloads.count())));
    QCOMPARE(rig.states().mid(2), QStringList(48, QString()));
}

void TestAnalysis::clearRefusedWhenAnalysisStartsDuringTheBox_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("清空全部") << "all";
    QTest::newRow("清除标题含指定字符项") << "containing";
}

void TestAnalysis::clearRefusedWhenAnalysisStartsDuringTheBox()
{
    QFETCH(QString, command);
    HarvestRig rig;
    rig.settings.promptForSaveFolder = true;
    rig.addRow("a");
    rig.addRow("b");
    rig.analysis().setAutomatic(true);
    rig.prompter.texts.enqueue(QStringLiteral("a"));
    // The user confirms clearing everything; the refusal comes after.
    if (command == "all")
        rig.prompter.answers.enqueue(Prompter::Answer::Yes);
    // The automatic analysis comes round while the box is open.
    rig.prompter.whileOpen = [&rig] {
        rig.clock.advanceSeconds(30);
        rig.analysis().automaticTick();
    };
    const qint64 removed =
        command == "all" ? rig.session.clearAll() : rig.session.clearTitleContaining();
    QVERIFY(!rig.analysis().isIdle());
    QCOMPARE(removed, qint64(0));
    QCOMPARE(rig.list().count(), qint64(2));
    QCOMPARE(rig.prompter.messages().last(), QString("正在分析，不能清除！"));
    rig.finishAnalysis();
    QCOMPARE(rig.states(), (QStringList{"成功", "成功"}));
}

QTEST_GUILESS_MAIN(TestAnalysis)
#include "test_analysis.moc"
