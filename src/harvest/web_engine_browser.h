#pragma once

#include "harvest/browser.h"

#include <functional>
#include <optional>

class QWebEnginePage;
class QWebEngineLoadingInfo;
class QWebEngineNewWindowRequest;

namespace lumen
{

class Prompter;
class WebEngineProfile;

// The embedded browser over the web engine. It owns its page and works
// without any view (the command-line tool); a window shows it by giving the
// page to its view: view->setPage(browser->page()). The view does not take
// the page over; the browser must outlive the view's use of it.
class WebEngineBrowser final : public Browser
{
    Q_OBJECT
public:
    // profile: the shared profile whose cookies the downloads see;
    // nullptr means WebEngineProfile::shared().
    explicit WebEngineBrowser(WebEngineProfile *profile = nullptr, QObject *parent = nullptr);
    ~WebEngineBrowser() override;

    QWebEnginePage *page() const;

    // Where script dialogs (alert, confirm, prompt) go while not silent.
    // Without a prompter they take the page's own boxes, which need a view.
    void setPrompter(Prompter *prompter);

    void navigate(const QUrl &url) override;
    void goBack() override;
    void goForward() override;
    void refresh() override;
    bool isBusy() const override { return m_busy; }
    void setSilent(bool silent) override { m_silent = silent; }
    bool isSilent() const override { return m_silent; }
    QUrl currentUrl() const override;
    // The HTTP status of the document on show when its server answered with
    // an error (400 and above), else 0. Snapshots carry it too.
    int httpErrorStatus() const { return m_httpErrorStatus; }

    void snapshot(SnapshotCallback done) override;
    void readResults(qsizetype from, qsizetype maxAnchors, ResultsCallback done) override;
    void setInputValue(int inputIndex, const QString &value,
                       const QUrl &onlyOrigin = QUrl()) override;
    void clickInput(int inputIndex, const QUrl &onlyOrigin = QUrl()) override;
    void clickElementById(const QString &id, const QUrl &onlyOrigin = QUrl()) override;
    bool showsFormAnswer() const override { return m_formAnswer; }

private:
    class Page;
    friend class Page;

    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onNewWindowRequested(QWebEngineNewWindowRequest &request);
    void runInPage(const QString &script);
    // Sends the piece script for links from..from + max; the answer comes to
    // `answered` as the script's text.
    void askPiece(qsizetype from, qsizetype max, std::function<void(const QString &)> answered);
    // Hands a piece's answer to whoever asked for it, after asking the
    // engine for the piece that follows it.
    void answerPiece(qsizetype from, qsizetype max, const QString &json,
                     const ResultsCallback &done);
    void readAhead(qsizetype from, qsizetype max);

    Page *m_page = nullptr;
    Prompter *m_prompter = nullptr;
    bool m_busy = false;
    bool m_silent = false;
    int m_httpErrorStatus = 0;
    bool m_closing = false;
    bool m_formAnswer = false;        // the document shown answers a form
    bool m_pendingFormAnswer = false; // the load under way sends a form
    quint64 m_documentIds = 0;

    // The piece after the last one handed over, asked for before anyone
    // asks: a reader takes one piece after another, and the engine would
    // otherwise wait while this process parses each. One at most, and only
    // one ahead of a piece that was really asked for, so a reader that stops
    // costs the engine one piece more at worst.
    struct ReadAhead {
        quint64 ticket = 0;
        qsizetype from = 0;
        qsizetype max = 0;
        bool answered = false;
        QString json;         // the answer, once it came
        ResultsCallback done; // who asked meanwhile
    };
    std::optional<ReadAhead> m_ahead;
    quint64 m_aheadTickets = 0;
};

} // namespace lumen
