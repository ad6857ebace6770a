#include "shell/async_fetcher.h"

#include "engine/gbk.h"
#include "engine/url_policy.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStringDecoder>

namespace lumen
{

namespace
{

// Reads are taken from the socket in pieces of this size at most, so a fast
// server cannot make the reply buffer a whole body.
constexpr qint64 ReadBufferBytes = 64 * 1024;

const QString UnsupportedAddressText = QStringLiteral("只能获取 http 或 https 网址，不获取：%1");
const QString NoMethodText = QStringLiteral("请求方法为空");
const QString BodyTooLargeText = QStringLiteral("服务器返回的内容过大");
const QString SaveFailedText = QStringLiteral("无法保存文件 %1：%2");

} // namespace

QString AsyncFetcher::statusDescription(int code)
{
    static const QHash<int, QString> table{
        {100, QStringLiteral("客户必须继续发出请求")},
        {101, QStringLiteral("客户要求服务器根据请求转换HTTP协议版本")},
        {200, QStringLiteral("交易成功")},
        {201, QStringLiteral("提示知道新文件的URL")},
        {202, QStringLiteral("接受和处理?但处理未完成")},
        {203, QStringLiteral("返回信息不确定或不完整")},
        {204, QStringLiteral("请求收到，但返回信息为空")},
        {205, QStringLiteral("服务器完成了请求，用户代理必须复位当前已经浏览过的文件")},
        {206, QStringLiteral("服务器已经完成了部分用户的GET请求")},
        {300, QStringLiteral("请求的资源可在多处得到")},
        {301, QStringLiteral("删除请求数据")},
        {302, QStringLiteral("在其他地址发现了请求数据")},
        {303, QStringLiteral("建议客户访问其他URL或访问方式")},
        {304, QStringLiteral("客户端已经执行了GET，但文件未变化")},
        {305, QStringLiteral("请求的资源必须从服务器指定的地址得到")},
        {306, QStringLiteral("前一版本HTTP中使用的代码，现行版本中不再使用")},
        {307, QStringLiteral("申明请求的资源临时性删除")},
        {400, QStringLiteral("错误请求，如语法错误")},
        {401, QStringLiteral("请求授权失败")},
        {402, QStringLiteral("保留有效ChargeTo头响应")},
        {403, QStringLiteral("请求不允许")},
        {404, QStringLiteral("没有发现文件?查询或URl")},
        {405, QStringLiteral("用户在Request -Line字段定义的方法不允许")},
        {406, QStringLiteral("根据用户发送的Accept拖，请求资源不可访问")},
        {407, QStringLiteral("类似401，用户必须首先在代理服务器上得到授权")},
        {408, QStringLiteral("客户端没有在用户指定的饿时间内完成请求")},
        {409, QStringLiteral("对当前资源状态，请求不能完成")},
        {410, QStringLiteral("服务器上不再有此资源且无进一步的参考地址")},
        {411, QStringLiteral("服务器拒绝用户定义的Content -Length属性请求")},
        {412, QStringLiteral("一个或多个请求头字段在当前请求中错误")},
        {413, QStringLiteral("请求的资源大于服务器允许的大小")},
        {414, QStringLiteral("请求的资源URL长于服务器允许的长度")},
        {415, QStringLiteral("请求资源不支持请求项目格式")},
        {416, QStringLiteral("请求中包含Range请求头字段，在当前请求资源范围内没有range指示值，"
                             "请求也不包含If-Range请求头字段")},
        {417, QStringLiteral("服务器不满足请求Expect头字段指定的期望值，如果是代理服务器，"
                             "可能是下一级服务器不能满足请求")},
        {500, QStringLiteral("服务器产生内部错误")},
        {501, QStringLiteral("服务器不支持请求的函数")},
        {502, QStringLiteral("服务器暂时不可用，有时是为了防止发生系统过载")},
        {503, QStringLiteral("服务器过载或暂停维修")},
        {504, QStringLiteral("关口过载，服务器使用另一个关口或服务来响应用户，等待时间设定值较长")},
        {505, QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本")},
    };
    return table.value(code);
}

AsyncFetcher::AsyncFetcher(QObject *parent)
    : AsyncFetcher(static_cast<QNetworkAccessManager *>(nullptr), parent)
{
}

AsyncFetcher::AsyncFetcher(QNetworkAccessManager *manager, QObject *parent)
    : QObject(parent), m_manager(manager)
{
    if (!m_manager) {
        m_ownManager = std::make_unique<QNetworkAccessManager>();
        m_manager = m_ownManager.get();
    }
    m_timer.setInterval(PollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &AsyncFetcher::pollTick);
}

AsyncFetcher::~AsyncFetcher()
{
    m_timer.stop();
    dropRequest();
}

void AsyncFetcher::dropRequest()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    m_reply = nullptr;
    // Whatever was streamed so far is thrown away; the save path is untouched.
    if (m_saveFile) {
        m_saveFile->cancelWriting();
        m_saveFile.reset();
    }
}

bool AsyncFetcher::open(const QString &method, const QString &url, const QString &savePath)
{
    m_timer.stop();
    dropRequest();
    m_phase = Phase::Idle;
    m_downOk = false;
    m_requestHeaders.clear();
    m_headersSeen = m_dataSeen = m_finished = false;
    m_status = 0;
    m_reason.clear();
    m_responseHeaders.clear();
    m_body.clear();
    m_received = 0;
    m_bodyInMemory = true;
    m_failed = false;
    m_error.clear();
    m_saveFailed = false;

    const QString verb = method.trimmed().toUpper();
    if (verb.isEmpty()) {
        m_error = NoMethodText;
        return false;
    }
    const QUrl target(url);
    if (!isFetchableUrl(target)) {
        // Never repeat a password the address may carry.
        m_error = UnsupportedAddressText.arg(
            target.isValid() ? target.toDisplayString(QUrl::RemovePassword) : url);
        return false;
    }
    m_method = verb.toLatin1();
    m_url = target;
    m_savePath = savePath.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)
                     ? QUrl(savePath).toLocalFile()
                     : savePath;
    m_phase = Phase::Opened;
    return true;
}

void AsyncFetcher::setRequestHeader(const QString &name, const QString &value)
{
    // A line break would let a value smuggle in headers of its own.
    const auto hasBreak = [](const QString &t) {
        return t.contains(QLatin1Char('\r')) || t.contains(QLatin1Char('\n'));
    };
    if (m_phase != Phase::Opened || name.trimmed().isEmpty() || hasBreak(name) || hasBreak(value))
        return;
    m_requestHeaders.append({name.trimmed().toLatin1(), value.toUtf8()});
}

void AsyncFetcher::send(const QByteArray &body)
{
    if (m_phase != Phase::Opened)
        return;
    QNetworkRequest request(m_url);
    for (const auto &[name, value] : m_requestHeaders)
        request.setRawHeader(name, value);
    QNetworkReply *reply = body.isEmpty() ? m_manager->sendCustomRequest(request, m_method)
                                          : m_manager->sendCustomRequest(request, m_method, body);
    reply->setReadBufferSize(ReadBufferBytes);
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &AsyncFetcher::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &AsyncFetcher::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &AsyncFetcher::onFinished);
    m_phase = Phase::Sent;
    m_timer.start();
}

void AsyncFetcher::abort()
{
    m_timer.stop();
    dropRequest();
    m_phase = Phase::Idle;
}

int AsyncFetcher::readyState() const
{
    switch (m_phase) {
    case Phase::Idle:
        return Unsent;
    case Phase::Opened:
        return Opened;
    case Phase::Sent:
        break;
    }
    if (m_finished)
        return Done;
    if (m_dataSeen)
        return Loading;
    return m_headersSeen ? HeadersReceived : Opened;
}

void AsyncFetcher::takeStatus()
{
    if (!m_reply)
        return;
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_reason = QString::fromLatin1(
        m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    m_responseHeaders = m_reply->rawHeaderPairs();
}

bool AsyncFetcher::savingThisBody() const
{
    return !m_savePath.isEmpty() && m_status == 200;
}

void AsyncFetcher::onMetaData()
{
    takeStatus();
    if (m_status != 0)
        m_headersSeen = true;
}

void AsyncFetcher::onReadyRead()
{
    if (!m_reply || m_failed)
        return;
    if (!m_headersSeen)
        onMetaData();
    while (m_reply->bytesAvailable() > 0) {
        const QByteArray chunk = m_reply->read(ReadBufferBytes);
        if (chunk.isEmpty())
            break;
        m_dataSeen = true;
        m_received += chunk.size();

        if (savingThisBody() && !m_saveFailed) {
            if (!m_saveFile) {
                m_saveFile = std::make_unique<QSaveFile>(m_savePath);
                if (!m_saveFile->open(QIODevice::WriteOnly))
                    m_saveFailed = true;
            }
            if (!m_saveFailed && m_saveFile->write(chunk) != chunk.size())
                m_saveFailed = true;
        }

        if (m_bodyInMemory && m_body.size() + chunk.size() <= MaxBodyInMemory) {
            m_body += chunk;
        } else if (savingThisBody() && !m_saveFailed) {
            // The file holds it; memory holds nothing of a body this long.
            m_bodyInMemory = false;
            m_body.clear();
        } else {
            m_failed = true;
            m_error = savingThisBody() && m_saveFailed ? saveFailedText() : BodyTooLargeText;
            m_body.clear();
            m_reply->disconnect(this);
            m_reply->abort();
            m_finished = true;
            return;
        }
    }
}

void AsyncFetcher::onFinished()
{
    if (!m_reply)
        return;
    takeStatus();
    onReadyRead();
    if (m_failed)
        return;
    m_finished = true;
    // An HTTP error status is the server's answer; any other error (no
    // answer, a cut transfer, a TLS failure) is ours to report.
    const QNetworkReply::NetworkError e = m_reply->error();
    const bool httpError = m_status != 0 && m_status != 200;
    if (e != QNetworkReply::NoError && !httpError) {
        m_failed = true;
        m_error = m_reply->errorString();
    }
}

void AsyncFetcher::pollTick()
{
    emit readyStateChanged();
    if (readyState() != Done || !m_timer.isActive())
        return;
    m_timer.stop();
    m_downOk = true;
    // The reply has nothing more to say; what the host may read afterwards
    // (status, headers, body) has been copied out of it. The state stays Done.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply = nullptr;
    }

    const bool success = !m_failed && m_status == 200;
    if (success && m_saveFile) {
        if (!m_saveFailed && !m_saveFile->commit())
            m_saveFailed = true;
        if (m_saveFailed) {
            m_error = saveFailedText();
            m_failed = true;
        }
    }
    if (m_saveFile) {
        m_saveFile->cancelWriting(); // no-op after a commit
        m_saveFile.reset();
    }
    // Emitting is the last thing done: the handlers may open the next request.
    if (m_failed)
        emit dataError(m_error);
    else if (success)
        emit dataArrived();
    else
        emit dataError(statusDescription(m_status));
}

QString AsyncFetcher::saveFailedText() const
{
    return SaveFailedText.arg(m_savePath, m_saveFile ? m_saveFile->errorString() : QString());
}

QString AsyncFetcher::responseHeader(const QString &name) const
{
    const QByteArray wanted = name.toLatin1().toLower();
    for (const auto &[n, v] : m_responseHeaders) {
        if (n.toLower() == wanted)
            return QString::fromLatin1(v);
    }
    return QString();
}

QString AsyncFetcher::allResponseHeaders() const
{
    QString out;
    for (const auto &[n, v] : m_responseHeaders)
        out += QString::fromLatin1(n) + QStringLiteral(": ") + QString::fromLatin1(v) +
               QStringLiteral("\r\n");
    return out;
}

QString AsyncFetcher::responseText() const
{
    if (m_body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(m_body.mid(3));
    if (m_body.startsWith("\xFF\xFE") || m_body.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(QStringDecoder::Utf16, QStringDecoder::Flag::ConvertInitialBom);
        return utf16(m_body);
    }
    QByteArray charset;
    const QByteArray type = responseHeader(QStringLiteral("Content-Type")).toLatin1().toLower();
    const qsizetype at = type.indexOf("charset=");
    if (at >= 0) {
        charset = type.mid(at + 8);
        const qsizetype end = charset.indexOf(';');
        if (end >= 0)
            charset.truncate(end);
        charset = charset.trimmed();
        if (charset.startsWith('"') && charset.endsWith('"') && charset.size() >= 2)
            charset = charset.mid(1, charset.size() - 2);
    }
    if (charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "x-gbk")
        return gbk::decode(m_body);
    if (!charset.isEmpty() && charset != "utf-8" && charset != "utf8") {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid())
            return decoder(m_body);
    }
    return QString::fromUtf8(m_body);
}

} // namespace lumen
