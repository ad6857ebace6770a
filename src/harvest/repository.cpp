#include "harvest/repository.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace lumen
{

namespace
{

constexpr const char *RepositoryVariable = "LUMENARC_REPOSITORY";
constexpr qint64 PageRows = 100;

// The text after the first occurrence of the marker up to the next "&" or
// the end; false when the marker is absent.
bool partAfter(const QString &address, QLatin1String marker, QStringView &part)
{
    const qsizetype at = address.indexOf(marker, 0, Qt::CaseInsensitive);
    if (at < 0)
        return false;
    const qsizetype from = at + marker.size();
    const qsizetype amp = address.indexOf(QLatin1Char('&'), from);
    part = QStringView(address).sliced(from, (amp < 0 ? address.size() : amp) - from);
    return true;
}

// A number as a results address may spell it: blanks around it, a sign, a
// fraction (rounded). Anything else, or a value out of range, is no number.
bool toWholeNumber(QStringView text, qint64 &value)
{
    const QStringView t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    const qint64 whole = t.toLongLong(&ok);
    if (ok) {
        value = whole;
        return true;
    }
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d) || std::fabs(d) > 9.0e15)
        return false;
    value = qRound64(d);
    return true;
}

} // namespace

QUrl defaultRepositoryAddress()
{
    return QUrl(QStringLiteral("https://search.lumenarc.org/"));
}

QUrl repositoryAddress()
{
    const QString override = qEnvironmentVariable(RepositoryVariable).trimmed();
    if (!override.isEmpty()) {
        QUrl url(override, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && !url.host().isEmpty() && (scheme == "http" || scheme == "https")) {
            // Only the root counts: the paths of the site are built on it.
            url.setPath(QStringLiteral("/"));
            url.setQuery(QString());
            url.setFragment(QString());
            url.setUserInfo(QString());
            return url;
        }
    }
    return defaultRepositoryAddress();
}

QUrl repositoryHomePage()
{
    return repositoryAddress();
}

void readSearchPosition(const QString &address, SearchPosition &position)
{
    QStringView part;
    if (partAfter(address, QLatin1String("q="), part))
        position.query = part.toString();
    qint64 n = 0;
    if (partAfter(address, QLatin1String("rows="), part) && toWholeNumber(part, n))
        position.rows = n;
    if (partAfter(address, QLatin1String("&start="), part) && toWholeNumber(part, n))
        position.start = n;
}

bool isSearchAddress(const QString &address, const SearchPosition &position)
{
    return address.contains(QLatin1String("/search?q="), Qt::CaseInsensitive) &&
           !position.query.isEmpty();
}

QString nextPageAddress(const QUrl &repository, const SearchPosition &position)
{
    QString root = repository.toString(QUrl::FullyEncoded);
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    qint64 start = 0;
    if (position.rows == PageRows) {
        start = position.start > std::numeric_limits<qint64>::max() - PageRows
                    ? std::numeric_limits<qint64>::max()
                    : position.start + PageRows;
    }
    return root + QStringLiteral("search?q=") + position.query +
           QStringLiteral("&rows=100&start=") + QString::number(start);
}

} // namespace lumen
