#include "app/application_setup.h"

#include "engine/app_title.h"
#include "shell/program_version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace lumen
{

void describeApplication()
{
    // The per-user data folder (folder history, sounds) is named after it.
    QCoreApplication::setApplicationName(QStringLiteral("lumenarc"));
    QCoreApplication::setApplicationVersion(programVersionText());
    QGuiApplication::setDesktopFileName(DesktopFileId);
}

QCommandLineOption addDesktopOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(ApplicationTitle);
    // Qt's window-system options are single-dash words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption downloadList(
        QStringLiteral("download-list"),
        QStringLiteral("Opens the download window with the records of FILE: lines "
                       "URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]], as lumenarc-get download "
                       "--list takes them."),
        QStringLiteral("FILE"));
    parser.addOption(downloadList);

    // Read by QGuiApplication and QApplication, which come after the
    // options: accepted here so that they still reach them.
    static const char *const withValue[] = {
        "platform",        "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
        "display",         "geometry",           "name",          "title",
        "style",           "stylesheet",
    };
    static const char *const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    for (const char *name : withValue) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char *name : flags) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    return downloadList;
}

bool installQtTranslations(QCoreApplication &app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool base = false;
    // The browser's own menus (back, reload, copy...) as well.
    for (const char *catalogue : {"qtbase", "qtwebengine"}) {
        auto *translator = new QTranslator(&app);
        const QString name = QString::fromLatin1(catalogue) + QStringLiteral("_zh_CN");
        if (translator->load(name, folder) && QCoreApplication::installTranslator(translator)) {
            if (qstrcmp(catalogue, "qtbase") == 0)
                base = true;
        } else {
            delete translator;
        }
    }
    return base;
}

} // namespace lumen
