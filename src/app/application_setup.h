#pragma once

// What the desktop program tells Qt about itself before any window opens.

#include <QCommandLineOption>
#include <QString>

class QCoreApplication;
class QCommandLineParser;

namespace lumen
{

// The desktop entry's file name without ".desktop", which is also the
// program's AppStream id and its Wayland application id.
inline const QString DesktopFileId = QStringLiteral("org.lumenarc.Harvester");

// Name, version and desktop entry of the running program. No display name
// is set: Qt would append it to every window title, and each window has a
// caption of its own.
void describeApplication();

// The program's options on parser, with Qt's own window-system options
// (-platform, -display, -style...) accepted and hidden, since the options
// are read before the window system is. Returns the --download-list option.
QCommandLineOption addDesktopOptions(QCommandLineParser &parser);

// Loads Qt's own simplified Chinese translations (standard buttons read
// 确定/取消/是/否, file dialogs ask in Chinese) from Qt's translations folder
// and installs them on app. True when the base translation was found.
bool installQtTranslations(QCoreApplication &app);

} // namespace lumen
