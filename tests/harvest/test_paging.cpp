#include "harvest/repository.h"
#include "support/harvest_rig.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

namespace
{

const QString Root = QStringLiteral("http://127.0.0.1:8080/");

QString pageUrl(int page)
{
    return Root + QStringLiteral("search?q=deep%20sea&rows=100&start=") +
           QString::number(page * 100);
}

// A search of `pages` pages of three entries each; the last has no "next".
void addSearch(FakeBrowser &browser, int pages)
{
    for (int p = 0; p < pages; ++p) {
        QList<FakeBrowser::Entry> entries;
        for (int e = 1; e <= 3; ++e)
            entries.append({QStringLiteral("p%1 e%2").arg(p).arg(e),
                            Root + QStringLiteral("item/%1-%2").arg(p).arg(e)});
        browser.setPage(pageUrl(p), FakeBrowser::resultsPage(pageUrl(p), entries, p + 1 < pages));
    }
}

// Runs the walk as the event loop and a patient user would: every pending
// load completes, time moves in steps of one second.
void drive(HarvestRig &rig, int maxSeconds = 3600)
{
    for (int s = 0; s < maxSeconds && rig.harvester().isAddAllRunning(); ++s) {
        if (rig.browser.isBusy())
            rig.browser.completeLoad();
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }
}

} // namespace

class TestPaging : public QObject
{
    Q_OBJECT
private slots:
    void init() { qputenv("LUMENARC_REPOSITORY", Root.toUtf8()); }
    void cleanup() { qunsetenv("LUMENARC_REPOSITORY"); }

    void searchPosition_data();
    void searchPosition();
    void repositoryAddress_data();
    void repositoryAddress();
    void walksEveryPage_data();
    void walksEveryPage();
    void endsEarly_data();
    void endsEarly();
    void walkEndIsTold_data();
    void walkEndIsTold();
    void walkOverRowsAlreadyListed();
    void pageReadInPieces();
    void nextPageThatDidNotCome_data();
    void nextPageThatDidNotCome();
    void walkStaysOnTheHostGiven_data();
    void walkStaysOnTheHostGiven();
    void fragmentIsNoPartOfTheSearch();
    void nextAddressSameAsThisPage();
    void stopDuringWaits_data();
    void stopDuringWaits();
    void pageThatNeverCompletesButShows();
    void notASearchAddress();
    void saveFolderAskedOncePerWalk_data();
    void saveFolderAskedOncePerWalk();
    void documentThatNeverAnswers();
    void harvestThisPage();
};

void TestPaging::searchPosition_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("query");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("rows");
    QTest::addColumn<bool>("search");
    QTest::addColumn<QString>("next"); // what the next address ends with

    // Fields start at query "old", start 7, rows 9: absent parts keep them.
    QTest::newRow("page of 100 at 200")
        << "https://h/search?q=abc&rows=100&start=200"
        << "abc" << qint64(200) << qint64(100) << true << "search?q=abc&rows=100&start=300";
    QTest::newRow("25 rows restart at 0 with 100")
        << "https://h/search?q=abc&rows=25&start=50"
        << "abc" << qint64(50) << qint64(25) << true << "search?q=abc&rows=100&start=0";
    QTest::newRow("first page without paging")
        << "https://h/search?q=a%20b"
        << "a%20b" << qint64(7) << qint64(9) << true << "search?q=a%20b&rows=100&start=0";
    QTest::newRow("any letter case")
        << "https://h/SEARCH?Q=x&ROWS=100&START=0"
        << "x" << qint64(0) << qint64(100) << true << "search?q=x&rows=100&start=100";
    QTest::newRow("not numeric keeps the old value")
        << "https://h/search?q=x&rows=all&start=1e2"
        << "x" << qint64(100) << qint64(9) << true << "search?q=x&rows=100&start=0";
    QTest::newRow("start must follow &")
        << "https://h/search?q=x&rows=100&pstart=300"
        << "x" << qint64(7) << qint64(100) << true << "search?q=x&rows=100&start=107";
    QTest::newRow("no q= leaves the query as it was")
        << "https://h/browse?rows=100"
        << "old" << qint64(7) << qint64(100) << false << "search?q=old&rows=100&start=107";
    QTest::newRow("empty query") << "https://h/search?q=&rows=100"
                                 << "" << qint64(7) << qint64(100) << false
                                 << "search?q=&rows=100&start=107";
}

void TestPaging::searchPosition()
{
    QFETCH(QString, address);
    QFETCH(QString, query);
    QFETCH(qint64, start);
    QFETCH(qint64, rows);
    QFETCH(bool, search);
    QFETCH(QString, next);

    SearchPosition pos{"old", 7, 9};
    readSearchPosition(address, pos);
    QCOMPARE(pos.query, query);
    QCOMPARE(pos.start, start);
    QCOMPARE(pos.rows, rows);
    QCOMPARE(isSearchAddress(address, pos), search);
    QCOMPARE(nextPageAddress(QUrl("https://repo.example/"), pos),
             QString("https://repo.example/") + next);
}

void TestPaging::repositoryAddress_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("root");
    QTest::newRow("local site") << "http://127.0.0.1:8080/"
                                << "http://127.0.0.1:8080/";
    QTest::newRow("path and query dropped") << " http://127.0.0.1:9/x/y?z=1 "
                                            << "http://127.0.0.1:9/";
    QTest::newRow("other scheme ignored") << "ftp://127.0.0.1/"
                                          << "";
    QTest::newRow("no host ignored") << "http:///"
                                     << "";
    QTest::newRow("unset") << ""
                           << "";
}

void TestPaging::repositoryAddress()
{
    QFETCH(QString, variable);
    QFETCH(QString, root);
    if (variable.isEmpty())
        qunsetenv("LUMENARC_REPOSITORY");
    else
        qputenv("LUMENARC_REPOSITORY", variable.toUtf8());
    const QString expected = root.isEmpty() ? defaultRepositoryAddress().toString() : root;
    QCOMPARE(lumen::repositoryAddress().toString(), expected);
    QCOMPARE(repositoryHomePage().toString(), expected);
    QVERIFY(defaultRepositoryAddress().scheme() == "https");

    HarvestRig rig;
    rig.session.openHomePage();
    QCOMPARE(rig.browser.navigations, QStringList{expected});
}

void TestPaging::walksEveryPage_data()
{
    QTest::addColumn<bool>("firstPageIn100");
    QTest::addColumn<bool>("loadCompletesInsideNavigate");
    QTest::addColumn<bool>("snapshotsAnswerLater");
    QTest::newRow("from a page of 100") << true << false << false;
    QTest::newRow("from the search's first page") << false << false << false;
    QTest::newRow("load reported before navigate returns") << true << true << false;
    QTest::newRow("documents answer later") << true << false << true;
}

void TestPaging::walksEveryPage()
{
    QFETCH(bool, firstPageIn100);
    QFETCH(bool, loadCompletesInsideNavigate);
    QFETCH(bool, snapshotsAnswerLater);

    HarvestRig rig;
    addSearch(rig.browser, 5);
    const QString first = Root + "search?q=deep%20sea";
    if (!firstPageIn100) {
        rig.browser.setPage(first,
                            FakeBrowser::resultsPage(first, {{"p0 e1", Root + "item/0-1"}}, true));
    }
    rig.browser.show(firstPageIn100 ? pageUrl(0) : first);
    if (loadCompletesInsideNavigate)
        rig.browser.loadMode = FakeBrowser::LoadMode::Immediate;
    rig.browser.deferSnapshots = snapshotsAnswerLater;

    QSignalSpy running(&rig.harvester(), &SearchHarvester::addAllRunningChanged);
    QSignalSpy finished(&rig.harvester(), &SearchHarvester::addAllFinished);
    QSignalSpy fit(&rig.harvester(), &SearchHarvester::fitColumnsRequested);
    QSignalSpy label(&rig.session, &HarvestSession::countTextChanged);

    rig.harvester().addAllClicked();
    QVERIFY(rig.harvester().isAddAllRunning());
    QCOMPARE(rig.harvester().addAllCaption(), QString("停止加入全部"));
    QVERIFY(!rig.harvester().addAllStopRequested());
    for (int s = 0; s < 3600 && rig.harvester().isAddAllRunning(); ++s) {
        rig.browser.deliverSnapshots();
        if (rig.browser.isBusy())
            rig.browser.completeLoad();
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }

    QVERIFY(!rig.harvester().isAddAllRunning());
    QVERIFY(rig.harvester().addAllStopRequested());
    QCOMPARE(rig.harvester().addAllCaption(), QString("加入全部到列表"));
    QStringList expected;
    for (int p = firstPageIn100 ? 1 : 0; p < 5; ++p)
        expected << pageUrl(p);
    QCOMPARE(rig.browser.navigations, expected);
    QCOMPARE(rig.list().count(), qint64(15));
    // Every entry carries the page it was found on.
    for (const HarvestItem &it : rig.list().items()) {
        const int page = it.title.mid(1, 1).toInt();
        // The first entry was met first on the search's own first page.
        QCOMPARE(it.pageLink, !firstPageIn100 && it.title == "p0 e1" ? first : pageUrl(page));
        QCOMPARE(it.fullTextLink,
                 Root + "item/" + it.title.mid(1, 1) + "-" + it.title.right(1) + ".pdf");
    }
    QCOMPARE(running.count(), 2);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(fit.count(), 1);
    QCOMPARE(label.last().at(0).toString(), QString("15"));
    QCOMPARE(rig.chooser.asked, 0);
}

void TestPaging::endsEarly_data()
{
    // Page 3 of 5 (start=200) goes wrong in different ways; what pages 1 and
    // 2 gave stays, and the walk ends without asking for anything more.
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("navigations");
    QTest::addColumn<int>("secondsAtMost");
    QTest::newRow("server error page") << "error" << 6 << 2 << 20;
    QTest::newRow("load fails, an error page shows") << "fail" << 6 << 2 << 20;
    QTest::newRow("never loads: 120 s, then ends") << "hang" << 6 << 2 << 140;
    QTest::newRow("last page has no next") << "last" << 9 << 2 << 20;
    QTest::newRow("a page with nothing new") << "repeat" << 6 << 2 << 20;
}

void TestPaging::endsEarly()
{
    QFETCH(QString, trouble);
    QFETCH(int, rows);
    QFETCH(int, navigations);
    QFETCH(int, secondsAtMost);

    HarvestRig rig;
    addSearch(rig.browser, 5);
    if (trouble == "error")
        rig.browser.setPage(pageUrl(2), FakeBrowser::serverErrorPage(pageUrl(2)));
    if (trouble == "last")
        addSearch(rig.browser, 3);
    if (trouble == "repeat") // a looping site: page 3 offers page 2's entries and "next"
        rig.browser.setPage(pageUrl(2), rig.browser.pageFor(pageUrl(1)));
    rig.browser.show(pageUrl(0));
    const qint64 startedMs = rig.clock.monotonicMs();

    rig.harvester().startAddAll();
    for (int s = 0; s < 3600 && rig.harvester().isAddAllRunning(); ++s) {
        if (rig.browser.isBusy()) {
            const bool third = rig.browser.navigations.last() == pageUrl(2);
            if (!third || trouble == "error" || trouble == "last" || trouble == "repeat")
                rig.browser.completeLoad();
            else if (trouble == "fail")
                rig.browser.failLoad();
            // "hang": stays busy for ever
        }
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }

    QVERIFY(!rig.harvester().isAddAllRunning());
    QCOMPARE(rig.list().count(), qint64(rows));
    QCOMPARE(rig.browser.navigations.size(), navigations);
    QVERIFY(rig.clock.monotonicMs() - startedMs <= secondsAtMost * 1000);
    if (trouble == "hang")
        QVERIFY(rig.clock.monotonicMs() - startedMs > SearchHarvester::LoadWaitLimitMs);
}

void TestPaging::walkEndIsTold_data()
{
    // A walk over five pages of three entries, going wrong at page 3
    // (start=200) in different ways: the end is named in the status, and
    // told once in a message unless it is the search's end or the user's stop.
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<SearchHarvester::WalkEnd>("end");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("says"); // part of the status and the message
    QTest::addColumn<bool>("message");
    using E = SearchHarvester::WalkEnd;
    QTest::newRow("the last page") << "" << E::LastPage << 15 << "加入全部完成：共 5 页" << false;
    QTest::newRow("stopped by the user") << "stop" << E::Stopped << 6 << "已停止加入全部" << false;
    QTest::newRow("never loads: 120 s")
        << "hang" << E::PageNotLoaded << 6 << "120 秒内没有载入完成" << true;
    QTest::newRow("no answer") << "fail" << E::PageNotLoaded << 6 << "服务器没有应答" << true;
    QTest::newRow("server error") << "error" << E::PageNotLoaded << 6 << "HTTP 500" << true;
    QTest::newRow("same entries as page 2")
        << "entries" << E::RepeatedPage << 6 << "重复了本次已加入过的页" << true;
    QTest::newRow("sent back to page 1")
        << "redirect" << E::RepeatedPage << 6 << "重复了本次已加入过的页" << true;
    QTest::newRow("slow page taken as it stood")
        << "slow" << E::LastPage << 15 << "有 1 页没有按时载入" << true;
}

void TestPaging::walkEndIsTold()
{
    QFETCH(QString, trouble);
    QFETCH(SearchHarvester::WalkEnd, end);
    QFETCH(int, rows);
    QFETCH(QString, says);
    QFETCH(bool, message);

    HarvestRig rig;
    addSearch(rig.browser, 5);
    if (trouble == "error")
        rig.browser.setPage(pageUrl(2), FakeBrowser::serverErrorPage(pageUrl(2)));
    if (trouble == "entries") {
        DocumentSnapshot again = rig.browser.pageFor(pageUrl(1));
        rig.browser.setPage(pageUrl(2), again);
    }
    if (trouble == "redirect")
        rig.browser.setRedirect(pageUrl(2), pageUrl(0));
    rig.browser.show(pageUrl(0));
    QSignalSpy status(&rig.session, &HarvestSession::walkStatusChanged);

    rig.harvester().startAddAll();
    for (int s = 0; s < 3600 && rig.harvester().isAddAllRunning(); ++s) {
        if (rig.browser.isBusy()) {
            const bool third = rig.browser.navigations.last() == pageUrl(2);
            if (third && trouble == "stop")
                rig.harvester().addAllClicked();
            else if (third && trouble == "fail")
                rig.browser.failLoad();
            else if (third && trouble == "slow")
                rig.browser.commitLoad();
            else if (!third || trouble != "hang")
                rig.browser.completeLoad();
        }
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }

    QVERIFY(!rig.harvester().isAddAllRunning());
    QCOMPARE(rig.harvester().walkEnd(), end);
    QCOMPARE(rig.list().count(), qint64(rows));
    QVERIFY2(rig.session.walkStatus().contains(says), qPrintable(rig.session.walkStatus()));
    QCOMPARE(status.last().at(0).toString(), rig.session.walkStatus());
    // What was harvested stays, and the status says how much.
    if (end != SearchHarvester::WalkEnd::LastPage || message)
        QVERIFY(rig.session.walkStatus().contains(QStringLiteral("共 %1 条").arg(rows)));
    const QStringList shown = rig.prompter.messages();
    QCOMPARE(shown.size(), message ? 1 : 0);
    if (message) {
        QCOMPARE(shown.at(0), rig.session.walkStatus());
        QCOMPARE(rig.prompter.shown.at(0).icon, Prompter::Icon::Warning);
    }
}

void TestPaging::walkOverRowsAlreadyListed()
{
    // 237 entries: a walk stopped at 200 rows, then started again from the
    // search's first page, goes through to the end although its first pages
    // add nothing new to the list.
    HarvestRig rig;
    const QString first = Root + "search?q=all";
    QList<FakeBrowser::Entry> all;
    for (int e = 0; e < 237; ++e)
        all.append({QStringLiteral("entry %1").arg(e), Root + QStringLiteral("items/%1").arg(e)});
    rig.browser.setPage(first, FakeBrowser::resultsPage(first, all.mid(0, 20), true));
    for (int p = 0; p < 3; ++p)
        rig.browser.setPage(pageUrl(p).replace("deep%20sea", "all"),
                            FakeBrowser::resultsPage(pageUrl(p).replace("deep%20sea", "all"),
                                                     all.mid(p * 100, 100), p < 2));
    rig.browser.show(first);
    rig.harvester().startAddAll();
    for (int s = 0; s < 3600 && rig.harvester().isAddAllRunning(); ++s) {
        if (rig.list().count() == 200)
            rig.harvester().addAllClicked(); // while page 3 loads
        else if (rig.browser.isBusy())
            rig.browser.completeLoad();
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }
    QCOMPARE(rig.list().count(), qint64(200));
    QCOMPARE(rig.harvester().walkEnd(), SearchHarvester::WalkEnd::Stopped);

    rig.browser.show(first);
    rig.harvester().startAddAll();
    drive(rig);
    QCOMPARE(rig.list().count(), qint64(237));
    QCOMPARE(rig.harvester().walkEnd(), SearchHarvester::WalkEnd::LastPage);
    QCOMPARE(rig.harvester().pagesWalked(), 4);
    QVERIFY(rig.prompter.messages().isEmpty());
}

void TestPaging::pageReadInPieces()
{
    // A page of more links than a piece takes is read in pieces: a small
    // first one, then pieces of about a quarter of the page. Every entry is
    // harvested, the "next" link at its end is found, progress follows each
    // piece, and the next piece is already asked for when one is taken.
    // There is no limit on the whole reading, only on a piece that keeps
    // silent: that one ends the walk.
    HarvestRig rig;
    const qsizetype count = ResultsReader::PieceAnchors + 500;
    const qsizetype links = count + 2; // the home link, the entries and the "next" link
    const qsizetype first = ResultsReader::FirstPieceAnchors;
    const qsizetype piece = links / 4;
    QList<FakeBrowser::Entry> entries;
    for (int e = 0; e < count; ++e)
        entries.append({QStringLiteral("e%1").arg(e), Root + QStringLiteral("items/%1").arg(e)});
    rig.browser.setPage(pageUrl(0), FakeBrowser::resultsPage(pageUrl(0), entries, true));
    rig.browser.show(pageUrl(0));
    rig.browser.deferSnapshots = true;
    rig.browser.pieceBudgetChars = count * 1000; // pieces cut by their count of links alone
    QSignalSpy progress(&rig.harvester(), &SearchHarvester::readProgress);
    QList<qsizetype> askedAtProgress;
    connect(&rig.harvester(), &SearchHarvester::readProgress, this,
            [&] { askedAtProgress << rig.browser.pieceRequests.size(); });
    rig.harvester().startAddAll();
    QStringList expected{QStringLiteral("0:%1").arg(first)};
    for (qsizetype from = first; from < links; from += piece)
        expected << QStringLiteral("%1:%2").arg(from).arg(piece);
    for (int n = 0; n < expected.size(); ++n) {
        QCOMPARE(rig.browser.pendingSnapshots(), 1);
        rig.clock.advanceMs(SearchHarvester::SnapshotLimitMs - 1000);
        rig.harvester().tick();
        QVERIFY(rig.harvester().isAddAllRunning());
        rig.browser.deliverSnapshots();
    }
    QCOMPARE(rig.browser.pieceRequests, expected);
    QCOMPARE(progress.size(), expected.size());
    QCOMPARE(progress.at(0).at(0).value<qsizetype>(), first);
    QCOMPARE(progress.last().at(0).value<qsizetype>(), links);
    QCOMPARE(progress.last().at(1).value<qsizetype>(), links);
    // Each piece but the last was followed by the request for the next
    // before it was taken into the list.
    for (int n = 0; n + 1 < expected.size(); ++n)
        QCOMPARE(askedAtProgress.at(n), qsizetype(n + 2));
    QCOMPARE(rig.list().count(), qint64(count));
    for (qint64 row : {qint64(0), qint64(first), count - 1})
        QCOMPARE(rig.list().at(row).title, QStringLiteral("e%1").arg(row));
    QCOMPARE(rig.browser.navigations, QStringList{pageUrl(1)});

    // The next page loads, but its reading never answers.
    rig.browser.completeLoad();
    rig.clock.advanceMs(SearchHarvester::SettleMs);
    rig.harvester().tick();
    QCOMPARE(rig.browser.pendingSnapshots(), 1);
    rig.clock.advanceMs(SearchHarvester::SnapshotLimitMs + 1);
    rig.harvester().tick();
    QVERIFY(!rig.harvester().isAddAllRunning());
    QCOMPARE(rig.harvester().walkEnd(), SearchHarvester::WalkEnd::PageNotLoaded);
    QCOMPARE(rig.harvester().lastProblem(), SearchHarvester::LoadProblem::Unreadable);
    QCOMPARE(rig.list().count(), qint64(count));
    QCOMPARE(rig.prompter.messages().size(), 1);
}

void TestPaging::nextPageThatDidNotCome_data()
{
    // Page 3 of 5 does not come as asked: the walk says which page and why,
    // counts it, and ends (except after the 120 s limit, when it carries on
    // with what the browser shows).
    QTest::addColumn<QString>("trouble");
    QTest::addColumn<SearchHarvester::LoadProblem>("problem");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<int>("rows");
    using P = SearchHarvester::LoadProblem;
    QTest::newRow("no answer: the engine's error page") << "fail" << P::LoadFailed << 0 << 6;
    QTest::newRow("404 answer") << "404" << P::HttpError << 404 << 6;
    QTest::newRow("500 answer") << "500" << P::HttpError << 500 << 6;
    QTest::newRow("error text with status 200") << "text" << P::ServerErrorPage << 0 << 6;
    QTest::newRow("120 s without a new page") << "hang" << P::TimedOut << 0 << 6;
    QTest::newRow("load ends, old page stays") << "abandon" << P::AddressUnchanged << 0 << 6;
    QTest::newRow("120 s, then the page shows") << "slow" << P::TimedOut << 0 << 15;
}

void TestPaging::nextPageThatDidNotCome()
{
    QFETCH(QString, trouble);
    QFETCH(SearchHarvester::LoadProblem, problem);
    QFETCH(int, httpStatus);
    QFETCH(int, rows);

    HarvestRig rig;
    addSearch(rig.browser, 5);
    if (trouble == "404" || trouble == "500") {
        DocumentSnapshot page;
        page.rootOuterHtml = QStringLiteral("<html><body><h1>Sorry</h1></body></html>");
        page.httpErrorStatus = httpStatus;
        rig.browser.setPage(pageUrl(2), page);
    } else if (trouble == "text") {
        DocumentSnapshot page = FakeBrowser::serverErrorPage(pageUrl(2));
        page.httpErrorStatus = 0;
        rig.browser.setPage(pageUrl(2), page);
    }
    rig.browser.show(pageUrl(0));
    QSignalSpy notLoaded(&rig.harvester(), &SearchHarvester::nextPageNotLoaded);
    QSignalSpy finished(&rig.harvester(), &SearchHarvester::addAllFinished);

    rig.harvester().startAddAll();
    for (int s = 0; s < 3600 && rig.harvester().isAddAllRunning(); ++s) {
        if (rig.browser.isBusy()) {
            const bool third = rig.browser.navigations.last() == pageUrl(2);
            if (!third || trouble == "404" || trouble == "500" || trouble == "text")
                rig.browser.completeLoad();
            else if (trouble == "fail")
                rig.browser.failLoad();
            else if (trouble == "abandon")
                rig.browser.abandonLoad();
            else if (trouble == "slow")
                rig.browser.commitLoad(); // shows, never reports completion
        }
        rig.clock.advanceSeconds(1);
        rig.harvester().tick();
    }

    QVERIFY(!rig.harvester().isAddAllRunning());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(notLoaded.count(), 1);
    QCOMPARE(notLoaded.at(0).at(0).toUrl(), QUrl(pageUrl(2)));
    QCOMPARE(notLoaded.at(0).at(1).value<SearchHarvester::LoadProblem>(), problem);
    QCOMPARE(notLoaded.at(0).at(2).toInt(), httpStatus);
    QCOMPARE(rig.harvester().pagesNotLoaded(), 1);
    QCOMPARE(rig.list().count(), qint64(rows));

    // A new walk starts with a clean account.
    rig.browser.show(pageUrl(4));
    rig.harvester().startAddAll();
    drive(rig);
    QCOMPARE(rig.harvester().pagesNotLoaded(), 0);
}

void TestPaging::walkStaysOnTheHostGiven_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("next");
    QTest::newRow("the page's own server") << ""
                                           << "http://127.0.0.1:8123/search?q=x&rows=100&start=0"
                                           << "http://127.0.0.1:8123/search?q=x&rows=100&start=100";
    QTest::newRow("https and the default port") << ""
                                                << "https://localhost/search?q=x"
                                                << "https://localhost/search?q=x&rows=100&start=0";
    QTest::newRow("the variable wins") << "http://127.0.0.1:9/"
                                       << "http://127.0.0.1:8123/search?q=x"
                                       << "http://127.0.0.1:9/search?q=x&rows=100&start=0";
}

void TestPaging::walkStaysOnTheHostGiven()
{
    QFETCH(QString, variable);
    QFETCH(QString, page);
    QFETCH(QString, next);
    if (variable.isEmpty())
        qunsetenv("LUMENARC_REPOSITORY");
    else
        qputenv("LUMENARC_REPOSITORY", variable.toUtf8());
    HarvestRig rig;
    rig.browser.setPage(page, FakeBrowser::resultsPage(page, {{"A", "http://127.0.0.1/a"}}, true));
    rig.browser.show(page);
    rig.harvester().nextPage();
    QCOMPARE(rig.browser.navigations, QStringList{next});
}

void TestPaging::fragmentIsNoPartOfTheSearch()
{
    // The fragment of "search?q=deep%20sea#results" is not part of the
    // query: the walk reloads the search in pages of 100 and goes through.
    HarvestRig rig;
    addSearch(rig.browser, 3);
    const QString first = Root + "search?q=deep%20sea#results";
    rig.browser.setPage(first,
                        FakeBrowser::resultsPage(first, {{"p0 e1", Root + "item/0-1"}}, true));
    rig.browser.show(first);
    rig.harvester().startAddAll();
    drive(rig);
    QCOMPARE(rig.browser.navigations, (QStringList{pageUrl(0), pageUrl(1), pageUrl(2)}));
    QCOMPARE(rig.list().count(), qint64(9));
    QCOMPARE(rig.harvester().pagesNotLoaded(), 0);
}

void TestPaging::nextAddressSameAsThisPage()
{
    // The last start a page address can hold: the next address would be
    // this page again (apart from a fragment), which is no next page.
    HarvestRig rig;
    const QString last = Root + "search?q=x&rows=100&start=9223372036854775807";
    for (const QString &url : {last, last + "#top"}) {
        rig.browser.setPage(url, FakeBrowser::resultsPage(url, {{"A", Root + "a"}}, true));
        rig.browser.show(url);
        QSignalSpy moved(&rig.harvester(), &SearchHarvester::nextPageFinished);
        rig.harvester().nextPage();
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.at(0).at(0).toBool(), false);
        QVERIFY(rig.browser.navigations.isEmpty());
    }
}

void TestPaging::stopDuringWaits_data()
{
    QTest::addColumn<bool>("pageLoaded");
    QTest::addColumn<int>("rows");
    QTest::newRow("during the settle wait") << true << 6;
    QTest::newRow("while the page loads") << false << 3;
}

void TestPaging::stopDuringWaits()
{
    QFETCH(bool, pageLoaded);
    QFETCH(int, rows);

    HarvestRig rig;
    addSearch(rig.browser, 5);
    rig.browser.show(pageUrl(0));
    QSignalSpy finished(&rig.harvester(), &SearchHarvester::addAllFinished);
    rig.harvester().addAllClicked();
    QCOMPARE(rig.browser.navigations, QStringList{pageUrl(1)});
    if (pageLoaded)
        rig.browser.completeLoad();
    rig.clock.advanceSeconds(2);
    rig.harvester().tick();
    QVERIFY(rig.harvester().isAddAllRunning());

    // The same button stops it, at once, with one last harvest of the page shown.
    rig.harvester().addAllClicked();
    QVERIFY(!rig.harvester().isAddAllRunning());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(rig.harvester().addAllCaption(), QString("加入全部到列表"));
    QCOMPARE(rig.list().count(), qint64(rows));
    // Nothing more happens however long one waits.
    rig.browser.completeLoad();
    rig.clock.advanceSeconds(600);
    rig.harvester().tick();
    QCOMPARE(rig.browser.navigations.size(), 1);
    QCOMPARE(rig.list().count(), qint64(pageLoaded ? 6 : 3));
}

void TestPaging::pageThatNeverCompletesButShows()
{
    // Page 2 shows its entries but never reports completion: after 120 s the
    // walk takes what is shown and goes on.
    HarvestRig rig;
    addSearch(rig.browser, 3);
    rig.browser.show(pageUrl(0));
    rig.harvester().startAddAll();
    QCOMPARE(rig.browser.navigations.size(), 1);
    rig.browser.commitLoad();
    rig.clock.advanceSeconds(119);
    rig.harvester().tick();
    rig.clock.advanceSeconds(1);
    rig.harvester().tick();
    QVERIFY(rig.harvester().navigationPending());
    QCOMPARE(rig.list().count(), qint64(3)); // still waiting
    rig.clock.advanceSeconds(1);
    rig.harvester().tick(); // 121 s: on to the settle wait
    rig.clock.advanceSeconds(5);
    rig.harvester().tick();
    QCOMPARE(rig.list().count(), qint64(6));
    QCOMPARE(rig.browser.navigations, (QStringList{pageUrl(1), pageUrl(2)}));
    drive(rig);
    QCOMPARE(rig.list().count(), qint64(9));
}

void TestPaging::notASearchAddress()
{
    HarvestRig rig;
    const QString url = Root + "browse?rows=100&start=0";
    rig.browser.setPage(url, FakeBrowser::resultsPage(url, {{"A", Root + "a"}}, true));
    rig.browser.show(url);
    QSignalSpy moved(&rig.harvester(), &SearchHarvester::nextPageFinished);
    rig.harvester().nextPage();
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0).at(0).toBool(), false);
    QVERIFY(rig.browser.navigations.isEmpty());
    QCOMPARE(rig.list().count(), qint64(1));
}

void TestPaging::saveFolderAskedOncePerWalk_data()
{
    QTest::addColumn<bool>("prompt");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("asked");
    QTest::addColumn<QString>("folder");
    QTest::newRow("asked, confirmed") << true << false << 1 << "/tmp/chosen/";
    QTest::newRow("asked, cancelled: the old folder") << true << true << 1 << "/old/";
    QTest::newRow("not asked") << false << false << 0 << "";
}

void TestPaging::saveFolderAskedOncePerWalk()
{
    QFETCH(bool, prompt);
    QFETCH(bool, cancel);
    QFETCH(int, asked);
    QFETCH(QString, folder);
    HarvestRig rig;
    rig.settings.promptForSaveFolder = prompt;
    rig.settings.saveFolder = "/old/";
    rig.chooser.cancel = cancel;
    addSearch(rig.browser, 3);
    rig.browser.show(pageUrl(0));
    rig.harvester().startAddAll();
    drive(rig);
    QCOMPARE(rig.chooser.asked, asked);
    QCOMPARE(rig.list().count(), qint64(9));
    for (const HarvestItem &it : rig.list().items())
        QCOMPARE(it.folder, folder);
}

void TestPaging::documentThatNeverAnswers()
{
    HarvestRig rig;
    addSearch(rig.browser, 3);
    rig.browser.show(pageUrl(0));
    rig.browser.deferSnapshots = true;
    rig.harvester().startAddAll();
    rig.clock.advanceMs(SearchHarvester::SnapshotLimitMs + 1);
    rig.harvester().tick();
    QVERIFY(!rig.harvester().isAddAllRunning());
    // The late answer changes nothing.
    rig.browser.deliverSnapshots();
    QVERIFY(rig.list().isEmpty());
    QVERIFY(rig.browser.navigations.isEmpty());
}

void TestPaging::harvestThisPage()
{
    HarvestRig rig;
    addSearch(rig.browser, 1);
    rig.settings.promptForSaveFolder = true;
    rig.browser.show(pageUrl(0));
    QSignalSpy harvested(&rig.harvester(), &SearchHarvester::pageHarvested);
    QSignalSpy fit(&rig.harvester(), &SearchHarvester::fitColumnsRequested);
    QSignalSpy label(&rig.session, &HarvestSession::countTextChanged);
    rig.harvester().harvestThisPage();
    QCOMPARE(rig.chooser.asked, 1);
    QCOMPARE(harvested.count(), 1);
    QCOMPARE(harvested.at(0).at(0).toLongLong(), qint64(3));
    QCOMPARE(fit.count(), 1);
    QCOMPARE(label.last().at(0).toString(), QString("3"));
    QCOMPARE(rig.list().at(0).folder, QString("/tmp/chosen/"));

    // While nothing is loaded, nothing happens.
    rig.browser.showNothing();
    rig.harvester().harvestThisPage();
    QCOMPARE(rig.list().count(), qint64(3));
    QCOMPARE(label.last().at(0).toString(), QString("3"));
}

QTEST_GUILESS_MAIN(TestPaging)
#include "test_paging.moc"
