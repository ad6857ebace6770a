#pragma once

#include "engine/store_body.h"
#include "engine/transfer.h"

#include <QString>

class QNetworkAccessManager;

namespace lumen
{

class Clock;
class Downloader;
class DownloadList;
class PartFile;

// One slot of the multi-connection method (多线程下载): a Downloader loaded
// for one download and unloaded when it ends. The slot writes the slot's
// reports into its record: progress with announced size, the size limit, the
// completion (the body stored under its final name by the same-name policy,
// then its type corrected), and the error. A completion is announced; an
// error or a size-limit report ends the record quietly. The planned target
// is held in the name reservations for as long as the slot runs.
class SlotTransfer : public Transfer
{
    Q_OBJECT
public:
    SlotTransfer(DownloadList &list, QNetworkAccessManager &nam, Clock &clock,
                 NameReservations &reservations, QObject *parent = nullptr);
    ~SlotTransfer() override;

    // BeginDownload of request.url into request.path for the record, which
    // turns Downloading with empty progress texts. A URL that is not http or
    // https fails at once, without any request, and is told before start()
    // returns.
    bool start(const TransferRequest &request) override;
    // Unloads the slot: the read stops, its partial file goes unless a later
    // attempt can go on from it, and no report follows.
    void cancel() override;
    bool isActive() const override { return m_downloader != nullptr; }
    quint64 recordId() const override { return m_recordId; }

    // The loaded Downloader, or nullptr while the slot is free.
    Downloader *downloader() const { return m_downloader; }

private:
    void onProgress(qint64 cur, qint64 max);
    void onComplete(qint64 cur, qint64 max);
    // reason: the system's words for the failure, else the slot's miss code.
    void onError(const QString &reason);
    void onSizeLimit(qint64 received);
    void onRetryLater(qint64 waitMs, int httpStatus, const QString &httpPhrase);
    bool storeSlotBody(PartFile &part);
    // keepPart: a partial file that can be continued stays (a stop); without
    // it, nothing of the body does (a body over the size limit).
    void unload(bool keepPart = true);
    void end(TransferNotice notice, const TransferResult &result);

    DownloadList &m_list;
    QNetworkAccessManager &m_nam;
    Clock &m_clock;
    NameReservations &m_reservations;
    Downloader *m_downloader = nullptr;
    quint64 m_recordId = 0;
    SameNamePolicy m_policy = SameNamePolicy::Rename;
    double m_maxFileSizeMB = 10;
    QString m_reserved;     // the planned target this slot holds
    bool m_stored = false;  // the body reached storeBody
    StoreOutcome m_outcome; // what storeBody made of it
};

} // namespace lumen
