#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace lumen::test
{

// A small HTTP/1.1 server on 127.0.0.1 whose answers a test writes path by
// path: full bodies, bodies without a length, bodies that stop half way and
// wait for release(), connections dropped mid-body, requests never answered.
// Every request is logged with its headers. Runs on the test's event loop.
class ScriptedHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Route {
        int status = 200;
        QByteArray contentType = "application/octet-stream";
        QByteArray body;
        bool announceLength = true;  // send Content-Length
        qint64 announcedLength = -1; // Content-Length value when not the body's size
        qint64 sendFirst = -1;       // bytes of the body sent at once; -1 = all
        enum class Then { Finish, Hold, Drop } then = Then::Finish; // after sendFirst
        bool noResponse = false;                      // read the request, never answer
        QList<QPair<QByteArray, QByteArray>> headers; // more header lines
    };
    struct Request {
        QString path;
        QHash<QByteArray, QByteArray> headers; // names lower-cased
    };

    explicit ScriptedHttpServer(QObject *parent = nullptr);
    ~ScriptedHttpServer() override;
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;

    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    static Route body(const QByteArray &bytes, const QByteArray &contentType = "application/pdf");
    // Sends what is left of every held answer for path and closes; later
    // requests for path are answered in full.
    void release(const QString &path);
    QList<Request> requests() const { return m_requests; }
    int requestCount(const QString &path) const;
    // The live connections held or unanswered.
    int openConnections() const;

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &path);

    struct Held {
        QPointer<QTcpSocket> socket;
        QByteArray rest;
    };
    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QHash<QString, QList<Held>> m_held;
    QList<QPointer<QTcpSocket>> m_silent;
    QList<Request> m_requests;
    QSet<QString> m_released;
};

} // namespace lumen::test
