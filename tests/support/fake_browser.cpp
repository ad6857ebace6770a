#include "support/fake_browser.h"

#include "harvest/results_parser.h"

namespace lumen::test
{

const QString FakeBrowser::ErrorPageUrl = QStringLiteral("chrome-error://chromewebdata/");

FakeBrowser::FakeBrowser(QObject *parent) : Browser(parent) {}

void FakeBrowser::setPage(const QString &url, DocumentSnapshot document)
{
    document.present = true;
    document.url = url;
    m_pages.insert(url, std::move(document));
}

void FakeBrowser::setCurrent(DocumentSnapshot document)
{
    m_current = std::move(document);
    ++m_document;
}

void FakeBrowser::show(const QString &url)
{
    setCurrent(pageFor(url));
    m_currentUrl = QUrl(url);
    m_history = {url};
    m_historyAt = 0;
}

void FakeBrowser::showNothing()
{
    setCurrent(DocumentSnapshot{});
    m_currentUrl = QUrl();
}

DocumentSnapshot FakeBrowser::pageFor(const QString &url) const
{
    if (const auto it = m_pages.constFind(url); it != m_pages.constEnd())
        return *it;
    DocumentSnapshot missing;
    missing.present = true;
    missing.url = url;
    missing.rootOuterHtml = QStringLiteral("<html><head></head><body>Not Found</body></html>");
    missing.httpErrorStatus = 404;
    return missing;
}

void FakeBrowser::navigate(const QUrl &url)
{
    const QString address = url.toString(QUrl::FullyEncoded);
    navigations << address;
    load(address, true);
}

void FakeBrowser::load(const QString &url, bool addToHistory)
{
    m_loadingUrl = m_redirects.value(url, url);
    m_loadSendsForm = std::exchange(m_sendsForm, false);
    m_loadAddsHistory = addToHistory;
    m_busy = true;
    if (loadMode == LoadMode::Immediate)
        completeLoad();
}

void FakeBrowser::completeLoad()
{
    if (!m_busy)
        return;
    m_busy = false;
    setCurrent(pageFor(m_loadingUrl));
    m_currentUrl = QUrl(m_loadingUrl);
    m_formAnswer = m_loadSendsForm;
    if (m_loadAddsHistory) {
        m_history.resize(m_historyAt + 1);
        m_history << m_loadingUrl;
        m_historyAt = m_history.size() - 1;
    }
    emit titleChanged(m_loadingUrl);
    emit documentComplete(QUrl(m_loadingUrl));
}

void FakeBrowser::commitLoad()
{
    if (m_busy) {
        setCurrent(pageFor(m_loadingUrl));
        m_currentUrl = QUrl(m_loadingUrl);
    }
}

void FakeBrowser::failLoad()
{
    if (!m_busy)
        return;
    m_busy = false;
    DocumentSnapshot error;
    error.present = true;
    error.url = ErrorPageUrl;
    error.rootOuterHtml = QStringLiteral("<html dir=\"ltr\"><head></head><body><div "
                                         "id=\"main-frame-error\">This site can’t be reached"
                                         "</div></body></html>");
    error.elementIds = {QStringLiteral("main-frame-error")};
    setCurrent(error);
    m_currentUrl = QUrl(m_loadingUrl);
    m_formAnswer = false;
    emit loadFailed(QUrl(m_loadingUrl));
}

void FakeBrowser::abandonLoad()
{
    m_busy = false;
}

void FakeBrowser::goBack()
{
    actions << QStringLiteral("back");
    if (m_historyAt > 0)
        load(m_history.at(--m_historyAt), false);
}

void FakeBrowser::goForward()
{
    actions << QStringLiteral("forward");
    if (m_historyAt + 1 < m_history.size())
        load(m_history.at(++m_historyAt), false);
}

void FakeBrowser::refresh()
{
    actions << QStringLiteral("refresh");
    // A reload of a form's answer sends the form again.
    m_sendsForm = m_formAnswer;
    if (m_current.present)
        load(m_current.url, false);
}

void FakeBrowser::snapshot(SnapshotCallback done)
{
    if (deferSnapshots) {
        // Answered with the document shown when delivered, as the engine
        // answers with the one it holds when the script runs.
        m_pending << [this, done] { done(m_current); };
        return;
    }
    done(m_current);
}

ResultsPiece FakeBrowser::pieceOf(qsizetype from, qsizetype maxAnchors) const
{
    ResultsPiece piece;
    if (!m_current.present)
        return piece;
    piece.present = true;
    piece.document = m_document;
    piece.url = m_current.url;
    piece.httpErrorStatus = m_current.httpErrorStatus;
    piece.anchorCount = m_current.anchors.size();
    const qsizetype end = qMin(piece.anchorCount, from + qMax<qsizetype>(1, maxAnchors));
    qsizetype n = from;
    qsizetype size = 0;
    for (; n < end && (n == from || size < pieceBudgetChars); ++n) {
        const AnchorSnapshot &a = m_current.anchors.at(n);
        // As the engine: a link of text alone is taken only when its text
        // may say "next" (its content, serialised, holds no markup).
        const bool plain = !a.innerHtml.contains(u'<');
        if (plain ? !isResultsReadCandidate(a.innerText, QString())
                  : (!isResultsReadCandidate(a.innerText, a.outerHtml) &&
                     !isResultsReadCandidate(QString(), a.innerHtml)))
            continue;
        // As the engine, the text comes as one line.
        AnchorSnapshot taken = a;
        taken.innerText = linkTextOf(a.innerText);
        size += taken.innerText.size() + a.href.size() + a.outerHtml.size();
        piece.anchors << std::move(taken);
    }
    piece.next = n;
    if (from == 0)
        piece.serverErrorMentions = int(m_current.rootOuterHtml.count(
            QLatin1String("Internal Server Error"), Qt::CaseInsensitive));
    return piece;
}

void FakeBrowser::readResults(qsizetype from, qsizetype maxAnchors, ResultsCallback done)
{
    pieceRequests << QStringLiteral("%1:%2").arg(from).arg(maxAnchors);
    if (deferSnapshots) {
        m_pending << [this, from, maxAnchors, done] { done(pieceOf(from, maxAnchors)); };
        return;
    }
    done(pieceOf(from, maxAnchors));
}

void FakeBrowser::deliverSnapshots()
{
    const QList<std::function<void()>> pending = std::exchange(m_pending, {});
    for (const std::function<void()> &answer : pending)
        answer();
}

void FakeBrowser::setInputValue(int inputIndex, const QString &value, const QUrl &onlyOrigin)
{
    if (!onlyOrigin.isEmpty() && !sameOrigin(QUrl(m_current.url), onlyOrigin)) {
        refused << QStringLiteral("set:%1").arg(inputIndex);
        return;
    }
    actions << QStringLiteral("set:%1:%2").arg(inputIndex).arg(value);
    for (InputSnapshot &in : m_current.inputs)
        if (in.index == inputIndex)
            in.value = value;
}

void FakeBrowser::clickInput(int inputIndex, const QUrl &onlyOrigin)
{
    const QString what = QStringLiteral("click:%1").arg(inputIndex);
    if (!onlyOrigin.isEmpty() && !sameOrigin(QUrl(m_current.url), onlyOrigin)) {
        refused << what;
        return;
    }
    actions << what;
    if (onClick)
        onClick(what);
}

void FakeBrowser::clickElementById(const QString &id, const QUrl &onlyOrigin)
{
    const QString what = QStringLiteral("clickId:") + id;
    if (!onlyOrigin.isEmpty() && !sameOrigin(QUrl(m_current.url), onlyOrigin)) {
        refused << what;
        return;
    }
    actions << what;
    if (onClick)
        onClick(what);
}

AnchorSnapshot FakeBrowser::resultEntry(const QString &title, const QString &href,
                                        const QString &innerHtml)
{
    AnchorSnapshot a;
    a.innerText = title;
    a.href = href;
    a.innerHtml = innerHtml.isEmpty()
                      ? QStringLiteral("<div class=\"c-clientmarkup\">%1</div>").arg(title)
                      : innerHtml;
    a.outerHtml = QStringLiteral("<a href=\"%1\">%2</a>").arg(href, a.innerHtml);
    return a;
}

AnchorSnapshot FakeBrowser::plainAnchor(const QString &text, const QString &href)
{
    AnchorSnapshot a;
    a.innerText = text;
    a.innerHtml = text;
    a.href = href;
    a.outerHtml = QStringLiteral("<a href=\"%1\">%2</a>").arg(href, text);
    return a;
}

AnchorSnapshot FakeBrowser::nextMarker(const QString &href)
{
    AnchorSnapshot a;
    a.innerText = QStringLiteral("Next");
    a.innerHtml = QStringLiteral("Next");
    a.href = href;
    a.outerHtml = QStringLiteral("<a href=\"%1\" onclick=\"gotoNextResultSet(); return false;\">"
                                 "Next</a>")
                      .arg(href);
    return a;
}

DocumentSnapshot FakeBrowser::resultsPage(const QString &url, const QList<Entry> &entries,
                                          bool hasNext)
{
    DocumentSnapshot d;
    d.present = true;
    d.url = url;
    d.anchors << plainAnchor(QStringLiteral("Home"), QStringLiteral("http://127.0.0.1/"));
    for (const Entry &e : entries)
        d.anchors << resultEntry(e.title, e.href);
    if (hasNext)
        d.anchors << nextMarker(url + QStringLiteral("#next"));
    d.rootOuterHtml = QStringLiteral("<html><body>results</body></html>");
    return d;
}

DocumentSnapshot FakeBrowser::serverErrorPage(const QString &url)
{
    DocumentSnapshot d;
    d.present = true;
    d.url = url;
    d.anchors << nextMarker(url + QStringLiteral("#next"));
    d.rootOuterHtml = QStringLiteral("<html><head><title>500 Internal Server Error</title></head>"
                                     "<body><h1>Internal Server Error</h1></body></html>");
    d.httpErrorStatus = 500;
    return d;
}

} // namespace lumen::test
