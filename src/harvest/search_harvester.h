#pragma once

#include "harvest/browser.h"
#include "harvest/repository.h"
#include "harvest/results_reader.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>

namespace lumen
{

struct AppSettings;
class Clock;
class HarvestList;
class SaveFolderChooser;

// Harvests the page the search browser shows ("加入本页到列表") and walks
// every page of the search ("加入全部到列表"). All waiting is done by the
// tick slot reading the clock: a QTimer calls it while a wait runs, the
// browser's load signals call it at once, tests call it after moving a fake
// clock.
class SearchHarvester : public QObject
{
    Q_OBJECT
public:
    // How long the walk waits for a next page to load before it carries on
    // with whatever the browser shows.
    static constexpr qint64 LoadWaitLimitMs = 120000;
    // How long a loaded page is left to settle (scripts, late content).
    static constexpr qint64 SettleMs = 5000;
    // A page is read piece by piece, for as long as it takes; a piece that
    // does not answer within this time counts as an error and ends the walk.
    static constexpr qint64 SnapshotLimitMs = 30000;
    static constexpr int TickIntervalMs = 200;

    // Why a next page of the walk did not come as asked.
    enum class LoadProblem {
        LoadFailed,       // no answer: refused, dropped, unreachable (an error page shows)
        TimedOut,         // still loading after LoadWaitLimitMs; taken as it stood
        HttpError,        // the server answered with an error status
        ServerErrorPage,  // the page says the server failed
        AddressUnchanged, // the browser still shows the page the walk left
        Unreadable,       // the document did not let itself be read
    };
    Q_ENUM(LoadProblem)

    // Why the last walk ended.
    enum class WalkEnd {
        LastPage,         // the page had no "next": the whole search is in
        Stopped,          // the user stopped it
        ServerErrorPage,  // the page shown is a server error page
        NotSearchAddress, // the page shown is no page of a search
        RepeatedPage,     // the next page was one this walk had walked already
        PageNotLoaded,    // a next page did not come (lastProblem says how)
        Unreadable,       // the page shown did not let itself be read
    };
    Q_ENUM(WalkEnd)

    // Captions of the add-all button.
    static const QString AddAllCaption;  // idle
    static const QString StopAddCaption; // running

    SearchHarvester(Browser &browser, HarvestList &list, AppSettings &settings,
                    SaveFolderChooser &saveFolderChooser, Clock &clock, QObject *parent = nullptr);
    ~SearchHarvester() override;

    // The folder stored with harvested rows: the current save folder when
    // the folder is asked for at harvest time, otherwise none.
    QString harvestFolder() const;

    // "加入本页到列表": asks for the save folder first when the settings say
    // so, then harvests the current document; pageHarvested and
    // fitColumnsRequested follow when the document has been read.
    void harvestThisPage();

    // The add-all button: starts the walk when idle, asks it to stop when
    // running.
    void addAllClicked();
    void startAddAll();
    void stopAddAll();
    bool isAddAllRunning() const { return m_addAllRunning; }
    // False only while a walk runs and no stop was asked for.
    bool addAllStopRequested() const { return m_stopRequested; }
    QString addAllCaption() const { return m_addAllRunning ? StopAddCaption : AddAllCaption; }
    int pagesWalked() const { return m_pagesWalked; }
    // Next pages of the current (or last) walk that did not come as asked.
    // A walk with any of them did not harvest the whole search.
    int pagesNotLoaded() const { return m_pagesNotLoaded; }
    WalkEnd walkEnd() const { return m_walkEnd; }
    // The last next page that did not come as asked, and how.
    LoadProblem lastProblem() const { return m_lastProblem; }
    int lastProblemHttpStatus() const { return m_lastProblemStatus; }
    QUrl lastProblemUrl() const { return m_lastProblemUrl; }
    // The page whose repetition ended the walk.
    QUrl repeatedUrl() const { return m_repeatedUrl; }

    // 下一页 on its own: harvests the current page, and when a next page
    // follows, loads it, waits for it, and harvests it. nextPageFinished
    // tells whether it moved on. Used by the walk; callable alone.
    void nextPage();
    bool isNextPageRunning() const { return m_step != Step::Idle; }

    // True from just before the walk navigates until the browser reports the
    // top-level document complete.
    bool navigationPending() const { return m_navigationPending; }

public slots:
    void tick();

signals:
    // A document was read and harvested: how many entries it held.
    void pageHarvested(qint64 accepted, const QString &pageUrl);
    // A page is being read: links looked at so far, of how many.
    void readProgress(qsizetype done, qsizetype total);
    // The walk started (true) or ended (false): the button's caption and
    // colour follow it.
    void addAllRunningChanged(bool running);
    void addAllFinished(int pagesWalked);
    void nextPageFinished(bool movedOn);
    // The walk is about to load the next page.
    void navigatingTo(const QUrl &url);
    // The list's columns are to be fitted to their contents.
    void fitColumnsRequested();
    // A next page did not come as asked; httpStatus is the answer's status
    // for HttpError, else 0. Every problem except TimedOut ends the walk.
    void nextPageNotLoaded(const QUrl &url, lumen::SearchHarvester::LoadProblem problem,
                           int httpStatus);

private:
    enum class Step { Idle, ReadCurrent, WaitLoad, Settle, ReadFinal };

    void readDocument(Step step);
    void onReading(const PageReading &reading);
    void afterCurrentRead(const PageReading &reading);
    void finishWithHarvest(bool result);
    void finishNextPage(bool result, WalkEnd end = WalkEnd::LastPage);
    void continueWalk(bool movedOn);
    void endWalk();
    void onDocumentComplete();
    void onLoadFailed();
    bool finalPageProblem(const PageReading &reading);
    bool repeatsAWalkedPage(const PageReading &reading);
    void reportProblem(LoadProblem problem, int httpStatus = 0);
    qint64 elapsedMs() const;
    void updateTimer();

    Browser &m_browser;
    HarvestList &m_list;
    AppSettings &m_settings;
    SaveFolderChooser &m_saveFolderChooser;
    Clock &m_clock;
    QTimer m_timer;

    Step m_step = Step::Idle;
    qint64 m_stepStartedMs = 0;
    bool m_finalResult = false;
    ResultsReader m_reader;         // the walk's reading
    ResultsReader m_pageReader;     // "加入本页到列表" reads on its own
    QString m_leftUrl;              // the page the last navigation started from
    QUrl m_requestedUrl;            // the page the last navigation asked for
    bool m_problemReported = false; // for the page being loaded now
    int m_pagesNotLoaded = 0;
    bool m_navigationPending = false;
    bool m_addAllRunning = false;
    bool m_stopRequested = true;
    int m_pagesWalked = 0;
    WalkEnd m_walkEnd = WalkEnd::LastPage;
    LoadProblem m_lastProblem = LoadProblem::LoadFailed;
    int m_lastProblemStatus = 0;
    QUrl m_lastProblemUrl;
    QUrl m_repeatedUrl;
    // What this walk has walked: the addresses of its pages, and the entries
    // of each page as one key.
    QSet<QString> m_walkedAddresses;
    QSet<QByteArray> m_walkedEntries;
    bool m_firstReadOfWalk = false;
};

} // namespace lumen
