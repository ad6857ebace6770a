#pragma once

#include <QString>
#include <QUrl>

namespace lumen
{

// The repository's root address (scheme, host, port, ending in "/"). The
// environment variable LUMENARC_REPOSITORY replaces it, for example with
// http://127.0.0.1:8080/ for the local site; a value that is not an http or
// https address is ignored.
QUrl repositoryAddress();
// The address used when no override is given.
QUrl defaultRepositoryAddress();
// The repository's home page: its root address.
QUrl repositoryHomePage();
// The root the walk builds next pages on: LUMENARC_REPOSITORY when it is
// set, otherwise the scheme, host and port of the page being walked, so that
// a search opened on one server is never continued on another.
QUrl walkRootFor(const QUrl &page);

// Where a search stands, as read from a results page address.
struct SearchPosition {
    QString query; // still URL-encoded, as the address holds it
    qint64 start = 0;
    qint64 rows = 0;
};

// 获取当前网址: reads the search terms and the paging position from an
// address's query: the fields "q", "rows" and "start" in any letter case.
// The fragment is no part of the query ("search?q=x#results" asks for "x").
// A part that is absent, or a number that is not numeric, leaves the field
// as it was; the query stays URL-encoded as the address holds it.
void readSearchPosition(const QString &address, SearchPosition &position);

// Whether the address is a search the walk can continue: a "/search" page
// whose query starts with "q=", with a non-empty query.
bool isSearchAddress(const QString &address, const SearchPosition &position);

// The next results page in pages of 100 entries: start + 100 when the page
// already holds 100 rows, otherwise the first page again with 100 rows.
QString nextPageAddress(const QUrl &repository, const SearchPosition &position);

} // namespace lumen
