// lumenarc-get download: the download engine without a window. It runs the
// same scheduler and monitor ticks as the download window until the monitor
// ends the run, then prints the list.

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/download_run.h"
#include "download_window/download_list_file.h"
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

#include <cstdio>

namespace lumen::cli
{

namespace
{

QString usage()
{
    return QStringLiteral("usage: lumenarc-get download [OPTIONS] [URL...]\n"
                          "  --list FILE          also read lines "
                          "URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]] (- = stdin), ended by "
                          "LF, CR LF or CR, each at most 65536 bytes\n") +
           downloadOptionsUsage() +
           QStringLiteral(
               "Prints "
               "STATE<TAB>NAME<TAB>TYPE<TAB>SIZE<TAB>RECEIVED<TAB>PERCENT<TAB>FOLDER<TAB>URL "
               "per record; each failure, web page and skip says why on stderr as it ends, "
               "and a summary line counts documents, web pages, skips and failures apart.\n"
               "An entry whose URL repeats an earlier one is left out (said on stderr).\n"
               "Exit status: 0 every record came with its document or was skipped by your "
               "own rules (already there under --same-name skip, or over --max-size); 1 some "
               "record failed, was cancelled, could not replace a file, or stored a web page "
               "(an error or sign-in page) instead of the document, or the run was "
               "interrupted; 2 usage error.");
}

} // namespace

int runDownload(const QStringList &args)
{
    QList<DownloadListEntry> entries;
    QStringList listFiles;
    DownloadOptions options;

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
        } else if (a == QLatin1String("--list")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("--list needs a file"), usage());
            listFiles << args.at(++i);
        } else if (a.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option %1").arg(a), usage());
        } else {
            entries << downloadListEntryFromUrl(a.trimmed());
        }
    }
    for (const QString &path : std::as_const(listFiles)) {
        QString error;
        if (!readDownloadListFile(path, entries, error))
            return usageError(error, usage());
    }
    if (entries.isEmpty())
        return usageError(QStringLiteral("no URL given"), usage());

    SettingsStore store(SettingsStore::defaultPath());
    DownloadWindowSettings window;
    const AppSettings app = loadForCommandLine(store, &window);

    DownloadList list;
    const QString saveFolder = options.folder ? *options.folder : app.saveFolder;
    for (const DownloadListEntry &e : std::as_const(entries))
        list.append(e.url, e.name, e.type, saveFolder, e.referer);
    // The list keeps one record per address, the first; say what that left out.
    if (const qsizetype dropped = entries.size() - qsizetype(list.items().size()))
        writeError(QStringLiteral("%1 of %2 entries repeat an earlier URL and were left out")
                       .arg(dropped)
                       .arg(entries.size()));

    SilentSoundPlayer sound;
    ConsolePrompter prompter;
    DownloadEngine engine(list, SystemClock::instance(), sound, prompter);
    applyDownloadOptions(engine, options, app, window);
    return runDownloads(engine);
}

} // namespace lumen::cli
