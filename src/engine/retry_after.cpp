#include "engine/retry_after.h"

#include <QLocale>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimeZone>

namespace lumen
{

namespace
{

// The three forms an HTTP date may take: the preferred one, the obsolete
// RFC 850 one (two-digit year) and asctime's. The weekday is left out of
// the reading: it says nothing the date does not, and a two-digit year
// read in the wrong century would never match it.
QDateTime parseHttpDate(const QString &text)
{
    const QLocale c = QLocale::c();
    const QString simplified = text.simplified();
    const qsizetype comma = simplified.indexOf(QLatin1Char(','));
    QDateTime at;
    if (comma > 0) {
        const QString rest = simplified.mid(comma + 1).trimmed();
        at = c.toDateTime(rest, QStringLiteral("dd MMM yyyy HH:mm:ss 'GMT'"));
        if (!at.isValid()) {
            at = c.toDateTime(rest, QStringLiteral("dd-MMM-yy HH:mm:ss 'GMT'"));
            if (at.isValid() && at.date().year() < 1970)
                at = at.addYears(100);
        }
    } else {
        const qsizetype space = simplified.indexOf(QLatin1Char(' '));
        if (space > 0)
            at = c.toDateTime(simplified.mid(space + 1), QStringLiteral("MMM d HH:mm:ss yyyy"));
    }
    if (!at.isValid())
        return {};
    at.setTimeZone(QTimeZone::utc());
    return at;
}

} // namespace

bool asksToRetryLater(int httpStatus)
{
    return httpStatus == 429 || httpStatus == 503;
}

qint64 retryWaitMs(QByteArrayView retryAfter, const QDateTime &nowUtc)
{
    const QByteArray value = retryAfter.toByteArray().trimmed();
    if (value.isEmpty())
        return DefaultRetryWaitMs;
    bool numeric = false;
    const qint64 seconds = value.toLongLong(&numeric);
    if (numeric) {
        if (seconds < 0)
            return DefaultRetryWaitMs;
        return seconds >= MaxRetryWaitMs / 1000 ? MaxRetryWaitMs : seconds * 1000;
    }
    const QDateTime at = parseHttpDate(QString::fromLatin1(value));
    if (!at.isValid())
        return DefaultRetryWaitMs;
    const qint64 ms = nowUtc.msecsTo(at);
    return qBound<qint64>(0, ms, MaxRetryWaitMs);
}

std::optional<qint64> retryWaitFor(const QNetworkReply &reply, const QDateTime &nowUtc)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!asksToRetryLater(status))
        return std::nullopt;
    return retryWaitMs(reply.rawHeader("retry-after"), nowUtc);
}

} // namespace lumen
