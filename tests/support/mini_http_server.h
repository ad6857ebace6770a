#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace lumen::test
{

// What the server answers for one path (the request target with its query).
struct MiniResponse {
    int status = 200;
    QByteArray body;
    bool sendLength = true; // without it the body ends when the connection closes
    QByteArray contentType = "application/octet-stream";
    QList<QPair<QByteArray, QByteArray>> extraHeaders;
    // Send the headers and this many body bytes, then hold the connection
    // open until release() lets more through (-1: send everything).
    qint64 holdAfter = -1;
};

struct MiniRequest {
    QByteArray method;
    QByteArray target;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

// A small HTTP/1.1 server on 127.0.0.1 for tests that need to control a
// transfer byte by byte: bodies with and without a length, error pages,
// connections that stall on purpose. One request per connection.
class MiniHttpServer : public QObject
{
    Q_OBJECT
public:
    explicit MiniHttpServer(QObject *parent = nullptr);
    ~MiniHttpServer() override;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &target) const;

    void route(const QByteArray &target, const MiniResponse &response);
    QList<MiniRequest> requests() const { return m_requests; }
    int hits(const QByteArray &target) const;
    // Connections that have sent their headers and are still open.
    int openTransfers() const;

    // Lets a further `bytes` through on every held connection (-1: the rest).
    void release(qint64 bytes = -1);
    // Cuts every open connection.
    void dropAll();

signals:
    void requestReceived(const QByteArray &target);

private:
    struct Connection {
        QTcpSocket *socket = nullptr;
        QByteArray input;
        bool answering = false;
        MiniResponse response;
        qint64 sent = 0;
        qint64 allowed = 0;
    };

    void onConnection();
    void onReadable(Connection *c);
    void pump(Connection *c);
    void finish(Connection *c);

    QTcpServer m_server;
    QHash<QByteArray, MiniResponse> m_routes;
    QList<MiniRequest> m_requests;
    QList<Connection *> m_connections;
};

} // namespace lumen::test
