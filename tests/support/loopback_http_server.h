#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace lumen::test
{

// A small HTTP/1.1 server on 127.0.0.1 whose answers a test writes path by
// path (the request target with its query): full bodies, bodies without a
// length or announcing more than is sent, answers held back whole or after
// some bytes until the test lets them go, possibly a few bytes at a time,
// connections dropped mid-body, requests never answered, redirects. Every
// request is logged with its method, headers and body. One request per
// connection; runs on the test's event loop.
class LoopbackHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Route {
        int status = 200;
        QByteArray reason; // empty: the usual phrase for the status
        QByteArray contentType = "application/octet-stream"; // empty: no Content-Type
        QByteArray body;
        bool announceLength = true;  // send Content-Length
        qint64 announcedLength = -1; // Content-Length value when not the body's size
        qint64 sendFirst = -1;       // bytes of the body sent at once; -1 = all
        enum class Then { Finish, Hold, Drop } then = Then::Finish; // after sendFirst
        bool answerOnRelease = false; // send nothing, not even the status line, until released
        bool noResponse = false;      // read the request, never answer
        QList<QPair<QByteArray, QByteArray>> headers; // more header lines
        // Transfer-Encoding: chunked (no Content-Length), in chunks of
        // chunkBytes: whole, cut before the last chunk (the connection
        // closes where the terminating chunk should come), or with a chunk
        // size after the first chunk that announces more than ever follows.
        enum class Chunked { No, Whole, CutBeforeLast, BadSize } chunked = Chunked::No;
        qint64 chunkBytes = 1000;
        // Serve "Range: bytes=N-" as a stock server does: 206 with the rest
        // when If-Range is absent or equals this route's ETag or
        // Last-Modified header, the whole body (200) otherwise. sendFirst
        // and then apply to the bytes sent.
        bool ranges = false;
    };
    struct Request {
        QByteArray method;
        QString path;
        QHash<QByteArray, QByteArray> headers; // names lower-cased
        QByteArray body;
    };

    explicit LoopbackHttpServer(QObject *parent = nullptr);
    ~LoopbackHttpServer() override;
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &path) const;

    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    // Answers for the next requests of path, one each, in order; after them
    // the route set for path answers again.
    void queueRoutes(const QString &path, const QList<Route> &routes) { m_queued[path] += routes; }
    static Route body(const QByteArray &bytes, const QByteArray &contentType = "application/pdf");
    // Sends the headers and the first sendFirst bytes of the body, then
    // waits for a release.
    static Route held(const QByteArray &bytes, qint64 sendFirst,
                      const QByteArray &contentType = "application/pdf");
    // A redirect to location.
    static Route redirect(const QByteArray &location, int status = 302);

    // Sends what is left of every answer held now for path and closes.
    // Later requests for path are held again.
    void release(const QString &path);
    // The same for every held answer, whatever its path.
    void releaseAll();
    // Lets a further `bytes` of the body through on every held answer; an
    // answer whose body is then complete is closed.
    void releaseBytes(qint64 bytes);
    // Cuts every held or unanswered connection.
    void dropAll();

    const QList<Request> &requests() const { return m_requests; }
    int requestCount(const QString &path) const;
    // The live connections held or unanswered.
    int openConnections() const;

signals:
    // A whole request has arrived, before it is answered.
    void requestReceived(const QString &path);

private:
    struct Held {
        QPointer<QTcpSocket> socket;
        QString path;
        QByteArray head; // not yet sent when the answer waits for release
        QByteArray body;
        qint64 sent = 0;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    // Sends the head if still due and the body up to `upTo`; closes when the
    // body is complete. Returns whether the connection is still held.
    bool advance(Held &held, qint64 upTo);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QString, QList<Route>> m_queued;
    QHash<QTcpSocket *, QByteArray> m_pending;
    QList<Held> m_held;
    QList<QPointer<QTcpSocket>> m_silent;
    QList<Request> m_requests;
};

} // namespace lumen::test
