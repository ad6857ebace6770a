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
      m_saveFolderChooser(saveFolderChooser), m_clock(clock)
{
    m_timer.setInterval(TickIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &SearchHarvester::tick);
    connect(&m_browser, &Browser::documentComplete, this, &SearchHarvester::onDocumentComplete);
    connect(&m_browser, &Browser::loadFailed, this, &SearchHarvester::onLoadFailed);
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
    const quint64 serial = ++m_pageSnapshotSerial;
    QPointer<SearchHarvester> self(this);
    m_browser.snapshot([self, serial](const DocumentSnapshot &document) {
        if (!self || serial != self->m_pageSnapshotSerial)
            return;
        const qint64 accepted = HarvestPage(document, self->m_list, self->harvestFolder());
        emit self->pageHarvested(accepted, document.url);
        if (self)
            emit self->fitColumnsRequested();
    });
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
    emit addAllRunningChanged(true);
    if (m_settings.promptForSaveFolder)
        m_saveFolderChooser.chooseSaveFolder(m_settings); // once per walk, before the first page
    if (m_stopRequested) {
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
    readDocument(Step::ReadCurrent);
}

void SearchHarvester::readDocument(Step step)
{
    m_step = step;
    m_stepStartedMs = m_clock.monotonicMs();
    const quint64 serial = ++m_snapshotSerial;
    updateTimer();
    QPointer<SearchHarvester> self(this);
    m_browser.snapshot([self, serial](const DocumentSnapshot &document) {
        if (self)
            self->onDocument(serial, document);
    });
}

void SearchHarvester::onDocument(quint64 serial, const DocumentSnapshot &document)
{
    if (serial != m_snapshotSerial)
        return; // an answer that came too late
    if (m_step != Step::ReadCurrent && m_step != Step::ReadFinal)
        return;
    const Step step = m_step;
    const qint64 before = m_list.count();
    const qint64 accepted = HarvestPage(document, m_list, harvestFolder());
    const qint64 added = m_list.count() - before;
    if (m_pagesWalked == 0)
        m_pagesWalked = 1;
    qCDebug(lcHarvest) << "page read:" << document.url << "entries:" << accepted
                       << "rows added:" << added;
    emit pageHarvested(accepted, document.url);
    if (step == Step::ReadCurrent) {
        afterCurrentRead(document);
        return;
    }
    if (m_finalResult && finalPageProblem(document, added))
        m_finalResult = false;
    finishNextPage(m_finalResult);
}

bool SearchHarvester::finalPageProblem(const DocumentSnapshot &document, qint64 added)
{
    const QUrl shown(document.url);
    if (!document.present || !isFetchableUrl(shown)) {
        // The engine shows its own error page (an address of its own) when
        // no answer came.
        reportProblem(LoadProblem::LoadFailed);
        return true;
    }
    if (document.httpErrorStatus >= 400) {
        reportProblem(LoadProblem::HttpError, document.httpErrorStatus);
        return true;
    }
    if (isServerErrorPage(document)) {
        reportProblem(LoadProblem::ServerErrorPage);
        return true;
    }
    // A load that never got anywhere leaves the page we came from on show;
    // walking on from it would ask for the same page again and again.
    if (shown.adjusted(QUrl::RemoveFragment) == QUrl(m_leftUrl).adjusted(QUrl::RemoveFragment)) {
        reportProblem(LoadProblem::AddressUnchanged);
        return true;
    }
    // A site that offers "next" for ever without new entries (a loop, or
    // a hostile server) ends the walk here; the search has been harvested.
    return added == 0;
}

void SearchHarvester::reportProblem(LoadProblem problem, int httpStatus)
{
    if (m_problemReported)
        return; // one account per page: the first thing that went wrong
    m_problemReported = true;
    ++m_pagesNotLoaded;
    qCDebug(lcHarvest) << "page not loaded:" << m_requestedUrl << "problem:" << int(problem)
                       << "status:" << httpStatus;
    emit nextPageNotLoaded(m_requestedUrl, problem, httpStatus);
}

void SearchHarvester::afterCurrentRead(const DocumentSnapshot &document)
{
    // The current page has just been harvested; reading it again for the
    // end of the walk would add nothing, as no event ran in between.
    if (!document.present || isServerErrorPage(document) || !hasNextPageMarker(document)) {
        finishNextPage(false);
        return;
    }
    if (m_addAllRunning && m_stopRequested) {
        finishNextPage(false);
        return;
    }
    SearchPosition position;
    readSearchPosition(document.url, position);
    if (!isSearchAddress(document.url, position)) {
        finishNextPage(false);
        return;
    }
    const QUrl next(nextPageAddress(walkRootFor(QUrl(document.url)), position));
    // An address that differs from this page's only in its fragment is a
    // jump within this page: no page of the search follows.
    if (next.adjusted(QUrl::RemoveFragment) == QUrl(document.url).adjusted(QUrl::RemoveFragment)) {
        finishNextPage(false);
        return;
    }
    m_leftUrl = document.url;
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
            ++m_snapshotSerial; // a late answer is ignored
            if (m_step == Step::ReadFinal && m_finalResult)
                reportProblem(LoadProblem::Unreadable);
            finishNextPage(false);
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

void SearchHarvester::finishNextPage(bool result)
{
    m_step = Step::Idle;
    updateTimer();
    if (result)
        ++m_pagesWalked;
    emit nextPageFinished(result);
    if (m_addAllRunning)
        continueWalk(result);
}

void SearchHarvester::continueWalk(bool movedOn)
{
    if (!movedOn || m_stopRequested) {
        qCDebug(lcHarvest) << "walk ends:"
                           << (m_stopRequested ? "stopped"
                               : m_problemReported
                                   ? "the next page did not load"
                                   : "no further page of the search, or it added nothing");
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
