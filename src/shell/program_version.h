#pragma once

#include <QString>
#include <QStringView>

#include <compare>
#include <optional>

namespace lumen
{

// A version as major.minor.revision. Versions are ordered part by part, so
// 2.0.1 is newer than 2.0.0 however large the numbers grow.
struct VersionNumber {
    qint64 major = 0;
    qint64 minor = 0;
    qint64 revision = 0;

    friend auto operator<=>(const VersionNumber &, const VersionNumber &) = default;
    QString toString() const;
};

// The running program's version, set once by the build.
VersionNumber programVersion();
// "1.0.0".
QString programVersionText();

// Reads a published version text: surrounding blanks are dropped, the rest
// must be shorter than 11 characters and exactly three parts joined by ".",
// each an optionally signed whole number with blanks around it allowed.
// nullopt for anything else (an empty answer, an error page, "1.5",
// "1.5.1116.0", "a.b.c").
std::optional<VersionNumber> parsePublishedVersion(QStringView text);

// The running executable's file name without a ".exe" ending: the name the
// product site files this program's version and page under.
QString executableBaseName();

} // namespace lumen
