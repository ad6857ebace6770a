#include "shell/program_version.h"

#include "lumen_build_info.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QList>

namespace lumen
{

namespace
{

// Longer answers are not a version file but something else (an error page, a
// login page of a captive portal).
constexpr qsizetype MaxVersionTextLength = 10;

std::optional<qint64> wholeNumber(QStringView part)
{
    part = part.trimmed();
    if (part.startsWith(u'+') || part.startsWith(u'-')) {
        // The sign belongs to the digits right after it.
        if (part.size() < 2 || !part[1].isDigit())
            return std::nullopt;
    }
    qsizetype digits = 0;
    for (qsizetype i = (part.startsWith(u'+') || part.startsWith(u'-')) ? 1 : 0; i < part.size();
         ++i) {
        if (part[i] < u'0' || part[i] > u'9')
            return std::nullopt;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const qint64 value = part.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

QString VersionNumber::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

VersionNumber programVersion()
{
    return {LUMEN_VERSION_MAJOR, LUMEN_VERSION_MINOR, LUMEN_VERSION_PATCH};
}

QString programVersionText()
{
    return QStringLiteral(LUMEN_VERSION_TEXT);
}

std::optional<VersionNumber> parsePublishedVersion(QStringView text)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > MaxVersionTextLength)
        return std::nullopt;
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    const auto major = wholeNumber(parts[0]);
    const auto minor = wholeNumber(parts[1]);
    const auto revision = wholeNumber(parts[2]);
    if (!major || !minor || !revision)
        return std::nullopt;
    return VersionNumber{*major, *minor, *revision};
}

QString executableBaseName()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

} // namespace lumen
