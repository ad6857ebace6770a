// lumenarc: the desktop program.
#include "app/desktop_app.h"
#include "engine/app_title.h"
#include "harvest/web_engine_profile.h"
#include "shell/program_version.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    // The browser engine must be set up before the application object.
    lumen::initWebEngine(false);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(lumen::ApplicationTitle);
    QApplication::setApplicationVersion(lumen::programVersionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(lumen::ApplicationTitle);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption downloadList(
        QStringLiteral("download-list"),
        QStringLiteral("Opens the download window with the records of FILE: lines "
                       "URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]], as lumenarc-get download "
                       "--list takes them."),
        QStringLiteral("FILE"));
    parser.addOption(downloadList);
    // Exits with a message on an unknown option, and after --help/--version.
    parser.process(app);

    lumen::DesktopApp desktop;
    QObject::connect(&desktop, &lumen::DesktopApp::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (parser.isSet(downloadList))
        desktop.startWithDownloadList(parser.value(downloadList));
    else if (!desktop.start())
        return 1;
    return app.exec();
}
