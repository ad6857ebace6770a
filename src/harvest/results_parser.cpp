#include "harvest/results_parser.h"

#include "engine/url_policy.h"
#include "harvest/harvest_list.h"

namespace lumen
{

namespace
{

inline char16_t asciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

inline bool isStrippedFromMarkup(char16_t c)
{
    return c == u'"' || c == u'\'' || c == u' ';
}

// Finds the lower-case ASCII needle in the haystack, comparing without
// regard to letter case and stepping over the characters `skip` says to
// ignore, as if they had been removed from the haystack beforehand.
template <typename Skip> bool containsIgnoring(QStringView haystack, QStringView needle, Skip skip)
{
    const qsizetype n = haystack.size();
    const char16_t first = needle.at(0).unicode();
    for (qsizetype i = 0; i < n; ++i) {
        if (asciiLower(haystack.at(i).unicode()) != first)
            continue;
        qsizetype h = i + 1;
        qsizetype k = 1;
        while (k < needle.size() && h < n) {
            const char16_t c = haystack.at(h).unicode();
            if (skip(c)) {
                ++h;
                continue;
            }
            if (asciiLower(c) != needle.at(k).unicode())
                break;
            ++h;
            ++k;
        }
        if (k == needle.size())
            return true;
        if (h >= n)
            return false; // the rest of the text is too short for any later start
    }
    return false;
}

// Trims what a rendered text or attribute may carry around its content:
// spaces, tabs, line breaks and the no-break space of "&nbsp;".
QStringView trimmedView(QStringView s)
{
    auto blank = [](QChar c) { return c.isSpace(); };
    qsizetype b = 0, e = s.size();
    while (b < e && blank(s.at(b)))
        ++b;
    while (e > b && blank(s.at(e - 1)))
        --e;
    return s.sliced(b, e - b);
}

} // namespace

QString linkTextOf(const QString &text)
{
    auto collapsible = [](QChar c) {
        const char16_t u = c.unicode();
        return u == u' ' || u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f';
    };
    const qsizetype n = text.size();
    // Most titles need nothing done: one space between words, none around.
    bool clean = n == 0 || (!collapsible(text.at(0)) && !collapsible(text.at(n - 1)));
    for (qsizetype i = 0; clean && i < n; ++i)
        if (collapsible(text.at(i)) &&
            (text.at(i) != u' ' || (i + 1 < n && collapsible(text.at(i + 1)))))
            clean = false;
    if (clean)
        return text;
    QString out;
    out.reserve(n);
    bool pending = false;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (collapsible(c)) {
            pending = !out.isEmpty();
            continue;
        }
        if (pending)
            out.append(u' ');
        pending = false;
        out.append(c);
    }
    return out;
}

bool isResultEntryMarkup(QStringView innerHtml)
{
    static constexpr QStringView marker = u"<divclass=c-clientmarkup>";
    return containsIgnoring(innerHtml, marker, isStrippedFromMarkup);
}

bool isResultsReadCandidate(QStringView innerText, QStringView outerHtml)
{
    static constexpr QStringView entry = u"clientmarkup";
    static constexpr QStringView next = u"next";
    return containsIgnoring(outerHtml, entry, isStrippedFromMarkup) ||
           containsIgnoring(innerText, next, [](char16_t) { return false; });
}

qint64 HarvestPage(const DocumentSnapshot &document, HarvestList &list, const QString &saveFolder)
{
    if (!document.present)
        return 0;
    static const QString pdfSuffix = QStringLiteral(".pdf");
    qint64 accepted = 0;
    QString fullTextLink;
    for (const AnchorSnapshot &a : document.anchors) {
        if (!isResultEntryMarkup(a.innerHtml))
            continue;
        const QStringView title = trimmedView(a.innerText);
        const QStringView link = trimmedView(a.href);
        if (title.isEmpty() || link.isEmpty())
            continue;
        // A result entry that points at no web address (a script, a mail
        // link) cannot give a full text that may be fetched.
        if (!isFetchableUrl(link))
            continue;
        // Reuses the buffer while entries are already listed (a page seen
        // twice); a row that keeps the text takes it over.
        fullTextLink.resize(0);
        fullTextLink.append(link).append(pdfSuffix);
        list.add(title.size() == a.innerText.size() ? a.innerText : title.toString(), fullTextLink,
                 document.url, HarvestText::FileTypePdf, saveFolder, HarvestText::SourceSearch);
        ++accepted;
    }
    return accepted;
}

bool hasNextPageMarker(const DocumentSnapshot &document)
{
    if (!document.present)
        return false;
    static constexpr QStringView marker = u"gotonextresultset";
    for (const AnchorSnapshot &a : document.anchors) {
        if (trimmedView(a.innerText).compare(u"next", Qt::CaseInsensitive) != 0)
            continue;
        if (containsIgnoring(a.outerHtml, marker, [](char16_t c) { return c == u' '; }))
            return true;
    }
    return false;
}

bool isServerErrorPage(const DocumentSnapshot &document)
{
    if (document.httpErrorStatus >= 500)
        return true;
    static const QLatin1String phrase("Internal Server Error");
    const qsizetype onPage = document.rootOuterHtml.count(phrase, Qt::CaseInsensitive);
    if (onPage == 0)
        return false;
    // What the result entries say about themselves does not count.
    qsizetype inEntries = 0;
    for (const AnchorSnapshot &a : document.anchors)
        if (isResultEntryMarkup(a.innerHtml))
            inEntries += a.outerHtml.count(phrase, Qt::CaseInsensitive);
    return onPage > inEntries;
}

} // namespace lumen
