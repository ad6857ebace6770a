#include "engine/downloader.h"

#include "engine/clock.h"
#include "engine/part_file.h"
#include "engine/reply_checks.h"
#include "engine/resume_state.h"
#include "engine/retry_after.h"
#include "engine/transfer_limits.h"
#include "engine/transfer_result.h"
#include "engine/url_policy.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace lumen
{

namespace
{

// Progress is reported at most this often; the last figures always go out.
constexpr qint64 ProgressIntervalMs = 200;
// Qt stops reading the socket when this much is waiting unread, so a slow
// disk holds the sender back instead of filling memory.
constexpr qint64 ReplyBufferBytes = 512 * 1024;
constexpr qint64 ReadChunkBytes = 256 * 1024;

// As many hops as a browser follows before it gives up on a loop.
constexpr int MaxRedirects = 20;

const QString MissTimedOutText = QStringLiteral("超时");
const QString CannotDownloadText = QStringLiteral("无法下载");
const QString CannotWriteText = QStringLiteral("无法写入");

QString cleanUrl(const QString &url)
{
    QString s = url;
    s.replace(QStringLiteral("&amp;"), QStringLiteral("&"), Qt::CaseInsensitive);
    return s.trimmed();
}

} // namespace

Downloader::Downloader(QNetworkAccessManager &nam, Clock &clock, QObject *parent)
    : QObject(parent), m_nam(nam), m_clock(clock)
{
    m_watchdog.setInterval(WatchdogIntervalMs);
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
    m_ownerUrl = url.trimmed();
    m_received = 0;
    m_announced = -1;
    m_lastBytes = 0;
    m_seenBytes = 0;
    m_reportedBytes = -1;
    m_watchMs = 0;
    m_reason.clear();
    m_transportError.clear();
    m_httpStatus = 0;
    m_httpPhrase.clear();

    if (!isFetchableUrl(QUrl(m_sourceUrl))) {
        m_reason = QStringLiteral("not an http or https address");
        failLater(CannotDownloadText);
        return;
    }

    m_resumeFrom = 0;
    m_part = std::make_unique<PartFile>(m_saveFile);
    if (m_part->adopt(m_ownerUrl)) {
        // Our own from an earlier attempt: go on after its last byte, or
        // start it over when nothing can be joined to it.
        if (m_part->canResume())
            m_resumeFrom = m_part->written();
        else if (!m_part->restart()) {
            m_reason =
                writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString());
            failLater(CannotWriteText);
            return;
        }
    } else if (!m_part->open()) {
        m_reason = writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString());
        failLater(CannotWriteText);
        return;
    }
    m_received = m_resumeFrom;

    m_watchMs = m_clock.monotonicMs();
    m_watchdog.start();
    m_phase = Phase::Streaming;
    m_requestUrl = QUrl(m_sourceUrl);
    m_redirects = 0;
    startRequest();
}

void Downloader::startRequest()
{
    QNetworkRequest request{m_requestUrl};
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // Redirects are followed here, each hop a reply of its own: a reply that
    // followed one itself could come with the first answer's headers merged
    // into the last one's ("Content-Length: 380, 3168"), and a whole document
    // was then thrown away as cut short.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    m_redirecting = false;
    // The stored bytes are the bytes served, and the announced size counts them.
    request.setRawHeader("Accept-Encoding", "identity");
    if (m_resumeFrom > 0 && m_part)
        askForRest(request, m_resumeFrom, m_part->resumeMeta());

    QNetworkReply *reply = manager().get(request);
    reply->setReadBufferSize(ReplyBufferBytes);
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
    if (status >= 300 && status < 400) {
        // A redirect to follow: neither its headers nor its body are the file's.
        m_redirecting =
            m_reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl().isValid();
        return;
    }
    m_httpStatus = status;
    m_httpPhrase = m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (const std::optional<qint64> wait =
            retryWaitFor(*m_reply, QDateTime::currentDateTimeUtc())) {
        // Not an answer to keep: the body is the server's excuse.
        stopTransfer();
        if (m_part) {
            m_part->leave();
            m_part.reset();
        }
        m_phase = Phase::Finished;
        emit retryLater(*wait, m_httpStatus, m_httpPhrase);
        return;
    }
    if (!hasIdentityEncoding(*m_reply)) {
        // A compressed body stored as it comes would be a file of the wrong
        // type under the right name.
        m_reason = QStringLiteral("the body came compressed");
        fail(CannotDownloadText);
        return;
    }
    if (m_resumeFrom > 0) {
        if (!takeRangeAnswer())
            return;
    } else {
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        m_announced = length.isValid() ? length.toLongLong() : -1;
        // The version these bytes are of, beside them before the first one
        // lands: a program killed mid-body leaves what the next run needs.
        if (status == 200 && m_part)
            m_part->setResumeMeta(resumeMetaFor(*m_reply, m_ownerUrl, m_announced));
    }
    reportProgress(true);
}

bool Downloader::takeRangeAnswer()
{
    switch (judgeRangeAnswer(*m_reply, m_resumeFrom, m_part->resumeMeta())) {
    case RangeAnswer::Append:
        m_announced = m_part->resumeMeta().length;
        return true;
    case RangeAnswer::Whole: {
        // The document changed, or the server sends it whole: this body
        // replaces what the file held.
        m_resumeFrom = 0;
        m_received = 0;
        if (!m_part->restart()) {
            m_reason =
                writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString());
            fail(CannotWriteText);
            return false;
        }
        const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
        m_announced = length.isValid() ? length.toLongLong() : -1;
        if (m_httpStatus == 200)
            m_part->setResumeMeta(resumeMetaFor(*m_reply, m_ownerUrl, m_announced));
        return true;
    }
    case RangeAnswer::Refetch:
        break;
    }
    // A range that does not join what is here: ask for the whole document.
    dropReply();
    m_resumeFrom = 0;
    m_received = 0;
    m_announced = -1;
    if (!m_part->restart()) {
        m_reason = writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString());
        fail(CannotWriteText);
        return false;
    }
    startRequest();
    return false;
}

void Downloader::onReadyRead()
{
    if (m_redirecting) {
        if (m_reply)
            m_reply->skip(m_reply->bytesAvailable());
        return;
    }
    QPointer<Downloader> self(this);
    if (!handleDrain(drainReply()))
        return;
    if (self)
        reportProgress(false);
}

void Downloader::followRedirect()
{
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->deleteLater();
    m_redirecting = false;
    const QUrl from = reply->url();
    const QUrl target =
        from.resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
    if (++m_redirects > MaxRedirects) {
        m_reason = QStringLiteral("more than %1 redirects").arg(MaxRedirects);
        fail(CannotDownloadText);
        return;
    }
    if (!isFetchableUrl(target)) {
        m_reason = QStringLiteral("redirected to an address that is not http or https");
        fail(CannotDownloadText);
        return;
    }
    // Never from an encrypted address to a plain one.
    if (from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0) {
        m_reason = QStringLiteral("redirected from https to plain http");
        fail(CannotDownloadText);
        return;
    }
    m_requestUrl = target;
    startRequest();
}

// False when the transfer ended (or the slot went away) on the way.
bool Downloader::handleDrain(Drain result)
{
    switch (result) {
    case Drain::Ok:
        return true;
    case Drain::WriteFailed:
        m_reason =
            m_part ? writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString())
                   : QString();
        fail(CannotWriteText);
        return false;
    case Drain::OverLimit: {
        const qint64 received = m_received;
        stopTransfer();
        if (m_part) {
            m_part->discard();
            m_part.reset();
        }
        m_phase = Phase::Finished;
        emit sizeLimitExceeded(received, m_saveFile);
        return false;
    }
    }
    return false;
}

Downloader::Drain Downloader::drainReply(bool whole)
{
    if (!m_reply || !m_part)
        return Drain::Ok;
    if (m_buffer.size() < ReadChunkBytes)
        m_buffer.resize(ReadChunkBytes);
    for (;;) {
        // A disk that falls behind holds the body back in the reply's
        // bounded buffer, and so on the socket; the rest is read once the
        // file has room. A finished reply is read whole: nothing more comes.
        if (!whole && !m_part->hasRoom()) {
            QPointer<Downloader> self(this);
            m_part->whenRoom(this, [self] {
                if (self && self->m_reply)
                    self->onReadyRead();
            });
            break;
        }
        const qint64 n = m_reply->read(m_buffer.data(), ReadChunkBytes);
        if (n <= 0)
            break;
        if (!m_part->write(m_buffer.constData(), n))
            return Drain::WriteFailed;
        m_received += n;
    }
    // The watchdog looks at bytes arriving, announced size or not: a body
    // that keeps coming is not stalled.
    m_lastBytes = m_received;
    // Without an announced size the limit is held to the bytes themselves:
    // an endless body must not fill the disk.
    if (m_sizeLimit > 0 && m_announced < 1 && m_received > m_sizeLimit)
        return Drain::OverLimit;
    return Drain::Ok;
}

void Downloader::reportProgress(bool force)
{
    // Without an announced size there is nothing to show a share of.
    if (m_announced < 1 || m_received == m_reportedBytes)
        return;
    if (!force && m_sinceReport.isValid() && m_sinceReport.elapsed() < ProgressIntervalMs) {
        // Held back, but not lost: a transfer that pauses now still shows
        // how far it got.
        if (!m_progressTimer.isActive())
            m_progressTimer.start(ProgressIntervalMs - m_sinceReport.elapsed());
        return;
    }
    m_progressTimer.stop();
    m_sinceReport.start();
    m_reportedBytes = m_received;
    emit downloadProgress(m_received, m_announced, m_saveFile);
}

// Sends figures the throttle held back, so that an end reported next finds
// the record showing how far the body got. False when the owner stopped
// the slot from its progress handler.
bool Downloader::flushProgress()
{
    const Phase phase = m_phase;
    QPointer<Downloader> self(this);
    reportProgress(true);
    return self && m_phase == phase;
}

void Downloader::onFinished()
{
    if (!m_reply)
        return;
    if (m_redirecting) {
        followRedirect();
        return;
    }
    QPointer<Downloader> self(this);
    if (!handleDrain(drainReply(true)) || !self || !m_reply)
        return;
    const bool transportFailed = isTransportFailure(*m_reply);
    m_transportError = transportFailed
                           ? redactUserInfo(m_reply->errorString(), m_reply->request().url())
                           : QString();
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();
    endRead(transportFailed);
}

void Downloader::endRead(bool transportFailed)
{
    const bool fallback = m_phase == Phase::Fallback;
    const bool sized = m_announced >= 1;
    const bool complete = !transportFailed && (sized ? m_received == m_announced : true);
    if (complete && m_received >= 2) {
        if (!flushProgress())
            return;
        commitAndComplete(m_received, sized ? m_announced : m_received);
        return;
    }
    if (m_received >= 1 && (sized || transportFailed) && !complete) {
        // The body broke off or ended short: the owner hears how far it got,
        // and nothing is stored.
        if (!flushProgress())
            return;
        completeUnstored(m_received, sized ? m_announced : 0);
        return;
    }
    if (fallback) {
        m_reason = m_transportError.isEmpty()
                       ? QStringLiteral("the answer carried %1 of at least 2 bytes").arg(m_received)
                       : m_transportError;
        fail(CannotDownloadText);
        return;
    }
    // Nothing usable came: fetch the whole thing once more, in one piece.
    m_phase = Phase::Fallback;
    m_received = 0;
    m_announced = -1;
    m_reportedBytes = -1;
    if (m_part)
        m_part->discard();
    m_part = std::make_unique<PartFile>(m_saveFile);
    if (!m_part->open()) {
        m_reason = writeFailureReason(QFileInfo(m_saveFile).absolutePath(), m_part->errorString());
        fail(CannotWriteText);
        return;
    }
    m_requestUrl = QUrl(m_sourceUrl);
    m_redirects = 0;
    startRequest();
}

void Downloader::commitAndComplete(qint64 curBytes, qint64 maxBytes)
{
    const bool stored = m_committer ? m_committer(*m_part) : m_part->commit();
    if (!stored) {
        // A committer of the owner's says why itself.
        m_reason = m_committer || !m_part ? QString()
                                          : writeFailureReason(QFileInfo(m_saveFile).absolutePath(),
                                                               m_part->errorString());
        fail(CannotWriteText);
        return;
    }
    m_part.reset();
    m_watchdog.stop();
    m_progressTimer.stop();
    m_phase = Phase::Finished;
    emit downloadComplete(curBytes, maxBytes, m_saveFile);
}

void Downloader::completeUnstored(qint64 curBytes, qint64 maxBytes)
{
    stopTransfer();
    if (m_part) {
        // What came stays for the next attempt when it can go on from it.
        m_part->leave();
        m_part.reset();
    }
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
    if (now - m_watchMs >= StallLimitMs) {
        if (!flushProgress())
            return;
        m_reason = QStringLiteral("no progress for %1 s").arg(StallLimitMs / 1000);
        fail(MissTimedOutText, /*keepPart=*/true);
    }
}

void Downloader::stopTransfer()
{
    m_watchdog.stop();
    m_progressTimer.stop();
    dropReply();
}

// Hangs up on the current answer: nothing more of it reaches this transfer.
void Downloader::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void Downloader::fail(const QString &missCode, bool keepPart)
{
    stopTransfer();
    if (m_part) {
        if (!keepPart)
            m_part->discard();
        m_part.reset();
    }
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
        m_part->leave();
        m_part.reset();
    }
    m_phase = Phase::Finished;
}

void Downloader::abandon()
{
    stopTransfer();
    if (m_part) {
        m_part->discard();
        m_part.reset();
    }
    m_phase = Phase::Finished;
}

} // namespace lumen
