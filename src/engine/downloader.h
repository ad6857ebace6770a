#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumen
{

class Clock;
class PartFile;

// One download slot of the multi-connection method. It fetches one URL with
// no Referer and without the proxy the single-connection method may use,
// streams the body into a partial file of its own beside saveFile and moves
// it onto its final name only when the whole body is on disk. A watchdog ends
// a transfer that shows no progress for 300 seconds. Nothing is written under
// saveFile before that: the name is held by the owner's name reservations,
// never by a file.
//
// A body that ends short of its announced size, or breaks off after some
// bytes arrived, is reported by downloadComplete with the figures reached and
// nothing stored, so that the owner can show how far it got. A body of
// unannounced size that ended cleanly is complete; only a read that gave
// nothing usable is fetched a second time in one piece.
//
// A partial file an earlier attempt on the same URL left beside saveFile is
// taken up again: the request asks for the rest of the same version only
// (Range with If-Range), a 206 that joins exactly is appended, and any other
// answer starts the file over, so the result is never a splice of two
// versions. A transfer that breaks off or is cancelled leaves a partial file
// that can be continued that way, and deletes any other.
//
// A 429 or 503 answer is no body to store: retryLater tells how long the
// server asked us to wait, and nothing is kept of it.
//
// downloadComplete, downloadError, sizeLimitExceeded and retryLater are each
// raised at most once per beginDownload, only one of them, and never from inside
// beginDownload itself, so a handler may delete the slot (deleteLater) right
// away. Miss codes: "超时" (no progress for 300 s), "无法下载" (nothing usable
// could be fetched, the body came compressed, or the URL is not http/https),
// "无法写入" (the file could not be written).
class Downloader : public QObject
{
    Q_OBJECT
public:
    Downloader(QNetworkAccessManager &nam, Clock &clock, QObject *parent = nullptr);
    ~Downloader() override;

    // BeginDownload. The referer is accepted and deliberately not sent.
    void beginDownload(const QString &url, const QString &saveFile, const QString &referer);
    // CancelAsyncRead: stops the transfer; no signal follows. A partial file
    // that can be continued stays.
    void cancelAsyncRead();
    // Stops the transfer and deletes its partial file whatever it holds (a
    // body that is not wanted at all); no signal follows.
    void abandon();

    // Stores a complete body in place of the plain move onto saveFile: the
    // owner decides the final name (type and same-name policy) and moves or
    // drops the partial file. False when the body could not be stored.
    using Committer = std::function<bool(PartFile &part)>;
    void setCommitter(Committer committer) { m_committer = std::move(committer); }
    // Bodies of unannounced size are stopped and dropped once they pass this
    // many bytes (sizeLimitExceeded); 0 or less: no limit.
    void setSizeLimit(qint64 bytes) { m_sizeLimit = bytes; }

    QString saveFilePath() const { return m_saveFile; }
    // Why the last transfer failed, in the words of Qt or the system
    // ("Connection refused", "No space left on device"); empty when it did
    // not, or when the owner's committer refused the body.
    QString failureReason() const { return m_reason; }
    // Qt's error text when the body broke off; empty for a clean end.
    QString transportError() const { return m_transportError; }
    // The status line of the answer the body came with.
    int httpStatus() const { return m_httpStatus; }
    QString httpPhrase() const { return m_httpPhrase; }
    // The URL given to beginDownload, "&amp;" replaced by "&" and trimmed.
    QString sourceUrl() const { return m_sourceUrl; }

public slots:
    // The stall watchdog, every 1000 ms while a transfer runs.
    void watchdogTick();

signals:
    void downloadProgress(qint64 curBytes, qint64 maxBytes, const QString &saveFile);
    void downloadComplete(qint64 curBytes, qint64 maxBytes, const QString &saveFile);
    void downloadError(const QString &missCode, const QString &saveFile);
    // A body of unannounced size outgrew the size limit; nothing was kept.
    void sizeLimitExceeded(qint64 curBytes, const QString &saveFile);
    // The server answered 429 or 503: ask again after waitMs.
    void retryLater(qint64 waitMs, int httpStatus, const QString &httpPhrase);

private:
    enum class Phase { Idle, Streaming, Fallback, ErrorPending, Finished };

    QNetworkAccessManager &manager();
    void startRequest();
    void followRedirect();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    enum class Drain { Ok, WriteFailed, OverLimit };
    Drain drainReply(bool whole = false);
    bool handleDrain(Drain result);
    void reportProgress(bool force);
    bool flushProgress();
    void endRead(bool transportFailed);
    void commitAndComplete(qint64 curBytes, qint64 maxBytes);
    void completeUnstored(qint64 curBytes, qint64 maxBytes);
    void fail(const QString &missCode, bool keepPart = false);
    void failLater(const QString &missCode);
    void stopTransfer();
    void dropReply();
    // What the answer to a resumed request means; false when the transfer
    // asked again or ended.
    bool takeRangeAnswer();

    QNetworkAccessManager &m_nam;
    std::unique_ptr<QNetworkAccessManager> m_directNam; // only when m_nam carries a proxy
    Clock &m_clock;
    QTimer m_watchdog;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<PartFile> m_part;
    Phase m_phase = Phase::Idle;

    QString m_saveFile;
    QString m_sourceUrl;
    QString m_ownerUrl;         // the URL as given, trimmed: whose partial file it is
    QUrl m_requestUrl;          // the address asked for now: the source or where it led
    int m_redirects = 0;        // hops followed so far for this body
    bool m_redirecting = false; // the current answer only points elsewhere
    Committer m_committer;
    qint64 m_sizeLimit = 0;
    QByteArray m_buffer;

    qint64 m_watchMs = 0;   // start, then the last time the watchdog saw bytes move
    qint64 m_lastBytes = 0; // bytes received at the latest progress report
    qint64 m_seenBytes = 0; // m_lastBytes as the watchdog last saw it
    qint64 m_received = 0;
    qint64 m_resumeFrom = 0; // bytes the partial file held when the request went out
    qint64 m_announced = -1;
    qint64 m_reportedBytes = -1;
    QElapsedTimer m_sinceReport;
    QTimer m_progressTimer; // sends figures held back by the throttle
    QString m_pendingError;
    QString m_reason;
    QString m_transportError;
    int m_httpStatus = 0;
    QString m_httpPhrase;
};

} // namespace lumen
