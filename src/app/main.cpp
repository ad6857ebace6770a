// lumenarc: the desktop program.
#include "app/application_setup.h"
#include "app/desktop_app.h"
#include "harvest/web_engine_profile.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char **argv)
{
    // The browser engine must be set up before any application object.
    lumen::initWebEngine(false);

    // The options are read on an application object that needs no window
    // system, so --help, --version and a wrong option work without a
    // display; the windows' application object comes after.
    QString listFile;
    bool withList = false;
    {
        QCoreApplication options(argc, argv);
        lumen::describeApplication();
        QCommandLineParser parser;
        const QCommandLineOption downloadList = lumen::addDesktopOptions(parser);
        // Exits with a message on an unknown option, and after --help/--version.
        parser.process(options);
        // Nothing takes arguments besides the options; said like Qt's own
        // option errors.
        if (!parser.positionalArguments().isEmpty()) {
            std::fprintf(stderr, "%s: Unexpected argument '%s'.\n",
                         qPrintable(QCoreApplication::applicationName()),
                         qPrintable(parser.positionalArguments().first()));
            return 1;
        }
        withList = parser.isSet(downloadList);
        listFile = parser.value(downloadList);
    }

    QApplication app(argc, argv);
    lumen::describeApplication();
    lumen::installQtTranslations(app);

    lumen::DesktopApp desktop;
    QObject::connect(&desktop, &lumen::DesktopApp::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (withList)
        desktop.startWithDownloadList(listFile);
    else if (!desktop.start())
        return 1;
    return app.exec();
}
