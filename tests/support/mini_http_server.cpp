#include "support/mini_http_server.h"

#include <QTcpSocket>

namespace lumen::test
{

namespace
{
constexpr qint64 kChunk = 64 * 1024;

QByteArray reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}
} // namespace

MiniHttpServer::MiniHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &MiniHttpServer::onConnection);
}

MiniHttpServer::~MiniHttpServer()
{
    dropAll();
}

bool MiniHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString MiniHttpServer::url(const QString &target) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(target);
}

void MiniHttpServer::route(const QByteArray &target, const MiniResponse &response)
{
    m_routes.insert(target, response);
}

int MiniHttpServer::hits(const QByteArray &target) const
{
    int n = 0;
    for (const MiniRequest &r : m_requests)
        n += r.target == target;
    return n;
}

int MiniHttpServer::openTransfers() const
{
    int n = 0;
    for (const Connection *c : m_connections)
        n += c->answering;
    return n;
}

void MiniHttpServer::release(qint64 bytes)
{
    const QList<Connection *> open = m_connections;
    for (Connection *c : open) {
        if (!c->answering)
            continue;
        c->allowed = bytes < 0 ? c->response.body.size()
                               : qMin<qint64>(c->response.body.size(), c->allowed + bytes);
        pump(c);
    }
}

void MiniHttpServer::dropAll()
{
    const QList<Connection *> open = m_connections;
    for (Connection *c : open)
        finish(c);
}

void MiniHttpServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *c = new Connection;
        c->socket = socket;
        m_connections.append(c);
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { onReadable(c); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c] { pump(c); });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] {
            if (m_connections.contains(c))
                finish(c);
        });
    }
}

void MiniHttpServer::onReadable(Connection *c)
{
    c->input += c->socket->readAll();
    if (c->answering)
        return;
    const qsizetype end = c->input.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = c->input.left(end).split('\n');
    MiniRequest request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    c->answering = true;
    c->response = m_routes.value(request.target,
                                 MiniResponse{404, "<html>not here</html>", true, "text/html"});
    const MiniResponse &r = c->response;
    c->allowed = r.holdAfter < 0 ? r.body.size() : qMin<qint64>(r.holdAfter, r.body.size());

    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + reason(r.status) + "\r\n";
    head += "Content-Type: " + r.contentType + "\r\n";
    if (r.sendLength)
        head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    for (const auto &[name, value] : r.extraHeaders)
        head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    c->socket->write(head);
    emit requestReceived(request.target);
    pump(c);
}

void MiniHttpServer::pump(Connection *c)
{
    if (!c->answering || !m_connections.contains(c))
        return;
    while (c->sent < c->allowed && c->socket->bytesToWrite() < 4 * kChunk) {
        const qint64 n = qMin(kChunk, c->allowed - c->sent);
        c->socket->write(c->response.body.constData() + c->sent, n);
        c->sent += n;
    }
    if (c->sent == c->response.body.size() && c->socket->bytesToWrite() == 0)
        finish(c);
}

void MiniHttpServer::finish(Connection *c)
{
    m_connections.removeOne(c);
    QTcpSocket *socket = c->socket;
    socket->disconnect(this);
    socket->disconnectFromHost();
    socket->deleteLater();
    delete c;
}

} // namespace lumen::test
