#include "engine/transfer_pool.h"

#include "engine/clock.h"
#include "engine/download_list.h"
#include "engine/logging.h"
#include "engine/reply_checks.h"
#include "engine/retry_after.h"
#include "engine/single_transfer.h"
#include "engine/slot_transfer.h"

#include <QNetworkProxy>
#include <QTime>

namespace lumen
{

namespace
{

QString stateName(DownloadState state)
{
    switch (state) {
    case DownloadState::Waiting:
        return QStringLiteral("waiting");
    case DownloadState::Downloading:
        return QStringLiteral("downloading");
    case DownloadState::Finished:
        return QStringLiteral("finished");
    case DownloadState::Failed:
        return QStringLiteral("failed");
    }
    return QString();
}

// The part of a URL that names its server: scheme, host and port, in lower
// case, without any user name.
QString hostKey(const QString &url)
{
    const QString text = url.trimmed();
    const qsizetype scheme = text.indexOf(QLatin1String("://"));
    const qsizetype from = scheme < 0 ? 0 : scheme + 3;
    qsizetype to = from;
    while (to < text.size() && text.at(to) != QLatin1Char('/') && text.at(to) != QLatin1Char('?') &&
           text.at(to) != QLatin1Char('#'))
        ++to;
    QString authority = text.mid(from, to - from);
    const qsizetype at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        authority = authority.mid(at + 1);
    return (scheme < 0 ? QString() : text.left(scheme + 3)).toLower() + authority.toLower();
}

QString clockText(double secondsSinceMidnight)
{
    const qint64 ms = qint64(secondsSinceMidnight * 1000.0) % (24 * 3600 * 1000);
    return QTime::fromMSecsSinceStartOfDay(int(ms)).toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

TransferPool::TransferPool(DownloadList &list, Clock &clock, QObject *parent)
    : QObject(parent), m_list(list), m_clock(clock)
{
    m_singleNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    m_slotNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));

    m_single = new SingleTransfer(m_list, m_singleNam, clock, m_reservations, this);
    connect(m_single, &SingleTransfer::connectionStateChanged, this,
            &TransferPool::connectionStateChanged);
    for (SlotTransfer *&slot : m_slots)
        slot = new SlotTransfer(m_list, m_slotNam, clock, m_reservations, this);

    QList<Transfer *> all{m_single};
    for (SlotTransfer *slot : m_slots)
        all << slot;
    for (Transfer *transfer : std::as_const(all))
        connect(transfer, &Transfer::ended, this, &TransferPool::onEnded);
}

TransferPool::~TransferPool()
{
    // Before the managers and the name reservations they use go: a body in
    // flight is dropped, and its partial file with it.
    for (SlotTransfer *&slot : m_slots) {
        delete slot;
        slot = nullptr;
    }
    delete m_single;
    m_single = nullptr;
}

void TransferPool::setFolderMaker(std::function<QString(const QString &, QString *)> maker)
{
    m_single->setFolderMaker(std::move(maker));
}

void TransferPool::setProxy(bool enabled, const QString &address, const QString &port)
{
    bool numeric = false;
    const uint number = port.trimmed().toUInt(&numeric);
    const bool usable = !address.trimmed().isEmpty() && numeric && number >= 1 && number <= 65535;
    m_single->setProxyUnusable(enabled && !usable);
    if (enabled && usable) {
        m_singleNam.setProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, address.trimmed(), quint16(number)));
    } else {
        m_singleNam.setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
    }
}

bool TransferPool::startTransfer(Transfer &transfer, DownloadMethod method,
                                 const TransferRequest &request)
{
    if (transfer.isActive() || m_list.rowOfId(request.recordId) < 0)
        return false;
    qCDebug(lumenEngine).noquote()
        << "transfer" << request.recordId << "start, method" << downloadMethodNumber(method)
        << "from" << urlWithoutUserInfo(request.url.trimmed());
    return transfer.start(request);
}

bool TransferPool::startSingle(const TransferRequest &request)
{
    return startTransfer(*m_single, DownloadMethod::SingleConnection, request);
}

bool TransferPool::startSlot(int slot, const TransferRequest &request)
{
    SlotTransfer *transfer = slotAt(slot);
    return transfer && startTransfer(*transfer, DownloadMethod::MultiConnection, request);
}

bool TransferPool::hostHeld(const QString &url) const
{
    if (m_heldHosts.isEmpty())
        return false;
    const auto it = m_heldHosts.constFind(hostKey(url));
    return it != m_heldHosts.constEnd() && m_clock.monotonicMs() < *it;
}

void TransferPool::holdForRetry(qint64 row, const TransferResult &result, TransferNotice &notice)
{
    const DownloadItem &item = m_list.at(row);
    const int answers = item.retryAnswers + 1;
    if (answers >= MaxRetryAnswers) {
        // It keeps saying later: the record fails, and says so.
        m_list.update(row, [&](DownloadItem &it) {
            it.retryAnswers = answers;
            it.state = DownloadState::Failed;
            it.outcome = Outcome::Failed;
            it.reason = QStringLiteral("%1, asked %2 times in a row to retry later")
                            .arg(result.reason)
                            .arg(answers);
        });
        notice = TransferNotice::Announced;
        return;
    }
    const qint64 wait = result.retryAfterMs;
    const QString host = hostKey(item.url);
    const qint64 until = m_clock.monotonicMs() + wait;
    qint64 &held = m_heldHosts[host];
    held = qMax(held, until);
    const QString at = clockText(m_clock.secondsSinceMidnight() + double(wait) / 1000.0);
    m_list.update(row, [&](DownloadItem &it) {
        it.retryAnswers = answers;
        it.state = DownloadState::Waiting;
        it.outcome = Outcome::None;
        it.reason = QStringLiteral("%1, retry at %2").arg(result.reason, at);
    });
}

void TransferPool::onEnded(quint64 recordId, TransferNotice notice, const TransferResult &result)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row >= 0) {
        // The one place a transfer's end enters its record.
        if (result.retryAfterMs >= 0) {
            holdForRetry(row, result, notice);
        } else {
            m_list.update(row, [&](DownloadItem &it) {
                it.outcome = result.outcome;
                it.reason = result.reason;
                // Only answers in a row count; a transfer that waits for a
                // name got no answer at all.
                if (result.outcome != Outcome::None)
                    it.retryAnswers = 0;
            });
        }
        const DownloadItem &item = m_list.at(row);
        const QString percentColumn = percentColumnText(item);
        const QString percent =
            percentColumn.isEmpty() ? QString() : QLatin1Char(' ') + percentColumn;
        const QString bytes = QString::number(qMax<qint64>(item.received, 0));
        qCDebug(lumenEngine).noquote()
            << QStringLiteral("transfer %1 end: %2%3, %4 bytes")
                   .arg(QString::number(recordId), stateName(item.state), percent, bytes);
    }
    emit ended(recordId, notice);
}

void TransferPool::cancelSingle()
{
    m_single->cancel();
}

void TransferPool::unloadSlots()
{
    for (SlotTransfer *slot : m_slots)
        slot->cancel();
}

bool TransferPool::singleActive() const
{
    return m_single->isActive();
}

bool TransferPool::singleExecuting() const
{
    return m_single->isExecuting();
}

bool TransferPool::singleStreaming() const
{
    return m_single->isStreaming();
}

SlotTransfer *TransferPool::slotAt(int slot) const
{
    return slot >= 1 && slot <= MaxSlots ? m_slots[slot - 1] : nullptr;
}

bool TransferPool::slotBusy(int slot) const
{
    const SlotTransfer *transfer = slotAt(slot);
    return transfer && transfer->isActive();
}

int TransferPool::slotsInUse() const
{
    int n = 0;
    for (const SlotTransfer *slot : m_slots)
        n += slot->isActive() ? 1 : 0;
    return n;
}

quint64 TransferPool::slotRecord(int slot) const
{
    const SlotTransfer *transfer = slotAt(slot);
    return transfer && transfer->isActive() ? transfer->recordId() : 0;
}

Downloader *TransferPool::slotDownloader(int slot) const
{
    const SlotTransfer *transfer = slotAt(slot);
    return transfer ? transfer->downloader() : nullptr;
}

bool TransferPool::anyActive() const
{
    return m_single->isActive() || slotsInUse() > 0;
}

} // namespace lumen
