// lumenarc-get-harvest: the browser-backed command of lumenarc-get, which
// hands `lumenarc-get harvest ARGS...` over to this program as `ARGS...`.
#include "cli/commands.h"
#include "cli/logging.h"
#include "harvest/web_engine_profile.h"

#include <QGuiApplication>
#include <QLoggingCategory>

int main(int argc, char **argv)
{
    // The browser engine must be set up before the application object.
    lumen::initWebEngine(true);
    // The engine's start-up report on graphics says nothing to a user of a
    // tool without a screen.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    // The browser engine needs a GUI application but no widget.
    QGuiApplication app(argc, argv);
    qCDebug(lumen::lcCli) << "command starts: harvest";
    const int status = lumen::cli::runHarvest(app.arguments().mid(1));
    qCDebug(lumen::lcCli) << "command ends: harvest exit status" << status;
    return status;
}
