#pragma once

// A small HTTP/1.1 server of our own: every byte on the wire, every missing
// header and every fault of the local repository site is decided here, not
// by a library. One connection object per socket, all on the event loop;
// bodies are produced piecewise so a response of any size costs a bounded
// buffer, and slow or stalled bodies run on timers.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace lumen::testsite
{

struct HttpRequest {
    QByteArray method;
    QByteArray target;                            // as sent: path and query
    QByteArray path;                              // percent-encoded path without the query
    QByteArray query;                             // raw query without '?'
    QByteArray version;                           // "HTTP/1.0" or "HTTP/1.1"
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    quint16 localPort = 0;

    QByteArray header(const QByteArray &lowerName) const;
    bool hasHeader(const QByteArray &lowerName) const;
    // The value of the named cookie, or a null array.
    QByteArray cookie(const QByteArray &name) const;
};

// Produces body bytes [offset, offset + max) of a body of a known length.
using BodyGenerator = std::function<QByteArray(qint64 offset, qint64 max)>;

struct HttpResponse {
    enum class AfterCut { Stall, Close };

    int status = 200;
    QByteArray contentType;                       // empty: no Content-Type header
    QList<QPair<QByteArray, QByteArray>> headers; // further headers
    qint64 bodyLength = 0;                        // bytes the body has in full
    BodyGenerator body;                           // null when bodyLength is 0
    bool chunked = false;                         // Transfer-Encoding: chunked, no length
    qint64 chunkBytes = 16 * 1024;                // payload per chunk when chunked
    int bytesPerSecond = 0;                       // 0: as fast as the client takes it
    qint64 cutAfter = -1;                         // send only this many body bytes
    AfterCut afterCut = AfterCut::Close;          // then stay silent or close
    bool close = false;                           // close the connection when done

    void setBody(const QByteArray &bytes);
    void addHeader(const QByteArray &name, const QByteArray &value);
    static HttpResponse html(int status, const QString &html);
    static HttpResponse text(int status, const QByteArray &text);
    static QByteArray reasonPhrase(int status);
};

// One line of the request log, reported when the server has nothing more to
// send for a request (finished, cut, or the client went away).
struct RequestRecord {
    QByteArray method;
    QByteArray target;
    QByteArray referer;
    bool sessionCookie = false;
    int status = 0;
    qint64 bodyBytesSent = 0;
};

class HttpServer : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;
    using SessionCheck = std::function<bool(const HttpRequest &)>;

    // Limits on what a client may send.
    static constexpr int MaxRequestLineBytes = 8 * 1024;
    static constexpr int MaxHeaderBytes = 32 * 1024;
    static constexpr qint64 MaxRequestBodyBytes = 1024 * 1024;
    static constexpr int IdleTimeoutMs = 60 * 1000;
    static constexpr int MaxConnections = 1000;

    HttpServer(Handler handler, SessionCheck sessionCheck, QObject *parent = nullptr);
    bool listen(quint16 port);
    quint16 port() const;

signals:
    void requestDone(const lumen::testsite::RequestRecord &record);

private:
    void acceptConnections();

    QTcpServer m_server;
    Handler m_handler;
    SessionCheck m_sessionCheck;
    int m_connections = 0;
};

class HttpConnection : public QObject
{
    Q_OBJECT
public:
    HttpConnection(QTcpSocket *socket, const HttpServer::Handler &handler,
                   const HttpServer::SessionCheck &sessionCheck, QObject *parent);

signals:
    void requestDone(const lumen::testsite::RequestRecord &record);
    void closed();

private:
    enum class State { Reading, Sending, Stalled, Closing };

    void onReadyRead();
    void parseInput();
    void fail(int status, const QByteArray &method = "-", const QByteArray &target = "-");
    void respond(const HttpRequest &request, HttpResponse response);
    void pump();
    void writeBody(const QByteArray &bytes);
    void finishResponse();
    void report();
    void onDisconnected();
    void closeConnection();
    void shutdownWhenFlushed();
    void dropSocket();

    QTcpSocket *m_socket;
    HttpServer::Handler m_handler;
    HttpServer::SessionCheck m_sessionCheck;
    State m_state = State::Reading;
    QByteArray m_in;
    bool m_continueSent = false;
    QTimer m_idle;
    QTimer m_slowTick;

    // The response being sent.
    HttpResponse m_response;
    RequestRecord m_record;
    bool m_headOnly = false;
    bool m_keepAlive = false;
    bool m_chunkedOnWire = false;
    qint64 m_limit = 0;       // body bytes to send
    qint64 m_sent = 0;        // body bytes handed to the socket
    qint64 m_wireWritten = 0; // body bytes the socket has really sent
    bool m_reported = false;
    bool m_gone = false;
    bool m_writeShut = false;
};

} // namespace lumen::testsite
