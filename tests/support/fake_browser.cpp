#include "support/fake_browser.h"

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

void FakeBrowser::show(const QString &url)
{
    m_current = pageFor(url);
    m_currentUrl = QUrl(url);
    m_history = {url};
    m_historyAt = 0;
}

void FakeBrowser::showNothing()
{
    m_current = DocumentSnapshot{};
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
    m_loadingUrl = url;
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
    m_current = pageFor(m_loadingUrl);
    m_currentUrl = QUrl(m_loadingUrl);
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
        m_current = pageFor(m_loadingUrl);
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
    m_current = error;
    m_currentUrl = QUrl(m_loadingUrl);
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
    if (m_current.present)
        load(m_current.url, false);
}

void FakeBrowser::snapshot(SnapshotCallback done)
{
    if (deferSnapshots) {
        m_pending << std::move(done);
        return;
    }
    done(m_current);
}

void FakeBrowser::deliverSnapshots()
{
    const QList<SnapshotCallback> pending = std::exchange(m_pending, {});
    for (const SnapshotCallback &done : pending)
        done(m_current);
}

void FakeBrowser::setInputValue(int inputIndex, const QString &value)
{
    actions << QStringLiteral("set:%1:%2").arg(inputIndex).arg(value);
    for (InputSnapshot &in : m_current.inputs)
        if (in.index == inputIndex)
            in.value = value;
}

void FakeBrowser::clickInput(int inputIndex)
{
    const QString what = QStringLiteral("click:%1").arg(inputIndex);
    actions << what;
    if (onClick)
        onClick(what);
}

void FakeBrowser::clickElementById(const QString &id)
{
    const QString what = QStringLiteral("clickId:") + id;
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
