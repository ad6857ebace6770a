#include "harvest/snapshot_parser.h"

namespace lumen
{

namespace
{

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

    bool head(QStringList &out, qsizetype count)
    {
        if (!skip(u'['))
            return false;
        for (qsizetype n = 0; n < count; ++n) {
            QString t;
            if ((n > 0 && !skip(u',')) || !text(t))
                return false;
            out.append(std::move(t));
        }
        return true;
    }

private:
    QStringView m_json;
    qsizetype m_pos = 0;
};

} // namespace

StartTag walkStartTag(QStringView html, qsizetype i)
{
    const qsizetype n = html.size();
    StartTag tag;
    while (i < n) {
        const QChar c = html.at(i);
        if (c == u'>') {
            tag.end = i + 1;
            return tag;
        }
        if (c == u'/') {
            tag.selfClosing = true;
            ++i;
        } else if (c == u' ') {
            i += 2;
            while (i < n && html.at(i) != u'=')
                ++i;
            if (i + 1 >= n || html.at(i + 1) != u'"')
                return StartTag();
            i = html.indexOf(u'"', i + 2);
            if (i < 0)
                return StartTag();
            ++i;
            ++tag.attributes;
        } else {
            return StartTag();
        }
    }
    return StartTag();
}

QString innerHtmlOf(QStringView outer)
{
    const qsizetype n = outer.size();
    if (n < 2 || outer.at(0) != u'<')
        return QString();
    qsizetype i = 1;
    while (i < n && outer.at(i) != u' ' && outer.at(i) != u'>' && outer.at(i) != u'/')
        ++i;
    const StartTag tag = walkStartTag(outer, i);
    if (tag.end < 0 || tag.selfClosing || tag.end == n)
        return QString();
    const qsizetype endTag = outer.lastIndexOf(QLatin1String("</"));
    if (endTag < tag.end)
        return QString();
    return outer.sliced(tag.end, endTag - tag.end).toString();
}

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
        const qsizetype tagStart = i;
        const StartTag tag = walkStartTag(html, j);
        if (tag.end < 0)
            return std::nullopt;
        const qsizetype tagEnd = tag.end;
        i = tagEnd;
        if (name == u"a" && templates == 0) {
            spans.append({tagStart, tagEnd, tag.selfClosing ? tagEnd : -1, tag.attributes});
            if (!tag.selfClosing)
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

std::optional<QStringList> parseTextArray(QStringView json)
{
    QStringList out;
    SnapshotReader in(json);
    if (!in.texts(out))
        return std::nullopt;
    return out;
}

std::optional<QStringList> parseTextArrayHead(QStringView json, qsizetype count)
{
    QStringList out;
    SnapshotReader in(json);
    if (!in.head(out, count))
        return std::nullopt;
    return out;
}

DocumentSnapshot parseSnapshot(QStringView json, bool *needsAnchorMarkup)
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

    // Anchors come as a flat list: inner text, link, then the attribute
    // count or the outer markup; per anchor.
    const bool counts = mode == QLatin1String("counts");
    constexpr qsizetype Stride = 3;
    const qsizetype count = anchors.size() / Stride;
    snap.anchors.resize(count);
    for (qsizetype n = 0; n < count; ++n) {
        AnchorSnapshot &a = snap.anchors[n];
        a.innerText = anchors.at(Stride * n);
        a.href = anchors.at(Stride * n + 1);
        if (!counts) {
            a.outerHtml = anchors.at(Stride * n + 2);
            a.innerHtml = innerHtmlOf(a.outerHtml);
        }
    }
    if (counts) {
        const QString &root = snap.rootOuterHtml;
        const std::optional<QList<AnchorSpan>> spans = anchorSpans(root);
        bool agree = spans && spans->size() == count;
        for (qsizetype n = 0; agree && n < count; ++n)
            agree = spans->at(n).attributes == anchors.at(Stride * n + 2).toInt();
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

} // namespace lumen
