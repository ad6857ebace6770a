// One run of the page-harvest benchmark (bench/harvest_page_bench.sh): loads
// a page in the embedded engine, as the command-line harvest does, and
// either ends as soon as the page has loaded ("load", the engine's own cost)
// or then harvests it ("harvest"). Both modes set the engine up alike, so
// the difference between them is what the harvest adds.
#include "harvest/harvest_list.h"
#include "harvest/results_reader.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace lumen;

int main(int argc, char **argv)
{
    initWebEngine(true);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 ||
        (args.at(1) != QLatin1String("load") && args.at(1) != QLatin1String("harvest"))) {
        std::fprintf(stderr, "usage: harvest_page_probe load|harvest URL\n");
        return 2;
    }
    const bool harvest = args.at(1) == QLatin1String("harvest");
    QTemporaryDir folder;
    WebEngineProfile profile(folder.path());
    WebEngineBrowser browser(&profile);
    browser.setSilent(true);
    HarvestList list;
    ResultsReader reader(browser);
    // LUMEN_PROBE_PIECE=N: links per piece other than the reader's own.
    if (qEnvironmentVariableIsSet("LUMEN_PROBE_PIECE"))
        reader.setPieceAnchors(qEnvironmentVariableIntValue("LUMEN_PROBE_PIECE"));
    QElapsedTimer clock;
    qint64 loadedMs = -1;

    QObject::connect(&browser, &Browser::documentComplete, &app, [&] {
        if (loadedMs >= 0)
            return;
        loadedMs = clock.elapsed();
        if (harvest)
            reader.start(list, QString());
        else
            QCoreApplication::exit(0);
    });
    QObject::connect(&browser, &Browser::loadFailed, &app, [] { QCoreApplication::exit(1); });
    // LUMEN_PROBE_TRACE=1: when each piece came, to see where the time goes.
    if (qEnvironmentVariableIsSet("LUMEN_PROBE_TRACE"))
        QObject::connect(&reader, &ResultsReader::progress, &app,
                         [&](qsizetype done, qsizetype total) {
                             std::fprintf(stderr, "%lld ms: %lld of %lld\n", clock.elapsed(),
                                          qint64(done), qint64(total));
                         });
    QObject::connect(&reader, &ResultsReader::finished, &app,
                     [](const PageReading &) { QCoreApplication::exit(0); });
    clock.start();
    browser.navigate(QUrl(args.at(2)));
    const int code = QCoreApplication::exec();
    std::printf("loaded_ms=%lld total_ms=%lld rows=%lld\n", loadedMs, clock.elapsed(),
                qint64(list.count()));
    return code;
}
