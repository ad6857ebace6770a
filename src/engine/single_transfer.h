#pragma once

#include "engine/download_item.h"
#include "engine/naming.h"
#include "engine/transfer.h"
#include "engine/transfer_limits.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumen
{

class Clock;
class DownloadList;
class PartFile;

// Method one: one record at a time over a single connection (Inet下载文件).
// A small state machine driven by the reply's signals: it sends the Referer,
// learns size and content type from the response headers, refuses files
// above the size limit, plans the target by the same-name policy and holds
// it in the name reservations, streams the body into its own partial file
// with live progress, and moves it onto its final name (decided once the
// body's type is known) only when the whole body arrived without a transport
// error. The proxy, if any, is the network manager's. The record is always
// found again by its id. Every end, whatever the outcome, is announced,
// except a server's request to come back later (429, 503), which puts the
// record back in the queue quietly.
//
// A partial file an earlier attempt on the record left under its target is
// taken up again: the request asks for the rest of the same version (Range
// with If-Range) and appends a 206 that joins exactly; any other answer
// starts the file over. A body that breaks off or is stopped leaves a
// partial file that can be continued that way, and deletes any other.
class SingleTransfer : public Transfer
{
    Q_OBJECT
public:
    // Longest wait for the response headers, in seconds.
    static constexpr double HeaderWaitSeconds = HeaderWaitMs / 1000.0;
    // A body that does not grow for longer than this fails, in seconds.
    static constexpr double StallSeconds = StallLimitMs / 1000.0;
    // Bytes taken from the network per read: big enough to keep the CPU cost
    // per byte low, small enough that memory stays flat whatever the size.
    static constexpr qint64 ReadChunkBytes = 1024 * 1024;
    // The record's progress texts are rewritten at most this often while the
    // body streams; the final figures are always written.
    static constexpr qint64 ProgressIntervalMs = 100;

    using ConnectionState = lumen::ConnectionState;

    // Creates the record's folder; answers it without trailing separator, or
    // empty (and why in *error) when there is no folder to store in.
    using FolderMaker = std::function<QString(const QString &folder, QString *error)>;

    SingleTransfer(DownloadList &list, QNetworkAccessManager &nam, Clock &clock,
                   NameReservations &reservations, QObject *parent = nullptr);
    ~SingleTransfer() override;

    void setFolderMaker(FolderMaker maker) { m_makeFolder = std::move(maker); }
    // The proxy the user set names no usable address and port: every start
    // fails with a record text that says so, and nothing is sent.
    void setProxyUnusable(bool unusable) { m_proxyUnusable = unusable; }

    // Starts the download of the record (request.path is not used: the
    // target is planned once the headers gave the type). False (nothing
    // done) while another download runs. The end is always announced by
    // ended(), possibly before start() returns (a URL that is not http or
    // https fails at once, without any request).
    bool start(const TransferRequest &request) override;

    bool isActive() const override { return m_phase != Phase::Idle; }
    // StillExecuting: the request is out and its response headers are awaited.
    bool isExecuting() const { return m_phase == Phase::AwaitingHeaders; }
    // The body streams into its partial file.
    bool isStreaming() const { return m_phase == Phase::Streaming; }
    quint64 recordId() const override { return m_recordId; }

    // A stop request. While the body streams, the partial file is deleted and
    // the record shows "下载取消"; while the headers are awaited the request is
    // dropped and the record fails as one that got no headers.
    void cancel() override;

public slots:
    // Every second while a download runs: ends the header wait after
    // HeaderWaitSeconds and a body that has not grown for StallSeconds.
    void watchdogTick();

signals:
    // responseCode and responseInfo tell the error of an Error state (the
    // information carries no user name or password of the URL).
    void connectionStateChanged(lumen::ConnectionState state, int responseCode,
                                const QString &responseInfo);

private:
    enum class Phase { Idle, AwaitingHeaders, Streaming };

    void onMetaDataChanged();
    void onReadyRead();
    void onReplyFinished();
    bool takeHeaders();
    bool drain(bool whole = false);
    void writeProgress();
    void complete();
    // What becomes of the partial file when a transfer fails: deleted, left
    // for a later attempt when one can go on from it, or kept as it is.
    enum class PartEnd { Discard, Leave, Keep };
    void sendRequest();
    // The answer to a request for the rest; false when the transfer asked
    // again or ended.
    bool takeRangeAnswer();
    bool restartPart();
    void fail(const QString &reason, PercentNote note = PercentNote::None,
              PartEnd partEnd = PartEnd::Discard);
    void endAs(DownloadState state, PercentNote note = PercentNote::None);
    // Ends the transfer and tells its result.
    void finish(const TransferResult &result, TransferNotice notice = TransferNotice::Announced);
    void dropReply();
    void setConnectionState(ConnectionState state);

    DownloadList &m_list;
    QNetworkAccessManager &m_nam;
    Clock &m_clock;
    NameReservations &m_reservations;
    FolderMaker m_makeFolder;
    QTimer m_watchdog;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<PartFile> m_part;
    QByteArray m_buffer;
    Phase m_phase = Phase::Idle;
    bool m_proxyUnusable = false;

    quint64 m_recordId = 0;
    SameNamePolicy m_policy = SameNamePolicy::Rename;
    double m_maxFileSizeMB = 10;
    QString m_reserved; // the target this transfer holds
    QString m_url;      // as requested
    QByteArray m_referer;
    qint64 m_resumeFrom = 0;       // bytes the partial file held when the request went out
    qint64 m_startMs = 0;          // monotonic
    qint64 m_lastGrowthMs = 0;     // monotonic
    QElapsedTimer m_sinceProgress; // since the progress texts were last written
    QTimer m_progressTimer;        // writes figures held back by the throttle
    qint64 m_size = 0;             // announced length, 0 when none
    qint64 m_lastLength = 0;
    qint64 m_shownLength = -1; // the received count the record shows
    int m_httpStatus = 0;      // the status line of the answer, for a stored page
    QString m_httpPhrase;
};

} // namespace lumen
