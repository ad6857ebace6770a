#include "http_server.h"

#include <QDateTime>
#include <QLocale>
#include <QTcpSocket>

#include <sys/socket.h>

namespace lumen::testsite
{

namespace
{

// Bytes kept queued in the socket while a fast body is sent: enough to keep
// the loopback busy, small enough that a multi-gigabyte body costs nothing.
constexpr qint64 HighWaterBytes = 256 * 1024;
constexpr qint64 FastPieceBytes = 64 * 1024;
constexpr int SlowTickMs = 100;
constexpr int LingerMs = 2000;

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArray("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (!isTokenChar(c))
            return false;
    return true;
}

bool isDigits(const QByteArray &s)
{
    if (s.isEmpty() || s.size() > 18)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

QByteArray httpDate()
{
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc(),
                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

// The end of the header block (the index after the blank line), or -1.
qsizetype headerBlockEnd(const QByteArray &in)
{
    const qsizetype crlf = in.indexOf("\r\n\r\n");
    const qsizetype lf = in.indexOf("\n\n");
    if (crlf < 0 && lf < 0)
        return -1;
    if (lf < 0 || (crlf >= 0 && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &lowerName) const
{
    for (const auto &h : headers)
        if (h.first == lowerName)
            return h.second;
    return {};
}

bool HttpRequest::hasHeader(const QByteArray &lowerName) const
{
    for (const auto &h : headers)
        if (h.first == lowerName)
            return true;
    return false;
}

QByteArray HttpRequest::cookie(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first != "cookie")
            continue;
        for (const QByteArray &part : h.second.split(';')) {
            const QByteArray p = part.trimmed();
            const qsizetype eq = p.indexOf('=');
            if (eq > 0 && p.left(eq).trimmed() == name)
                return p.mid(eq + 1).trimmed();
        }
    }
    return {};
}

void HttpResponse::setBody(const QByteArray &bytes)
{
    bodyLength = bytes.size();
    body = [bytes](qint64 offset, qint64 max) { return bytes.mid(offset, max); };
}

void HttpResponse::addHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
}

HttpResponse HttpResponse::html(int status, const QString &html)
{
    HttpResponse r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.setBody(html.toUtf8());
    return r;
}

HttpResponse HttpResponse::text(int status, const QByteArray &text)
{
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.setBody(text);
    return r;
}

QByteArray HttpResponse::reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

HttpServer::HttpServer(Handler handler, SessionCheck sessionCheck, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_sessionCheck(std::move(sessionCheck))
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
}

bool HttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

quint16 HttpServer::port() const
{
    return m_server.serverPort();
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_connections >= MaxConnections) {
            // Refusing beats running out of descriptors for everyone.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        auto *c = new HttpConnection(socket, m_handler, m_sessionCheck, this);
        connect(c, &HttpConnection::requestDone, this, &HttpServer::requestDone);
        connect(c, &HttpConnection::closed, this, [this] { --m_connections; });
    }
}

HttpConnection::HttpConnection(QTcpSocket *socket, const HttpServer::Handler &handler,
                               const HttpServer::SessionCheck &sessionCheck, QObject *parent)
    : QObject(parent), m_socket(socket), m_handler(handler), m_sessionCheck(sessionCheck)
{
    m_socket->setParent(this);
    m_idle.setSingleShot(true);
    m_idle.setInterval(HttpServer::IdleTimeoutMs);
    m_slowTick.setInterval(SlowTickMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_state != State::Reading)
            return;
        if (m_in.isEmpty())
            closeConnection();
        else
            fail(408);
    });
    connect(&m_slowTick, &QTimer::timeout, this, &HttpConnection::pump);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 n) {
        m_wireWritten += n;
        if (m_state == State::Closing)
            shutdownWhenFlushed();
        else if (m_response.bytesPerSecond == 0)
            pump();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::onDisconnected);
    m_idle.start();
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(this, &HttpConnection::onDisconnected, Qt::QueuedConnection);
}

void HttpConnection::onReadyRead()
{
    const QByteArray data = m_socket->readAll();
    if (m_state == State::Stalled || m_state == State::Closing)
        return; // nothing more will be answered on this connection
    m_in += data;
    if (m_state == State::Reading) {
        m_idle.start();
        parseInput();
    } else if (m_in.size() > HttpServer::MaxHeaderBytes + HttpServer::MaxRequestBodyBytes) {
        // A client that floods requests while one is answered gets cut off.
        closeConnection();
    }
}

void HttpConnection::parseInput()
{
    while (m_state == State::Reading) {
        // Stray line breaks between requests are allowed and ignored.
        qsizetype skip = 0;
        while (skip < m_in.size() && (m_in[skip] == '\r' || m_in[skip] == '\n'))
            ++skip;
        m_in.remove(0, skip);
        if (m_in.isEmpty())
            return;

        const qsizetype firstLineEnd = m_in.indexOf('\n');
        if ((firstLineEnd < 0 && m_in.size() > HttpServer::MaxRequestLineBytes) ||
            firstLineEnd > HttpServer::MaxRequestLineBytes) {
            fail(414);
            return;
        }
        const qsizetype end = headerBlockEnd(m_in);
        if (end < 0) {
            if (m_in.size() > HttpServer::MaxHeaderBytes)
                fail(431);
            return;
        }
        if (end > HttpServer::MaxHeaderBytes) {
            fail(431);
            return;
        }

        QList<QByteArray> lines = m_in.left(end).split('\n');
        for (QByteArray &l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
        while (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();

        HttpRequest req;
        req.localPort = m_socket->localPort();
        const QList<QByteArray> parts = lines.value(0).split(' ');
        if (parts.size() != 3 || !isToken(parts[0]) || parts[1].isEmpty()) {
            fail(400);
            return;
        }
        req.method = parts[0];
        req.target = parts[1];
        req.version = parts[2];
        for (char c : req.target)
            if (uchar(c) <= 0x20 || uchar(c) == 0x7f) {
                fail(400, req.method);
                return;
            }
        if (req.version != "HTTP/1.1" && req.version != "HTTP/1.0") {
            const bool looksHttp =
                req.version.size() == 8 && req.version.startsWith("HTTP/") && req.version[6] == '.';
            fail(looksHttp ? 505 : 400, req.method, req.target);
            return;
        }
        QByteArray target = req.target;
        if (target.startsWith("http://") || target.startsWith("https://")) {
            const qsizetype slash = target.indexOf('/', target.indexOf("//") + 2);
            target = slash < 0 ? QByteArray("/") : target.mid(slash);
        }
        if (!target.startsWith('/')) {
            fail(400, req.method, req.target);
            return;
        }
        const qsizetype q = target.indexOf('?');
        req.path = q < 0 ? target : target.left(q);
        req.query = q < 0 ? QByteArray() : target.mid(q + 1);
        const qsizetype hash = req.query.indexOf('#');
        if (hash >= 0)
            req.query.truncate(hash);

        qint64 contentLength = 0;
        bool haveLength = false;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray &l = lines[i];
            const qsizetype colon = l.indexOf(':');
            // Folded lines, names with spaces and bare carriage returns are refused.
            if (colon <= 0 || !isToken(l.left(colon)) || l.contains('\r')) {
                fail(400, req.method, req.target);
                return;
            }
            const QByteArray name = l.left(colon).toLower();
            const QByteArray value = l.mid(colon + 1).trimmed();
            if (name == "content-length") {
                if (!isDigits(value) || (haveLength && value.toLongLong() != contentLength)) {
                    fail(400, req.method, req.target);
                    return;
                }
                haveLength = true;
                contentLength = value.toLongLong();
            }
            req.headers.append({name, value});
        }
        if (req.version == "HTTP/1.1" && !req.hasHeader("host")) {
            fail(400, req.method, req.target);
            return;
        }
        if (req.hasHeader("transfer-encoding")) {
            fail(501, req.method, req.target);
            return;
        }
        if (contentLength > HttpServer::MaxRequestBodyBytes) {
            fail(413, req.method, req.target);
            return;
        }
        if (m_in.size() < end + contentLength) {
            if (!m_continueSent && req.header("expect").toLower() == "100-continue") {
                m_continueSent = true;
                m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return;
        }
        req.body = m_in.mid(end, contentLength);
        m_in.remove(0, end + contentLength);
        m_continueSent = false;

        const QByteArray connection = req.header("connection").toLower();
        if (req.version == "HTTP/1.1")
            m_keepAlive = !connection.contains("close");
        else
            m_keepAlive = connection.contains("keep-alive");

        respond(req, m_handler(req));
    }
}

void HttpConnection::fail(int status, const QByteArray &method, const QByteArray &target)
{
    HttpRequest req;
    req.method = method;
    req.target = target;
    req.version = "HTTP/1.1";
    m_in.clear();
    m_keepAlive = false;
    const QString reason = QString::fromLatin1(HttpResponse::reasonPhrase(status));
    HttpResponse r = HttpResponse::html(
        status, QStringLiteral("<!DOCTYPE html>\n<html><head><title>%1 %2</title></head>"
                               "<body><h1>%1 %2</h1></body></html>\n")
                    .arg(status)
                    .arg(reason));
    r.close = true;
    respond(req, r);
}

void HttpConnection::respond(const HttpRequest &request, HttpResponse response)
{
    m_idle.stop();
    m_response = std::move(response);
    m_headOnly = request.method == "HEAD";
    if (m_response.close)
        m_keepAlive = false;
    const bool http10 = request.version == "HTTP/1.0";
    m_chunkedOnWire = m_response.chunked && !http10;
    if (m_response.chunked && http10)
        m_keepAlive = false; // the close marks the end of the body

    QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' +
                      HttpResponse::reasonPhrase(m_response.status) + "\r\n";
    head += "Date: " + httpDate() + "\r\n";
    head += "Server: lumenarc-testsite\r\n";
    if (!m_response.contentType.isEmpty())
        head += "Content-Type: " + m_response.contentType + "\r\n";
    if (m_chunkedOnWire)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!m_response.chunked)
        head += "Content-Length: " + QByteArray::number(m_response.bodyLength) + "\r\n";
    head += m_keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto &h : m_response.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";

    m_limit = m_headOnly ? 0 : m_response.bodyLength;
    if (!m_headOnly && m_response.cutAfter >= 0)
        m_limit = qMin(m_limit, m_response.cutAfter);
    m_sent = 0;
    m_wireWritten = -m_socket->bytesToWrite() - head.size();
    m_reported = false;

    m_record = RequestRecord{};
    m_record.method = request.method;
    m_record.target = request.target;
    m_record.referer = request.header("referer");
    m_record.sessionCookie = m_sessionCheck && !request.method.isEmpty() && request.method != "-" &&
                             m_sessionCheck(request);
    m_record.status = m_response.status;

    m_socket->write(head);
    m_state = State::Sending;
    if (m_response.bytesPerSecond > 0 && m_limit > 0)
        m_slowTick.start();
    else
        pump();
}

void HttpConnection::pump()
{
    if (m_state != State::Sending)
        return;
    if (m_response.bytesPerSecond > 0) {
        // One tick's share of the byte rate.
        const qint64 share = qMax<qint64>(1, m_response.bytesPerSecond * SlowTickMs / 1000);
        if (m_sent < m_limit)
            writeBody(m_response.body(m_sent, qMin(share, m_limit - m_sent)));
    } else {
        const qint64 piece = m_chunkedOnWire ? m_response.chunkBytes : FastPieceBytes;
        while (m_sent < m_limit && m_socket->bytesToWrite() < HighWaterBytes) {
            const QByteArray bytes = m_response.body(m_sent, qMin(piece, m_limit - m_sent));
            if (bytes.isEmpty())
                break;
            writeBody(bytes);
        }
    }
    if (m_sent >= m_limit)
        finishResponse();
}

void HttpConnection::writeBody(const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        m_limit = m_sent; // a generator that runs dry ends the body
        return;
    }
    if (m_chunkedOnWire)
        m_socket->write(QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n");
    else
        m_socket->write(bytes);
    m_sent += bytes.size();
}

void HttpConnection::finishResponse()
{
    m_slowTick.stop();
    const bool cut = !m_headOnly && m_limit < m_response.bodyLength;
    if (!cut && m_chunkedOnWire && !m_headOnly)
        m_socket->write("0\r\n\r\n");
    // Reported before the last bytes leave, so a client that has the whole
    // body always finds its request in the log.
    report();
    if (cut) {
        if (m_response.afterCut == HttpResponse::AfterCut::Stall)
            m_state = State::Stalled; // silent until the client goes
        else
            closeConnection();
        return;
    }
    if (!m_keepAlive) {
        closeConnection();
        return;
    }
    m_state = State::Reading;
    m_response = HttpResponse{}; // frees the body
    m_idle.start();
    QMetaObject::invokeMethod(this, &HttpConnection::parseInput, Qt::QueuedConnection);
}

void HttpConnection::report()
{
    if (m_reported)
        return;
    m_reported = true;
    m_record.bodyBytesSent = m_sent;
    emit requestDone(m_record);
}

void HttpConnection::onDisconnected()
{
    if (m_gone)
        return;
    m_gone = true;
    if (m_state == State::Sending && !m_reported) {
        // The client went away mid-response: count what really left.
        m_sent = qBound<qint64>(0, m_wireWritten, m_sent);
        report();
    }
    m_state = State::Closing;
    m_slowTick.stop();
    m_idle.stop();
    m_response = HttpResponse{};
    disconnect(m_socket, nullptr, this, nullptr);
    emit closed();
    deleteLater();
}

void HttpConnection::closeConnection()
{
    if (m_state == State::Closing)
        return;
    m_state = State::Closing;
    m_slowTick.stop();
    m_idle.stop();
    // A lingering close: send what is queued, then end our direction only and
    // drain whatever the client still sends. Closing outright with unread
    // input would reset the connection and could destroy the answer (a 431
    // or 413 page) before the client has read it.
    shutdownWhenFlushed();
}

void HttpConnection::shutdownWhenFlushed()
{
    if (m_state != State::Closing || m_writeShut || m_gone || m_socket->bytesToWrite() > 0)
        return;
    m_writeShut = true;
    if (::shutdown(int(m_socket->socketDescriptor()), SHUT_WR) != 0) {
        dropSocket();
        return;
    }
    // The answer is out; a client that keeps its side open is let go of
    // after a while.
    QTimer::singleShot(LingerMs, this, &HttpConnection::dropSocket);
}

void HttpConnection::dropSocket()
{
    if (m_gone)
        return;
    m_socket->abort();
    onDisconnected(); // abort() need not report a disconnection
}

} // namespace lumen::testsite
