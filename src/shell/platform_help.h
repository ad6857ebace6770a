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

// The rights the program needs on one of its places, as the help window's
// own text asks for them.
enum class PermissionNeed {
    Run,       // the program file: read and execute
    Read,      // a folder it only reads from: read and enter
    ReadWrite, // a folder it writes into: read, enter and write
};

// One file or folder the program needs rights on.
struct PermissionEntry {
    QString label; // what it is, e.g. "程序文件"
    QString path;
    PermissionNeed need = PermissionNeed::Run;
};

// The program itself, its folder, the settings folder and the download
// folder: the places whose rights decide whether the program can work. The
// program's folder is only read: an installed program's folder belongs to
// the system, and the program keeps nothing there it could not keep in the
// user's own folders.
QList<PermissionEntry> programPermissionEntries(const QString &programPath,
                                                const QString &settingsFolder,
                                                const QString &downloadFolder);

// What the current user may do with a place, as the file system answers.
struct PermissionFacts {
    bool exists = false;
    bool folder = false;
    bool readable = false;
    bool writable = false;
    bool executable = false; // for a folder: may be entered
};
PermissionFacts permissionFacts(const QString &path);

// What the facts lack for the need: "正常", "不存在", "不是文件",
// "不是文件夹", or the missing rights joined by "，" ("不可读", "不可写",
// "不可执行", "不可进入"). A right the need does not ask for is never missing.
QString permissionState(PermissionNeed need, const PermissionFacts &facts);

// One line per entry: label, path, the rights as "rwxr-xr-x", and its state.
QStringList permissionReport(const QList<PermissionEntry> &entries);

} // namespace lumen
