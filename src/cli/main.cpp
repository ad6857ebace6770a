#include "cli/cli_output.h"
#include "cli/commands.h"

#include "harvest/web_engine_profile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

using namespace lumen::cli;

namespace
{

struct Command {
    const char *name;
    CommandFunction run;
    const char *summary;
    // The command drives the embedded browser, whose engine must be set up
    // before the application object; the others never start it.
    bool usesBrowser = false;
};

// One line per subcommand.
constexpr Command Commands[] = {
    {"detect", runDetect, "detect FILE...    print the type each file's content shows"},
    {"download", runDownload, "download [OPTIONS] [URL...]  download the URLs into a folder"},
    {"harvest", runHarvest,
     "harvest [--all] [--download] [OPTIONS] URL  harvest a search, download it", true},
};

QString usage()
{
    QString text = QStringLiteral("usage: lumenarc-get <command> [arguments]\ncommands:");
    for (const Command &c : Commands)
        text += QStringLiteral("\n  ") + QString::fromUtf8(c.summary);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        const QString name = QString::fromLocal8Bit(argv[1]);
        for (const Command &c : Commands) {
            if (c.usesBrowser && name == QLatin1String(c.name)) {
                lumen::initWebEngine(true);
                // The engine's start-up report on graphics says nothing to a
                // user of a tool without a screen.
                QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
                QApplication app(argc, argv);
                return c.run(app.arguments().mid(2));
            }
        }
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return usageError(QStringLiteral("no command given"), usage());
    const QString name = args.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        const QByteArray text = usage().toUtf8() + '\n';
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return ExitOk;
    }
    for (const Command &c : Commands) {
        if (name == QLatin1String(c.name))
            return c.run(args.mid(2));
    }
    return usageError(QStringLiteral("unknown command %1").arg(name), usage());
}
