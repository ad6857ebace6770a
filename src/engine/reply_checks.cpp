#include "engine/reply_checks.h"

#include "engine/content_types.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace lumen
{

bool isTransportFailure(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return false;
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 400)
        return true;
    // Qt names an error status by a code of its own: content errors (2xx
    // codes), server errors (4xx codes), and for some statuses a protocol or
    // proxy code (400 gives ProtocolInvalidOperationError, 407
    // ProxyAuthenticationRequiredError). All of them are the server's answer.
    const int code = int(error);
    const bool contentError = code >= 201 && code <= 299;
    const bool serverError = code >= 401 && code <= 499;
    return !(contentError || serverError || error == QNetworkReply::ProtocolInvalidOperationError ||
             error == QNetworkReply::ProxyAuthenticationRequiredError);
}

bool hasIdentityEncoding(const QNetworkReply &reply)
{
    const QByteArray coding = reply.rawHeader("content-encoding").trimmed().toLower();
    return coding.isEmpty() || coding == "identity";
}

QString extensionForContentType(const QNetworkReply &reply)
{
    QString contentType = QString::fromLatin1(reply.rawHeader("content-type")).trimmed();
    const qsizetype semicolon = contentType.indexOf(QLatin1Char(';'));
    if (semicolon >= 0)
        contentType = contentType.left(semicolon).trimmed();
    // A value without "/" is handed back as it is by the table: a server
    // could then name any extension ("sh", "desktop", control bytes).
    if (!contentType.contains(QLatin1Char('/')))
        return QString();
    const QString extension = MimeToExtension(contentType);
    if (extension.isEmpty() || extension.contains(QLatin1Char('/')))
        return QString();
    return extension;
}

QString urlWithoutUserInfo(const QString &url)
{
    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.userInfo().isEmpty())
        return url;
    return parsed.adjusted(QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
}

QString redactUserInfo(const QString &text, const QUrl &url)
{
    if (url.userInfo().isEmpty())
        return text;
    QString out = text;
    for (const QUrl::ComponentFormattingOptions form :
         {QUrl::ComponentFormattingOptions(QUrl::FullyEncoded),
          QUrl::ComponentFormattingOptions(QUrl::PrettyDecoded),
          QUrl::ComponentFormattingOptions(QUrl::FullyDecoded)}) {
        const QString info = url.userInfo(form);
        if (!info.isEmpty())
            out.replace(info + QLatin1Char('@'), QString());
    }
    return out;
}

} // namespace lumen
