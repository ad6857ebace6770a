#include "shell/platform_help.h"

#include <QFileInfo>

namespace lumen
{

QStringList runtimePackages()
{
    return {
        QStringLiteral("libqt6core6"),
        QStringLiteral("libqt6gui6"),
        QStringLiteral("libqt6widgets6"),
        QStringLiteral("libqt6network6"),
        QStringLiteral("libqt6webenginecore6"),
        QStringLiteral("libqt6webenginewidgets6"),
        QStringLiteral("libqt6multimedia6"),
        QStringLiteral("qt6-qpa-plugins"),
        QStringLiteral("xdg-utils"),
    };
}

QString installCommand()
{
    return QStringLiteral("sudo apt-get install ") + runtimePackages().join(QLatin1Char(' '));
}

QList<PermissionEntry> programPermissionEntries(const QString &programPath,
                                                const QString &settingsFolder,
                                                const QString &downloadFolder)
{
    return {
        {QStringLiteral("程序文件"), programPath, PermissionNeed::Run},
        {QStringLiteral("程序文件夹"), QFileInfo(programPath).absolutePath(), PermissionNeed::Read},
        {QStringLiteral("设置文件夹"), settingsFolder, PermissionNeed::ReadWrite},
        {QStringLiteral("下载文件夹"), downloadFolder, PermissionNeed::ReadWrite},
    };
}

namespace
{

QString modeText(QFileDevice::Permissions p)
{
    const struct {
        QFileDevice::Permission flag;
        char letter;
    } bits[] = {
        {QFileDevice::ReadOwner, 'r'}, {QFileDevice::WriteOwner, 'w'}, {QFileDevice::ExeOwner, 'x'},
        {QFileDevice::ReadGroup, 'r'}, {QFileDevice::WriteGroup, 'w'}, {QFileDevice::ExeGroup, 'x'},
        {QFileDevice::ReadOther, 'r'}, {QFileDevice::WriteOther, 'w'}, {QFileDevice::ExeOther, 'x'},
    };
    QString text;
    for (const auto &b : bits)
        text += (p & b.flag) ? QLatin1Char(b.letter) : QLatin1Char('-');
    return text;
}

} // namespace

PermissionFacts permissionFacts(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    // The rights of the user who runs the program (the access check), not
    // the owner's bits.
    return {info.exists(), info.isDir(), info.isReadable(), info.isWritable(), info.isExecutable()};
}

QString permissionState(PermissionNeed need, const PermissionFacts &facts)
{
    const bool folder = need != PermissionNeed::Run;
    if (!facts.exists)
        return QStringLiteral("不存在");
    if (folder != facts.folder)
        return folder ? QStringLiteral("不是文件夹") : QStringLiteral("不是文件");
    QStringList missing;
    if (!facts.readable)
        missing << QStringLiteral("不可读");
    if (need == PermissionNeed::ReadWrite && !facts.writable)
        missing << QStringLiteral("不可写");
    if (!facts.executable)
        missing << (folder ? QStringLiteral("不可进入") : QStringLiteral("不可执行"));
    return missing.isEmpty() ? QStringLiteral("正常") : missing.join(QStringLiteral("，"));
}

QStringList permissionReport(const QList<PermissionEntry> &entries)
{
    QStringList lines;
    for (const PermissionEntry &e : entries) {
        const QFileInfo info(e.path);
        const PermissionFacts facts = permissionFacts(e.path);
        const QString mode =
            facts.exists ? modeText(info.permissions()) : QStringLiteral("---------");
        lines << e.label + QStringLiteral("：") + e.path + QLatin1Char(' ') + mode +
                     QLatin1Char(' ') + permissionState(e.need, facts);
    }
    return lines;
}

} // namespace lumen
