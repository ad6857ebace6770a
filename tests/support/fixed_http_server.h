#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace lumen::test
{

// A small HTTP/1.1 server on 127.0.0.1 for tests that need a real peer but
// not the whole repository site. Each path answers with a canned response;
// a held path answers only when the test releases it, so a request can be
// kept in flight for as long as a test needs.
class FixedHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        bool held = false; // answer only after release()
        // Announce a longer body than is sent, then close: a cut transfer.
        qint64 announcedLength = -1;
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    explicit FixedHttpServer(QObject *parent = nullptr);
    ~FixedHttpServer() override;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString &path) const;

    void route(const QByteArray &path, const Response &response);
    // Answers every held request of that path now.
    void release(const QByteArray &path);

    const QList<Request> &requests() const { return m_requests; }

    // A port on 127.0.0.1 that nothing listens on.
    static quint16 closedPort();

signals:
    void requestReceived(const QByteArray &path);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QByteArray &path);

    QTcpServer m_server;
    QHash<QByteArray, Response> m_routes;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<std::pair<QPointer<QTcpSocket>, QByteArray>> m_held;
    QList<Request> m_requests;
};

} // namespace lumen::test
