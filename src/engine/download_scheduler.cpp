#include "engine/download_scheduler.h"

#include "engine/clock.h"
#include "engine/download_list.h"
#include "engine/prompter.h"
#include "engine/requeue.h"
#include "engine/status_presenter.h"
#include "engine/target_choice.h"
#include "engine/transfer_pool.h"

#include <cmath>

namespace lumen
{

bool needsDownload(DownloadList &list, qint64 row, SameNamePolicy policy,
                   const NameReservations *reserved)
{
    if (row < 0 || row >= list.count())
        return false;
    const DownloadItem &item = list.at(row);
    const TargetChoice target =
        chooseTarget(item.folder, item.name, item.fileType, policy, reserved);
    switch (target.kind) {
    case TargetChoice::Kind::Skip:
        list.update(row, [&](DownloadItem &it) {
            showNameRefusal(it, target.kind, target.existingSize);
            it.reason = nameRefusalResult(target.kind, target.path).reason;
        });
        return false;
    case TargetChoice::Kind::Wait:
        return false; // a running transfer stores this name: decide after it
    case TargetChoice::Kind::Store:
    case TargetChoice::Kind::Replace:
    case TargetChoice::Kind::CannotReplace:
    case TargetChoice::Kind::NoPath:
        // The method decides what cannot be stored, once it knows the name
        // the file will have.
        return true;
    }
    return true;
}

DownloadScheduler::DownloadScheduler(DownloadList &list, Clock &clock, Prompter &prompter,
                                     TransferPool &pool, StatusPresenter &status, QObject *parent)
    : QObject(parent), m_list(list), m_clock(clock), m_prompter(prompter), m_pool(pool),
      m_status(status)
{
    m_schedulerTimer.setInterval(TickMs);
    m_monitorTimer.setInterval(TickMs);
    connect(&m_schedulerTimer, &QTimer::timeout, this, &DownloadScheduler::schedulerTick);
    connect(&m_monitorTimer, &QTimer::timeout, this, &DownloadScheduler::monitorTick);
    m_monitorTimer.start();
    m_lastFinishTime = now();
}

double DownloadScheduler::now() const
{
    return m_clock.secondsSinceMidnight();
}

// --- options -----------------------------------------------------------------

void DownloadScheduler::setDownloadMethod(DownloadMethod method)
{
    if (method == m_method)
        return;
    m_method = method;
    emit downloadMethodChanged(m_method);
}

void DownloadScheduler::setThreadCount(int count)
{
    count = qBound(1, count, TransferPool::MaxSlots);
    if (count == m_threadCount)
        return;
    m_threadCount = count;
    emit threadCountChanged(m_threadCount);
}

void DownloadScheduler::switchMethod()
{
    setDownloadMethod(m_method == DownloadMethod::MultiConnection
                          ? DownloadMethod::SingleConnection
                          : DownloadMethod::MultiConnection);
    m_threadCount = 0; // always announce the reset to "1"
    setThreadCount(1);
}

void DownloadScheduler::setAutoStart(bool on)
{
    if (on == m_autoStart)
        return;
    m_autoStart = on;
    emit autoStartChanged(on);
}

void DownloadScheduler::setAutoRedownload(bool on)
{
    if (on == m_autoRedownload)
        return;
    m_autoRedownload = on;
    if (on)
        m_pagesFetchedAgain.clear(); // a new request: each page may be fetched again once
    emit autoRedownloadChanged(on);
}

// --- state -------------------------------------------------------------------

bool DownloadScheduler::busy() const
{
    return m_pool.singleActive() ||
           (m_method == DownloadMethod::MultiConnection && (m_running || m_pool.slotsInUse() > 0));
}

void DownloadScheduler::setRunning(bool running)
{
    if (running && m_timersDriven && !m_schedulerTimer.isActive())
        m_schedulerTimer.start();
    if (!running)
        m_schedulerTimer.stop();
    if (running == m_running)
        return;
    if (running)
        m_badFolders.clear(); // a new run may show a folder's message again
    m_running = running;
    emit runningChanged(running);
    // A run starts its first records at once when no pause holds them.
    if (running)
        queueStart();
}

void DownloadScheduler::setTimersDriven(bool driven)
{
    m_timersDriven = driven;
    if (driven) {
        m_monitorTimer.start();
        if (m_running)
            m_schedulerTimer.start();
    } else {
        m_monitorTimer.stop();
        m_schedulerTimer.stop();
    }
}

QString DownloadScheduler::makeFolder(const QString &folder, QString *error)
{
    if (m_badFolders.contains(folder)) {
        if (error)
            *error = QStringLiteral("the folder's name cannot be held by the file system");
        return QString();
    }
    const FolderPathResult made = CreateFolderPath(folder);
    if (error)
        *error = made.error;
    if (made.badName) {
        // The message is shown once; this record and the next ones bound
        // for the same folder fail quietly until the next run.
        m_prompter.message(FolderNameErrorText, Prompter::Icon::Critical);
        m_badFolders.insert(folder);
        return QString();
    }
    return made.path;
}

void DownloadScheduler::noteTransferEnded()
{
    m_lastFinishTime = now();
    // Checked as each transfer ends, not only on the monitor's tick: the
    // next record starts at once, and a second of starts could run through
    // hundreds of error pages before the stop.
    if (errorStopReached()) {
        setRunning(false);
        m_status.runEnded();
        return;
    }
    if (m_running)
        queueStart();
}

bool DownloadScheduler::errorStopReached() const
{
    return m_errorStop && m_running && m_list.countErrorOrPageItems() >= ErrorStopCount;
}

void DownloadScheduler::queueStart()
{
    if (m_startQueued)
        return;
    m_startQueued = true;
    QMetaObject::invokeMethod(this, &DownloadScheduler::runQueuedStart, Qt::QueuedConnection);
}

void DownloadScheduler::runQueuedStart()
{
    m_startQueued = false;
    startWaitingRecords(true);
}

// --- commands ----------------------------------------------------------------

void DownloadScheduler::startDownloading()
{
    setRunning(true);
}

void DownloadScheduler::stopDownloading()
{
    setAutoStart(false);
    setAutoRedownload(false);
    m_pool.cancelSingle();
    setRunning(false);
    // An end told by the first cancel may have started the next record.
    m_pool.cancelSingle();
    m_pool.unloadSlots();
    for (qint64 row = 0; row < m_list.count(); ++row) {
        if (m_list.at(row).state == DownloadState::Downloading)
            m_list.update(row, [](DownloadItem &it) {
                it.state = DownloadState::Failed;
                it.outcome = Outcome::Cancelled;
                it.reason = QStringLiteral("stopped");
            });
    }
    m_status.refreshCounters();
}

// --- scheduler tick -------------------------------------------------------------

// The first waiting record that needs downloading, top to bottom. Records
// whose file exists under the skip policy are marked on the way.
qint64 DownloadScheduler::chooseWaitingRow(bool createFolders)
{
    for (qint64 row = 0; row < m_list.count(); ++row) {
        if (m_list.at(row).state != DownloadState::Waiting)
            continue;
        // Its server asked us to come back later; others go on meanwhile.
        if (m_pool.hostHeld(m_list.at(row).url))
            continue;
        QString folder = m_list.at(row).folder;
        bool folderFailed = false;
        QString folderError;
        if (createFolders) {
            folder = makeFolder(folder, &folderError);
            folderFailed = folder.isEmpty();
        }
        m_list.update(row, [&](DownloadItem &it) {
            it.name = SanitizeFileName(it.name);
            // A folder that could not be made stays in the record as the
            // user gave it, so the row still says where the file belonged.
            if (folderFailed) {
                it.state = DownloadState::Failed;
                it.outcome = Outcome::Failed;
                it.reason = folderError;
            } else
                it.folder = folderWithSeparator(folder);
        });
        if (folderFailed)
            continue;
        if (needsDownload(m_list, row, m_policy, &m_pool.reservations()))
            return row;
    }
    return -1;
}

void DownloadScheduler::schedulerTick()
{
    startWaitingRecords(false);
}

void DownloadScheduler::startWaitingRecords(bool pauseZeroIsOver)
{
    if (m_list.isEmpty()) {
        setRunning(false);
        return;
    }
    if (!m_running)
        return;
    if (!(pauseZeroIsOver && m_interval == 0) && std::fabs(m_lastFinishTime - now()) <= m_interval)
        return;

    // After a change of method the transfers of the other one finish first:
    // one connection never runs beside the slots, nor the slots beside it.
    if (m_method == DownloadMethod::SingleConnection) {
        if (m_pool.singleActive() || m_pool.slotsInUse() > 0)
            return;
        const qint64 row = chooseWaitingRow(false);
        if (row < 0)
            return;
        m_list.update(row, [](DownloadItem &it) {
            it.state = DownloadState::Downloading;
            clearProgress(it);
        });
        const quint64 id = m_list.at(row).id;
        if (m_autoLocate)
            emit locateRecord(id);
        downloadCurrent(id);
        return;
    }

    if (m_pool.singleActive())
        return;
    for (int t = 1; t <= m_threadCount; ++t) {
        if (!m_pool.slotBusy(t))
            startNextSlotRecord(t);
    }
}

void DownloadScheduler::startNextSlotRecord(int slot)
{
    const qint64 row = chooseWaitingRow(true);
    if (row < 0)
        return;
    m_list.update(row, [](DownloadItem &it) { it.state = DownloadState::Downloading; });
    const DownloadItem item = m_list.at(row);
    if (m_autoLocate)
        emit locateRecord(item.id);
    // Only rename numbers the name; skip and overwrite keep it (an existing
    // file under skip was dealt with above, a reserved name waits).
    const TargetChoice target =
        chooseTarget(item.folder, item.name, item.fileType, m_policy, &m_pool.reservations());
    switch (target.kind) {
    case TargetChoice::Kind::NoPath:
        // Refused before any request: nothing could be stored under it.
        m_list.update(row, [&](DownloadItem &it) {
            it.state = DownloadState::Failed;
            it.outcome = Outcome::Failed;
            it.reason = unsafeNameReason(item.folder, item.name, item.fileType);
        });
        return;
    case TargetChoice::Kind::Wait:
        m_list.setState(row, DownloadState::Waiting);
        return;
    case TargetChoice::Kind::Skip:
    case TargetChoice::Kind::CannotReplace:
        m_list.update(row, [&](DownloadItem &it) {
            showNameRefusal(it, target.kind, target.existingSize);
            it.reason = nameRefusalResult(target.kind, target.path).reason;
        });
        return;
    case TargetChoice::Kind::Store:
    case TargetChoice::Kind::Replace:
        break;
    }
    m_list.update(row, [&](DownloadItem &it) { it.name = target.name; });
    multiThreadDownload(slot, item.id, item.url, target.path);
}

void DownloadScheduler::downloadCurrent(quint64 recordId)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row < 0)
        return;
    if (busy()) {
        m_list.update(row, [](DownloadItem &it) {
            it.state = DownloadState::Waiting;
            it.sizeNote = SizeNote::WaitingAgain;
        });
        return;
    }
    m_status.transferStarting(m_list.at(row));
    TransferRequest request;
    request.recordId = recordId;
    request.url = m_list.at(row).url;
    request.policy = m_policy;
    request.maxFileSizeMB = m_maxFileSizeMB;
    m_pool.startSingle(request);
}

void DownloadScheduler::multiThreadDownload(int slot, quint64 recordId, const QString &url,
                                            const QString &path)
{
    TransferRequest request;
    request.recordId = recordId;
    request.url = url;
    request.path = path;
    request.policy = m_policy;
    request.maxFileSizeMB = m_maxFileSizeMB;
    m_pool.startSlot(slot, request);
}

// --- monitor tick ---------------------------------------------------------------

void DownloadScheduler::monitorTick()
{
    const bool finished = m_list.isListFinished();
    if (finished && m_running) {
        setRunning(false);
        m_status.runEnded();
    }
    const bool startEnabled = finished || !m_running;
    if (startEnabled != m_startEnabled) {
        m_startEnabled = startEnabled;
        emit startEnabledChanged(startEnabled);
    }

    // A single-connection body still streaming once the scheduler stopped
    // (the error stop fired, or it was started by hand) belongs to no run:
    // it ends as cancelled.
    if (!m_running && m_pool.singleStreaming())
        m_pool.cancelSingle();

    m_status.refreshCounters();

    if (m_autoStart && m_list.countNotDownloaded() >= 1)
        setRunning(true);

    if (m_autoRedownload && !m_running) {
        switch (m_redownloadFilter) {
        case RedownloadFilter::Failed:
            requeueFailed(m_list);
            break;
        case RedownloadFilter::WebPages:
            requeueWebPages(m_list, &m_pagesFetchedAgain);
            break;
        case RedownloadFilter::FailedAndWebPages:
            requeueFailed(m_list);
            requeueWebPages(m_list, &m_pagesFetchedAgain);
            break;
        }
        // Only a run with something to start: one started over a finished
        // list would end on the next tick (with its sound) and start again,
        // once a second.
        if (!m_list.isListFinished())
            setRunning(true);
    }

    if (errorStopReached()) {
        setRunning(false);
        m_status.runEnded();
    }
    emit monitorTicked();
}

} // namespace lumen
