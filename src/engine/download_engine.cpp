#include "engine/download_engine.h"

#include "engine/clock.h"
#include "engine/download_list.h"
#include "engine/downloader.h"
#include "engine/part_file.h"
#include "engine/prompter.h"
#include "engine/requeue.h"
#include "engine/single_transfer.h"
#include "engine/sound_player.h"
#include "engine/type_correction.h"
#include "engine/url_policy.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkProxy>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>

namespace lumen
{

namespace
{

const QString StartingPrefix = QStringLiteral("正在下载:");
const QString FinishedPrefix = QStringLiteral("完成下载:");
const QString IdleGuardText = QStringLiteral("停止下载以后，才能执行此操作！");

} // namespace

bool needsDownload(DownloadList &list, qint64 row, SameNamePolicy policy)
{
    if (row < 0 || row >= list.count())
        return false;
    const QString path = ItemFilePath(list.at(row));
    if (policy == SameNamePolicy::Skip && FileExists(path)) {
        const QString length = QString::number(QFileInfo(localFilePath(path)).size());
        list.update(row, [&](DownloadItem &it) {
            it.state = DownloadState::Finished;
            it.sizeText = length;
            it.receivedText = length;
            it.percentText = RecordText::ExistsSkipped;
        });
        return false;
    }
    return true;
}

DownloadEngine::DownloadEngine(DownloadList &list, Clock &clock, SoundPlayer &sound,
                               Prompter &prompter, QObject *parent)
    : QObject(parent), m_list(list), m_clock(clock), m_sound(sound), m_prompter(prompter)
{
    m_transfer = new SingleTransfer(m_list, m_methodOneNam, m_clock, m_reservations, this);
    m_transfer->setFolderMaker([this](const QString &folder) { return makeFolder(folder); });
    connect(m_transfer, &SingleTransfer::finished, this, &DownloadEngine::onMethodOneFinished);
    connect(m_transfer, &SingleTransfer::connectionStateChanged, this,
            &DownloadEngine::setConnectionText);

    m_methodTwoNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    m_methodOneNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));

    m_soundFolders << QCoreApplication::applicationDirPath();
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!userData.isEmpty())
        m_soundFolders << userData;
    // Where an installation puts them, relative to the installed program.
    m_soundFolders << QCoreApplication::applicationDirPath() +
                          QStringLiteral("/../share/lumenarc/sounds");

    m_schedulerTimer.setInterval(TickMs);
    m_monitorTimer.setInterval(TickMs);
    connect(&m_schedulerTimer, &QTimer::timeout, this, &DownloadEngine::schedulerTick);
    connect(&m_monitorTimer, &QTimer::timeout, this, &DownloadEngine::monitorTick);
    m_monitorTimer.start();

    m_lastFinishTime = now();
    m_countersText = countersTextFor(m_list);
}

DownloadEngine::~DownloadEngine()
{
    for (int t = 1; t <= MaxSlots; ++t)
        unloadSlot(t);
    // Before the members it uses go: a body in flight is dropped, and its
    // partial file with it.
    delete m_transfer;
    m_transfer = nullptr;
}

double DownloadEngine::now() const
{
    return m_clock.secondsSinceMidnight();
}

// --- options -----------------------------------------------------------------

void DownloadEngine::setDownloadMethod(DownloadMethod method)
{
    if (method == m_method)
        return;
    m_method = method;
    emit downloadMethodChanged(m_method);
}

void DownloadEngine::setThreadCount(int count)
{
    count = qBound(1, count, MaxSlots);
    if (count == m_threadCount)
        return;
    m_threadCount = count;
    emit threadCountChanged(m_threadCount);
}

QString DownloadEngine::methodText() const
{
    return QStringLiteral("下载方式：") + QString::number(downloadMethodNumber(m_method));
}

void DownloadEngine::setAutoStart(bool on)
{
    if (on == m_autoStart)
        return;
    m_autoStart = on;
    emit autoStartChanged(on);
}

void DownloadEngine::setAutoRedownload(bool on)
{
    if (on == m_autoRedownload)
        return;
    m_autoRedownload = on;
    emit autoRedownloadChanged(on);
}

void DownloadEngine::setMaxFileSizeMB(double mb)
{
    m_maxFileSizeMB = std::isfinite(mb) && mb >= 0 ? mb : DefaultMaxFileSizeMB;
}

void DownloadEngine::setProxy(bool enabled, const QString &address, const QString &port)
{
    m_proxyEnabled = enabled;
    bool numeric = false;
    const uint number = port.trimmed().toUInt(&numeric);
    const bool usable = !address.trimmed().isEmpty() && numeric && number >= 1 && number <= 65535;
    m_transfer->setProxyUnusable(enabled && !usable);
    if (enabled && usable) {
        m_methodOneNam.setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, address.trimmed(), quint16(number)));
    } else {
        m_methodOneNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    }
}

void DownloadEngine::switchMethod()
{
    setDownloadMethod(m_method == DownloadMethod::MultiConnection
                          ? DownloadMethod::SingleConnection
                          : DownloadMethod::MultiConnection);
    // In method two the busy flag tells whether the scheduler runs; method
    // one reads it as "a transfer is in flight". Left set, it would keep
    // method one from ever starting while the run goes on.
    if (m_method == DownloadMethod::SingleConnection)
        m_busy = m_transfer->isActive();
    m_threadCount = 0; // always announce the reset to "1"
    setThreadCount(1);
}

// --- state -------------------------------------------------------------------

quint64 DownloadEngine::slotRecord(int slot) const
{
    return slot >= 1 && slot <= MaxSlots ? m_slots[slot].recordId : 0;
}

Downloader *DownloadEngine::slotDownloader(int slot) const
{
    return slot >= 1 && slot <= MaxSlots ? m_slots[slot].downloader : nullptr;
}

int DownloadEngine::countSlotInstances() const
{
    int n = 1;
    for (int t = 1; t <= MaxSlots; ++t)
        n += m_slots[t].downloader ? 1 : 0;
    return n;
}

bool DownloadEngine::methodOneExecuting() const
{
    return m_transfer->isExecuting();
}

bool DownloadEngine::methodOneActive() const
{
    return m_transfer->isActive();
}

bool DownloadEngine::isIdle() const
{
    return !m_running && countSlotInstances() == 1 && !m_transfer->isActive();
}

bool DownloadEngine::downloadIdleGuard(Prompter &prompter) const
{
    if (isIdle())
        return true;
    prompter.message(IdleGuardText, Prompter::Icon::Information);
    return false;
}

void DownloadEngine::setRunning(bool running)
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
}

void DownloadEngine::setBusy(bool busy)
{
    m_busy = busy;
    // A method-one body that is still streaming when the busy flag falls was
    // stopped (by the user or by the monitor after the scheduler stopped).
    if (!busy && m_transfer->isActive() && !m_transfer->isExecuting())
        m_transfer->cancel();
}

void DownloadEngine::setTimersDriven(bool driven)
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

// --- status texts and sounds -------------------------------------------------

void DownloadEngine::setActionText(const QString &text)
{
    m_actionText = text;
    emit actionTextChanged(text);
}

void DownloadEngine::setConnectionText(const QString &text)
{
    m_connectionText = text;
    emit connectionTextChanged(text);
}

QString DownloadEngine::countersTextFor(const DownloadList &list)
{
    const StatusCounts c = list.statusCounts();
    return QStringLiteral("总数:%1 正在下载:%2 等待:%3 已完成:%4 失败:%5")
        .arg(c.total)
        .arg(c.downloading)
        .arg(c.waiting)
        .arg(c.finished)
        .arg(c.failed);
}

void DownloadEngine::refreshCounters()
{
    const QString text = countersTextFor(m_list);
    if (text == m_countersText)
        return;
    m_countersText = text;
    emit countersTextChanged(text);
}

void DownloadEngine::playNoticeSound(int number)
{
    const QString file = QString::number(number) + QStringLiteral(".wav");
    for (const QString &folder : std::as_const(m_soundFolders)) {
        if (folder.isEmpty())
            continue;
        const QString path = folderWithSeparator(folder) + file;
        if (QFileInfo(path).isFile()) {
            m_sound.playFile(path);
            return;
        }
    }
}

// --- scheduler -----------------------------------------------------------------

void DownloadEngine::startDownloading()
{
    setRunning(true);
}

QString DownloadEngine::makeFolder(const QString &folder)
{
    if (m_badFolders.contains(folder))
        return QString();
    const FolderPathResult made = CreateFolderPath(folder);
    if (made.badName) {
        // The message is shown once; this record and the next ones bound
        // for the same folder fail quietly until the next run.
        m_prompter.message(FolderNameErrorText, Prompter::Icon::Critical);
        m_badFolders.insert(folder);
        return QString();
    }
    return made.path;
}

// The first waiting record that needs downloading, top to bottom. Records
// whose file exists under the skip policy are marked on the way.
qint64 DownloadEngine::chooseWaitingRow(bool createFolders)
{
    for (qint64 row = 0; row < m_list.count(); ++row) {
        if (m_list.at(row).state != DownloadState::Waiting)
            continue;
        QString folder = m_list.at(row).folder;
        bool folderFailed = false;
        if (createFolders) {
            folder = makeFolder(folder);
            folderFailed = folder.isEmpty();
        }
        m_list.update(row, [&](DownloadItem &it) {
            it.name = SanitizeFileName(it.name);
            // A folder that could not be made stays in the record as the
            // user gave it, so the row still says where the file belonged.
            if (folderFailed)
                it.state = DownloadState::Failed;
            else
                it.folder = folderWithSeparator(folder);
        });
        if (folderFailed)
            continue;
        if (m_policy != SameNamePolicy::Rename &&
            m_reservations.isReserved(ItemFilePath(m_list.at(row))))
            continue; // a running transfer stores this name: decide after it
        if (needsDownload(m_list, row, m_policy))
            return row;
    }
    return -1;
}

void DownloadEngine::schedulerTick()
{
    if (m_list.isEmpty()) {
        setRunning(false);
        return;
    }
    if (!m_running)
        return;
    if (std::fabs(m_lastFinishTime - now()) <= m_interval)
        return;

    if (m_method == DownloadMethod::SingleConnection) {
        if (m_busy)
            return;
        const qint64 row = chooseWaitingRow(false);
        if (row < 0)
            return;
        m_list.update(row, [](DownloadItem &it) {
            it.state = DownloadState::Downloading;
            it.sizeText.clear();
            it.receivedText.clear();
            it.percentText.clear();
        });
        const quint64 id = m_list.at(row).id;
        if (m_autoLocate)
            emit locateRecord(id);
        downloadCurrent(id);
        return;
    }

    for (int t = 1; t <= m_threadCount; ++t) {
        if (m_slots[t].downloader)
            continue;
        const qint64 row = chooseWaitingRow(true);
        if (row < 0)
            continue;
        m_list.update(row, [](DownloadItem &it) { it.state = DownloadState::Downloading; });
        const DownloadItem item = m_list.at(row);
        if (m_autoLocate)
            emit locateRecord(item.id);
        // Only rename numbers the name; skip and overwrite keep it (an
        // existing file was dealt with above, a reserved name waits).
        const SavePath target =
            m_policy == SameNamePolicy::Rename
                ? renameSavePath(item.folder, item.name, item.fileType, m_policy, &m_reservations)
                : SavePath{item.name, ItemFilePath(item)};
        if (target.path.isEmpty()) {
            m_list.setState(row, DownloadState::Failed);
            continue;
        }
        if (m_policy == SameNamePolicy::Overwrite && !isReplaceable(target.path)) {
            const QString length = QString::number(QFileInfo(target.path).size());
            m_list.update(row, [&](DownloadItem &it) {
                it.state = DownloadState::Failed;
                it.sizeText = length;
                it.receivedText = length;
                it.percentText = RecordText::CannotReplace;
            });
            continue;
        }
        m_list.update(row, [&](DownloadItem &it) { it.name = target.name; });
        multiThreadDownload(t, item.id, item.url, target.path);
    }
}

void DownloadEngine::monitorTick()
{
    const bool finished = m_list.isListFinished();
    if (finished && m_running) {
        setRunning(false);
        if (m_soundOn)
            playNoticeSound(RunEndSound);
    }
    const bool startEnabled = finished || !m_running;
    if (startEnabled != m_startEnabled) {
        m_startEnabled = startEnabled;
        emit startEnabledChanged(startEnabled);
    }

    if (m_method == DownloadMethod::SingleConnection) {
        if (!m_transfer->isExecuting() && !m_running)
            setBusy(false);
    } else {
        m_busy = true;
        if (!m_running)
            setBusy(false);
    }

    refreshCounters();

    if (m_autoStart && m_list.countNotDownloaded() >= 1)
        setRunning(true);

    if (m_autoRedownload && !m_running) {
        switch (m_redownloadFilter) {
        case RedownloadFilter::Failed:
            requeueFailed(m_list);
            break;
        case RedownloadFilter::WebPages:
            requeueWebPages(m_list);
            break;
        case RedownloadFilter::FailedAndWebPages:
            requeueFailed(m_list);
            requeueWebPages(m_list);
            break;
        }
        setRunning(true);
    }

    if (m_errorStop && m_list.countErrorOrPageItems() >= ErrorStopCount && m_running) {
        setRunning(false);
        if (m_soundOn)
            playNoticeSound(RunEndSound);
    }
    emit monitorTicked();
}

void DownloadEngine::stopDownloading()
{
    setAutoStart(false);
    setAutoRedownload(false);
    m_transfer->cancel();
    setRunning(false);
    setBusy(false);
    m_transfer->cancel();
    for (int t = 1; t <= MaxSlots; ++t)
        unloadSlot(t);
    for (qint64 row = 0; row < m_list.count(); ++row) {
        if (m_list.at(row).state == DownloadState::Downloading)
            m_list.setState(row, DownloadState::Failed);
    }
    setBusy(false);
    refreshCounters();
}

// --- method one ----------------------------------------------------------------

void DownloadEngine::downloadCurrent(quint64 recordId)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row < 0)
        return;
    if (m_transfer->isActive() || m_busy) {
        m_list.update(row, [](DownloadItem &it) {
            it.state = DownloadState::Waiting;
            it.sizeText = RecordText::WaitingAgain;
        });
        return;
    }
    m_busy = true;
    setActionText(StartingPrefix + m_list.at(row).name);
    if (!m_transfer->start(recordId, m_policy, m_maxFileSizeMB))
        m_busy = false;
}

void DownloadEngine::noticeEnd(quint64 recordId)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row < 0)
        return;
    const DownloadItem &item = m_list.at(row);
    const bool page = isWebPageType(item.fileType);
    const bool failed = item.state == DownloadState::Failed;
    if (m_soundOn) {
        if (page)
            playNoticeSound(PageSound);
        if (failed)
            playNoticeSound(FailedSound);
    }
    if (page)
        emit webPageDownloaded(recordId);
}

void DownloadEngine::onMethodOneFinished(quint64 recordId, bool)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row >= 0)
        setActionText(FinishedPrefix + m_list.at(row).name);
    m_lastFinishTime = now();
    noticeEnd(recordId);
    m_busy = false;
    emit downloadEnded(recordId);
}

void DownloadEngine::methodOneWatchdogTick()
{
    m_transfer->watchdogTick();
}

// --- method two ----------------------------------------------------------------

void DownloadEngine::multiThreadDownload(int slot, quint64 recordId, const QString &url,
                                         const QString &path)
{
    if (slot < 1 || slot > MaxSlots || m_slots[slot].downloader)
        return;
    const qint64 row = m_list.rowOfId(recordId);
    if (row < 0)
        return;
    auto *d = new Downloader(m_methodTwoNam, m_clock, this);
    m_slots[slot] = Slot{};
    m_slots[slot].recordId = recordId;
    m_slots[slot].downloader = d;
    if (m_reservations.reserve(path))
        m_slots[slot].reserved = path;
    d->setCommitter([this, slot](PartFile &part) { return storeSlotBody(slot, part); });
    d->setSizeLimit(qint64(m_maxFileSizeMB * 1024.0 * 1024.0));
    connect(d, &Downloader::sizeLimitExceeded, this,
            [this, slot](qint64 received, const QString &) { onSlotSizeLimit(slot, received); });
    connect(
        d, &Downloader::downloadProgress, this,
        [this, slot](qint64 cur, qint64 max, const QString &) { onSlotProgress(slot, cur, max); });
    connect(d, &Downloader::downloadComplete, this,
            [this, slot](qint64 cur, qint64 max, const QString &saveFile) {
                onSlotComplete(slot, cur, max, saveFile);
            });
    connect(d, &Downloader::downloadError, this,
            [this, slot](const QString &, const QString &) { onSlotError(slot); });

    m_busy = true;
    m_list.update(row, [](DownloadItem &it) {
        it.state = DownloadState::Downloading;
        it.sizeText.clear();
        it.receivedText.clear();
        it.percentText.clear();
    });
    if (!isFetchableUrl(QStringView(url))) {
        // Only http and https are fetched; nothing is read or written.
        onSlotError(slot);
        return;
    }
    d->beginDownload(url, path, m_list.at(row).referer);
}

void DownloadEngine::onSlotProgress(int slot, qint64 cur, qint64 max)
{
    const qint64 row = m_list.rowOfId(m_slots[slot].recordId);
    if (row < 0)
        return;
    if (max <= 0 || max < cur)
        return;
    const bool tooLarge = double(max) / 1024.0 / 1024.0 > m_maxFileSizeMB;
    m_list.update(row, [&](DownloadItem &it) {
        it.sizeText = QString::number(max);
        it.receivedText = QString::number(cur);
        it.percentText = percentText(cur, max);
        if (tooLarge) {
            it.state = DownloadState::Finished;
            it.percentText = RecordText::BigFileSkipped;
        }
    });
    if (tooLarge) {
        m_lastFinishTime = now();
        const quint64 id = m_slots[slot].recordId;
        unloadSlot(slot); // the slot takes its name reservation with it
        emit downloadEnded(id);
    }
}

bool DownloadEngine::storeSlotBody(int slot, PartFile &part)
{
    Slot &s = m_slots[slot];
    const qint64 row = m_list.rowOfId(s.recordId);
    if (row < 0) {
        part.discard();
        return false;
    }
    const DownloadItem item = m_list.at(row);
    // The slot's own hold on its planned name must not push it aside.
    if (!s.reserved.isEmpty()) {
        m_reservations.release(s.reserved);
        s.reserved.clear();
    }
    s.outcome = storeBody(part, item.folder, item.name, item.fileType, m_policy, m_reservations);
    s.stored = true;
    return s.outcome.kind != StoreOutcome::Kind::Failed;
}

void DownloadEngine::onSlotComplete(int slot, qint64 cur, qint64 max, const QString &)
{
    const quint64 id = m_slots[slot].recordId;
    const qint64 row = m_list.rowOfId(id);
    if (row < 0) {
        unloadSlot(slot);
        return;
    }
    const bool stored = m_slots[slot].stored;
    const StoreOutcome outcome = m_slots[slot].outcome;
    m_list.update(row, [&](DownloadItem &it) {
        if (max > 0 && max >= cur) {
            it.sizeText = QString::number(max);
            it.receivedText = QString::number(cur);
            it.percentText = percentText(cur, max);
        }
        // A body that ended short was never stored: its figures show how far
        // it got, and the record failed.
        if (!stored) {
            it.state = DownloadState::Failed;
            return;
        }
        switch (outcome.kind) {
        case StoreOutcome::Kind::Stored:
            it.name = outcome.name;
            it.fileType = outcome.fileType;
            it.storedPath = outcome.path;
            it.state = it.percentText == QLatin1String("100%") ? DownloadState::Finished
                                                               : DownloadState::Failed;
            break;
        case StoreOutcome::Kind::ExistsSkipped:
        case StoreOutcome::Kind::CannotReplace: {
            const bool skipped = outcome.kind == StoreOutcome::Kind::ExistsSkipped;
            it.fileType = outcome.fileType;
            it.sizeText = QString::number(outcome.existingSize);
            it.receivedText = it.sizeText;
            it.percentText = skipped ? RecordText::ExistsSkipped : RecordText::CannotReplace;
            it.state = skipped ? DownloadState::Finished : DownloadState::Failed;
            break;
        }
        case StoreOutcome::Kind::Failed:
            it.state = DownloadState::Failed;
            break;
        }
    });
    unloadSlot(slot);
    if (stored && outcome.kind == StoreOutcome::Kind::Stored &&
        m_list.at(row).state == DownloadState::Finished && CorrectFileType(m_list, id)) {
        // The file moved to its detected type: the record follows it.
        m_list.updateById(id, [](DownloadItem &it) { it.storedPath = ItemFilePath(it); });
    }
    setActionText(FinishedPrefix + m_list.at(m_list.rowOfId(id)).name);
    noticeEnd(id);
    m_lastFinishTime = now();
    emit downloadEnded(id);
}

void DownloadEngine::onSlotSizeLimit(int slot, qint64 received)
{
    const quint64 id = m_slots[slot].recordId;
    m_list.updateById(id, [&](DownloadItem &it) {
        it.receivedText = QString::number(received);
        it.state = DownloadState::Finished;
        it.percentText = RecordText::BigFileSkipped;
    });
    unloadSlot(slot);
    m_lastFinishTime = now();
    emit downloadEnded(id);
}

void DownloadEngine::onSlotError(int slot)
{
    const quint64 id = m_slots[slot].recordId;
    const qint64 row = m_list.rowOfId(id);
    if (row >= 0)
        m_list.setState(row, DownloadState::Failed);
    unloadSlot(slot);
    m_lastFinishTime = now();
    emit downloadEnded(id);
}

void DownloadEngine::unloadSlot(int slot)
{
    Downloader *d = m_slots[slot].downloader;
    if (!m_slots[slot].reserved.isEmpty())
        m_reservations.release(m_slots[slot].reserved);
    m_slots[slot] = Slot{};
    if (!d)
        return;
    d->disconnect(this);
    d->cancelAsyncRead();
    d->deleteLater();
}

} // namespace lumen
