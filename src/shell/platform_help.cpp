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
        {QStringLiteral("程序文件"), programPath, false},
        {QStringLiteral("程序文件夹"), QFileInfo(programPath).absolutePath(), true},
        {QStringLiteral("设置文件夹"), settingsFolder, true},
        {QStringLiteral("下载文件夹"), downloadFolder, true},
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

QStringList permissionReport(const QList<PermissionEntry> &entries)
{
    QStringList lines;
    for (const PermissionEntry &e : entries) {
        const QFileInfo info(e.path);
        QString state;
        if (e.path.isEmpty() || !info.exists()) {
            state = QStringLiteral("不存在");
        } else if (e.folder != info.isDir()) {
            state = e.folder ? QStringLiteral("不是文件夹") : QStringLiteral("不是文件");
        } else {
            QStringList missing;
            if (!info.isReadable())
                missing << QStringLiteral("不可读");
            if (e.folder && !info.isWritable())
                missing << QStringLiteral("不可写");
            if (!info.isExecutable())
                missing << (e.folder ? QStringLiteral("不可进入") : QStringLiteral("不可执行"));
            state = missing.isEmpty() ? QStringLiteral("正常") : missing.join(QStringLiteral("，"));
        }
        const QString mode =
            info.exists() ? modeText(info.permissions()) : QStringLiteral("---------");
        lines << e.label + QStringLiteral("：") + e.path + QLatin1Char(' ') + mode +
                     QLatin1Char(' ') + state;
    }
    return lines;
}

} // namespace lumen
