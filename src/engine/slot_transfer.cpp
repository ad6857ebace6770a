#include "engine/slot_transfer.h"

#include "engine/download_list.h"
#include "engine/downloader.h"
#include "engine/logging.h"
#include "engine/part_file.h"
#include "engine/retry_after.h"
#include "engine/target_choice.h"
#include "engine/type_correction.h"
#include "engine/url_policy.h"

namespace lumen
{

SlotTransfer::SlotTransfer(DownloadList &list, QNetworkAccessManager &nam, Clock &clock,
                           NameReservations &reservations, QObject *parent)
    : Transfer(parent), m_list(list), m_nam(nam), m_clock(clock), m_reservations(reservations)
{
}

SlotTransfer::~SlotTransfer()
{
    unload();
}

bool SlotTransfer::start(const TransferRequest &request)
{
    if (m_downloader)
        return false;
    const qint64 row = m_list.rowOfId(request.recordId);
    if (row < 0)
        return false;
    m_recordId = request.recordId;
    m_policy = request.policy;
    m_maxFileSizeMB = request.maxFileSizeMB;
    m_stored = false;
    m_outcome = StoreOutcome{};
    m_reserved.clear();

    auto *d = new Downloader(m_nam, m_clock, this);
    m_downloader = d;
    if (m_reservations.reserve(request.path))
        m_reserved = request.path;
    d->setCommitter([this](PartFile &part) { return storeSlotBody(part); });
    d->setSizeLimit(qint64(m_maxFileSizeMB * 1024.0 * 1024.0));
    connect(d, &Downloader::sizeLimitExceeded, this,
            [this](qint64 received, const QString &) { onSizeLimit(received); });
    connect(d, &Downloader::downloadProgress, this,
            [this](qint64 cur, qint64 max, const QString &) { onProgress(cur, max); });
    connect(d, &Downloader::retryLater, this, &SlotTransfer::onRetryLater);
    connect(d, &Downloader::downloadComplete, this,
            [this](qint64 cur, qint64 max, const QString &) { onComplete(cur, max); });
    connect(d, &Downloader::downloadError, this,
            [this, d](const QString &missCode, const QString &) {
                // A body this slot could not store says why itself.
                if (m_stored && m_outcome.kind == StoreOutcome::Kind::Failed &&
                    !m_outcome.error.isEmpty())
                    onError(m_outcome.error);
                else
                    onError(d->failureReason().isEmpty() ? missCode : d->failureReason());
            });

    m_list.update(row, [](DownloadItem &it) {
        it.state = DownloadState::Downloading;
        clearProgress(it);
    });
    if (!isFetchableUrl(QStringView(request.url))) {
        // Only http and https are fetched; nothing is read or written.
        onError(QStringLiteral("not an http or https address"));
        return true;
    }
    d->beginDownload(request.url, request.path, m_list.at(row).referer);
    return true;
}

void SlotTransfer::cancel()
{
    unload();
}

void SlotTransfer::end(TransferNotice notice, const TransferResult &result)
{
    emit ended(m_recordId, notice, result);
}

void SlotTransfer::onProgress(qint64 cur, qint64 max)
{
    const qint64 row = m_list.rowOfId(m_recordId);
    if (row < 0)
        return;
    if (max <= 0 || max < cur)
        return;
    const bool tooLarge = double(max) / 1024.0 / 1024.0 > m_maxFileSizeMB;
    m_list.update(row, [&](DownloadItem &it) {
        it.size = max;
        it.received = cur;
        if (tooLarge)
            it.state = DownloadState::Finished;
    });
    if (tooLarge) {
        unload(false); // the slot takes its name reservation with it
        end(TransferNotice::Quiet,
            {Outcome::SkippedTooLarge, overLimitReason(max, m_maxFileSizeMB), cur});
    }
}

bool SlotTransfer::storeSlotBody(PartFile &part)
{
    const qint64 row = m_list.rowOfId(m_recordId);
    if (row < 0) {
        part.discard();
        return false;
    }
    const DownloadItem item = m_list.at(row);
    // The slot's own hold on its planned name must not push it aside.
    if (!m_reserved.isEmpty()) {
        m_reservations.release(m_reserved);
        m_reserved.clear();
    }
    m_outcome = storeBody(part, item.folder, item.name, item.fileType, m_policy, m_reservations);
    m_stored = true;
    return m_outcome.kind != StoreOutcome::Kind::Failed;
}

void SlotTransfer::onComplete(qint64 cur, qint64 max)
{
    const quint64 id = m_recordId;
    const qint64 row = m_list.rowOfId(id);
    if (row < 0) {
        unload();
        return;
    }
    const bool stored = m_stored;
    const StoreOutcome outcome = m_outcome;
    const int httpStatus = m_downloader ? m_downloader->httpStatus() : 0;
    const QString httpPhrase = m_downloader ? m_downloader->httpPhrase() : QString();
    const QString transportError = m_downloader ? m_downloader->transportError() : QString();
    m_list.update(row, [&](DownloadItem &it) {
        if (max > 0 && max >= cur) {
            it.size = max;
            it.received = cur;
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
            it.state = it.size > 0 && it.received >= it.size ? DownloadState::Finished
                                                             : DownloadState::Failed;
            break;
        case StoreOutcome::Kind::ExistsSkipped:
        case StoreOutcome::Kind::CannotReplace:
            it.fileType = outcome.fileType;
            showNameRefusal(it,
                            outcome.kind == StoreOutcome::Kind::ExistsSkipped
                                ? TargetChoice::Kind::Skip
                                : TargetChoice::Kind::CannotReplace,
                            outcome.existingSize);
            break;
        case StoreOutcome::Kind::Failed:
            it.state = DownloadState::Failed;
            break;
        }
    });
    unload();
    TransferResult result;
    if (!stored) {
        result = TransferResult::failed(cutBodyReason(cur, max, transportError), cur);
    } else {
        switch (outcome.kind) {
        case StoreOutcome::Kind::Stored:
            if (m_list.at(row).state != DownloadState::Finished) {
                result = TransferResult::failed(cutBodyReason(cur, max, transportError), cur);
                break;
            }
            if (CorrectFileType(m_list, id)) {
                // The file moved to its detected type: the record follows it.
                m_list.updateById(id, [](DownloadItem &it) { it.storedPath = ItemFilePath(it); });
            }
            result = storedResult(m_list, id, httpStatus, httpPhrase, cur);
            break;
        case StoreOutcome::Kind::ExistsSkipped:
            result = nameRefusalResult(TargetChoice::Kind::Skip, outcome.existingPath);
            break;
        case StoreOutcome::Kind::CannotReplace:
            result = nameRefusalResult(TargetChoice::Kind::CannotReplace, outcome.existingPath);
            break;
        case StoreOutcome::Kind::Failed:
            result = TransferResult::failed(outcome.error, cur);
            break;
        }
    }
    if (result.outcome == Outcome::Failed || result.outcome == Outcome::CannotReplace)
        qCDebug(lumenEngine).noquote() << "transfer" << id << "failed:" << result.reason;
    end(TransferNotice::Announced, result);
}

void SlotTransfer::onSizeLimit(qint64 received)
{
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        it.received = received;
        it.state = DownloadState::Finished;
    });
    unload();
    end(TransferNotice::Quiet,
        {Outcome::SkippedTooLarge, overLimitReason(received, m_maxFileSizeMB), received});
}

void SlotTransfer::onRetryLater(qint64 waitMs, int httpStatus, const QString &httpPhrase)
{
    // Back in the queue; the pool holds the host for the wait.
    m_list.updateById(m_recordId, [](DownloadItem &it) {
        it.state = DownloadState::Waiting;
        clearProgress(it);
    });
    unload();
    end(TransferNotice::Quiet, TransferResult::retryLater(httpStatus, httpPhrase, waitMs));
}

void SlotTransfer::onError(const QString &reason)
{
    qCDebug(lumenEngine).noquote() << "transfer" << m_recordId << "failed:" << reason;
    const qint64 row = m_list.rowOfId(m_recordId);
    if (row >= 0)
        m_list.setState(row, DownloadState::Failed);
    unload();
    end(TransferNotice::Quiet, TransferResult::failed(reason));
}

void SlotTransfer::unload(bool keepPart)
{
    if (!m_reserved.isEmpty()) {
        m_reservations.release(m_reserved);
        m_reserved.clear();
    }
    Downloader *d = m_downloader;
    m_downloader = nullptr;
    if (!d)
        return;
    d->disconnect(this);
    if (keepPart)
        d->cancelAsyncRead();
    else
        d->abandon();
    d->deleteLater();
}

} // namespace lumen
