#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace lumen
{

// One anchor element as the rendered page holds it.
struct AnchorSnapshot {
    QString innerHtml; // the engine's own serialisation of the content
    QString innerText; // visible text
    QString href;      // link target resolved to an absolute address; empty when none
    QString outerHtml;
};

// One input element, in document order.
struct InputSnapshot {
    int index = 0; // position among the document's inputs
    QString id;
    QString name;
    QString type;
    QString value;
};

// What the harvest, paging and login logic read of the current document.
// The real engine renders in another process, so a document is read as one
// snapshot rather than element by element.
struct DocumentSnapshot {
    bool present = false; // false while no document is loaded
    QString url;          // the document's address at the moment of the snapshot
    QList<AnchorSnapshot> anchors;
    QList<InputSnapshot> inputs;
    QStringList elementIds; // ids of every element that has one
    QString rootOuterHtml;
    // The HTTP status of the answer the document came with when the server
    // answered with an error (400 and above); 0 otherwise or when unknown.
    int httpErrorStatus = 0;
};

// A piece of what the harvest reads of the current document: of the links
// from..next (in document order), those that may be result entries or the
// page's own "next" link. Everything else on the page is left in the engine.
struct ResultsPiece {
    bool present = false; // false while no document is loaded
    // Names the document the piece was read from: the same number for every
    // piece of one document, another one once a new document replaced it.
    quint64 document = 0;
    QString url;
    qsizetype anchorCount = 0; // links in the whole document
    qsizetype next = 0;        // where the next piece starts
    // innerText, href, outerHtml and innerHtml of each link taken.
    QList<AnchorSnapshot> anchors;
    // How often the page's text says "Internal Server Error" (given with the
    // first piece, 0 in the others).
    int serverErrorMentions = 0;
    int httpErrorStatus = 0; // as in DocumentSnapshot
};

// Whether two addresses share scheme, host and port (a missing port is the
// scheme's default).
bool sameOrigin(const QUrl &a, const QUrl &b);

// The embedded browser as the system uses it. One production implementation
// over the web engine, one fake for unit tests.
class Browser : public QObject
{
    Q_OBJECT
public:
    using SnapshotCallback = std::function<void(const DocumentSnapshot &)>;
    using ResultsCallback = std::function<void(const ResultsPiece &)>;

    explicit Browser(QObject *parent = nullptr) : QObject(parent) {}

    // Starts loading and returns at once.
    virtual void navigate(const QUrl &url) = 0;
    virtual void goBack() = 0;    // no history: ignored
    virtual void goForward() = 0; // no history: ignored
    virtual void refresh() = 0;
    // True while a navigation is still loading.
    virtual bool isBusy() const = 0;
    // Silent: no script dialogs (alerts, confirmations, error boxes) reach the user.
    virtual void setSilent(bool silent) = 0;
    virtual bool isSilent() const = 0;
    virtual QUrl currentUrl() const = 0;

    // Reads the current document; the callback runs later on this thread,
    // with present == false when no document is loaded.
    virtual void snapshot(SnapshotCallback done) = 0;
    // Reads the links from..from + maxAnchors of the current document (fewer
    // when their markup is large or a smaller piece from there was read
    // ahead, one at least), keeping those a results page is read for. The
    // callback runs later on this thread.
    virtual void readResults(qsizetype from, qsizetype maxAnchors, ResultsCallback done) = 0;
    // Writes the value of the input at that position in document order.
    // Given an origin (scheme, host, port of an address), the document is
    // touched only when it is of that origin at the moment of the write:
    // what was meant for one site never reaches another site's page.
    virtual void setInputValue(int inputIndex, const QString &value,
                               const QUrl &onlyOrigin = QUrl()) = 0;
    virtual void clickInput(int inputIndex, const QUrl &onlyOrigin = QUrl()) = 0;
    virtual void clickElementById(const QString &id, const QUrl &onlyOrigin = QUrl()) = 0;
    // Whether the document shown is the answer to a form sent (a sign-in's
    // POST answer, which a reload would send again).
    virtual bool showsFormAnswer() const = 0;

signals:
    // Once per loaded top-level document (frames never raise it).
    void documentComplete(const QUrl &url);
    void statusTextChanged(const QString &text);
    void titleChanged(const QString &title);
    // A page asked for a new window; the browser has already opened the
    // address in itself instead.
    void newWindowRequested(const QUrl &url);
    // A navigation ended without a document (network error).
    void loadFailed(const QUrl &url);
};

} // namespace lumen
