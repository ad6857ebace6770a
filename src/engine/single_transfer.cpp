#include "engine/single_transfer.h"

#include "engine/type_correction.h"
#include "engine/clock.h"
#include "engine/content_types.h"
#include "engine/download_list.h"
#include "engine/part_file.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <cmath>

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

bool isFetchableScheme(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QString percentText(qint64 received, qint64 total)
{
    const double pct = double(received) / double(total) * 100.0;
    return QString::number(qint64(std::floor(pct))) + QLatin1Char('%');
}

double elapsed(double from, double to)
{
    return std::fabs(to - from);
}

} // namespace

SingleTransfer::SingleTransfer(DownloadList &list, QNetworkAccessManager &nam, Clock &clock,
                               QObject *parent)
    : QObject(parent), m_list(list), m_nam(nam), m_clock(clock)
{
    m_watchdog.setInterval(1000);
    connect(&m_watchdog, &QTimer::timeout, this, &SingleTransfer::watchdogTick);
}

SingleTransfer::~SingleTransfer()
{
    dropReply();
}

QString SingleTransfer::connectionStateText(int state, int responseCode,
                                            const QString &responseInfo)
{
    const QString error = QString::number(responseCode) + QLatin1Char(':') + responseInfo;
    switch (state) {
    case 0:
        return QStringLiteral("0 无状态可报告。");
    case 1:
        return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case 2:
        return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case 3:
        return QStringLiteral("3 正在与主机连接...");
    case 4:
        return QStringLiteral("4 已与主机连接成功。");
    case 5:
        return QStringLiteral("5 正在向主机发送请求...");
    case 6:
        return QStringLiteral("6 发送请求已成功。");
    case 7:
        return QStringLiteral("7 正在接收主机的响应...");
    case 8:
        return QStringLiteral("8 已成功地接收到主机的响应。");
    case 9:
        return QStringLiteral("9 正在解除与主机的连接...");
    case 10:
        return QStringLiteral("10 已成功地与主机解除了连接。");
    case 11:
        return QStringLiteral("11 与主机通讯时出现了错误:") + error;
    case 12:
        return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    default:
        return error;
    }
}

void SingleTransfer::setConnectionState(int state)
{
    int code = 0;
    QString info;
    if (m_reply && m_reply->error() != QNetworkReply::NoError) {
        code = int(m_reply->error());
        info = m_reply->errorString();
    }
    emit connectionStateChanged(connectionStateText(state, code, info));
}

bool SingleTransfer::start(quint64 recordId, SameNamePolicy policy, double maxFileSizeMB)
{
    if (m_phase != Phase::Idle)
        return false;
    const qint64 row = m_list.rowOfId(recordId);
    if (row < 0)
        return false;
    m_recordId = recordId;
    m_policy = policy;
    m_maxFileSizeMB = maxFileSizeMB;
    m_startTime = m_clock.secondsSinceMidnight();
    m_lastGrowthTime = m_startTime;
    m_size = 0;
    m_lastLength = 0;
    m_received = false;

    const DownloadItem item = m_list.at(row);
    const QUrl url(item.url.trimmed());
    if (!isFetchableScheme(url)) {
        // Only http and https leave the machine; anything else is never read.
        m_list.updateById(recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        finish(false);
        return true;
    }

    QNetworkRequest request(url);
    const QString referer = item.referer.isEmpty() ? siteRoot(item.url) : item.referer;
    request.setRawHeader("Referer", referer.toUtf8());
    // Sizes must be the bytes stored: a compressed body would make the
    // announced length and the written length disagree.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);

    m_phase = Phase::AwaitingHeaders;
    setConnectionState(1);
    m_reply = m_nam.get(request);
    // Bounds what Qt buffers when the event loop falls behind the network.
    m_reply->setReadBufferSize(ReadChunkBytes);
    connect(m_reply, &QNetworkReply::socketStartedConnecting, this,
            [this] { setConnectionState(3); });
    connect(m_reply, &QNetworkReply::requestSent, this, [this] { setConnectionState(6); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &SingleTransfer::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &SingleTransfer::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &SingleTransfer::onReplyFinished);
    m_watchdog.start();
    return true;
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
    setConnectionState(8);
    takeHeaders();
}

// Steps after the headers arrived: size, limit, type, folder, target, and the
// start of streaming. False when the transfer ended here.
bool SingleTransfer::takeHeaders()
{
    QNetworkReply *reply = m_reply;
    if (!reply || reply->rawHeaderPairs().isEmpty()) {
        // No answer at all (refused, unreachable, reset before the headers).
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        finish(false);
        return false;
    }

    bool numeric = false;
    const qint64 size = reply->rawHeader("content-length").trimmed().toLongLong(&numeric);
    m_size = numeric && size > 0 ? size : 0;
    if (m_size > 0)
        m_list.updateById(m_recordId,
                          [this](DownloadItem &it) { it.sizeText = QString::number(m_size); });

    if (double(m_size) / 1024.0 / 1024.0 > m_maxFileSizeMB) {
        m_list.updateById(m_recordId, [](DownloadItem &it) {
            it.state = DownloadState::Finished;
            it.percentText = RecordText::BigFileSkipped;
        });
        finish(true);
        return false;
    }

    QString contentType = QString::fromLatin1(reply->rawHeader("content-type")).trimmed();
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    if (semicolon >= 0)
        contentType = contentType.left(semicolon).trimmed();
    const QString extension = MimeToExtension(contentType);

    const qint64 row = m_list.rowOfId(m_recordId);
    if (row < 0) {
        finish(false);
        return false;
    }
    const QString folder =
        m_makeFolder ? m_makeFolder(m_list.at(row).folder) : m_list.at(row).folder;
    if (folder.isEmpty()) {
        // No folder could be made: fail rather than store anywhere else.
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        finish(false);
        return false;
    }

    QString path;
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        it.folder = folderWithSeparator(folder);
        if (!extension.isEmpty() && !extension.contains(QLatin1Char('/')))
            it.fileType = extension;
        if (m_policy == SameNamePolicy::Rename) {
            const SavePath target = renameSavePath(it.folder, it.name, it.fileType, m_policy);
            if (!target.path.isEmpty())
                it.name = target.name;
            path = target.path;
        } else {
            path = ItemFilePath(it);
        }
    });
    if (path.isEmpty()) {
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        finish(false);
        return false;
    }

    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        // The new file replaces the old one only when complete; what cannot
        // be replaced (a read-only file, a folder, a locked folder) fails now.
        const bool replaceable = existing.isFile() &&
                                 (existing.permissions() & QFileDevice::WriteOwner) &&
                                 QFileInfo(existing.absolutePath()).isWritable();
        if (!replaceable) {
            const QString length = QString::number(existing.size());
            m_list.updateById(m_recordId, [&](DownloadItem &it) {
                it.state = DownloadState::Failed;
                it.sizeText = length;
                it.receivedText = length;
                it.percentText = RecordText::CannotReplace;
            });
            finish(false);
            return false;
        }
    }

    m_part = std::make_unique<PartFile>(path);
    if (!m_part->open()) {
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        m_part.reset();
        finish(false);
        return false;
    }
    m_list.updateById(m_recordId, [this](DownloadItem &it) {
        if (m_size > 0) {
            it.sizeText = QString::number(m_size);
            it.receivedText = QStringLiteral("0");
        } else {
            it.sizeText = RecordText::SizeUnknown;
        }
    });
    m_phase = Phase::Streaming;
    m_lastLength = 0;
    m_lastGrowthTime = m_startTime;
    return true;
}

void SingleTransfer::onReadyRead()
{
    if (m_phase == Phase::AwaitingHeaders) {
        if (!takeHeaders())
            return;
    }
    if (m_phase != Phase::Streaming)
        return;
    if (!m_received) {
        m_received = true;
        setConnectionState(7);
    }
    drain();
}

// Moves everything the reply holds into the part file. False when the
// transfer ended (a write failed).
bool SingleTransfer::drain()
{
    if (m_buffer.size() < ReadChunkBytes)
        m_buffer.resize(ReadChunkBytes);
    bool grew = false;
    while (m_reply && m_reply->bytesAvailable() > 0) {
        const qint64 n = m_reply->read(m_buffer.data(), ReadChunkBytes);
        if (n <= 0)
            break;
        if (!m_part->write(m_buffer.constData(), n)) {
            fail();
            return false;
        }
        grew = true;
    }
    if (grew && m_part->written() > m_lastLength) {
        m_lastLength = m_part->written();
        m_lastGrowthTime = m_clock.secondsSinceMidnight();
        if (m_size > 0) {
            m_list.updateById(m_recordId, [this](DownloadItem &it) {
                it.receivedText = QString::number(m_lastLength);
                it.percentText = percentText(m_lastLength, m_size);
            });
        }
    }
    return true;
}

void SingleTransfer::onReplyFinished()
{
    if (m_phase == Phase::AwaitingHeaders) {
        if (!m_reply || m_reply->error() != QNetworkReply::NoError)
            setConnectionState(11);
        if (!takeHeaders())
            return;
    }
    if (m_phase != Phase::Streaming)
        return;
    if (!drain())
        return;
    if (m_reply && m_reply->error() != QNetworkReply::NoError)
        setConnectionState(11);
    complete();
}

void SingleTransfer::complete()
{
    const qint64 written = m_part->written();
    const bool whole = m_size > 0 ? written >= m_size : written >= 2;
    if (!whole) {
        // The connection ended early (or gave less than two bytes where no
        // size was announced).
        if (m_size > 0) {
            fail();
        } else {
            m_list.updateById(m_recordId, [](DownloadItem &it) {
                it.sizeText.clear();
                it.receivedText.clear();
                it.percentText.clear();
            });
            fail();
        }
        return;
    }
    if (!m_part->commit()) {
        fail();
        return;
    }
    m_part.reset();
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        if (m_size <= 0)
            it.sizeText = QString::number(written);
        it.receivedText = QString::number(written);
        it.percentText = m_size > 0 ? percentText(written, m_size) : QStringLiteral("100%");
        it.state = DownloadState::Finished;
    });
    setConnectionState(12);
    dropReply();
    CorrectFileType(m_list, m_recordId);
    finish(true);
}

void SingleTransfer::fail(const QString &percent, bool keepPart)
{
    dropReply();
    if (m_part) {
        if (!keepPart)
            m_part->discard();
        m_part.reset(); // a kept part file is closed as far as it got
    }
    m_list.updateById(m_recordId, [&](DownloadItem &it) {
        it.state = DownloadState::Failed;
        if (!percent.isEmpty())
            it.percentText = percent;
    });
    finish(false);
}

void SingleTransfer::cancel()
{
    if (m_phase == Phase::Streaming) {
        fail(RecordText::Cancelled);
    } else if (m_phase == Phase::AwaitingHeaders) {
        dropReply();
        m_list.updateById(m_recordId, [](DownloadItem &it) { it.state = DownloadState::Failed; });
        finish(false);
    }
}

void SingleTransfer::watchdogTick()
{
    const double now = m_clock.secondsSinceMidnight();
    if (m_phase == Phase::AwaitingHeaders) {
        if (elapsed(m_startTime, now) > HeaderWaitSeconds) {
            dropReply();
            m_list.updateById(m_recordId,
                              [](DownloadItem &it) { it.state = DownloadState::Failed; });
            finish(false);
        }
    } else if (m_phase == Phase::Streaming) {
        if (m_reply)
            drain();
        if (m_phase == Phase::Streaming && elapsed(m_lastGrowthTime, now) > StallSeconds)
            fail(QString(), true); // the partial stays as .part, never under the final name
    }
}

void SingleTransfer::finish(bool success)
{
    dropReply();
    m_part.reset();
    m_watchdog.stop();
    m_phase = Phase::Idle;
    emit finished(m_recordId, success);
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
        emit connectionStateChanged(connectionStateText(10));
    }
    reply->deleteLater();
}

} // namespace lumen
