#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace lumen
{

// The Debian packages the desktop program needs at run time: the Qt
// libraries it links, the platform plugins that put a window on an X or
// Wayland desktop, and the desktop helpers that open files and links.
QStringList runtimePackages();
// The one command that installs them all.
QString installCommand();

// One file or folder the program needs rights on.
struct PermissionEntry {
    QString label; // what it is, e.g. "程序文件"
    QString path;
    bool folder = false; // a folder must be readable and writable, a program executable
};

// The program itself, its folder, the settings folder and the download
// folder: the places whose rights decide whether the program can work.
QList<PermissionEntry> programPermissionEntries(const QString &programPath,
                                                const QString &settingsFolder,
                                                const QString &downloadFolder);

// One line per entry: label, path, the rights as "rwxr-xr-x", and what is
// missing ("正常", "不存在", "不可写", ...).
QStringList permissionReport(const QList<PermissionEntry> &entries);

} // namespace lumen
