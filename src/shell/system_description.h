#pragma once

#include <QString>
#include <QStringList>

namespace lumen
{

// What the system says about itself in its release file.
struct OsRelease {
    QString prettyName; // PRETTY_NAME, e.g. "Debian GNU/Linux 12 (bookworm)"
    QString name;       // NAME, e.g. "Debian GNU/Linux"
    QString version;    // VERSION, e.g. "12 (bookworm)"
    QString versionId;  // VERSION_ID, e.g. "12"
};

// Where the release file is looked for, in order.
QStringList defaultOsReleasePaths();
// Reads the first of the files that exists. A missing or unreadable file
// gives an empty record; lines that are not KEY=value are skipped.
OsRelease readOsRelease(const QStringList &paths = defaultOsReleasePaths());

// `GetOsBitness`: "64" when the running system's word is 64 bits wide,
// otherwise "32".
QString osBitness();
// The word size in bits of a processor architecture as the system names it
// ("x86_64", "s390x", "sparcv9", "i386", "arm", "armv7l"); 0 for a name it
// does not know.
int architectureWordSize(const QString &cpuArchitecture);
// The bitness of a system on that architecture; a name not known takes the
// word size of the program itself (fallbackWordSize, in bits).
QString osBitnessOf(const QString &cpuArchitecture, int fallbackWordSize);

// `GetOsProductName`: name, " 版本:", release, " (内部版本:", kernel release,
// ")". A release file without a pretty name falls back to its NAME and
// VERSION; a system without one still names its kernel.
QString osProductName(const OsRelease &release, const QString &kernelType,
                      const QString &kernelRelease);
// `OsDescription`: the product name followed by "[", the bitness and "位]".
QString osDescription(const QString &productName, const QString &bitness);
// The description of the machine the program runs on.
QString currentOsDescription();

} // namespace lumen
