#pragma once

// Reading a document snapshot from the text the page's snapshot script
// returns, and cutting links out of the engine's serialisation of a
// document. Pure text work: checked and measured without the engine.

#include "harvest/browser.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace lumen
{

// The snapshot script's answer:
// [url, root outer HTML, mode, [anchors], [inputs], [ids]], all texts.
// Anchors come three texts each: inner text, link target, then for mode
// "counts" (an HTML document) the anchor's attribute count, for mode
// "markup" (any other document) its outer markup. In "counts" mode the links
// are cut out of the root's markup and the counts confirm the cut; when they
// do not, the links' markup stays empty and needsAnchorMarkup is set (the
// caller then asks each link for its own). Inner markup is always taken from
// the outer markup: an XML document serialises a link's content on its own
// with a namespace it does not carry inside the link.
// An answer that is not a whole snapshot gives present == false.
DocumentSnapshot parseSnapshot(QStringView json, bool *needsAnchorMarkup = nullptr);

// A JSON array of texts, as the scripts write it; nothing when the text is
// not one.
std::optional<QStringList> parseTextArray(QStringView json);
// The first `count` texts of such an array, without reading the rest; nothing
// when the array does not begin with that many.
std::optional<QStringList> parseTextArrayHead(QStringView json, qsizetype count);

// The engine's serialisation of a start tag, read from just after its name.
// Each attribute is a space, the name (whose first character may be
// anything, even "="), "=" and the value in double quotes with any double
// quote inside escaped, so the walk is exact even when a value holds ">".
struct StartTag {
    qsizetype end = -1; // after the closing ">"; -1 when the text is no such tag
    int attributes = 0;
    bool selfClosing = false; // written "<a ... />"
};
StartTag walkStartTag(QStringView html, qsizetype afterName);

// The content of an element cut from the engine's serialisation of it:
// between its start tag and its last "</". Empty for "<a ... />" and for
// text that is not such a serialisation.
QString innerHtmlOf(QStringView outer);

// Where one link stands in a serialised document.
struct AnchorSpan {
    qsizetype start = 0;        // "<a"
    qsizetype contentStart = 0; // after the start tag
    qsizetype end = -1;         // after "</a>", or after the start tag for "<a ... />"
    int attributes = 0;
};

// The links of an HTML document in the engine's serialisation of its root
// element, in document order. In that serialisation every "<" of text is
// escaped, so each "<" starts a tag, a comment or a doctype, except in the
// elements whose text is written raw (scripts, styles and the like), which
// are skipped whole. Links inside a template belong to no document and are
// not counted. Nothing when the markup does not read as expected.
std::optional<QList<AnchorSpan>> anchorSpans(QStringView html);

} // namespace lumen
