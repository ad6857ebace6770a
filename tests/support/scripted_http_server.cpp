#include "support/scripted_http_server.h"

namespace lumen::test
{

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedHttpServer::onNewConnection);
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    // The sockets are the server's children; they must not call back into a
    // half-destroyed object.
    const auto sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *s : sockets) {
        s->disconnect(this);
        delete s;
    }
}

bool ScriptedHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString ScriptedHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

ScriptedHttpServer::Route ScriptedHttpServer::body(const QByteArray &bytes,
                                                   const QByteArray &contentType)
{
    Route r;
    r.body = bytes;
    r.contentType = contentType;
    return r;
}

int ScriptedHttpServer::requestCount(const QString &path) const
{
    int n = 0;
    for (const Request &r : m_requests)
        n += r.path == path ? 1 : 0;
    return n;
}

int ScriptedHttpServer::openConnections() const
{
    int n = 0;
    for (const auto &list : m_held)
        for (const Held &h : list)
            n += h.socket && h.socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    for (const auto &s : m_silent)
        n += s && s->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return n;
}

void ScriptedHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_pending.remove(socket); });
    }
}

void ScriptedHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buf = m_pending[socket];
    buf += socket->readAll();
    const qsizetype end = buf.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buf.left(end).split('\n');
    buf.clear();
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    Request req;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    QString target = QString::fromLatin1(first.value(1));
    // A proxy forwards the absolute form; keep only the path.
    if (target.startsWith(QLatin1String("http://"))) {
        const qsizetype slash = target.indexOf(QLatin1Char('/'), 7);
        target = slash < 0 ? QStringLiteral("/") : target.mid(slash);
    }
    req.path = target;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            req.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    m_requests << req;
    answer(socket, req.path);
}

void ScriptedHttpServer::answer(QTcpSocket *socket, const QString &path)
{
    const auto it = m_routes.constFind(path);
    Route route;
    if (it == m_routes.constEnd()) {
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
    QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status) + " X\r\n";
    if (!route.contentType.isEmpty())
        head += "Content-Type: " + route.contentType + "\r\n";
    if (route.announceLength) {
        const qint64 len = route.announcedLength >= 0 ? route.announcedLength : route.body.size();
        head += "Content-Length: " + QByteArray::number(len) + "\r\n";
    }
    for (const auto &h : route.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    const qint64 first = route.sendFirst < 0 ? route.body.size() : route.sendFirst;
    socket->write(route.body.left(first));
    if (route.then == Route::Then::Hold && !m_released.contains(path)) {
        m_held[path] << Held{socket, route.body.mid(first)};
        return;
    }
    if (route.then != Route::Then::Drop)
        socket->write(route.body.mid(first));
    socket->flush();
    socket->disconnectFromHost();
}

void ScriptedHttpServer::release(const QString &path)
{
    m_released.insert(path);
    const QList<Held> held = m_held.take(path);
    for (const Held &h : held) {
        if (!h.socket)
            continue;
        h.socket->write(h.rest);
        h.socket->disconnectFromHost();
    }
}

} // namespace lumen::test
