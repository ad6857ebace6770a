#include "support/fixed_http_server.h"

#include <QTcpSocket>

namespace lumen::test
{

FixedHttpServer::FixedHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FixedHttpServer::onNewConnection);
}

FixedHttpServer::~FixedHttpServer() = default;

bool FixedHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl FixedHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void FixedHttpServer::route(const QByteArray &path, const Response &response)
{
    m_routes.insert(path, response);
}

void FixedHttpServer::release(const QByteArray &path)
{
    const auto held = m_held;
    m_held.clear();
    for (const auto &[socket, p] : held) {
        if (p != path) {
            m_held.append({socket, p});
            continue;
        }
        if (socket)
            answer(socket, p);
    }
}

quint16 FixedHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void FixedHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void FixedHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buf = m_buffers[socket];
    buf += socket->readAll();
    const qsizetype headEnd = buf.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = buf.left(headEnd).split('\n');
    Request req;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    req.method = first.value(0);
    req.path = first.value(1);
    qint64 length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        req.headers.insert(name, value);
        if (name == "content-length")
            length = value.toLongLong();
    }
    if (buf.size() < headEnd + 4 + length)
        return;
    req.body = buf.mid(headEnd + 4, length);
    buf.remove(0, headEnd + 4 + length);
    m_requests.append(req);
    const Response r = m_routes.value(req.path, Response{404, "Not Found", "no such page", {}});
    emit requestReceived(req.path);
    if (r.held)
        m_held.append({socket, req.path});
    else
        answer(socket, req.path);
}

void FixedHttpServer::answer(QTcpSocket *socket, const QByteArray &path)
{
    const Response r = m_routes.value(path, Response{404, "Not Found", "no such page", {}});
    QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
    const qint64 length = r.announcedLength >= 0 ? r.announcedLength : r.body.size();
    out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    out += "Connection: close\r\n";
    for (const auto &[name, value] : r.headers)
        out += name + ": " + value + "\r\n";
    out += "\r\n";
    out += r.body;
    socket->write(out);
    socket->disconnectFromHost();
}

} // namespace lumen::test
