// lumenarc: the desktop program.
#include "app/desktop_app.h"
#include "engine/app_title.h"
#include "harvest/web_engine_profile.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    // The browser engine must be set up before the application object.
    lumen::initWebEngine(false);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(lumen::ApplicationTitle);
    QApplication::setApplicationVersion(QStringLiteral(LUMEN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(lumen::ApplicationTitle);
    parser.addHelpOption();
    parser.addVersionOption();
    // Exits with a message on an unknown option, and after --help/--version.
    parser.process(app);

    lumen::DesktopApp desktop;
    if (!desktop.start())
        return 1;
    return 0;
}
