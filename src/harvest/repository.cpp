#include "harvest/repository.h"

#include "engine/url_policy.h"

#include <QtGlobal>

#include <QUrlQuery>

#include <cmath>
#include <limits>
#include <optional>

namespace lumen
{

namespace
{

constexpr const char *RepositoryVariable = "LUMENARC_REPOSITORY";
constexpr qint64 PageRows = 100;

using QueryFields = QList<QPair<QString, QString>>;

// The fields of an address's query, still encoded; the fragment is not part
// of them.
QueryFields queryFields(const QString &address)
{
    return QUrlQuery(QUrl(address.trimmed())).queryItems(QUrl::FullyEncoded);
}

// The value of the first field of that name (any letter case); false when
// the query holds none.
bool fieldOf(const QueryFields &fields, QLatin1String name, QString &value)
{
    for (const auto &[key, v] : fields) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            value = v;
            return true;
        }
    }
    return false;
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

namespace
{

std::optional<QUrl> overrideAddress()
{
    const QString override = qEnvironmentVariable(RepositoryVariable).trimmed();
    if (!override.isEmpty()) {
        QUrl url(override, QUrl::StrictMode);
        if (isFetchableUrl(url)) {
            // Only the root counts: the paths of the site are built on it.
            url.setPath(QStringLiteral("/"));
            url.setQuery(QString());
            url.setFragment(QString());
            url.setUserInfo(QString());
            return url;
        }
    }
    return std::nullopt;
}

} // namespace

QUrl repositoryAddress()
{
    return overrideAddress().value_or(defaultRepositoryAddress());
}

QUrl walkRootFor(const QUrl &page)
{
    if (const std::optional<QUrl> override = overrideAddress())
        return *override;
    if (!isFetchableUrl(page))
        return defaultRepositoryAddress();
    QUrl root;
    root.setScheme(page.scheme().toLower());
    root.setHost(page.host());
    root.setPort(page.port());
    root.setPath(QStringLiteral("/"));
    return root;
}

QUrl repositoryHomePage()
{
    return repositoryAddress();
}

void readSearchPosition(const QString &address, SearchPosition &position)
{
    const QueryFields query = queryFields(address);
    QString part;
    if (fieldOf(query, QLatin1String("q"), part))
        position.query = part;
    qint64 n = 0;
    if (fieldOf(query, QLatin1String("rows"), part) && toWholeNumber(part, n))
        position.rows = n;
    if (fieldOf(query, QLatin1String("start"), part) && toWholeNumber(part, n))
        position.start = n;
}

bool isSearchAddress(const QString &address, const SearchPosition &position)
{
    const QUrl url(address.trimmed());
    return url.path().endsWith(QLatin1String("/search"), Qt::CaseInsensitive) &&
           url.query(QUrl::FullyEncoded).startsWith(QLatin1String("q="), Qt::CaseInsensitive) &&
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
