#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <utility>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

namespace lumen
{

// `uXMLHTTP`: one asynchronous HTTP request at a time. The host opens a
// request, adds headers, sends it, and hears the outcome through signals.
// The request is not followed through the network's own callbacks: a 10 ms
// poll timer looks at it, announces every look with readyStateChanged(), and
// once the request is complete raises exactly one of dataArrived() or
// dataError(). So the host always hears about progress before the outcome,
// and may start the next request from within its outcome handler.
//
// Only http and https addresses are fetched. When a save path is given, a
// successful body streams into that file through QSaveFile: the file appears
// under its name only once it is complete, and an existing file is replaced
// only then.
class AsyncFetcher : public QObject
{
    Q_OBJECT
public:
    // XMLHTTP's ready states.
    enum ReadyState { Unsent = 0, Opened = 1, HeadersReceived = 2, Loading = 3, Done = 4 };

    // How often the poll tick reports the ready state while a request runs.
    static constexpr int PollIntervalMs = 10;
    // The body is kept in memory up to this size for responseBody() and
    // responseText(). A longer body is refused unless it is being saved, in
    // which case it goes only to the file.
    static constexpr qint64 MaxBodyInMemory = 8 * 1024 * 1024;

    // Uses its own network manager.
    explicit AsyncFetcher(QObject *parent = nullptr);
    // Shares the given manager (its cookies and proxy); the manager must
    // outlive the fetcher.
    AsyncFetcher(QNetworkAccessManager *manager, QObject *parent);
    ~AsyncFetcher() override;

    // `Open_`: prepares a request with the method (upper-cased) and the URL,
    // dropping any request still in flight without an outcome. An optional
    // save path (a local path or a file: URL) receives the body of a
    // successful answer. Returns false, with errorString() saying why, for an
    // empty method or a URL that is not http or https; nothing is then armed.
    bool open(const QString &method, const QString &url, const QString &savePath = QString());
    // `SetRequestHeader`: adds a header to the opened request; ignored when
    // no request is open.
    void setRequestHeader(const QString &name, const QString &value);
    // `Send_`: sends the opened request and starts polling. Ignored unless a
    // request was opened and not yet sent: a second send while busy leaves
    // the first request running, a send without open starts nothing.
    void send(const QByteArray &body = QByteArray());
    // `Abort_`: stops polling and drops the request; no outcome follows.
    void abort();

    // `DownOK`: false after open(), true once a poll saw the request complete,
    // whatever its status.
    bool downOk() const { return m_downOk; }
    // Whether the poll timer runs.
    bool isPolling() const { return m_timer.isActive(); }
    int readyState() const;
    // The HTTP status; 0 when there was no answer.
    int status() const { return m_status; }
    // The server's own reason phrase.
    QString statusText() const { return m_reason; }
    // `GetResponseHeader`; empty when absent.
    QString responseHeader(const QString &name) const;
    // `GetAllResponseHeaders`: "Name: value" lines ended by CR LF.
    QString allResponseHeaders() const;
    // The body; empty when it was longer than MaxBodyInMemory and saved.
    QByteArray responseBody() const { return m_body; }
    // The body decoded by its declared charset or byte-order mark, UTF-8
    // otherwise.
    QString responseText() const;
    // Why the last request failed without an HTTP status, or why its body
    // could not be saved.
    QString errorString() const { return m_error; }

    // The description of an HTTP status code; empty for codes it has none for.
    static QString statusDescription(int code);

public slots:
    // The poll tick: announces the ready state and, once the reply is done,
    // stops polling, keeps or drops the saved file and reports the outcome.
    void pollTick();

signals:
    // `OnDateArrived`: status 200, and the body is saved when a save path was
    // given.
    void dataArrived();
    // `OnReadyStateChange`: raised at every poll, before the state is looked at.
    void readyStateChanged();
    // `OnDateErr`: the request completed without success. The text is the
    // status description for an HTTP error status, or errorString() when
    // there was no answer, the body was cut short or could not be saved.
    void dataError(const QString &text);

private:
    enum class Phase { Idle, Opened, Sent };

    void dropRequest();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void takeStatus();
    bool savingThisBody() const;
    QString saveFailedText() const;

    QNetworkAccessManager *m_manager = nullptr;
    std::unique_ptr<QNetworkAccessManager> m_ownManager;
    QTimer m_timer; // drives pollTick() while a request runs
    Phase m_phase = Phase::Idle;
    bool m_downOk = false;

    QByteArray m_method;
    QUrl m_url;
    QString m_savePath;
    QList<std::pair<QByteArray, QByteArray>> m_requestHeaders;

    QPointer<QNetworkReply> m_reply;
    bool m_headersSeen = false;
    bool m_dataSeen = false;
    bool m_finished = false;
    int m_status = 0;
    QString m_reason;
    QList<std::pair<QByteArray, QByteArray>> m_responseHeaders;
    QByteArray m_body;
    qint64 m_received = 0;
    bool m_bodyInMemory = true;
    bool m_failed = false; // a failure besides the HTTP status
    QString m_error;

    std::unique_ptr<QSaveFile> m_saveFile;
    bool m_saveFailed = false;
};

} // namespace lumen
