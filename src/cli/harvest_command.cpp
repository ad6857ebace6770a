// lumenarc-get harvest: the search window's main job without a window. A
// browser without a screen opens the address, the harvest reads the page
// (or walks every page of the search), and with --download the analysis
// hands every row to a download list that is then downloaded exactly as
// `download` does.

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/download_run.h"
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "engine/url_policy.h"
#include "harvest/harvest_session.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/app_settings.h"
#include "settings/save_folder_chooser.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace lumen::cli
{

namespace
{

QString usage()
{
    return QStringLiteral(
               "usage: lumenarc-get harvest [--all] [--download] [--source-names] "
               "[OPTIONS] URL\n"
               "  --all                walk every page of the search, not only this one\n"
               "  --download           download the full texts of every harvested row\n"
               "  --source-names       name files by the link's own file name, not "
               "the title\n") +
           downloadOptionsUsage() +
           QStringLiteral(
               "Prints TITLE<TAB>TYPE<TAB>STATE<TAB>FOLDER<TAB>SOURCE<TAB>FULLTEXT_LINK<TAB>"
               "PAGE_LINK per harvested row; with --download the download list instead, as "
               "`download` prints it.\n"
               "With --all the next pages are asked of the server the URL names; the "
               "environment variable LUMENARC_REPOSITORY (an http or https root such as "
               "http://127.0.0.1:8080/) sends them to that server instead.\n"
               "Exit status: 0 done, every page harvested and every record came with its "
               "document or was skipped by your own rules (already there under --same-name "
               "skip, or over --max-size); 1 the page could not be loaded, a next page of the "
               "search did "
               "not load (the rows harvested so far are printed), a download failed or "
               "stored a web page (an error or sign-in page) instead of the document, or the "
               "run was interrupted; 2 usage error.");
}

// One stretch of the run on the application's event loop: it ends when
// finish() is called, also when that happened before the loop started.
class Phase
{
public:
    void finish(int code)
    {
        if (m_finished)
            return;
        m_finished = true;
        m_code = code;
        QCoreApplication::exit(code);
    }
    int run()
    {
        if (!m_finished)
            QCoreApplication::exec();
        return m_code;
    }
    bool finished() const { return m_finished; }

private:
    bool m_finished = false;
    int m_code = ExitOk;
};

QString problemText(SearchHarvester::LoadProblem problem, int httpStatus)
{
    using P = SearchHarvester::LoadProblem;
    switch (problem) {
    case P::LoadFailed:
        return QStringLiteral("did not load: no answer from the server");
    case P::TimedOut:
        return QStringLiteral("did not finish loading within %1 s; harvested as it stood")
            .arg(SearchHarvester::LoadWaitLimitMs / 1000);
    case P::HttpError:
        return QStringLiteral("did not load: the server answered HTTP %1").arg(httpStatus);
    case P::ServerErrorPage:
        return QStringLiteral("did not load: the server sent an error page");
    case P::AddressUnchanged:
        return QStringLiteral("did not load: the browser stayed on the page before");
    case P::Unreadable:
        return QStringLiteral("did not load: the page could not be read");
    }
    return QString();
}

void printHarvestList(const HarvestList &list)
{
    for (const HarvestItem &it : list.items())
        writeRecord(
            {it.title, it.fileType, it.state, it.folder, it.source, it.fullTextLink, it.pageLink});
    std::fflush(stdout);
}

} // namespace

int runHarvest(const QStringList &args)
{
    bool all = false;
    bool download = false;
    bool sourceNames = false;
    DownloadOptions options;
    QString address;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        QString error;
        switch (parseDownloadOption(args, i, options, error)) {
        case OptionResult::Taken:
            continue;
        case OptionResult::Invalid:
            return usageError(error, usage());
        case OptionResult::NotADownloadOption:
            break;
        }
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            return printHelp(usage());
        } else if (a == QLatin1String("--all")) {
            all = true;
        } else if (a == QLatin1String("--download")) {
            download = true;
        } else if (a == QLatin1String("--source-names")) {
            sourceNames = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option %1").arg(a), usage());
        } else if (!address.isEmpty()) {
            return usageError(QStringLiteral("harvest takes one URL"), usage());
        } else {
            address = a.trimmed();
        }
    }
    if (address.isEmpty())
        return usageError(QStringLiteral("no URL given"), usage());
    const QUrl url(address, QUrl::StrictMode);
    if (!isFetchableUrl(url))
        return usageError(QStringLiteral("%1 is not an http or https address").arg(address),
                          usage());

    SettingsStore store(SettingsStore::defaultPath());
    DownloadWindowSettings window;
    AppSettings app = loadForCommandLine(store, &window);

    // The options answer the save-folder question wherever it is asked:
    // when pages are harvested or when the analysis starts.
    PresetSaveFolderChooser chooser(options.folder.value_or(QString()), sourceNames);
    ConsolePrompter prompter;
    SilentSoundPlayer sound;
    DownloadList downloads;
    WebEngineProfile *profile = WebEngineProfile::shared();
    WebEngineBrowser browser(profile);
    browser.setSilent(true);
    HarvestSession session(
        browser, app, prompter, chooser, [&downloads]() -> DownloadList & { return downloads; },
        SystemClock::instance());
    SearchHarvester &harvester = session.harvester();
    // The run prints its own account of every page; no box on top of it.
    session.setWalkEndMessages(false);

    bool interrupted = false;

    // Load the page, then harvest it or walk the search.
    Phase harvest;
    setStopSignalHandler([&] {
        interrupted = true;
        harvester.stopAddAll();
        harvest.finish(ExitFailure);
    });
    bool started = false;
    // A document that does not let itself be read ends the run rather than
    // leaving it waiting for ever; one that keeps answering is read for as
    // long as it takes (a page of a hundred thousand entries on a busy
    // machine), each piece restarting the limit.
    QTimer readLimit;
    readLimit.setSingleShot(true);
    QObject::connect(&readLimit, &QTimer::timeout, &browser, [&] {
        writeError(
            QStringLiteral("cannot read the page %1").arg(browser.currentUrl().toDisplayString()));
        harvest.finish(ExitFailure);
    });
    auto startHarvest = [&] {
        if (started || harvest.finished())
            return;
        started = true;
        if (all) {
            writeProgress(QStringLiteral("walking every page of the search"));
            harvester.startAddAll();
        } else {
            harvester.harvestThisPage();
            readLimit.start(int(SearchHarvester::SnapshotLimitMs));
        }
    };
    QObject::connect(&browser, &Browser::documentComplete, &browser, [&] {
        if (started || harvest.finished())
            return;
        // The server answered, but with an error page instead of the search.
        if (const int status = browser.httpErrorStatus()) {
            writeError(QStringLiteral("cannot load %1: the server answered HTTP %2")
                           .arg(url.toDisplayString())
                           .arg(status));
            harvest.finish(ExitFailure);
            return;
        }
        startHarvest();
    });
    QObject::connect(&browser, &Browser::loadFailed, &browser, [&](const QUrl &failed) {
        if (started)
            return; // a next page the walk asked for: the walk handles it
        writeError(QStringLiteral("cannot load %1").arg(failed.toDisplayString()));
        harvest.finish(ExitFailure);
    });
    // A page that never finishes loading is harvested as it stands, as the
    // walk does with its next pages.
    QTimer loadLimit;
    loadLimit.setSingleShot(true);
    QObject::connect(&loadLimit, &QTimer::timeout, &browser, [&] {
        if (started)
            return;
        writeProgress(QStringLiteral("%1 did not finish loading; harvesting it as it stands")
                          .arg(url.toDisplayString()));
        startHarvest();
    });
    loadLimit.start(int(SearchHarvester::LoadWaitLimitMs));

    QObject::connect(&harvester, &SearchHarvester::navigatingTo, &browser, [&](const QUrl &next) {
        writeProgress(QStringLiteral("page %1: loading %2")
                          .arg(harvester.pagesWalked() + 1)
                          .arg(next.toDisplayString()));
    });
    QObject::connect(
        &harvester, &SearchHarvester::readProgress, &browser, [&](qsizetype done, qsizetype total) {
            if (readLimit.isActive())
                readLimit.start(int(SearchHarvester::SnapshotLimitMs));
            if (total > ResultsReader::PieceAnchors)
                writeProgress(
                    QStringLiteral("reading the page: %1 of %2 links").arg(done).arg(total));
        });
    QObject::connect(&harvester, &SearchHarvester::pageHarvested, &browser,
                     [&](qint64 accepted, const QString &pageUrl) {
                         writeProgress(QStringLiteral("%1 entries on %2, %3 rows in the list")
                                           .arg(accepted)
                                           .arg(pageUrl)
                                           .arg(session.list().count()));
                         if (!all)
                             harvest.finish(ExitOk);
                     });
    QObject::connect(&harvester, &SearchHarvester::nextPageNotLoaded, &browser,
                     [&](const QUrl &next, SearchHarvester::LoadProblem problem, int status) {
                         writeError(QStringLiteral("page %1 (%2) %3")
                                        .arg(harvester.pagesWalked() + 1)
                                        .arg(next.toDisplayString(), problemText(problem, status)));
                     });
    QObject::connect(&harvester, &SearchHarvester::addAllFinished, &browser, [&](int pages) {
        const int missing = harvester.pagesNotLoaded();
        writeProgress(QStringLiteral("pages walked: %1, rows harvested: %2")
                          .arg(pages)
                          .arg(session.list().count()));
        if (missing > 0)
            writeError(QStringLiteral("the search was not harvested whole: %1 page(s) did "
                                      "not load")
                           .arg(missing));
        harvest.finish(missing > 0 ? ExitFailure : ExitOk);
    });

    writeProgress(QStringLiteral("opening %1").arg(url.toDisplayString()));
    browser.navigate(url);
    const int harvestCode = harvest.run();
    loadLimit.stop();
    readLimit.stop();
    setStopSignalHandler(nullptr);
    // The page could not be loaded or read: nothing to print.
    if (harvestCode != ExitOk && !interrupted && !harvester.pagesNotLoaded())
        return harvestCode;

    if (!download) {
        printHarvestList(session.list());
        return harvestCode;
    }
    if (interrupted) {
        printDownloadList(downloads);
        return ExitFailure;
    }

    // "分析全部": every row to the download list.
    HarvestAnalysis &analysis = session.analysis();
    Phase analyse;
    setStopSignalHandler([&] {
        interrupted = true;
        analysis.stop();
        analyse.finish(ExitFailure);
    });
    QObject::connect(&analysis, &HarvestAnalysis::finished, &browser,
                     [&](AnalysisKind, qint64 handedOn) {
                         writeProgress(QStringLiteral("%1 rows handed to the download list, "
                                                      "%2 records to download")
                                           .arg(handedOn)
                                           .arg(downloads.items().size()));
                         analyse.finish(ExitOk);
                     });
    analysis.run(AnalysisKind::All);
    analyse.run();
    if (interrupted) {
        setStopSignalHandler(nullptr);
        printDownloadList(downloads);
        return ExitFailure;
    }

    DownloadEngine engine(downloads, SystemClock::instance(), sound, prompter);
    applyDownloadOptions(engine, options, app, window);
    profile->shareSessionsWith(engine);
    // A walk cut short still downloads what it harvested; the exit status
    // keeps saying that the search was not harvested whole.
    if (downloads.items().isEmpty())
        return qMax(harvestCode, printDownloadList(downloads));
    return qMax(harvestCode, runDownloads(engine));
}

} // namespace lumen::cli
