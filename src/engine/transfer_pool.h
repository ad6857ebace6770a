#pragma once

#include "engine/download_method.h"
#include "engine/naming.h"
#include "engine/transfer.h"

#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

namespace lumen
{

class Clock;
class Downloader;
class DownloadList;
class SingleTransfer;
class SlotTransfer;

// The running transfers: the single connection of method one and the slots
// 1..MaxSlots of method two, each a Transfer. The pool owns them, the two
// network managers they fetch through (the proxy applies to method one only)
// and the final names they hold. Every end of either method comes out of
// ended(), after its transfer was freed; every start and end is logged.
class TransferPool : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxSlots = 6;

    TransferPool(DownloadList &list, Clock &clock, QObject *parent = nullptr);
    ~TransferPool() override;

    // Creates a record's folder for method one; answers it without trailing
    // separator, or empty when there is no folder to store in.
    void setFolderMaker(std::function<QString(const QString &, QString *)> maker);
    // Method one goes through this proxy; a proxy that names no usable
    // address and port fails every method-one start with a record text that
    // says so (see DownloadEngine::setProxy).
    void setProxy(bool enabled, const QString &address, const QString &port);

    // Starts the single connection on the record. False (nothing done) while
    // it runs.
    bool startSingle(const TransferRequest &request);
    // Starts slot (1..MaxSlots) on the record. False when the slot is out of
    // range or busy, or the record is not in the list.
    bool startSlot(int slot, const TransferRequest &request);
    // A stop request to the single connection (it ends its record as
    // cancelled and tells it).
    void cancelSingle();
    // Unloads every slot; no report follows for their records.
    void unloadSlots();

    bool singleActive() const;
    // StillExecuting: the request is out and its response headers are awaited.
    bool singleExecuting() const;
    // The single connection's body streams.
    bool singleStreaming() const;
    bool slotBusy(int slot) const;
    // Loaded slots.
    int slotsInUse() const;
    // The record slot (1..MaxSlots) works on; 0 for a free slot.
    quint64 slotRecord(int slot) const;
    Downloader *slotDownloader(int slot) const;
    // Anything runs, of either method.
    bool anyActive() const;

    // A server asked (429, 503) to leave it alone until later: records
    // bound for its host wait until then, records of other hosts go on.
    bool hostHeld(const QString &url) const;

    SingleTransfer &single() const { return *m_single; }
    const NameReservations &reservations() const { return m_reservations; }
    QList<QNetworkAccessManager *> networkManagers() { return {&m_singleNam, &m_slotNam}; }

signals:
    void ended(quint64 recordId, lumen::TransferNotice notice);
    void connectionStateChanged(lumen::ConnectionState state, int responseCode,
                                const QString &responseInfo);

private:
    bool startTransfer(Transfer &transfer, DownloadMethod method, const TransferRequest &request);
    void onEnded(quint64 recordId, TransferNotice notice, const TransferResult &result);
    SlotTransfer *slotAt(int slot) const;
    // The record's end when its server asked to come back later.
    void holdForRetry(qint64 row, const TransferResult &result, TransferNotice &notice);

    DownloadList &m_list;
    Clock &m_clock;
    QHash<QString, qint64> m_heldHosts; // host -> monotonic ms it is free again
    NameReservations m_reservations;
    QNetworkAccessManager m_singleNam;
    QNetworkAccessManager m_slotNam;
    SingleTransfer *m_single = nullptr;
    std::array<SlotTransfer *, MaxSlots> m_slots{}; // slot t is m_slots[t - 1]
};

} // namespace lumen
