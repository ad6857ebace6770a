#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace lumen
{

class Clock;
class PartFile;

// One download slot of the multi-connection method. It fetches one URL with
// no Referer and without the proxy the single-connection method may use,
// streams the body into "<saveFile>.part" and moves it onto saveFile only when
// the whole body is on disk. A watchdog ends a transfer that shows no progress
// for 300 seconds.
//
// While the slot runs, a two-byte placeholder stands under saveFile so that a
// second slot started in the same tick does not pick the same numbered name.
// The placeholder is removed again (if it is still ours) when the download is
// cancelled, fails, stalls or the slot is deleted; only a completed download
// leaves a file under saveFile.
//
// downloadComplete and downloadError are each raised at most once per
// beginDownload, never both, and never from inside beginDownload itself, so a
// handler may delete the slot (deleteLater) right away. Miss codes:
// "超时" (no progress for 300 s), "无法下载" (nothing usable could be
// fetched, or the URL is not http/https), "无法写入" (the file could not be
// written).
class Downloader : public QObject
{
    Q_OBJECT
public:
    Downloader(QNetworkAccessManager &nam, Clock &clock, QObject *parent = nullptr);
    ~Downloader() override;

    // BeginDownload. The referer is accepted and deliberately not sent.
    void beginDownload(const QString &url, const QString &saveFile, const QString &referer);
    // CancelAsyncRead: stops the transfer; no signal follows.
    void cancelAsyncRead();

    QString saveFilePath() const { return m_saveFile; }
    // The URL given to beginDownload, "&amp;" replaced by "&" and trimmed.
    QString sourceUrl() const { return m_sourceUrl; }

public slots:
    // Timer1, every 1000 ms while a transfer runs: the stall watchdog.
    void watchdogTick();

signals:
    void downloadProgress(qint64 curBytes, qint64 maxBytes, const QString &saveFile);
    void downloadComplete(qint64 curBytes, qint64 maxBytes, const QString &saveFile);
    void downloadError(const QString &missCode, const QString &saveFile);

private:
    enum class Phase { Idle, Streaming, Fallback, ErrorPending, Finished };

    QNetworkAccessManager &manager();
    void startRequest();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    bool drainReply();
    void reportProgress(bool force);
    void endStreaming(bool transportFailed);
    void endFallback(bool transportFailed);
    void commitAndComplete(qint64 curBytes, qint64 maxBytes);
    void fail(const QString &missCode, bool keepPart = false);
    void failLater(const QString &missCode);
    void stopTransfer();
    void reservePlaceholder();
    void dropPlaceholder();

    QNetworkAccessManager &m_nam;
    std::unique_ptr<QNetworkAccessManager> m_directNam; // only when m_nam carries a proxy
    Clock &m_clock;
    QTimer m_watchdog;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<PartFile> m_part;
    Phase m_phase = Phase::Idle;

    QString m_saveFile;
    QString m_sourceUrl;
    bool m_placeholderOurs = false;

    qint64 m_watchMs = 0;   // start, then the last time the watchdog saw bytes move
    qint64 m_lastBytes = 0; // bytes received at the latest progress report
    qint64 m_seenBytes = 0; // m_lastBytes as the watchdog last saw it
    qint64 m_received = 0;
    qint64 m_announced = -1;
    qint64 m_reportedBytes = -1;
    QElapsedTimer m_sinceReport;
    QTimer m_progressTimer; // sends figures held back by the throttle
    QString m_pendingError;
};

} // namespace lumen
