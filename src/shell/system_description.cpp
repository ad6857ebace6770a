#include "shell/system_description.h"

#include <QFile>
#include <QSysInfo>

namespace lumen
{

namespace
{

// A release file is a few hundred bytes; anything beyond this is not one.
constexpr qint64 MaxReleaseFileBytes = 64 * 1024;

// A value as the release file writes it: bare, or in double or single
// quotes with backslash escapes inside double quotes.
QString unquote(QStringView value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.front() == u'\'' && value.back() == u'\'')
        return value.mid(1, value.size() - 2).toString();
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"') {
        QString out;
        const QStringView inner = value.mid(1, value.size() - 2);
        for (qsizetype i = 0; i < inner.size(); ++i) {
            if (inner[i] == u'\\' && i + 1 < inner.size())
                ++i;
            out += inner[i];
        }
        return out;
    }
    return value.toString();
}

} // namespace

QStringList defaultOsReleasePaths()
{
    return {QStringLiteral("/etc/os-release"), QStringLiteral("/usr/lib/os-release")};
}

OsRelease readOsRelease(const QStringList &paths)
{
    OsRelease release;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.read(MaxReleaseFileBytes));
        for (const QStringView line : QStringView(text).split(u'\n')) {
            const qsizetype eq = line.indexOf(u'=');
            if (eq <= 0 || line.trimmed().startsWith(u'#'))
                continue;
            const QStringView key = line.left(eq).trimmed();
            const QString value = unquote(line.mid(eq + 1));
            if (key == u"PRETTY_NAME")
                release.prettyName = value;
            else if (key == u"NAME")
                release.name = value;
            else if (key == u"VERSION")
                release.version = value;
            else if (key == u"VERSION_ID")
                release.versionId = value;
        }
        break;
    }
    return release;
}

int architectureWordSize(const QString &cpuArchitecture)
{
    // The names the kernel reports (some as the toolkit folds them). A "64"
    // in the name is no guide: s390x and sparcv9 are 64-bit without one,
    // and it is the word size that decides.
    static const struct {
        const char *name;
        int bits;
    } table[] = {
        {"x86_64", 64},  {"amd64", 64},      {"arm64", 64},   {"aarch64", 64}, {"aarch64_be", 64},
        {"ia64", 64},    {"mips64", 64},     {"power64", 64}, {"ppc64", 64},   {"ppc64le", 64},
        {"sparcv9", 64}, {"sparc64", 64},    {"s390x", 64},   {"riscv64", 64}, {"loongarch64", 64},
        {"alpha", 64},   {"i386", 32},       {"i486", 32},    {"i586", 32},    {"i686", 32},
        {"x86", 32},     {"arm", 32},        {"armhf", 32},   {"armel", 32},   {"mips", 32},
        {"mipsel", 32},  {"power", 32},      {"ppc", 32},     {"powerpc", 32}, {"sparc", 32},
        {"s390", 32},    {"riscv32", 32},    {"hppa", 32},    {"m68k", 32},    {"sh4", 32},
        {"parisc", 32},  {"microblaze", 32},
    };
    const QString name = cpuArchitecture.trimmed().toLower();
    for (const auto &row : table) {
        if (name == QLatin1String(row.name))
            return row.bits;
    }
    // armv5tel, armv6l, armv7l, armv8l: the 32-bit instruction sets (a
    // 64-bit Arm kernel says aarch64).
    if (name.startsWith(QLatin1String("armv")))
        return 32;
    return 0;
}

QString osBitnessOf(const QString &cpuArchitecture, int fallbackWordSize)
{
    int bits = architectureWordSize(cpuArchitecture);
    if (bits == 0)
        bits = fallbackWordSize;
    return bits == 64 ? QStringLiteral("64") : QStringLiteral("32");
}

QString osBitness()
{
    // The kernel's architecture, not the build's: a 32-bit build on a 64-bit
    // system is a 64-bit system.
    return osBitnessOf(QSysInfo::currentCpuArchitecture(), QSysInfo::WordSize);
}

QString osProductName(const OsRelease &release, const QString &kernelType,
                      const QString &kernelRelease)
{
    QString name = release.prettyName;
    if (name.isEmpty())
        name = (release.name + QLatin1Char(' ') + release.version).trimmed();
    if (name.isEmpty()) {
        name = kernelType;
        if (!name.isEmpty())
            name[0] = name[0].toUpper();
    }
    QString version = release.versionId;
    if (version.isEmpty())
        version = release.version;
    if (version.isEmpty())
        version = kernelRelease.section(QLatin1Char('-'), 0, 0);
    return name + QStringLiteral(" 版本:") + version + QStringLiteral(" (内部版本:") +
           kernelRelease + QLatin1Char(')');
}

QString osDescription(const QString &productName, const QString &bitness)
{
    return productName + QLatin1Char('[') + bitness + QStringLiteral("位]");
}

QString currentOsDescription()
{
    return osDescription(
        osProductName(readOsRelease(), QSysInfo::kernelType(), QSysInfo::kernelVersion()),
        osBitness());
}

} // namespace lumen
