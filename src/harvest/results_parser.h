#pragma once

#include "harvest/browser.h"

#include <QString>
#include <QStringView>

namespace lumen
{

class HarvestList;

// Whether an anchor's inner HTML holds the repository's result-entry element:
// after removing every double quote, apostrophe and space, it must contain
// "<divclass=c-clientmarkup>" in any letter case. Line breaks and tabs count.
// Runs without building the stripped copy.
bool isResultEntryMarkup(QStringView innerHtml);

// Whether a link is worth sending from the engine when a results page is
// read: one that may be a result entry (its markup names clientmarkup once
// quotes, apostrophes and spaces are gone, in any case) or the "next" link
// (its text holds "next" in any case). A wider net than the parser's own
// tests, which then decide; the engine's reading script applies the same,
// and takes a link whose content is one text only when that text may say
// "next" (such content holds no markup, so it is no entry).
bool isResultsReadCandidate(QStringView innerText, QStringView outerHtml);

// A link's text as one line: every run of spaces, tabs and line breaks
// (which the document's layout would show as one space, or as the break a
// block or "<br>" makes) becomes one space, and none is left at either end.
// Other spaces (the no-break space of "&nbsp;", the ideographic space) are
// the page's own characters and stay.
QString linkTextOf(const QString &text);

// HarvestPage: appends one row per result entry of the document to the list
// (title, link + ".pdf", the document's address, "pdf", the save folder,
// "搜索"). Entries without title or link are skipped; entries already in the
// list are skipped by the list but still counted. Returns the number of
// entries accepted; 0 when no document is loaded.
qint64 HarvestPage(const DocumentSnapshot &document, HarvestList &list, const QString &saveFolder);

// The page's own "next" link: an anchor whose trimmed text is "next" in any
// case and whose outer HTML, spaces removed, mentions gotoNextresultset.
// The system never clicks it; its presence says another page follows.
bool hasNextPageMarker(const DocumentSnapshot &document);

// A server error page ends the walk through the pages: the server answered
// with a 5xx status, or the page says "Internal Server Error" outside its
// result entries (a result may well be titled with that phrase).
bool isServerErrorPage(const DocumentSnapshot &document);

} // namespace lumen
