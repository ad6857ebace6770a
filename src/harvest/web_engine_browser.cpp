#include "harvest/web_engine_browser.h"

#include "engine/prompter.h"
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

#include <optional>

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
// (anchorSpans) and the counts confirm the cut. Other documents (XML), whose
// elements serialise differently on their own (an element alone carries its
// namespace), send each link's outer and inner markup.
const char SnapshotScript[] = R"JS((function () {
    var s = function (v) { return typeof v === 'string' ? v : ''; };
    var html = document.contentType === 'text/html';
    var out = { u: s(document.URL), r: '', a: [], i: [], d: [] };
    var as = document.getElementsByTagName('a');
    for (var n = 0; n < as.length; ++n) {
        var a = as[n];
        try {
            if (html) out.a.push(s(a.innerText), s(a.href), String(a.attributes.length));
            else out.a.push(s(a.innerText), s(a.href), s(a.outerHTML), s(a.innerHTML));
        } catch (e) { out.a.push('', '', ''); if (!html) out.a.push(''); }
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

// A text as a script literal; JSON's escaping is a valid script string.
QString scriptString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString inputScript(int inputIndex, const QString &action)
{
    return QStringLiteral("(function () { var e = document.getElementsByTagName('input')[%1];"
                          " if (e) { %2 } })()")
        .arg(inputIndex)
        .arg(action);
}

// The content of an element, cut from the engine's serialisation of the
// element: between the start tag and the end tag. The engine writes every
// attribute as a space, the name, "=" and the value in double quotes with any
// double quote inside escaped, so the start tag can be walked exactly even
// when a value holds ">"; the end tag is the last "</" of the text. An element
// written as "<a ... />" has no content.
QString innerHtmlOf(const QString &outer)
{
    const qsizetype n = outer.size();
    qsizetype i = 1;
    while (i < n && outer.at(i) != u' ' && outer.at(i) != u'>' && outer.at(i) != u'/')
        ++i;
    qsizetype startEnd = -1;
    while (i < n && startEnd < 0) {
        const QChar c = outer.at(i);
        if (c == u'>') {
            startEnd = i;
        } else if (c == u' ') {
            // A name's first character may be anything, even "=".
            i += 2;
            while (i < n && outer.at(i) != u'=')
                ++i;
            if (i + 1 >= n || outer.at(i + 1) != u'"')
                return QString();
            i = outer.indexOf(u'"', i + 2);
            if (i < 0)
                return QString();
            ++i;
        } else {
            ++i;
        }
    }
    if (startEnd < 0 || startEnd + 1 == n)
        return QString();
    const qsizetype endTag = outer.lastIndexOf(QLatin1String("</"));
    if (endTag <= startEnd)
        return QString();
    return outer.mid(startEnd + 1, endTag - startEnd - 1);
}

// Reads the JSON the snapshot script writes: arrays of texts only. A general
// JSON document would first be built as a tree of values and then copied out;
// reading the texts straight into their strings takes a fraction of the time
// on a page of tens of thousands of links.
class SnapshotReader
{
public:
    explicit SnapshotReader(QStringView json) : m_json(json) {}

    bool skip(QChar c)
    {
        while (m_pos < m_json.size() && m_json.at(m_pos).isSpace())
            ++m_pos;
        if (m_pos >= m_json.size() || m_json.at(m_pos) != c)
            return false;
        ++m_pos;
        return true;
    }

    bool text(QString &out)
    {
        if (!skip(u'"'))
            return false;
        out.clear();
        const qsizetype n = m_json.size();
        while (m_pos < n) {
            qsizetype end = m_pos;
            while (end < n && m_json.at(end) != u'"' && m_json.at(end) != u'\\')
                ++end;
            out += m_json.mid(m_pos, end - m_pos);
            m_pos = end;
            if (m_pos >= n)
                return false;
            if (m_json.at(m_pos) == u'"') {
                ++m_pos;
                return true;
            }
            if (m_pos + 1 >= n)
                return false;
            const QChar e = m_json.at(m_pos + 1);
            m_pos += 2;
            switch (e.unicode()) {
            case 'b':
                out += u'\b';
                break;
            case 'f':
                out += u'\f';
                break;
            case 'n':
                out += u'\n';
                break;
            case 'r':
                out += u'\r';
                break;
            case 't':
                out += u'\t';
                break;
            case 'u': {
                bool ok = false;
                const ushort code = m_json.mid(m_pos, 4).toUShort(&ok, 16);
                if (!ok || m_pos + 4 > n)
                    return false;
                out += QChar(code);
                m_pos += 4;
                break;
            }
            default:
                out += e; // \" \\ \/
            }
        }
        return false;
    }

    bool texts(QStringList &out)
    {
        if (!skip(u'['))
            return false;
        if (skip(u']'))
            return true;
        do {
            QString t;
            if (!text(t))
                return false;
            out.append(std::move(t));
        } while (skip(u','));
        return skip(u']');
    }

private:
    QStringView m_json;
    qsizetype m_pos = 0;
};

// Walks a start tag from just after its name: the engine writes each
// attribute as a space, the name (whose first character may be anything, even
// "="), "=" and the value in double quotes with any double quote inside
// escaped. Returns the position after the closing ">", or -1.
qsizetype walkStartTag(QStringView html, qsizetype i, int *attributes, bool *selfClosing)
{
    const qsizetype n = html.size();
    *attributes = 0;
    *selfClosing = false;
    while (i < n) {
        const QChar c = html.at(i);
        if (c == u'>')
            return i + 1;
        if (c == u'/') {
            *selfClosing = true;
            ++i;
        } else if (c == u' ') {
            i += 2;
            while (i < n && html.at(i) != u'=')
                ++i;
            if (i + 1 >= n || html.at(i + 1) != u'"')
                return -1;
            i = html.indexOf(u'"', i + 2);
            if (i < 0)
                return -1;
            ++i;
            ++*attributes;
        } else {
            return -1;
        }
    }
    return -1;
}

struct AnchorSpan {
    qsizetype start = 0;        // "<a"
    qsizetype contentStart = 0; // after the start tag
    qsizetype end = -1;         // after "</a>"
    int attributes = 0;
};

// The links of an HTML document in the engine's serialisation of its root
// element, in document order. In that serialisation every "<" of text is
// escaped, so each "<" starts a tag, a comment or a doctype, except in the
// elements whose text is written raw (scripts, styles and the like), which
// are skipped whole. Links inside a template belong to no document and are
// not counted. Empty when the markup does not read as expected.
std::optional<QList<AnchorSpan>> anchorSpans(QStringView html)
{
    static const QStringList rawText = {"script",  "style",    "xmp",      "iframe",
                                        "noembed", "noframes", "noscript", "plaintext"};
    const qsizetype n = html.size();
    QList<AnchorSpan> spans;
    QList<qsizetype> open;
    int templates = 0;
    qsizetype i = 0;
    while ((i = html.indexOf(u'<', i)) >= 0) {
        if (html.mid(i, 4) == QLatin1String("<!--")) {
            i = html.indexOf(QLatin1String("-->"), i + 4);
            if (i < 0)
                return std::nullopt;
            i += 3;
            continue;
        }
        if (i + 1 < n && (html.at(i + 1) == u'!' || html.at(i + 1) == u'?')) {
            i = html.indexOf(u'>', i);
            if (i < 0)
                return std::nullopt;
            ++i;
            continue;
        }
        const bool endTag = i + 1 < n && html.at(i + 1) == u'/';
        const qsizetype nameStart = i + (endTag ? 2 : 1);
        qsizetype j = nameStart;
        while (j < n && html.at(j) != u' ' && html.at(j) != u'>' && html.at(j) != u'/')
            ++j;
        const QStringView name = html.mid(nameStart, j - nameStart);
        if (name.isEmpty())
            return std::nullopt;
        if (endTag) {
            i = html.indexOf(u'>', j);
            if (i < 0)
                return std::nullopt;
            ++i;
            if (name == u"template" && templates > 0) {
                --templates;
            } else if (name == u"a" && templates == 0) {
                if (open.isEmpty())
                    return std::nullopt;
                spans[open.takeLast()].end = i;
            }
            continue;
        }
        int attributes = 0;
        bool selfClosing = false;
        const qsizetype tagStart = i;
        const qsizetype tagEnd = walkStartTag(html, j, &attributes, &selfClosing);
        if (tagEnd < 0)
            return std::nullopt;
        i = tagEnd;
        if (name == u"a" && templates == 0) {
            spans.append({tagStart, tagEnd, selfClosing ? tagEnd : -1, attributes});
            if (!selfClosing)
                open.append(spans.size() - 1);
        } else if (name == u"template") {
            ++templates;
        } else if (rawText.contains(name)) {
            i = html.indexOf(QLatin1String("</") + name.toString(), tagEnd);
            if (i < 0)
                return std::nullopt;
        }
    }
    if (!open.isEmpty())
        return std::nullopt;
    return spans;
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
        if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
            emit documentComplete(m_page->url());
        else
            emit loadFailed(info.url());
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
            if (!needsAnchorMarkup) {
                done(snap);
                return;
            }
            self->m_page->runJavaScript(
                QString::fromLatin1(AnchorMarkupScript), QWebEngineScript::ApplicationWorld,
                [self, done, snap](const QVariant &markup) mutable {
                    if (!self || self->m_closing)
                        return;
                    QStringList outer;
                    SnapshotReader in(markup.toString());
                    in.texts(outer);
                    for (qsizetype n = 0; n < snap.anchors.size() && n < outer.size(); ++n) {
                        snap.anchors[n].outerHtml = outer.at(n);
                        snap.anchors[n].innerHtml = innerHtmlOf(outer.at(n));
                    }
                    done(snap);
                });
        });
}

DocumentSnapshot WebEngineBrowser::parseSnapshot(const QString &json, bool *needsAnchorMarkup)
{
    // [url, root outer HTML, "counts" or "markup", [anchors], [inputs], [ids]]
    if (needsAnchorMarkup)
        *needsAnchorMarkup = false;
    DocumentSnapshot snap;
    SnapshotReader in(json);
    QString mode;
    QStringList anchors, inputs, ids;
    if (!in.skip(u'[') || !in.text(snap.url) || !in.skip(u',') || !in.text(snap.rootOuterHtml) ||
        !in.skip(u',') || !in.text(mode) || !in.skip(u',') || !in.texts(anchors) ||
        !in.skip(u',') || !in.texts(inputs) || !in.skip(u',') || !in.texts(ids) || !in.skip(u']'))
        return DocumentSnapshot();
    snap.present = true;

    // Anchors come as a flat list: inner text, link, then either the
    // attribute count or the outer and inner markup; per anchor.
    const bool counts = mode == QLatin1String("counts");
    const qsizetype stride = counts ? 3 : 4;
    const qsizetype count = anchors.size() / stride;
    snap.anchors.resize(count);
    for (qsizetype n = 0; n < count; ++n) {
        AnchorSnapshot &a = snap.anchors[n];
        a.innerText = anchors.at(stride * n);
        a.href = anchors.at(stride * n + 1);
        if (!counts) {
            a.outerHtml = anchors.at(stride * n + 2);
            a.innerHtml = anchors.at(stride * n + 3);
        }
    }
    if (counts) {
        const QString &root = snap.rootOuterHtml;
        const std::optional<QList<AnchorSpan>> spans = anchorSpans(root);
        bool agree = spans && spans->size() == count;
        for (qsizetype n = 0; agree && n < count; ++n)
            agree = spans->at(n).attributes == anchors.at(3 * n + 2).toInt();
        if (agree) {
            for (qsizetype n = 0; n < count; ++n) {
                const AnchorSpan &span = spans->at(n);
                AnchorSnapshot &a = snap.anchors[n];
                a.outerHtml = root.mid(span.start, span.end - span.start);
                // "</a>" ends every link that is not written "<a ... />".
                const qsizetype contentEnd =
                    span.end == span.contentStart ? span.end : span.end - 4;
                a.innerHtml = root.mid(span.contentStart, contentEnd - span.contentStart);
            }
        } else if (needsAnchorMarkup) {
            *needsAnchorMarkup = true;
        }
    }

    // Inputs likewise: id, name, type, value.
    snap.inputs.reserve(inputs.size() / 4);
    for (qsizetype n = 0; n + 3 < inputs.size(); n += 4)
        snap.inputs.append(
            {int(n / 4), inputs.at(n), inputs.at(n + 1), inputs.at(n + 2), inputs.at(n + 3)});
    snap.elementIds = std::move(ids);
    return snap;
}

void WebEngineBrowser::runInPage(const QString &script)
{
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

void WebEngineBrowser::setInputValue(int inputIndex, const QString &value)
{
    // Pages that watch their fields learn of the change as if it were typed.
    runInPage(inputScript(inputIndex,
                          QStringLiteral("e.value = %1;"
                                         " e.dispatchEvent(new Event('input', {bubbles: true}));"
                                         " e.dispatchEvent(new Event('change', {bubbles: true}));")
                              .arg(scriptString(value))));
}

void WebEngineBrowser::clickInput(int inputIndex)
{
    runInPage(inputScript(inputIndex, QStringLiteral("e.click();")));
}

void WebEngineBrowser::clickElementById(const QString &id)
{
    runInPage(QStringLiteral("(function () { var e = document.getElementById(%1);"
                             " if (e) e.click(); })()")
                  .arg(scriptString(id)));
}

} // namespace lumen
