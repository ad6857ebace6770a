#pragma once

// How each item of the local repository site serves its full text. The site
// and the tests that talk to it share this table, so a test can pick "the
// first login-gated item" without knowing the numbers by heart.

#include <QString>

namespace lumen::testsite
{

enum class ItemBehaviour {
    Pdf,          // a small valid PDF with Content-Length
    Chunked,      // a PDF sent chunked, no Content-Length
    OctetStream,  // a PDF served as application/octet-stream
    TextPlain,    // PDF bytes served as text/plain
    PdfCharset,   // application/pdf; charset=UTF-8
    LoginGated,   // an HTML login page (200, text/html) unless the session cookie is sent
    ServerError,  // 500 with an HTML error page
    TooLarge,     // announces a Content-Length above 10 MB
    SlowBody,     // a PDF sent at a fixed slow byte rate (a few seconds in all)
    Stall,        // sends part of the body, then stays silent with the connection open
    DropMidBody,  // announces a length, sends part of the body, closes the connection
    Redirect,     // 302 to the item's file under /files/
    Caj,          // body starts with a CAJ signature
    Kdh,          // body starts with a KDH signature
    Nh,           // body starts with an NH signature
    NeedsReferer, // 403 with an HTML page unless the Referer comes from the site
};

constexpr int DefaultItemCount = 237;

// Details of the behaviours above, shared so tests can assert exact figures.
constexpr int SlowBodyBytesPerSecond = 2048;       // SlowBody: the whole PDF takes 1 to 2 seconds
constexpr int StallAfterBytes = 1024;              // Stall: body bytes sent before the silence
constexpr int DropAfterBytes = 1024;               // DropMidBody: body bytes sent before the close
constexpr qint64 TooLargeBytes = 12 * 1024 * 1024; // TooLarge: announced and sent in full
constexpr int ChunkBytes = 1024;                   // Chunked: size of each chunk

// The session cookie set by /login and /iplogin, and the one password /login accepts.
inline constexpr char SessionCookieName[] = "LumenSession";
inline constexpr char LoginPassword[] = "secret";

inline ItemBehaviour behaviourOf(int id)
{
    switch (id % 20) {
    case 1:
        return ItemBehaviour::Chunked;
    case 2:
        return ItemBehaviour::OctetStream;
    case 3:
        return ItemBehaviour::TextPlain;
    case 4:
        return ItemBehaviour::PdfCharset;
    case 5:
        return ItemBehaviour::LoginGated;
    case 6:
        return ItemBehaviour::ServerError;
    case 7:
        return ItemBehaviour::TooLarge;
    case 8:
        return ItemBehaviour::SlowBody;
    case 9:
        return ItemBehaviour::Stall;
    case 10:
        return ItemBehaviour::DropMidBody;
    case 11:
        return ItemBehaviour::Redirect;
    case 12:
        return ItemBehaviour::Caj;
    case 13:
        return ItemBehaviour::Kdh;
    case 14:
        return ItemBehaviour::Nh;
    case 15:
        return ItemBehaviour::NeedsReferer;
    default:
        return ItemBehaviour::Pdf;
    }
}

// The lowest item id (1-based) with the given behaviour.
inline int firstItemWith(ItemBehaviour b)
{
    for (int id = 1; id <= 20; ++id)
        if (behaviourOf(id) == b)
            return id;
    return -1;
}

// Which items a search returns: "*" or "all" gives every item; "demo" gives
// the first 60 items except those that stall (so a demonstration never waits
// out a stall limit); any other query gives the items whose title contains
// it, compared without regard to case. "servererror" is answered with an
// error page instead of results.
inline bool matchesQuery(int id, const QString &title, const QString &query)
{
    if (query == QLatin1String("*") || query == QLatin1String("all"))
        return true;
    if (query == QLatin1String("demo"))
        return id <= 60 && behaviourOf(id) != ItemBehaviour::Stall;
    return !query.isEmpty() && title.contains(query, Qt::CaseInsensitive);
}

} // namespace lumen::testsite
