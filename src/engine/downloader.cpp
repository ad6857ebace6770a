#include "engine/downloader.h"

#include "engine/clock.h"
#include "engine/part_file.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <array>

namespace lumen
{

namespace
{

constexpr int kWatchdogIntervalMs = 1000;
constexpr qint64 kStallLimitMs = 300 * 1000;
// Progress is reported at most this often; the last figures always go out.
constexpr qint64 kProgressIntervalMs = 200;
// Qt stops reading the socket when this much is waiting unread, so a slow
// disk holds the sender back instead of filling memory.
constexpr qint64 kReplyBufferBytes = 512 * 1024;
constexpr qint64 kReadChunkBytes = 64 * 1024;

const QString kMissTimedOut = QStringLiteral("超时");
const QString kMissCannotDownload = QStringLiteral("无法下载");
const QString kMissCannotWrite = QStringLiteral("无法写入");

// The two bytes (a 16-bit 1) that hold a final name while the body streams
// into the .part file beside it.
const QByteArray kPlaceholder("\x01\x00", 2);

QString cleanUrl(const QString &url)
{
    QString s = url;
    s.replace(QStringLiteral("&amp;"), QStringLiteral("&"), Qt::CaseInsensitive);
    return s.trimmed();
}

bool isFetchable(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace

Downloader::Downloader(QNetworkAccessManager &nam, Clock &clock, QObject *parent)
    : QObject(parent), m_nam(nam), m_clock(clock)
{
    m_watchdog.setInterval(kWatchdogIntervalMs);
    connect(&m_watchdog, &QTimer::timeout, this, &Downloader::watchdogTick);
    m_progressTimer.setSingleShot(true);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Streaming || m_phase == Phase::Fallback)
            reportProgress(true);
    });
}

Downloader::~Downloader()
{
    if (m_phase == Phase::Streaming || m_phase == Phase::Fallback || m_phase == Phase::ErrorPending)
        cancelAsyncRead();
}

QNetworkAccessManager &Downloader::manager()
{
    // This method of downloading goes out the way the machine does, never
    // through the proxy the user may have set for the single-connection
    // method. Cookies stay shared so that a signed-in session carries over.
    const QNetworkProxy::ProxyType type = m_nam.proxy().type();
    if (type == QNetworkProxy::DefaultProxy || type == QNetworkProxy::NoProxy)
        return m_nam;
    if (!m_directNam) {
        m_directNam = std::make_unique<QNetworkAccessManager>();
        m_directNam->setProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
        if (QNetworkCookieJar *jar = m_nam.cookieJar()) {
            QObject *owner = jar->parent();
            m_directNam->setCookieJar(jar); // takes the jar as its child...
            jar->setParent(owner);          // ...which it must not: m_nam owns it
        }
    }
    return *m_directNam;
}

void Downloader::beginDownload(const QString &url, const QString &saveFile,
                               const QString & /*referer: never sent by this method*/)
{
    if (m_phase != Phase::Idle && m_phase != Phase::Finished)
        cancelAsyncRead();

    m_saveFile = saveFile;
    m_sourceUrl = cleanUrl(url);
    m_received = 0;
    m_announced = -1;
    m_lastBytes = 0;
    m_seenBytes = 0;
    m_reportedBytes = -1;
    m_watchMs = 0;

    const QUrl target(m_sourceUrl);
    if (!isFetchable(target)) {
        failLater(kMissCannotDownload);
        return;
    }

    reservePlaceholder();
    m_part = std::make_unique<PartFile>(m_saveFile);
    if (!m_part->open()) {
        failLater(kMissCannotWrite);
        return;
    }

    m_watchMs = m_clock.monotonicMs();
    m_watchdog.start();
    m_phase = Phase::Streaming;
    startRequest();
}

void Downloader::reservePlaceholder()
{
    m_placeholderOurs = false;
    // A file already standing there (the overwrite policy chose its name)
    // holds the name by itself and keeps its content until the new body is
    // complete.
    QFile f(m_saveFile);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return;
    m_placeholderOurs = f.write(kPlaceholder) == kPlaceholder.size();
    f.close();
    if (!m_placeholderOurs)
        f.remove();
}

void Downloader::dropPlaceholder()
{
    if (!m_placeholderOurs)
        return;
    m_placeholderOurs = false;
    QFile f(m_saveFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const bool stillOurs = f.size() == kPlaceholder.size() && f.readAll() == kPlaceholder;
    f.close();
    if (stillOurs)
        f.remove();
}

void Downloader::startRequest()
{
    QNetworkRequest request{QUrl(m_sourceUrl)};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    // The stored bytes are the bytes served, and the announced size counts them.
    request.setRawHeader("Accept-Encoding", "identity");

    QNetworkReply *reply = manager().get(request);
    reply->setReadBufferSize(kReplyBufferBytes);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Downloader::onFinished);
}

void Downloader::onMetaData()
{
    if (!m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400)
        return; // a redirect being followed: its headers are not the file's
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    m_announced = length.isValid() ? length.toLongLong() : -1;
    reportProgress(true);
}

void Downloader::onReadyRead()
{
    QPointer<Downloader> self(this);
    if (!drainReply()) {
        if (self)
            fail(kMissCannotWrite);
        return;
    }
    if (self)
        reportProgress(false);
}

bool Downloader::drainReply()
{
    if (!m_reply || !m_part)
        return true;
    std::array<char, kReadChunkBytes> buffer;
    for (;;) {
        const qint64 n = m_reply->read(buffer.data(), buffer.size());
        if (n <= 0)
            break;
        if (!m_part->write(buffer.data(), n))
            return false;
        m_received += n;
    }
    // The watchdog looks at bytes arriving, announced size or not: a body
    // that keeps coming is not stalled.
    m_lastBytes = m_received;
    return true;
}

void Downloader::reportProgress(bool force)
{
    // Without an announced size there is nothing to show a share of.
    if (m_announced < 1 || m_received == m_reportedBytes)
        return;
    if (!force && m_sinceReport.isValid() && m_sinceReport.elapsed() < kProgressIntervalMs) {
        // Held back, but not lost: a transfer that pauses now still shows
        // how far it got.
        if (!m_progressTimer.isActive())
            m_progressTimer.start(kProgressIntervalMs - m_sinceReport.elapsed());
        return;
    }
    m_progressTimer.stop();
    m_sinceReport.start();
    m_reportedBytes = m_received;
    emit downloadProgress(m_received, m_announced, m_saveFile);
}

void Downloader::onFinished()
{
    if (!m_reply)
        return;
    QPointer<Downloader> self(this);
    if (!drainReply()) {
        if (self)
            fail(kMissCannotWrite);
        return;
    }
    if (!self || !m_reply)
        return;
    // An HTTP error status still comes with the server's page, which is
    // stored like any body (it is how a login page reaches the user); a
    // connection that failed or broke off is another matter.
    const int error = m_reply->error();
    const bool statusError =
        (error >= QNetworkReply::ContentAccessDenied &&
         error <= QNetworkReply::UnknownContentError) ||
        (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    const bool transportFailed = error != QNetworkReply::NoError && !statusError;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();

    if (m_phase == Phase::Streaming)
        endStreaming(transportFailed);
    else if (m_phase == Phase::Fallback)
        endFallback(transportFailed);
}

void Downloader::endStreaming(bool transportFailed)
{
    if (m_announced < 1 || m_received < 1) {
        // Nothing sized arrived: fetch the whole thing once more, in one piece.
        m_phase = Phase::Fallback;
        m_received = 0;
        m_announced = -1;
        m_reportedBytes = -1;
        m_part = std::make_unique<PartFile>(m_saveFile); // starts the .part file afresh
        if (!m_part->open()) {
            fail(kMissCannotWrite);
            return;
        }
        startRequest();
        return;
    }
    if (transportFailed || m_received != m_announced) {
        fail(kMissCannotDownload);
        return;
    }
    QPointer<Downloader> self(this);
    reportProgress(true);
    if (!self || m_phase != Phase::Streaming)
        return; // the progress handler stopped us (a file over the size limit)
    commitAndComplete(m_received, m_announced);
}

void Downloader::endFallback(bool transportFailed)
{
    if (transportFailed || m_received < 2 || (m_announced >= 0 && m_received != m_announced)) {
        fail(kMissCannotDownload);
        return;
    }
    QPointer<Downloader> self(this);
    reportProgress(true);
    if (!self || m_phase != Phase::Fallback)
        return;
    commitAndComplete(m_received, m_received);
}

void Downloader::commitAndComplete(qint64 curBytes, qint64 maxBytes)
{
    if (!m_part->commit()) {
        fail(kMissCannotWrite);
        return;
    }
    // The committed file now stands where the placeholder stood.
    m_placeholderOurs = false;
    m_part.reset();
    m_watchdog.stop();
    m_progressTimer.stop();
    m_phase = Phase::Finished;
    emit downloadComplete(curBytes, maxBytes, m_saveFile);
}

void Downloader::watchdogTick()
{
    if (m_phase != Phase::Streaming && m_phase != Phase::Fallback)
        return;
    const qint64 now = m_clock.monotonicMs();
    if (m_seenBytes != m_lastBytes) {
        m_seenBytes = m_lastBytes;
        m_watchMs = now;
        return;
    }
    if (now - m_watchMs >= kStallLimitMs)
        fail(kMissTimedOut, /*keepPart=*/true);
}

void Downloader::stopTransfer()
{
    m_watchdog.stop();
    m_progressTimer.stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Downloader::fail(const QString &missCode, bool keepPart)
{
    stopTransfer();
    if (m_part) {
        if (!keepPart)
            m_part->discard();
        m_part.reset();
    }
    dropPlaceholder();
    m_phase = Phase::Finished;
    emit downloadError(missCode, m_saveFile);
}

void Downloader::failLater(const QString &missCode)
{
    // Reported from the event loop, never from inside beginDownload, so the
    // caller has finished setting the slot up before it hears of the failure.
    if (m_part) {
        m_part->discard();
        m_part.reset();
    }
    dropPlaceholder();
    m_phase = Phase::ErrorPending;
    m_pendingError = missCode;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_phase != Phase::ErrorPending)
                return;
            m_phase = Phase::Finished;
            emit downloadError(m_pendingError, m_saveFile);
        },
        Qt::QueuedConnection);
}

void Downloader::cancelAsyncRead()
{
    stopTransfer();
    if (m_part) {
        m_part->discard();
        m_part.reset();
    }
    dropPlaceholder();
    m_phase = Phase::Finished;
}

} // namespace lumen
