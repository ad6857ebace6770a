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

// The embedded browser as the system uses it. One production implementation
// over the web engine, one fake for unit tests.
class Browser : public QObject
{
    Q_OBJECT
public:
    using SnapshotCallback = std::function<void(const DocumentSnapshot &)>;

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
    // Writes the value of the input at that position in document order.
    virtual void setInputValue(int inputIndex, const QString &value) = 0;
    virtual void clickInput(int inputIndex) = 0;
    virtual void clickElementById(const QString &id) = 0;

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
