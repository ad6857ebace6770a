#include "tools/file_version.h"

#include "engine/prompter.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QtEndian>

namespace lumen
{

namespace
{

// Section headers and dynamic tables of a library are a few kilobytes; a
// file that claims more is damaged and not read further.
constexpr qint64 MaxTableBytes = 4 * 1024 * 1024;
constexpr quint32 FileTypeApp = 1;
constexpr quint32 FileTypeDll = 2;
constexpr quint32 FileTypeDriver = 3;
constexpr quint32 FileTypeFont = 4;

// Up to four whole numbers of at most 16 bits, padded with zeros.
std::optional<FixedFileInfo> infoFromParts(const QStringList &parts, quint32 fileType)
{
    if (parts.isEmpty() || parts.size() > 4)
        return std::nullopt;
    quint32 words[4] = {0, 0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const uint value = parts[i].toUInt(&ok);
        if (!ok || value > 0xffff)
            return std::nullopt;
        words[i] = value;
    }
    FixedFileInfo info;
    info.fileVersionMS = info.productVersionMS = (words[0] << 16) | words[1];
    info.fileVersionLS = info.productVersionLS = (words[2] << 16) | words[3];
    info.fileType = fileType;
    return info;
}

// "libname.so.1.2.3" gives 1, 2, 3.
std::optional<FixedFileInfo> infoFromName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("\\.so\\.(\\d+(?:\\.\\d+)*)$"));
    const auto m = re.match(name);
    if (!m.hasMatch())
        return std::nullopt;
    return infoFromParts(m.captured(1).split(QLatin1Char('.')), FileTypeDll);
}

// Reads `size` bytes at `offset`, all or nothing.
std::optional<QByteArray> readAt(QFile &file, quint64 offset, quint64 size)
{
    if (size > quint64(MaxTableBytes) || offset > quint64(file.size()) ||
        size > quint64(file.size()) - offset || !file.seek(qint64(offset)))
        return std::nullopt;
    QByteArray bytes = file.read(qint64(size));
    if (quint64(bytes.size()) != size)
        return std::nullopt;
    return bytes;
}

// The soname recorded in a shared library's dynamic section.
std::optional<QString> elfSoname(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray ident = file.read(64);
    if (ident.size() < 52 || !ident.startsWith("\x7f"
                                               "ELF"))
        return std::nullopt;
    const bool is64 = ident[4] == 2;
    const bool little = ident[5] == 1;
    if ((!is64 && ident[4] != 1) || (!little && ident[5] != 2) || (is64 && ident.size() < 64))
        return std::nullopt;
    const auto u16 = [little](const char *p) -> quint64 {
        return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p);
    };
    const auto u32 = [little](const char *p) -> quint64 {
        return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p);
    };
    const auto u64 = [little](const char *p) -> quint64 {
        return little ? qFromLittleEndian<quint64>(p) : qFromBigEndian<quint64>(p);
    };
    const auto word = [&](const char *p) { return is64 ? u64(p) : u32(p); };

    const char *h = ident.constData();
    const quint64 shoff = is64 ? u64(h + 0x28) : u32(h + 0x20);
    const quint64 shentsize = u16(h + (is64 ? 0x3a : 0x2e));
    const quint64 shnum = u16(h + (is64 ? 0x3c : 0x30));
    const quint64 minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shnum == 0 || shentsize < minEntry)
        return std::nullopt;
    const auto sections = readAt(file, shoff, shentsize * shnum);
    if (!sections)
        return std::nullopt;

    struct Section {
        quint64 type, offset, size, link;
    };
    const auto section = [&](quint64 i) {
        const char *s = sections->constData() + i * shentsize;
        return is64 ? Section{u32(s + 4), u64(s + 0x18), u64(s + 0x20), u32(s + 0x28)}
                    : Section{u32(s + 4), u32(s + 0x10), u32(s + 0x14), u32(s + 0x18)};
    };
    constexpr quint64 SectionDynamic = 6;
    constexpr quint64 TagSoname = 14;
    for (quint64 i = 0; i < shnum; ++i) {
        const Section dyn = section(i);
        if (dyn.type != SectionDynamic || dyn.link >= shnum)
            continue;
        const Section strtab = section(dyn.link);
        const auto table = readAt(file, dyn.offset, dyn.size);
        if (!table)
            return std::nullopt;
        const quint64 entry = is64 ? 16 : 8;
        for (quint64 at = 0; at + entry <= quint64(table->size()); at += entry) {
            const quint64 tag = word(table->constData() + at);
            if (tag == 0)
                break;
            if (tag != TagSoname)
                continue;
            const quint64 offset = word(table->constData() + at + entry / 2);
            if (offset >= strtab.size)
                return std::nullopt;
            const auto bytes =
                readAt(file, strtab.offset + offset, qMin<quint64>(strtab.size - offset, 4096));
            if (!bytes)
                return std::nullopt;
            return QString::fromUtf8(bytes->left(bytes->indexOf('\0')));
        }
    }
    return std::nullopt;
}

} // namespace

QString versionText(quint32 mostSignificant, quint32 leastSignificant)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(mostSignificant >> 16)
        .arg(mostSignificant & 0xffff)
        .arg(leastSignificant >> 16)
        .arg(leastSignificant & 0xffff);
}

void fillFileVersionRecord(const FixedFileInfo &info, FileVersionRecord &record)
{
    record.strucVersion =
        QStringLiteral("%1.%2").arg(info.strucVersion >> 16).arg(info.strucVersion & 0xffff);
    record.fileVersion = versionText(info.fileVersionMS, info.fileVersionLS);
    record.productVersion = versionText(info.productVersionMS, info.productVersionLS);

    static const char *const flagNames[] = {"Debug ",   "PreRel ", "Patched ",
                                            "Private ", "Info ",   "Special "};
    record.fileFlags.clear();
    for (int bit = 0; bit < 6; ++bit) {
        if (info.fileFlags & (1u << bit))
            record.fileFlags += QLatin1String(flagNames[bit]);
    }

    switch (info.fileOS) {
    case 0x10001:
        record.fileOS = QStringLiteral("DOS-Win16");
        break;
    case 0x10004:
        record.fileOS = QStringLiteral("DOS-Win32");
        break;
    case 0x20002:
        record.fileOS = QStringLiteral("OS/2-16 PM-16");
        break;
    case 0x30003:
        record.fileOS = QStringLiteral("OS/2-16 PM-32");
        break;
    case 0x40004:
        record.fileOS = QStringLiteral("NT-Win32");
        break;
    default:
        record.fileOS = QStringLiteral("Unknown");
    }

    static const QHash<quint32, QString> types{
        {FileTypeApp, QStringLiteral("App")},
        {FileTypeDll, QStringLiteral("DLL")},
        {FileTypeDriver, QStringLiteral("Driver")},
        {FileTypeFont, QStringLiteral("Font")},
        {5, QStringLiteral("VxD")},
        {7, QStringLiteral("Lib")},
    };
    record.fileType = types.value(info.fileType, QStringLiteral("Unknown"));

    if (info.fileType == FileTypeDriver) {
        static const QStringList drivers{
            QStringLiteral("Unknown"),      QStringLiteral("Printer drv"),
            QStringLiteral("Keyboard drv"), QStringLiteral("Language drv"),
            QStringLiteral("Display drv"),  QStringLiteral("Mouse drv"),
            QStringLiteral("Network drv"),  QStringLiteral("System drv"),
            QStringLiteral("Installable"),  QStringLiteral("Sound drv"),
            QStringLiteral("Comm drv"),
        };
        if (info.fileSubtype < quint32(drivers.size()))
            record.fileSubType = drivers[int(info.fileSubtype)];
    } else if (info.fileType == FileTypeFont) {
        static const QStringList fonts{QString(), QStringLiteral("Raster Font"),
                                       QStringLiteral("Vector Font"),
                                       QStringLiteral("TrueType Font")};
        if (info.fileSubtype >= 1 && info.fileSubtype < quint32(fonts.size()))
            record.fileSubType = fonts[int(info.fileSubtype)];
    }
}

std::optional<FixedFileInfo> readFixedFileInfo(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return std::nullopt;
    // A link such as libQt6Core.so.6 names the file with the full version.
    if (auto info = infoFromName(QFileInfo(file.canonicalFilePath()).fileName()))
        return info;
    if (auto info = infoFromName(file.fileName()))
        return info;
    if (const auto soname = elfSoname(file.canonicalFilePath()))
        return infoFromName(*soname);
    return std::nullopt;
}

bool readFileVersion(const QString &path, FileVersionRecord &record, Prompter *prompter)
{
    const auto info = readFixedFileInfo(path);
    if (!info) {
        if (prompter)
            prompter->message(NoVersionInfoText, Prompter::Icon::None);
        return false;
    }
    fillFileVersionRecord(*info, record);
    return true;
}

} // namespace lumen
