#pragma once

#include <QString>
#include <QUrl>

class QNetworkReply;

namespace lumen
{

// How both download methods read a finished or arriving reply, so that one
// answer is treated alike whichever method fetched it.

// True when the reply ended for another reason than a complete answer: the
// connection was refused, reset or cut, a chunked body broke off or carried
// an invalid chunk size, TLS failed, the request was aborted. An HTTP error
// status (400, 403, 404, 407, 500, ...) is an answer, not a failure: its page
// is stored like any body, whatever error code Qt gives it.
bool isTransportFailure(const QNetworkReply &reply);

// False when the body comes with a content coding (gzip, deflate, br, ...)
// although only the identity coding was asked for.
bool hasIdentityEncoding(const QNetworkReply &reply);

// The extension the reply's Content-Type gives (its value before any ";"
// parameters, through MimeToExtension): only a type of the form
// "major/minor" that the table knows gives one; anything else (no "/", an
// unknown type, octet-stream) answers empty, so the record keeps its type.
QString extensionForContentType(const QNetworkReply &reply);

// The URL text without the user name and password it may carry
// ("http://u:p@host/x" gives "http://host/x"); other texts stay as they are.
QString urlWithoutUserInfo(const QString &url);

// text with every spelling of url's user name and password taken out, for
// anything that is shown or logged (Qt's error texts quote the URL).
QString redactUserInfo(const QString &text, const QUrl &url);

} // namespace lumen
