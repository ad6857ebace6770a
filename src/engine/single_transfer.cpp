#include "engine/single_transfer.h"

#include "engine/clock.h"
#include "engine/content_types.h"
#include "engine/download_list.h"
#include "engine/logging.h"
#include "engine/part_file.h"
#include "engine/reply_checks.h"
#include "engine/resume_state.h"
#include "engine/retry_after.h"
#include "engine/store_body.h"
#include "engine/target_choice.h"
#include "engine/type_correction.h"
#include "engine/url_policy.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>

namespace lumen
{

namespace
{

// The root of the site a URL belongs to: scheme and host, no path. Sent as
// the Referer when the record names no referring page.
QString siteRoot(const QString &url)
{
    const qsizetype p = url.indexOf(QLatin1String("://"));
    if (p >= 0) {
        const qsizetype slash = url.indexOf(QLatin1Char('/'), p + 3);
        return slash > p + 3 ? url.left(slash) : url;
    }
    const qsizetype slash = url.indexOf(QLatin1Char('/'));
    return slash > 3 ? url.left(slash) : url;
}

// The Referer for a record: its page, else its site's root, never with the
// user name and password a URL may carry (the header also goes to every
// host a redirect leads to).
QByteArray refererFor(const DownloadItem &item)
{
    const QString text = item.referer.isEmpty() ? siteRoot(item.url.trimmed()) : item.referer;
    return urlWithoutUserInfo(text).toUtf8();
}

// The reply's error, as Qt words it, without the user part of its URL.
QString replyError(const QNetworkReply &reply)
{
    if (reply.error() == QNetworkReply::NoError)
        return QStringLiteral("no response headers");
    return redactUserInfo(reply.errorString(), reply.request().url());
}

} // namespace

SingleTransfer::SingleTransfer(DownloadList &list, QNetworkAccessManager &nam, Clock &clock,
                               NameReservations &reservations, QObject *parent)
    : Transfer(parent), m_list(list), m_nam(nam), m_clock(clock), m_reservations(reservations)
{
    m_watchdog.setInterval(WatchdogIntervalMs);
    connect(&m_watchdog, &QTimer::timeout, this, &SingleTransfer::watchdogTick);
    m_progressTimer.setSingleShot(true);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Streaming)
            writeProgress();
    });
}

SingleTransfer::~SingleTransfer()
{
    dropReply();
    // Going away mid-transfer (the program ends): what came is no file, but
    // the next run may go on from it.
    if (m_part)
        m_part->leave();
    if (!m_reserved.isEmpty())
        m_reservations.release(m_reserved);
}

void SingleTransfer::setConnectionState(ConnectionState state)
{
    int code = 0;
    QString info;
    if (m_reply && m_reply->error() != QNetworkReply::NoError) {
        code = int(m_reply->error());
        // Qt's error texts quote the URL, with any password in it.
        info = redactUserInfo(m_reply->errorString(), m_reply->request().url());
    }
    emit connectionStateChanged(state, code, info);
}

bool SingleTransfer::start(const TransferRequest &request)
{
    if (m_phase != Phase::Idle)
        return false;
    const qint64 row = m_list.rowOfId(request.recordId);
    if (row < 0)
        return false;
    m_recordId = request.recordId;
    m_policy = request.policy;
    m_maxFileSizeMB = request.maxFileSizeMB;
    m_startMs = m_clock.monotonicMs();
    m_lastGrowthMs = m_startMs;
    m_size = 0;
    m_lastLength = 0;
    m_shownLength = -1;
    m_httpStatus = 0;
    m_httpPhrase.clear();
    m_reserved.clear();
    m_resumeFrom = 0;
    m_part.reset();

    const DownloadItem item = m_list.at(row);
    const QUrl url(item.url.trimmed());
    if (!isFetchableUrl(url)) {
        // Only http and https leave the machine; anything else is never read.
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(QStringLiteral("not an http or https address")));
        return true;
    }
    if (item.name.isEmpty()) {
        // Whatever type the answer brings, there is no name to store under.
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(unsafeNameReason(item.folder, item.name, item.fileType)));
        return true;
    }
    if (m_proxyUnusable) {
        // Going out directly instead would bypass the proxy the user asked for.
        endAs(DownloadState::Failed, PercentNote::ProxyUnusable);
        finish(
            TransferResult::failed(QStringLiteral("the proxy names no usable address and port")));
        return true;
    }

    m_url = item.url.trimmed();
    m_referer = refererFor(item);

    // What an earlier attempt left under the name the record has now is
    // taken up again, and held against other transfers while it is ours.
    const TargetChoice planned = chooseTarget(folderWithSeparator(item.folder), item.name,
                                              item.fileType, m_policy, &m_reservations);
    if (planned.kind == TargetChoice::Kind::Store || planned.kind == TargetChoice::Kind::Replace) {
        auto part = std::make_unique<PartFile>(planned.path);
        if (part->adopt(m_url)) {
            if (part->canResume())
                m_resumeFrom = part->written();
            else
                part->restart();
            m_part = std::move(part);
            m_reservations.reserve(planned.path);
            m_reserved = planned.path;
        }
    }

    m_phase = Phase::AwaitingHeaders;
    setConnectionState(ConnectionState::Resolving);
    sendRequest();
    m_watchdog.start();
    return true;
}

void SingleTransfer::sendRequest()
{
    QNetworkRequest get{QUrl(m_url)};
    get.setRawHeader("Referer", m_referer);
    // Sizes must be the bytes stored: a compressed body would make the
    // announced length and the written length disagree.
    get.setRawHeader("Accept-Encoding", "identity");
    get.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    if (m_resumeFrom > 0 && m_part)
        askForRest(get, m_resumeFrom, m_part->resumeMeta());
    m_reply = m_nam.get(get);
    // Bounds what Qt buffers when the event loop falls behind the network.
    m_reply->setReadBufferSize(ReadChunkBytes);
    connect(m_reply, &QNetworkReply::socketStartedConnecting, this,
            [this] { setConnectionState(ConnectionState::Connecting); });
    connect(m_reply, &QNetworkReply::requestSent, this,
            [this] { setConnectionState(ConnectionState::RequestSent); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &SingleTransfer::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &SingleTransfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &SingleTransfer::onReplyFinished);
}

void SingleTransfer::onMetaDataChanged()
{
    if (m_phase != Phase::AwaitingHeaders || !m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A redirect being followed is not the answer yet: its length and type
    // are not the file's.
    if (status >= 300 && status < 400 && m_reply->hasRawHeader("location"))
        return;
    // The response is being received, and now its headers are in.
    setConnectionState(ConnectionState::ReceivingResponse);
    setConnectionState(ConnectionState::ResponseReceived);
    takeHeaders();
}

// Steps after the headers arrived: size, limit, type, folder, target, and the
// start of streaming. False when the transfer ended here.
bool SingleTransfer::takeHeaders()
{
    QNetworkReply *reply = m_reply;
    if (!reply || reply->rawHeaderPairs().isEmpty()) {
        // No answer at all (refused, unreachable, reset before the headers).
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(reply ? replyError(*reply) : QStringLiteral("no response")));
        return false;
    }
    m_httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_httpPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    if (const std::optional<qint64> wait = retryWaitFor(*reply, QDateTime::currentDateTimeUtc())) {
        // Not an answer to keep: the record waits, and what an earlier
        // attempt left stays for the next one.
        dropReply();
        if (m_part) {
            m_part->leave();
            m_part.reset();
        }
        m_list.updateById(m_recordId, [](DownloadItem &it) {
            it.state = DownloadState::Waiting;
            clearProgress(it);
        });
        finish(TransferResult::retryLater(m_httpStatus, m_httpPhrase, *wait),
               TransferNotice::Quiet);
        return false;
    }
    if (!hasIdentityEncoding(*reply)) {
        // Stored as it comes, a compressed body would be a file of the wrong
        // type under the right name.
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(QStringLiteral("the body came compressed")));
        return false;
    }

    bool appending = false;
    if (m_resumeFrom > 0) {
        if (!takeRangeAnswer())
            return false;
        appending = m_resumeFrom > 0;
    }
    bool numeric = false;
    const qint64 size = reply->rawHeader("content-length").trimmed().toLongLong(&numeric);
    m_size = numeric && size > 0 ? size : 0;
    if (appending)
        m_size = m_part->resumeMeta().length;
    if (m_size > 0)
        m_list.updateById(m_recordId, [this](DownloadItem &it) { it.size = m_size; });

    if (double(m_size) / 1024.0 / 1024.0 > m_maxFileSizeMB) {
        if (m_part) {
            m_part->discard(); // nothing of a file this large is wanted
            m_part.reset();
        }
        endAs(DownloadState::Finished);
        finish({Outcome::SkippedTooLarge, overLimitReason(m_size, m_maxFileSizeMB), 0});
        return false;
    }

    const QString extension = extensionForContentType(*reply);

    const qint64 row = m_list.rowOfId(m_recordId);
    if (row < 0) {
        finish(TransferResult::failed(QStringLiteral("the record left the list")));
        return false;
    }
    QString folderError;
    const QString folder =
        m_makeFolder ? m_makeFolder(m_list.at(row).folder, &folderError) : m_list.at(row).folder;
    if (folder.isEmpty()) {
        // No folder could be made: fail rather than store anywhere else. The
        // record keeps the folder it names, so the user sees which one.
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(folderError.isEmpty() ? QStringLiteral("no save folder")
                                                            : folderError));
        return false;
    }

    // The same-name policy on the name the file will have, now that its
    // type is known. The name this transfer held for its partial file is
    // no other transfer's.
    if (!m_reserved.isEmpty()) {
        m_reservations.release(m_reserved);
        m_reserved.clear();
    }
    DownloadItem planned = m_list.at(row);
    planned.folder = folderWithSeparator(folder);
    if (!extension.isEmpty())
        planned.fileType = extension;
    const TargetChoice target =
        chooseTarget(planned.folder, planned.name, planned.fileType, m_policy, &m_reservations);
    if (target.kind != TargetChoice::Kind::NoPath)
        planned.name = target.name;
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        it.folder = planned.folder;
        it.fileType = planned.fileType;
        it.name = planned.name;
    });
    switch (target.kind) {
    case TargetChoice::Kind::NoPath:
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(
            unsafeNameReason(planned.folder, planned.name, planned.fileType)));
        return false;
    case TargetChoice::Kind::Wait:
        // Another transfer is storing this very name: try again after it.
        m_list.updateById(m_recordId, [](DownloadItem &it) {
            it.state = DownloadState::Waiting;
            it.sizeNote = SizeNote::WaitingAgain;
        });
        finish({});
        return false;
    case TargetChoice::Kind::Skip:
    case TargetChoice::Kind::CannotReplace:
        // The new file replaces the old one only when complete; what cannot
        // be replaced fails now, before any byte is fetched.
        m_list.updateById(m_recordId, [&](DownloadItem &it) {
            showNameRefusal(it, target.kind, target.existingSize);
        });
        finish(nameRefusalResult(target.kind, target.path));
        return false;
    case TargetChoice::Kind::Store:
    case TargetChoice::Kind::Replace:
        break;
    }
    const QString path = target.path;

    // A partial file taken up again under another name than the answer now
    // gives holds nothing this body continues: a fresh one under the new name.
    if (m_part && !appending && m_part->targetPath() != path) {
        m_part->discard();
        m_part.reset();
    }
    if (!m_part) {
        m_part = std::make_unique<PartFile>(path);
        if (!m_part->open()) {
            const QString error = m_part->errorString();
            m_part.reset();
            endAs(DownloadState::Failed);
            finish(TransferResult::failed(writeFailureReason(planned.folder, error)));
            return false;
        }
    }
    // The version these bytes are of, beside them before the first one
    // lands: a program killed mid-body leaves what the next run needs.
    if (!appending && m_httpStatus == 200)
        m_part->setResumeMeta(resumeMetaFor(*reply, m_url, m_size));
    m_reservations.reserve(path);
    m_reserved = path;
    const qint64 already = m_part->written();
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        if (m_size > 0) {
            it.size = m_size;
            it.received = already;
        } else {
            it.sizeNote = SizeNote::Unannounced;
        }
    });
    m_phase = Phase::Streaming;
    m_lastLength = already;
    m_lastGrowthMs = m_startMs;
    m_sinceProgress.invalidate();
    return true;
}

// Empties the partial file for a whole body; when it cannot be, the record
// fails with the system's reason and nothing is kept.
bool SingleTransfer::restartPart()
{
    if (m_part->restart())
        return true;
    const QString error = m_part->errorString();
    const QString folder = QFileInfo(m_part->partPath()).absolutePath();
    m_part->discard();
    m_part.reset();
    endAs(DownloadState::Failed);
    finish(TransferResult::failed(writeFailureReason(folder, error)));
    return false;
}

bool SingleTransfer::takeRangeAnswer()
{
    switch (judgeRangeAnswer(*m_reply, m_resumeFrom, m_part->resumeMeta())) {
    case RangeAnswer::Append:
        return true;
    case RangeAnswer::Whole:
        // The document changed, or the server sends it whole: this body
        // replaces what the file held.
        m_resumeFrom = 0;
        return restartPart();
    case RangeAnswer::Refetch:
        break;
    }
    // A range that does not join what is here: ask for the whole document.
    dropReply();
    m_resumeFrom = 0;
    if (!restartPart())
        return false;
    sendRequest();
    return false;
}

void SingleTransfer::onReadyRead()
{
    if (m_phase == Phase::AwaitingHeaders) {
        if (!takeHeaders())
            return;
    }
    if (m_phase != Phase::Streaming)
        return;
    drain();
}

// Moves everything the reply holds into the part file. False when the
// transfer ended (a write failed, or the body outgrew the size limit).
bool SingleTransfer::drain(bool whole)
{
    if (m_buffer.size() < ReadChunkBytes)
        m_buffer.resize(ReadChunkBytes);
    bool grew = false;
    while (m_reply) {
        // A disk that falls behind holds the body back in the reply's
        // bounded buffer; the rest is read once the file has room. A finished
        // reply is read whole: nothing more comes.
        if (!whole && !m_part->hasRoom()) {
            QPointer<SingleTransfer> self(this);
            m_part->whenRoom(this, [self] {
                if (self && self->m_reply && self->m_phase == Phase::Streaming)
                    self->drain();
            });
            break;
        }
        const qint64 n = m_reply->read(m_buffer.data(), ReadChunkBytes);
        if (n <= 0)
            break;
        if (!m_part->write(m_buffer.constData(), n)) {
            fail(writeFailureReason(QFileInfo(m_part->partPath()).absolutePath(),
                                    m_part->errorString()));
            return false;
        }
        grew = true;
    }
    if (!grew || m_part->written() <= m_lastLength)
        return true;
    m_lastLength = m_part->written();
    m_lastGrowthMs = m_clock.monotonicMs();
    // A body of unannounced size is held to the limit as it arrives: an
    // endless one must not fill the disk.
    if (m_size <= 0 && double(m_lastLength) / 1024.0 / 1024.0 > m_maxFileSizeMB) {
        const qint64 received = m_lastLength;
        dropReply();
        m_part->discard();
        m_part.reset();
        m_list.updateById(m_recordId, [&](DownloadItem &it) { it.received = received; });
        endAs(DownloadState::Finished);
        finish({Outcome::SkippedTooLarge, overLimitReason(received, m_maxFileSizeMB), received});
        return false;
    }
    if (m_size > 0) {
        // The texts are rewritten a few times a second, not per read: at
        // network speed the list would otherwise cost more than the bytes.
        if (m_sinceProgress.isValid() && m_sinceProgress.elapsed() < ProgressIntervalMs) {
            if (!m_progressTimer.isActive())
                m_progressTimer.start(int(ProgressIntervalMs - m_sinceProgress.elapsed()));
        } else {
            writeProgress();
        }
    }
    return true;
}

void SingleTransfer::writeProgress()
{
    m_progressTimer.stop();
    m_sinceProgress.start();
    if (m_size <= 0 || m_lastLength == m_shownLength)
        return;
    m_shownLength = m_lastLength;
    m_list.updateById(m_recordId, [this](DownloadItem &it) { it.received = m_lastLength; });
}

void SingleTransfer::onReplyFinished()
{
    if (m_phase == Phase::AwaitingHeaders) {
        if (!m_reply || m_reply->error() != QNetworkReply::NoError)
            setConnectionState(ConnectionState::Error);
        if (!takeHeaders())
            return;
    }
    if (m_phase != Phase::Streaming)
        return;
    if (!drain(true))
        return;
    if (m_reply && m_reply->error() != QNetworkReply::NoError)
        setConnectionState(ConnectionState::Error);
    if (m_reply && isTransportFailure(*m_reply)) {
        // The body broke off (a cut chunked body, a bad chunk size, a reset):
        // what came is no file, whatever its length.
        writeProgress();
        fail(cutBodyReason(m_part->written(), m_size, replyError(*m_reply)), PercentNote::None,
             PartEnd::Leave);
        return;
    }
    complete();
}

void SingleTransfer::complete()
{
    writeProgress();
    const qint64 written = m_part->written();
    const bool whole = m_size > 0 ? written >= m_size : written >= 2;
    if (!whole) {
        // The connection ended early (or gave less than two bytes where no
        // size was announced).
        if (m_size <= 0) {
            m_list.updateById(m_recordId, [](DownloadItem &it) {
                it.size = -1;
                it.received = -1;
                it.sizeNote = SizeNote::None;
            });
        }
        fail(cutBodyReason(written, m_size, QString()), PercentNote::None, PartEnd::Leave);
        return;
    }
    dropReply();
    const qint64 row = m_list.rowOfId(m_recordId);
    if (row < 0) {
        fail(QStringLiteral("the record left the list"));
        return;
    }
    const DownloadItem item = m_list.at(row);
    m_reservations.release(m_reserved);
    m_reserved.clear();
    const StoreOutcome stored =
        storeBody(*m_part, item.folder, item.name, item.fileType, m_policy, m_reservations);
    m_part.reset();
    switch (stored.kind) {
    case StoreOutcome::Kind::Stored:
        m_list.updateById(m_recordId, [&](DownloadItem &it) {
            it.name = stored.name;
            it.fileType = stored.fileType;
            it.storedPath = stored.path;
            if (m_size <= 0)
                it.size = written;
            it.received = written;
            it.state = DownloadState::Finished;
        });
        break;
    case StoreOutcome::Kind::ExistsSkipped:
    case StoreOutcome::Kind::CannotReplace: {
        const bool skipped = stored.kind == StoreOutcome::Kind::ExistsSkipped;
        m_list.updateById(m_recordId, [&](DownloadItem &it) {
            it.fileType = stored.fileType;
            showNameRefusal(it,
                            skipped ? TargetChoice::Kind::Skip : TargetChoice::Kind::CannotReplace,
                            stored.existingSize);
        });
        finish(nameRefusalResult(skipped ? TargetChoice::Kind::Skip
                                         : TargetChoice::Kind::CannotReplace,
                                 stored.existingPath));
        return;
    }
    case StoreOutcome::Kind::Failed:
        endAs(DownloadState::Failed);
        finish(TransferResult::failed(stored.error, written));
        return;
    }
    setConnectionState(ConnectionState::Completed);
    if (CorrectFileType(m_list, m_recordId)) {
        // The file moved to its detected type: the record follows it.
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.storedPath = ItemFilePath(it); });
    }
    finish(storedResult(m_list, m_recordId, m_httpStatus, m_httpPhrase, written));
}

void SingleTransfer::fail(const QString &reason, PercentNote note, PartEnd partEnd)
{
    dropReply();
    if (m_part) {
        switch (partEnd) {
        case PartEnd::Discard:
            m_part->discard();
            break;
        case PartEnd::Leave:
            m_part->leave();
            break;
        case PartEnd::Keep:
            break; // closed as far as it got
        }
        m_part.reset();
    }
    endAs(DownloadState::Failed, note);
    finish({note == PercentNote::Cancelled ? Outcome::Cancelled : Outcome::Failed, reason,
            m_lastLength});
}

void SingleTransfer::endAs(DownloadState state, PercentNote note)
{
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        it.state = state;
        if (note != PercentNote::None)
            it.percentNote = note;
    });
}

void SingleTransfer::cancel()
{
    if (m_phase == Phase::Streaming) {
        fail(QStringLiteral("stopped"), PercentNote::Cancelled, PartEnd::Leave);
    } else if (m_phase == Phase::AwaitingHeaders) {
        dropReply();
        endAs(DownloadState::Failed);
        finish({Outcome::Cancelled, QStringLiteral("stopped before the response headers came")});
    }
}

void SingleTransfer::watchdogTick()
{
    // Monotonic time: a transfer running across midnight is no older for it.
    const qint64 now = m_clock.monotonicMs();
    if (m_phase == Phase::AwaitingHeaders) {
        if (now - m_startMs > HeaderWaitMs) {
            dropReply();
            endAs(DownloadState::Failed);
            finish(TransferResult::failed(
                QStringLiteral("no response headers within %1 s").arg(HeaderWaitMs / 1000)));
        }
    } else if (m_phase == Phase::Streaming) {
        if (m_reply && !drain())
            return;
        if (m_phase == Phase::Streaming && now - m_lastGrowthMs > StallLimitMs) {
            writeProgress();
            // The partial stays, never under the final name.
            fail(QStringLiteral("no progress for %1 s").arg(StallLimitMs / 1000), PercentNote::None,
                 PartEnd::Keep);
        }
    }
}

void SingleTransfer::finish(const TransferResult &result, TransferNotice notice)
{
    if (result.outcome == Outcome::Failed)
        qCDebug(lumenEngine).noquote() << "transfer" << m_recordId << "failed:" << result.reason;
    dropReply();
    // Whatever has not been stored or dealt with stays only when a later
    // attempt can go on from it.
    if (m_part) {
        m_part->leave();
        m_part.reset();
    }
    if (!m_reserved.isEmpty()) {
        m_reservations.release(m_reserved);
        m_reserved.clear();
    }
    m_watchdog.stop();
    m_progressTimer.stop();
    m_phase = Phase::Idle;
    emit ended(m_recordId, notice, result);
}

void SingleTransfer::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    if (reply->isRunning()) {
        reply->abort();
        emit connectionStateChanged(ConnectionState::Disconnected, 0, QString());
    }
    reply->deleteLater();
}

} // namespace lumen
