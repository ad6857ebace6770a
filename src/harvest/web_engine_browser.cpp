#include "harvest/web_engine_browser.h"

#include "engine/prompter.h"
#include "harvest/results_parser.h"
#include "harvest/snapshot_parser.h"
#include "harvest/web_engine_profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>

namespace lumen
{

namespace
{

// Reads everything the harvest, paging and login logic look at in one call:
// the renderer lives in another process, so one round trip with one text is
// far cheaper than a call per element. Each element is read on its own, so
// one that cannot deliver a property leaves an empty entry (keeping the
// positions of the others) instead of spoiling the whole snapshot. The script
// runs in its own world, where the page's scripts cannot have replaced the
// functions it calls.
//
// The markup of the links is not asked of each link: serialising tens of
// thousands of elements one by one costs many times what serialising the
// root once does, and the root's markup holds every link's markup as it
// stands. An HTML document therefore sends, per link, only its inner text,
// target and attribute count; the links are then cut out of the root's markup
// (anchorSpans) and the counts confirm the cut. Other documents (XML) send
// each link's outer markup; its content is cut from that (parseSnapshot), as
// the content serialised on its own would carry a namespace it does not have
// inside the link.
const char SnapshotScript[] = R"JS((function () {
    var s = function (v) { return typeof v === 'string' ? v : ''; };
    var html = document.contentType === 'text/html';
    var out = { u: s(document.URL), r: '', a: [], i: [], d: [] };
    var as = document.getElementsByTagName('a');
    for (var n = 0; n < as.length; ++n) {
        var a = as[n];
        try {
            out.a.push(s(a.innerText), s(a.href),
                       html ? String(a.attributes.length) : s(a.outerHTML));
        } catch (e) { out.a.push('', '', ''); }
    }
    var ins = document.getElementsByTagName('input');
    for (var n = 0; n < ins.length; ++n) {
        var e = ins[n];
        try { out.i.push(s(e.id), s(e.name), s(e.type), s(e.value)); }
        catch (x) { out.i.push('', '', '', ''); }
    }
    var ids = document.querySelectorAll('[id]');
    for (var n = 0; n < ids.length; ++n) out.d.push(s(ids[n].id));
    try { if (document.documentElement) out.r = s(document.documentElement.outerHTML); } catch (e) {}
    return JSON.stringify([out.u, out.r, html ? 'counts' : 'markup', out.a, out.i, out.d]);
})())JS";

// Each link's own markup, for the rare page whose root markup could not be
// cut into its links.
const char AnchorMarkupScript[] = R"JS((function () {
    return JSON.stringify(Array.prototype.map.call(document.getElementsByTagName('a'),
        function (a) { try { return a.outerHTML; } catch (e) { return ''; } }));
})())JS";

// One piece of a results page (readResults): of the links from..from + max,
// the ones that may be result entries or the "next" link, with their text,
// target and markup; no more than about `budget` characters of them, but
// always one link at least, so the reading moves on. The page's own markup
// is never serialised: on a page of a hundred thousand entries that alone
// costs seconds and a gigabyte. The first call in a document leaves the
// number it is given in this script world, whose globals live exactly as
// long as the document: every piece names the document it came from. The
// test of a link is the wider net of isResultsReadCandidate; the parser
// decides.
//
// A link's text is read from the document, not from its rendering: asking
// for the rendered text lays out the whole page first, which on a large page
// costs more than everything else the reading does, and a page loaded
// without a view is otherwise never laid out at all. The text is the one the
// reader sees with the styles of any browser: what scripts, styles,
// templates and hidden elements hold is left out, and a line break or the
// edge of a block parts the words beside it (linkTextOf then makes one line
// of it). The common entry, one element holding text alone, is read whole
// without visiting its nodes.
//
// The reading function is made once per document and kept in this script
// world, so the engine compiles it once and optimises it as the pieces go,
// rather than meeting a new script at every piece.
const char ResultsPieceScript[] =
    R"JS((window.__lumenReadPiece || (window.__lumenReadPiece = (function () {
    var s = function (v) { return typeof v === 'string' ? v : ''; };
    var entry = /c["' ]*l["' ]*i["' ]*e["' ]*n["' ]*t["' ]*m["' ]*a["' ]*r["' ]*k["' ]*u["' ]*p/i;
    var next = /next/i;
    var unseen = /^(script|style|template|noscript|textarea|select|datalist|object|iframe|head|title)$/i;
    var block = /^(address|article|aside|blockquote|caption|center|dd|details|dialog|dir|div|dl|dt|fieldset|figcaption|figure|footer|form|h[1-6]|header|hgroup|hr|legend|li|listing|main|menu|nav|ol|p|plaintext|pre|section|summary|table|tbody|td|tfoot|th|thead|tr|ul|xmp)$/i;
    var complex = 'br,script,style,template,noscript,textarea,select,datalist,object,iframe,[hidden],:scope>*>*,:scope>*~*';
    var walk = function (node, parts) {
        for (var c = node.firstChild; c; c = c.nextSibling) {
            if (c.nodeType === 3 || c.nodeType === 4) {
                parts.push(c.data);
            } else if (c.nodeType === 1) {
                var name = s(c.localName);
                if (unseen.test(name) || c.hasAttribute('hidden'))
                    continue;
                if (name.toLowerCase() === 'br') {
                    parts.push('\n');
                } else if (block.test(name)) {
                    parts.push('\n');
                    walk(c, parts);
                    parts.push('\n');
                } else {
                    walk(c, parts);
                }
            }
        }
        return parts;
    };
    var textOf = function (a) {
        var only = a.firstElementChild;
        if (!a.querySelector(complex) && !unseen.test(s(only.localName))) {
            var whole = s(a.textContent);
            // An inline element runs on with the text beside it; a block
            // alone in the link is its text.
            if (!block.test(s(only.localName)) || (a.firstChild === only && a.lastChild === only))
                return whole;
        }
        return walk(a, []).join('');
    };
    return function (from, max, id, budget) {
        if (window.__lumenDocumentId === undefined) {
            window.__lumenDocumentId = id;
            // The links as they stand at the first piece, for every piece, as a
            // list the engine holds: a live collection would count from the
            // start again to find link n, and a script array would make a
            // script object of every link of the page at once.
            window.__lumenLinks = document.querySelectorAll('a');
        }
        var as = window.__lumenLinks;
        var total = as.length, end = Math.min(total, from + max), n = from, size = 0;
        var out = ['ok', String(window.__lumenDocumentId), s(document.URL), String(total), '', ''];
        for (; n < end && (n === from || size < budget); ++n) {
            try {
                var a = as[n], o, t;
                if (a.childElementCount === 0) {
                    // Text alone is no entry (text cannot hold markup), unless a
                    // comment beside it does: such a link is read only when it
                    // may say "next" or holds a comment.
                    t = s(a.textContent);
                    if (!next.test(t) && s(a.innerHTML).indexOf('<') < 0)
                        continue;
                    o = s(a.outerHTML);
                } else {
                    o = s(a.outerHTML);
                    if (!entry.test(o)) {
                        if (!next.test(s(a.textContent)))
                            continue;
                    }
                    t = textOf(a);
                }
                var h = s(a.href);
                out.push(t, h, o);
                size += t.length + h.length + o.length;
            } catch (e) {}
        }
        out[4] = String(n);
        var mentions = 0;
        if (from === 0 && document.documentElement) {
            var m = s(document.documentElement.textContent).match(/internal server error/gi);
            mentions = m ? m.length : 0;
        }
        out[5] = String(mentions);
        return JSON.stringify(out);
    };
})()))(%1, %2, %3, %4))JS";

// Characters of link markup a piece carries at most (two bytes each): a few
// large pieces read a page faster than many small ones, whose every call
// into the page costs as much again as the links it carries.
constexpr qsizetype PieceBudgetChars = 8 << 20;

// A text as a script literal; JSON's escaping is a valid script string.
QString scriptString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// The origin of an address as a page's location.origin writes it; empty
// for none (every page then passes).
QString originText(const QUrl &url)
{
    if (url.isEmpty())
        return QString();
    const QString scheme = url.scheme().toLower();
    QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.contains(u':'))
        host = u'[' + host + u']';
    const int defaultPort = scheme == QLatin1String("https")  ? 443
                            : scheme == QLatin1String("http") ? 80
                                                              : -1;
    const int port = url.port(defaultPort);
    return scheme + QStringLiteral("://") + host +
           (port == defaultPort ? QString() : u':' + QString::number(port));
}

// Runs the action only in a document of the origin given (checked in the
// same call, so a page that replaced the expected one in between is left
// alone).
QString guarded(const QUrl &onlyOrigin, const QString &action)
{
    const QString origin = originText(onlyOrigin);
    if (origin.isEmpty())
        return QStringLiteral("(function () { %1 })()").arg(action);
    return QStringLiteral("(function () { if (location.origin !== %1) return; %2 })()")
        .arg(scriptString(origin), action);
}

QString inputScript(int inputIndex, const QString &action, const QUrl &onlyOrigin)
{
    return guarded(onlyOrigin, QStringLiteral("var e = document.getElementsByTagName('input')[%1];"
                                              " if (e) { %2 }")
                                   .arg(inputIndex)
                                   .arg(action));
}

// The piece script's answer: "ok", document, url, links, next, mentions,
// then three texts per link taken (inner text, target, outer markup).
ResultsPiece parseResultsPiece(const QString &json, int httpErrorStatus)
{
    constexpr qsizetype Head = 6;
    ResultsPiece piece;
    const std::optional<QStringList> texts = parseTextArray(json);
    if (!texts || texts->size() < Head || (texts->size() - Head) % 3 != 0 ||
        texts->at(0) != QLatin1String("ok"))
        return piece;
    bool ok[4] = {};
    piece.document = texts->at(1).toULongLong(&ok[0]);
    piece.anchorCount = texts->at(3).toLongLong(&ok[1]);
    piece.next = texts->at(4).toLongLong(&ok[2]);
    piece.serverErrorMentions = texts->at(5).toInt(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3])
        return piece;
    piece.present = true;
    piece.url = texts->at(2);
    piece.httpErrorStatus = httpErrorStatus;
    piece.anchors.reserve((texts->size() - Head) / 3);
    for (qsizetype n = Head; n + 2 < texts->size(); n += 3) {
        AnchorSnapshot a;
        a.innerText = linkTextOf(texts->at(n));
        a.href = texts->at(n + 1);
        a.outerHtml = texts->at(n + 2);
        // Cut from the link's own markup: in an XML document the content
        // serialised on its own carries a namespace it lacks inside the link.
        a.innerHtml = innerHtmlOf(a.outerHtml);
        piece.anchors.append(std::move(a));
    }
    return piece;
}

bool isBlankAddress(const QUrl &url)
{
    const QString text = url.toString().trimmed();
    return text.isEmpty() || text.compare(QLatin1String("about:blank"), Qt::CaseInsensitive) == 0;
}

} // namespace

// The page and the hooks the engine only offers as virtual functions.
class WebEngineBrowser::Page final : public QWebEnginePage
{
public:
    Page(QWebEngineProfile *profile, WebEngineBrowser *owner)
        : QWebEnginePage(profile, owner), m_owner(owner)
    {
    }

protected:
    // A new window is never created: the browser opens the address in this
    // same page (see newWindowRequested), so nothing escapes the window the
    // user works in and no page lives on unseen in a headless run.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }

    void javaScriptAlert(const QUrl &origin, const QString &msg) override
    {
        if (m_owner->m_silent)
            return;
        if (m_owner->m_prompter)
            m_owner->m_prompter->message(msg, Prompter::Icon::Information);
        else
            QWebEnginePage::javaScriptAlert(origin, msg);
    }

    bool javaScriptConfirm(const QUrl &origin, const QString &msg) override
    {
        if (m_owner->m_silent)
            return false;
        if (m_owner->m_prompter)
            return m_owner->m_prompter->question(msg, Prompter::Buttons::OkCancel) ==
                   Prompter::Answer::Ok;
        return QWebEnginePage::javaScriptConfirm(origin, msg);
    }

    bool javaScriptPrompt(const QUrl &origin, const QString &msg, const QString &defaultValue,
                          QString *result) override
    {
        if (m_owner->m_silent)
            return false;
        if (m_owner->m_prompter) {
            const std::optional<QString> answer =
                m_owner->m_prompter->inputText(msg, QString(), defaultValue);
            if (!answer)
                return false;
            if (result)
                *result = *answer;
            return true;
        }
        return QWebEnginePage::javaScriptPrompt(origin, msg, defaultValue, result);
    }

    // Which loads send a form: the answer to one is no page to reload.
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (isMainFrame && type != NavigationTypeReload && type != NavigationTypeRedirect)
            m_owner->m_pendingFormAnswer = type == NavigationTypeFormSubmitted;
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

    // Script errors of the pages are their own business while silent.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int line, const QString &source) override
    {
        if (!m_owner->m_silent)
            QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
    }

private:
    WebEngineBrowser *m_owner;
};

WebEngineBrowser::WebEngineBrowser(WebEngineProfile *profile, QObject *parent) : Browser(parent)
{
    if (!profile)
        profile = WebEngineProfile::shared();
    m_page = new Page(profile->profile(), this);
    connect(m_page, &QWebEnginePage::loadingChanged, this, &WebEngineBrowser::onLoadingChanged);
    connect(m_page, &QWebEnginePage::newWindowRequested, this,
            &WebEngineBrowser::onNewWindowRequested);
    connect(m_page, &QWebEnginePage::linkHovered, this, &Browser::statusTextChanged);
    connect(m_page, &QWebEnginePage::titleChanged, this, &Browser::titleChanged);
    // windowCloseRequested is deliberately left unconnected: a page script
    // never closes the browser the user works in.
}

WebEngineBrowser::~WebEngineBrowser()
{
    // The page calls back into this object while it goes (a snapshot still
    // under way is answered empty); let it go first, with no one listening.
    m_closing = true;
    m_page->disconnect(this);
    delete m_page;
}

QWebEnginePage *WebEngineBrowser::page() const
{
    return m_page;
}

void WebEngineBrowser::setPrompter(Prompter *prompter)
{
    m_prompter = prompter;
}

void WebEngineBrowser::navigate(const QUrl &url)
{
    if (!url.isValid()) {
        // The engine would not start a load, so nothing would ever end it.
        QTimer::singleShot(0, this, [this, url] { emit loadFailed(url); });
        return;
    }
    // Busy from the call on: a waiting caller checks it before the engine
    // reports the start of the load. A jump within the document shown and a
    // script address load nothing, so the engine would never end them.
    const QUrl shown = m_page->url();
    const bool sameDocument =
        url.hasFragment() && !shown.isEmpty() &&
        url.adjusted(QUrl::RemoveFragment) == shown.adjusted(QUrl::RemoveFragment);
    const bool script = url.scheme().compare(QLatin1String("javascript"), Qt::CaseInsensitive) == 0;
    if (!sameDocument && !script)
        m_busy = true;
    m_page->load(url);
}

void WebEngineBrowser::goBack()
{
    m_page->triggerAction(QWebEnginePage::Back);
}

void WebEngineBrowser::goForward()
{
    m_page->triggerAction(QWebEnginePage::Forward);
}

void WebEngineBrowser::refresh()
{
    m_page->triggerAction(QWebEnginePage::Reload);
}

QUrl WebEngineBrowser::currentUrl() const
{
    return m_page->url();
}

void WebEngineBrowser::onLoadingChanged(const QWebEngineLoadingInfo &info)
{
    // The engine reports loads of the top-level document only; frames load
    // inside them and raise nothing here.
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        m_busy = true;
        // What was read ahead of the document that goes is of no use; a
        // reader already waiting for it still gets its answer.
        if (m_ahead && !m_ahead->done)
            m_ahead.reset();
        m_httpErrorStatus = 0;
        m_formAnswer = m_pendingFormAnswer;
        break;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        m_busy = false;
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        m_busy = false;
        emit documentComplete(m_page->url());
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        m_busy = false;
        // A server that answered with an error status still delivered a
        // document (the paging reads "Internal Server Error" from it); only a
        // load that reached no server content failed.
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
            m_httpErrorStatus = info.errorCode();
            emit documentComplete(m_page->url());
        } else {
            m_httpErrorStatus = 0;
            emit loadFailed(info.url());
        }
        break;
    }
}

void WebEngineBrowser::onNewWindowRequested(QWebEngineNewWindowRequest &request)
{
    const QUrl url = request.requestedUrl();
    if (isBlankAddress(url))
        return;
    // Leave the engine's new-window call before loading in the opener.
    QTimer::singleShot(0, this, [this, url] {
        navigate(url);
        emit newWindowRequested(url);
    });
}

void WebEngineBrowser::snapshot(SnapshotCallback done)
{
    if (m_page->url().isEmpty()) {
        QTimer::singleShot(0, this, [done] { done(DocumentSnapshot()); });
        return;
    }
    QPointer<WebEngineBrowser> self(this);
    m_page->runJavaScript(
        QString::fromLatin1(SnapshotScript), QWebEngineScript::ApplicationWorld,
        [self, done](const QVariant &result) {
            // A result arriving while the page goes away has no one left to
            // read it.
            if (!self || self->m_closing)
                return;
            bool needsAnchorMarkup = false;
            DocumentSnapshot snap = parseSnapshot(result.toString(), &needsAnchorMarkup);
            if (snap.present)
                snap.httpErrorStatus = self->m_httpErrorStatus;
            if (!needsAnchorMarkup) {
                done(snap);
                return;
            }
            self->m_page->runJavaScript(
                QString::fromLatin1(AnchorMarkupScript), QWebEngineScript::ApplicationWorld,
                [self, done, snap](const QVariant &markup) mutable {
                    if (!self || self->m_closing)
                        return;
                    const QStringList outer =
                        parseTextArray(markup.toString()).value_or(QStringList());
                    for (qsizetype n = 0; n < snap.anchors.size() && n < outer.size(); ++n) {
                        snap.anchors[n].outerHtml = outer.at(n);
                        snap.anchors[n].innerHtml = innerHtmlOf(outer.at(n));
                    }
                    done(snap);
                });
        });
}

void WebEngineBrowser::readResults(qsizetype from, qsizetype maxAnchors, ResultsCallback done)
{
    if (m_page->url().isEmpty()) {
        QTimer::singleShot(0, this, [done] { done(ResultsPiece()); });
        return;
    }
    const qsizetype max = qMax<qsizetype>(1, maxAnchors);
    QPointer<WebEngineBrowser> self(this);
    // A piece read ahead from here serves whoever asks for as many links
    // or more (a piece may always bring fewer than asked); the one after it
    // is then asked with the size asked now.
    if (m_ahead && m_ahead->from == from && m_ahead->max <= max) {
        if (!m_ahead->answered) {
            m_ahead->done = std::move(done); // answered when it comes
            m_ahead->max = max;
            return;
        }
        const QString json = std::move(m_ahead->json);
        m_ahead.reset();
        QTimer::singleShot(0, this, [self, from, max, json, done] {
            if (self && !self->m_closing)
                self->answerPiece(from, max, json, done);
        });
        return;
    }
    m_ahead.reset(); // a piece read ahead that nobody wants: its answer is dropped
    askPiece(from, max, [self, from, max, done](const QString &json) {
        if (self)
            self->answerPiece(from, max, json, done);
    });
}

void WebEngineBrowser::askPiece(qsizetype from, qsizetype max,
                                std::function<void(const QString &)> answered)
{
    // A number for the document, taken only if it has none yet.
    const QString script = QString::fromLatin1(ResultsPieceScript)
                               .arg(from)
                               .arg(max)
                               .arg(++m_documentIds)
                               .arg(PieceBudgetChars);
    QPointer<WebEngineBrowser> self(this);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                          [self, answered](const QVariant &result) {
                              if (self && !self->m_closing)
                                  answered(result.toString());
                          });
}

void WebEngineBrowser::answerPiece(qsizetype from, qsizetype max, const QString &json,
                                   const ResultsCallback &done)
{
    // Only the head is read before the engine is asked for more: the rest of
    // the answer is parsed while the engine reads on.
    if (const std::optional<QStringList> head = parseTextArrayHead(json, 6);
        head && head->at(0) == QLatin1String("ok")) {
        bool ok[2] = {};
        const qsizetype total = head->at(3).toLongLong(&ok[0]);
        const qsizetype next = head->at(4).toLongLong(&ok[1]);
        if (ok[0] && ok[1] && next > from && next < total)
            readAhead(next, max);
    }
    done(parseResultsPiece(json, m_httpErrorStatus));
}

void WebEngineBrowser::readAhead(qsizetype from, qsizetype max)
{
    const quint64 ticket = ++m_aheadTickets;
    m_ahead = ReadAhead{ticket, from, max, false, QString(), ResultsCallback()};
    QPointer<WebEngineBrowser> self(this);
    askPiece(from, max, [self, ticket, from](const QString &json) {
        if (!self || !self->m_ahead || self->m_ahead->ticket != ticket)
            return; // dropped since
        if (!self->m_ahead->done) {
            self->m_ahead->answered = true;
            self->m_ahead->json = json;
            return;
        }
        const ResultsCallback done = std::move(self->m_ahead->done);
        const qsizetype asked = self->m_ahead->max;
        self->m_ahead.reset();
        self->answerPiece(from, asked, json, done);
    });
}

void WebEngineBrowser::runInPage(const QString &script)
{
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void WebEngineBrowser::setInputValue(int inputIndex, const QString &value, const QUrl &onlyOrigin)
{
    // Pages that watch their fields learn of the change as if it were typed.
    runInPage(inputScript(inputIndex,
                          QStringLiteral("e.value = %1;"
                                         " e.dispatchEvent(new Event('input', {bubbles: true}));"
                                         " e.dispatchEvent(new Event('change', {bubbles: true}));")
                              .arg(scriptString(value)),
                          onlyOrigin));
}

void WebEngineBrowser::clickInput(int inputIndex, const QUrl &onlyOrigin)
{
    runInPage(inputScript(inputIndex, QStringLiteral("e.click();"), onlyOrigin));
}

void WebEngineBrowser::clickElementById(const QString &id, const QUrl &onlyOrigin)
{
    runInPage(guarded(onlyOrigin, QStringLiteral("var e = document.getElementById(%1);"
                                                 " if (e) e.click();")
                                      .arg(scriptString(id))));
}

} // namespace lumen
