#include "engine/url_policy.h"

namespace lumen
{

bool isFetchableUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool isFetchableUrl(QStringView text)
{
    return isFetchableUrl(QUrl(text.trimmed().toString()));
}

} // namespace lumen
