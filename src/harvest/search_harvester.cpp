#include "harvest/search_harvester.h"

#include "engine/clock.h"
#include "engine/url_policy.h"
#include "harvest/harvest_list.h"
#include "harvest/logging.h"
#include "harvest/results_parser.h"
#include "settings/app_settings.h"
#include "settings/save_folder_chooser.h"

#include <QPointer>

namespace lumen
{

const QString SearchHarvester::AddAllCaption = QStringLiteral("加入全部到列表");
const QString SearchHarvester::StopAddCaption = QStringLiteral("停止加入全部");

SearchHarvester::SearchHarvester(Browser &browser, HarvestList &list, AppSettings &settings,
                                 SaveFolderChooser &saveFolderChooser, Clock &clock,
                                 QObject *parent)
    : QObject(parent), m_browser(browser), m_list(list), m_settings(settings),
      m_saveFolderChooser(saveFolderChooser), m_clock(clock), m_reader(browser),
      m_pageReader(browser)
{
    m_timer.setInterval(TickIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SearchHarvester::tick);
    connect(&m_browser, &Browser::documentComplete, this, &SearchHarvester::onDocumentComplete);
    connect(&m_browser, &Browser::loadFailed, this, &SearchHarvester::onLoadFailed);
    connect(&m_reader, &ResultsReader::progress, this, [this](qsizetype done, qsizetype total) {
        // A page that keeps answering is read for as long as it takes.
        m_stepStartedMs = m_clock.monotonicMs();
        emit readProgress(done, total);
    });
    connect(&m_reader, &ResultsReader::finished, this, &SearchHarvester::onReading);
    connect(&m_pageReader, &ResultsReader::progress, this, &SearchHarvester::readProgress);
    connect(&m_pageReader, &ResultsReader::finished, this, [this](const PageReading &reading) {
        emit pageHarvested(reading.accepted, reading.url);
        emit fitColumnsRequested();
    });
}

SearchHarvester::~SearchHarvester() = default;

QString SearchHarvester::harvestFolder() const
{
    return m_settings.promptForSaveFolder ? m_settings.saveFolder : QString();
}

void SearchHarvester::harvestThisPage()
{
    if (m_settings.promptForSaveFolder)
        m_saveFolderChooser.chooseSaveFolder(m_settings); // cancelled or not, harvest goes on
    m_pageReader.start(m_list, harvestFolder());
}

void SearchHarvester::addAllClicked()
{
    if (m_addAllRunning)
        stopAddAll();
    else
        startAddAll();
}

void SearchHarvester::startAddAll()
{
    if (m_addAllRunning)
        return;
    m_addAllRunning = true;
    m_stopRequested = false;
    m_pagesWalked = 0;
    m_pagesNotLoaded = 0;
    m_walkEnd = WalkEnd::LastPage;
    m_walkedAddresses.clear();
    m_walkedEntries.clear();
    m_firstReadOfWalk = true;
    emit addAllRunningChanged(true);
    if (m_settings.promptForSaveFolder)
        m_saveFolderChooser.chooseSaveFolder(m_settings); // once per walk, before the first page
    if (m_stopRequested) {
        m_walkEnd = WalkEnd::Stopped;
        endWalk();
        return;
    }
    // A next-page step already under way carries the walk on when it ends.
    if (m_step == Step::Idle)
        nextPage();
}

void SearchHarvester::stopAddAll()
{
    if (!m_addAllRunning)
        return;
    m_stopRequested = true;
    switch (m_step) {
    case Step::WaitLoad:
    case Step::Settle:
        tick(); // the waits end at once with a last harvest
        break;
    case Step::Idle:
        m_walkEnd = WalkEnd::Stopped;
        endWalk();
        break;
    case Step::ReadCurrent:
    case Step::ReadFinal:
        break; // the document being read is harvested, then the walk ends
    }
}

void SearchHarvester::nextPage()
{
    if (m_step != Step::Idle)
        return;
    if (!m_addAllRunning) {
        // On its own, the page shown is the first of a walk of one step.
        m_walkedAddresses.clear();
        m_walkedEntries.clear();
        m_firstReadOfWalk = true;
    }
    readDocument(Step::ReadCurrent);
}

void SearchHarvester::readDocument(Step step)
{
    m_step = step;
    m_stepStartedMs = m_clock.monotonicMs();
    updateTimer();
    m_reader.start(m_list, harvestFolder());
}

void SearchHarvester::onReading(const PageReading &reading)
{
    if (m_step != Step::ReadCurrent && m_step != Step::ReadFinal)
        return;
    const Step step = m_step;
    if (m_pagesWalked == 0)
        m_pagesWalked = 1;
    qCDebug(lcHarvest) << "page read:" << reading.url << "entries:" << reading.accepted;
    emit pageHarvested(reading.accepted, reading.url);
    if (step == Step::ReadCurrent) {
        afterCurrentRead(reading);
        return;
    }
    if (m_finalResult && (finalPageProblem(reading) || repeatsAWalkedPage(reading)))
        m_finalResult = false;
    finishNextPage(m_finalResult, m_walkEnd);
}

bool SearchHarvester::finalPageProblem(const PageReading &reading)
{
    const QUrl shown(reading.url);
    m_walkEnd = WalkEnd::PageNotLoaded;
    if (!reading.present || !isFetchableUrl(shown)) {
        // The engine shows its own error page (an address of its own) when
        // no answer came.
        reportProblem(LoadProblem::LoadFailed);
        return true;
    }
    if (reading.httpErrorStatus >= 400) {
        reportProblem(LoadProblem::HttpError, reading.httpErrorStatus);
        return true;
    }
    if (reading.serverError) {
        reportProblem(LoadProblem::ServerErrorPage);
        return true;
    }
    // A load that never got anywhere leaves the page we came from on show;
    // walking on from it would ask for the same page again and again.
    if (shown.adjusted(QUrl::RemoveFragment) == QUrl(m_leftUrl).adjusted(QUrl::RemoveFragment)) {
        reportProblem(LoadProblem::AddressUnchanged);
        return true;
    }
    m_walkEnd = WalkEnd::LastPage;
    return false;
}

bool SearchHarvester::repeatsAWalkedPage(const PageReading &reading)
{
    // A site that offers "next" for ever (a loop, or a hostile server)
    // shows again, sooner or later, a page this walk has walked: its
    // entries are the ones of a page before. Rows already in the list from
    // an earlier walk say nothing of the kind: a walk started again over a
    // search half harvested must go through it.
    m_walkedAddresses.insert(QUrl(reading.url).adjusted(QUrl::RemoveFragment).toString());
    if (!m_walkedEntries.contains(reading.entriesKey)) {
        m_walkedEntries.insert(reading.entriesKey);
        return false;
    }
    m_walkEnd = WalkEnd::RepeatedPage;
    m_repeatedUrl = QUrl(reading.url);
    return true;
}

void SearchHarvester::reportProblem(LoadProblem problem, int httpStatus)
{
    if (m_problemReported)
        return; // one account per page: the first thing that went wrong
    m_problemReported = true;
    ++m_pagesNotLoaded;
    qCDebug(lcHarvest) << "page not loaded:" << m_requestedUrl << "problem:" << int(problem)
                       << "status:" << httpStatus;
    m_lastProblem = problem;
    m_lastProblemStatus = httpStatus;
    m_lastProblemUrl = m_requestedUrl;
    emit nextPageNotLoaded(m_requestedUrl, problem, httpStatus);
}

void SearchHarvester::afterCurrentRead(const PageReading &reading)
{
    // The current page has just been harvested; reading it again for the
    // end of the walk would add nothing, as no event ran in between.
    if (!reading.present) {
        finishNextPage(false, WalkEnd::Unreadable);
        return;
    }
    if (reading.serverError) {
        finishNextPage(false, WalkEnd::ServerErrorPage);
        return;
    }
    if (!reading.nextMarker) {
        finishNextPage(false, WalkEnd::LastPage);
        return;
    }
    if (m_addAllRunning && m_stopRequested) {
        finishNextPage(false, WalkEnd::Stopped);
        return;
    }
    SearchPosition position;
    readSearchPosition(reading.url, position);
    if (!isSearchAddress(reading.url, position)) {
        finishNextPage(false, WalkEnd::NotSearchAddress);
        return;
    }
    if (m_firstReadOfWalk) {
        m_firstReadOfWalk = false;
        m_walkedAddresses.insert(QUrl(reading.url).adjusted(QUrl::RemoveFragment).toString());
        m_walkedEntries.insert(reading.entriesKey);
    }
    const QUrl next(nextPageAddress(walkRootFor(QUrl(reading.url)), position));
    // An address that differs from this page's only in its fragment is a
    // jump within this page, and one this walk has been to leads round in
    // a circle: no new page of the search follows.
    const QString nextKey = next.adjusted(QUrl::RemoveFragment).toString();
    if (m_walkedAddresses.contains(nextKey) ||
        next.adjusted(QUrl::RemoveFragment) == QUrl(reading.url).adjusted(QUrl::RemoveFragment)) {
        m_repeatedUrl = next;
        finishNextPage(false, WalkEnd::RepeatedPage);
        return;
    }
    m_walkedAddresses.insert(nextKey);
    m_leftUrl = reading.url;
    m_requestedUrl = next;
    m_problemReported = false;
    m_step = Step::WaitLoad;
    m_stepStartedMs = m_clock.monotonicMs();
    m_navigationPending = true;
    updateTimer();
    qCDebug(lcHarvest) << "walking to the next page:" << next;
    emit navigatingTo(next);
    // The browser may report the new document before navigate() returns;
    // the step is already set so that report moves the wait on.
    m_browser.navigate(next);
}

void SearchHarvester::tick()
{
    const qint64 elapsed = elapsedMs();
    const bool stopped = m_addAllRunning && m_stopRequested;
    switch (m_step) {
    case Step::Idle:
        break;
    case Step::ReadCurrent:
    case Step::ReadFinal:
        if (elapsed > SnapshotLimitMs) {
            m_reader.cancel(); // a late answer is ignored
            WalkEnd end = WalkEnd::Unreadable;
            if (m_step == Step::ReadFinal && m_finalResult) {
                reportProblem(LoadProblem::Unreadable);
                end = WalkEnd::PageNotLoaded;
            }
            finishNextPage(false, end);
        }
        break;
    case Step::WaitLoad:
        if (stopped) {
            finishWithHarvest(false);
        } else if (!m_browser.isBusy() || !m_navigationPending || elapsed > LoadWaitLimitMs) {
            // A page that never finishes is harvested as it stands after
            // the settle wait; it may lack entries, so it is accounted for.
            if (m_browser.isBusy() && m_navigationPending)
                reportProblem(LoadProblem::TimedOut);
            m_step = Step::Settle;
            m_stepStartedMs = m_clock.monotonicMs();
        }
        break;
    case Step::Settle:
        if (stopped)
            finishWithHarvest(false);
        else if (elapsed >= SettleMs)
            finishWithHarvest(true);
        break;
    }
    updateTimer();
}

void SearchHarvester::finishWithHarvest(bool result)
{
    m_finalResult = result;
    readDocument(Step::ReadFinal);
}

void SearchHarvester::finishNextPage(bool result, WalkEnd end)
{
    m_step = Step::Idle;
    updateTimer();
    if (result)
        ++m_pagesWalked;
    else
        m_walkEnd =
            m_addAllRunning && m_stopRequested && end == WalkEnd::LastPage ? WalkEnd::Stopped : end;
    emit nextPageFinished(result);
    if (m_addAllRunning)
        continueWalk(result);
}

void SearchHarvester::continueWalk(bool movedOn)
{
    if (movedOn && m_stopRequested)
        m_walkEnd = WalkEnd::Stopped;
    if (!movedOn || m_stopRequested) {
        qCDebug(lcHarvest) << "walk ends:" << int(m_walkEnd);
        endWalk();
        return;
    }
    nextPage();
}

void SearchHarvester::endWalk()
{
    m_addAllRunning = false;
    m_stopRequested = true;
    emit addAllRunningChanged(false);
    emit fitColumnsRequested();
    qCDebug(lcHarvest) << "walk ended:" << m_pagesWalked << "pages walked," << m_pagesNotLoaded
                       << "not loaded," << m_list.count() << "rows in the list";
    emit addAllFinished(m_pagesWalked);
}

void SearchHarvester::onDocumentComplete()
{
    m_navigationPending = false;
    if (m_step == Step::WaitLoad)
        tick();
}

void SearchHarvester::onLoadFailed()
{
    if (m_step != Step::WaitLoad)
        return;
    // Nothing came; the error page on show holds no entries, so waiting for
    // it to settle would only delay the end.
    m_navigationPending = false;
    reportProblem(LoadProblem::LoadFailed);
    m_walkEnd = WalkEnd::PageNotLoaded;
    finishWithHarvest(false);
}

qint64 SearchHarvester::elapsedMs() const
{
    return m_clock.monotonicMs() - m_stepStartedMs;
}

void SearchHarvester::updateTimer()
{
    if (m_step == Step::Idle)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}

} // namespace lumen
