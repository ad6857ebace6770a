#include "support/loopback_http_server.h"

#include <utility>

namespace lumen::test
{

namespace
{

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 503:
        return "Service Unavailable";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 407:
        return "Proxy Authentication Required";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

LoopbackHttpServer::LoopbackHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::onNewConnection);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    // The sockets are the server's children; they must not call back into a
    // half-destroyed object.
    const auto sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *s : sockets) {
        s->disconnect(this);
        delete s;
    }
}

bool LoopbackHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString LoopbackHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

LoopbackHttpServer::Route LoopbackHttpServer::body(const QByteArray &bytes,
                                                   const QByteArray &contentType)
{
    Route r;
    r.body = bytes;
    r.contentType = contentType;
    return r;
}

LoopbackHttpServer::Route LoopbackHttpServer::held(const QByteArray &bytes, qint64 sendFirst,
                                                   const QByteArray &contentType)
{
    Route r = body(bytes, contentType);
    r.sendFirst = sendFirst;
    r.then = Route::Then::Hold;
    return r;
}

LoopbackHttpServer::Route LoopbackHttpServer::redirect(const QByteArray &location, int status)
{
    Route r = body("<html><body>moved</body></html>", "text/html");
    r.status = status;
    r.headers << qMakePair(QByteArray("Location"), location);
    return r;
}

int LoopbackHttpServer::requestCount(const QString &path) const
{
    int n = 0;
    for (const Request &r : m_requests)
        n += r.path == path ? 1 : 0;
    return n;
}

int LoopbackHttpServer::openConnections() const
{
    int n = 0;
    for (const Held &h : m_held)
        n += h.socket && h.socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    for (const auto &s : m_silent)
        n += s && s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return n;
}

void LoopbackHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
    }
}

void LoopbackHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buf = m_pending[socket];
    buf += socket->readAll();
    const qsizetype end = buf.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buf.left(end).split('\n');
    Request req;
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        req.headers.insert(name, value);
        if (name == "content-length")
            length = value.toLongLong();
    }
    if (buf.size() < end + 4 + length)
        return; // the body is still on its way
    req.body = buf.mid(end + 4, length);
    m_pending.remove(socket);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);

    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    QString target = QString::fromLatin1(first.value(1));
    // A proxy forwards the absolute form; keep only the path.
    if (target.startsWith(QLatin1String("http://"))) {
        const qsizetype slash = target.indexOf(QLatin1Char('/'), 7);
        target = slash < 0 ? QStringLiteral("/") : target.mid(slash);
    }
    req.path = target;
    m_requests << req;
    emit requestReceived(req.path);
    answer(socket, req);
}

void LoopbackHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const QString &path = request.path;
    const auto it = m_routes.constFind(path);
    Route route;
    if (auto queued = m_queued.find(path); queued != m_queued.end() && !queued->isEmpty()) {
        route = queued->takeFirst();
    } else if (it == m_routes.constEnd()) {
        route.status = 404;
        route.contentType = "text/html";
        route.body = "<html><head><title>404</title></head><body>not here</body></html>";
    } else {
        route = *it;
    }
    if (route.noResponse) {
        m_silent << socket;
        return;
    }
    QByteArray contentRange;
    const QByteArray range = request.headers.value("range");
    if (route.ranges && route.status == 200 && range.startsWith("bytes=") && range.endsWith('-')) {
        QByteArray validator;
        for (const auto &h : route.headers) {
            const QByteArray name = h.first.toLower();
            if (name == "etag" || (name == "last-modified" && validator.isEmpty()))
                validator = h.second;
        }
        const QByteArray ifRange = request.headers.value("if-range");
        bool numeric = false;
        const qint64 from = range.mid(6, range.size() - 7).toLongLong(&numeric);
        if (numeric && from >= 0 && from < route.body.size() &&
            (ifRange.isEmpty() || ifRange == validator)) {
            contentRange = "bytes " + QByteArray::number(from) + '-' +
                           QByteArray::number(route.body.size() - 1) + '/' +
                           QByteArray::number(route.body.size());
            route.status = 206;
            route.body = route.body.mid(from);
        }
    }
    const QByteArray reason = route.reason.isEmpty() ? reasonPhrase(route.status) : route.reason;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reason + "\r\n";
    if (!route.contentType.isEmpty())
        head += "Content-Type: " + route.contentType + "\r\n";
    if (route.chunked != Route::Chunked::No) {
        head += "Transfer-Encoding: chunked\r\n";
        QByteArray encoded;
        for (qint64 at = 0; at < route.body.size(); at += route.chunkBytes) {
            const QByteArray piece = route.body.mid(at, route.chunkBytes);
            encoded += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
            if (route.chunked == Route::Chunked::BadSize && at == 0)
                encoded += "7fffff\r\n"; // more than will ever follow
        }
        if (route.chunked == Route::Chunked::Whole)
            encoded += "0\r\n\r\n";
        route.body = encoded;
        route.announceLength = false;
    }
    if (route.announceLength) {
        const qint64 len = route.announcedLength >= 0 ? route.announcedLength : route.body.size();
        head += "Content-Length: " + QByteArray::number(len) + "\r\n";
    }
    if (!contentRange.isEmpty())
        head += "Content-Range: " + contentRange + "\r\n";
    for (const auto &h : route.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";

    Held held{socket, path, head, route.body, 0};
    if (route.answerOnRelease) {
        m_held << held;
        return;
    }
    const qint64 first = route.sendFirst < 0 ? route.body.size() : route.sendFirst;
    if (route.then == Route::Then::Drop) {
        socket->write(head + route.body.left(first));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    if (advance(held, route.then == Route::Then::Hold ? first : route.body.size()))
        m_held << held;
}

bool LoopbackHttpServer::advance(Held &held, qint64 upTo)
{
    if (!held.socket)
        return false;
    if (!held.head.isEmpty()) {
        held.socket->write(held.head);
        held.head.clear();
    }
    upTo = qMin<qint64>(upTo, held.body.size());
    if (upTo > held.sent) {
        held.socket->write(held.body.constData() + held.sent, upTo - held.sent);
        held.sent = upTo;
    }
    if (held.sent < held.body.size())
        return true;
    held.socket->flush();
    held.socket->disconnectFromHost();
    return false;
}

void LoopbackHttpServer::release(const QString &path)
{
    const QList<Held> held = std::exchange(m_held, {});
    for (Held h : held) {
        if (h.path != path || advance(h, h.body.size()))
            m_held << h;
    }
}

void LoopbackHttpServer::releaseAll()
{
    const QList<Held> held = std::exchange(m_held, {});
    for (Held h : held)
        advance(h, h.body.size());
}

void LoopbackHttpServer::releaseBytes(qint64 bytes)
{
    const QList<Held> held = std::exchange(m_held, {});
    for (Held h : held) {
        if (advance(h, h.sent + bytes))
            m_held << h;
    }
}

void LoopbackHttpServer::dropAll()
{
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held &h : held) {
        if (h.socket)
            h.socket->disconnectFromHost();
    }
    const auto silent = std::exchange(m_silent, {});
    for (const auto &s : silent) {
        if (s)
            s->disconnectFromHost();
    }
}

} // namespace lumen::test
