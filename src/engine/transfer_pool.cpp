#include "engine/transfer_pool.h"

#include "engine/download_list.h"
#include "engine/logging.h"
#include "engine/reply_checks.h"
#include "engine/single_transfer.h"
#include "engine/slot_transfer.h"

#include <QNetworkProxy>

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

} // namespace

TransferPool::TransferPool(DownloadList &list, Clock &clock, QObject *parent)
    : QObject(parent), m_list(list)
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

void TransferPool::onEnded(quint64 recordId, TransferNotice notice, const TransferResult &result)
{
    const qint64 row = m_list.rowOfId(recordId);
    if (row >= 0) {
        // The one place a transfer's end enters its record.
        m_list.update(row, [&](DownloadItem &it) {
            it.outcome = result.outcome;
            it.reason = result.reason;
        });
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
