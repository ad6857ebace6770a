#pragma once

#include "harvest/browser.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <functional>

namespace lumen::test
{

// A browser with a scripted DOM: pages are registered by address, a
// navigation stays busy until the test completes (or fails) it, and
// snapshots are answered at once or held back until the test delivers them.
class FakeBrowser final : public Browser
{
    Q_OBJECT
public:
    enum class LoadMode {
        Manual,    // navigate() stays busy until completeLoad() or failLoad()
        Immediate, // navigate() completes before it returns
    };

    explicit FakeBrowser(QObject *parent = nullptr);

    // Pages by address (a page's httpErrorStatus is the status it is served
    // with). A navigation to an address without a page shows a small
    // "Not Found" document served with 404.
    void setPage(const QString &url, DocumentSnapshot document);
    // A load of `from` ends on the page at `to`, as after a server's redirect.
    void setRedirect(const QString &from, const QString &to) { m_redirects.insert(from, to); }
    // Shows the page at once, without any signal (the state before a test).
    void show(const QString &url);
    // Shows no document at all (nothing loaded yet).
    void showNothing();

    LoadMode loadMode = LoadMode::Manual;
    // Hold snapshots until deliverSnapshots(); never delivering them models
    // a document that does not answer.
    bool deferSnapshots = false;
    // Every address passed to navigate(), in order.
    QStringList navigations;
    // "set:<index>:<value>", "click:<index>", "clickId:<id>", "back", "forward", "refresh".
    QStringList actions;
    // Runs on clickElementById / clickInput, e.g. to navigate like a form.
    std::function<void(const QString &what)> onClick;
    // The next load sends a form (its answer is a form answer until another
    // page is loaded), as a click on a submit button does in a page.
    void sendsForm() { m_sendsForm = true; }
    // Writes and clicks refused because the page was of another origin.
    QStringList refused;

    void completeLoad();
    // Shows the page being loaded while the load goes on (it never completes
    // unless the test says so).
    void commitLoad();
    // The load reaches no server (refused, dropped, unreachable). As in the
    // engine, an error page of the browser's own takes the old page's place:
    // its document address is ErrorPageUrl, while currentUrl() names the
    // address that failed.
    void failLoad();
    static const QString ErrorPageUrl;
    // The load ends without a new document (a 204 answer): the old page
    // stays, and no completion is reported.
    void abandonLoad();
    int pendingSnapshots() const { return m_pending.size(); }
    void deliverSnapshots();
    const DocumentSnapshot &current() const { return m_current; }

    // Browser
    void navigate(const QUrl &url) override;
    void goBack() override;
    void goForward() override;
    void refresh() override;
    bool isBusy() const override { return m_busy; }
    void setSilent(bool silent) override { m_silent = silent; }
    bool isSilent() const override { return m_silent; }
    QUrl currentUrl() const override { return m_currentUrl; }
    void snapshot(SnapshotCallback done) override;
    // As the engine reads a results page: the candidate links of the piece,
    // at most pieceBudgetChars characters of them (one link at least), the
    // mentions of "Internal Server Error" in the page's markup with the
    // first piece. Held back with the snapshots when deferSnapshots is set.
    void readResults(qsizetype from, qsizetype maxAnchors, ResultsCallback done) override;
    qsizetype pieceBudgetChars = 8 << 20;
    // Pieces asked for, in order, as "from:max".
    QStringList pieceRequests;
    void setInputValue(int inputIndex, const QString &value,
                       const QUrl &onlyOrigin = QUrl()) override;
    void clickInput(int inputIndex, const QUrl &onlyOrigin = QUrl()) override;
    void clickElementById(const QString &id, const QUrl &onlyOrigin = QUrl()) override;
    bool showsFormAnswer() const override { return m_formAnswer; }

    // Building blocks of results pages, in the form the engine serialises.
    static AnchorSnapshot resultEntry(const QString &title, const QString &href,
                                      const QString &innerHtml = QString());
    static AnchorSnapshot plainAnchor(const QString &text, const QString &href);
    // The page's own "next" link, as the repository writes it.
    static AnchorSnapshot nextMarker(const QString &href = QStringLiteral("#"));
    struct Entry {
        QString title;
        QString href;
    };
    static DocumentSnapshot resultsPage(const QString &url, const QList<Entry> &entries,
                                        bool hasNext);
    static DocumentSnapshot serverErrorPage(const QString &url);

    // What a load of the address shows.
    DocumentSnapshot pageFor(const QString &url) const;

private:
    void load(const QString &url, bool addToHistory);

    QHash<QString, DocumentSnapshot> m_pages;
    QHash<QString, QString> m_redirects;
    bool m_formAnswer = false;
    bool m_sendsForm = false;
    bool m_loadSendsForm = false;
    DocumentSnapshot m_current;
    QUrl m_currentUrl;
    QString m_loadingUrl;
    bool m_busy = false;
    bool m_silent = false;
    QStringList m_history;
    qsizetype m_historyAt = -1;
    bool m_loadAddsHistory = true;
    ResultsPiece pieceOf(qsizetype from, qsizetype maxAnchors) const;
    void setCurrent(DocumentSnapshot document);

    QList<std::function<void()>> m_pending;
    quint64 m_document = 1; // a new number for every document shown
};

} // namespace lumen::test
