// lumenarc-get cache: the browser cache tool without a window. It reads the
// cache folder of the desktop program's browser profile by its place on
// disk, so this program never loads the browser engine.

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/download_run.h"
#include "settings/settings_store.h"
#include "tools/browser_cache.h"
#include "tools/copy_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

namespace lumen::cli
{

namespace
{

const QString Usage = QStringLiteral(
    "usage: lumenarc-get cache [--cache-dir DIR] list\n"
    "       lumenarc-get cache [--cache-dir DIR] copy DEST [--same-name 1..5]\n"
    "       lumenarc-get cache [--cache-dir DIR] clear\n"
    "  list   prints URL<TAB>TYPE<TAB>SIZE for each page or document the browser keeps\n"
    "  copy   writes each of them, decoded, into DEST under the name its URL gives;\n"
    "         when DEST has a file of that name: 1 skip, 2 overwrite, 3 number the copy,\n"
    "         4 (default) overwrite when length and time are equal, else number,\n"
    "         5 overwrite when the length is equal, else number\n"
    "  clear  deletes what the browser keeps, except entries whose URL names a cookie\n"
    "         and .txt files; prints deleted, spared and failed counts\n"
    "  --cache-dir DIR  the cache folder to read (default: the desktop program's)\n"
    "Exit status: 0 done, 1 the folder could not be read or a file failed, 2 usage error.");

int list(const QString &folder)
{
    bool ok = false;
    const QList<CacheEntry> entries = listCacheEntries(folder, &ok);
    if (!ok) {
        writeError(QStringLiteral("cannot read the cache folder %1").arg(folder));
        return ExitFailure;
    }
    for (const CacheEntry &e : entries) {
        if (e.normal)
            writeRecord({e.url, UrlFileExtension(e.url), QString::number(e.displaySize())});
    }
    return ExitOk;
}

int copy(const QString &folder, const QString &destination, int option)
{
    bool ok = false;
    const QList<CacheEntry> entries = listCacheEntries(folder, &ok);
    if (!ok) {
        writeError(QStringLiteral("cannot read the cache folder %1").arg(folder));
        return ExitFailure;
    }
    QList<CopySource> sources;
    for (const CacheEntry &e : entries) {
        if (e.normal)
            sources << CopySource::fromCacheEntry(e);
    }
    if (sources.isEmpty())
        return ExitOk;

    // The copy window's stored destination, option and folder history are
    // the user's; a script leaves them alone.
    QTemporaryDir scratch;
    SettingsStore settings(scratch.filePath(QStringLiteral("settings.ini")));
    ConsolePrompter prompter;
    CopySession session(
        settings, prompter,
        {scratch.filePath(QStringLiteral("app")), scratch.filePath(QStringLiteral("user"))});
    session.setDestinationText(QDir(destination).absolutePath());
    session.setOpIndex(option);
    session.setSources(sources);

    QHash<QString, QString> urlOf;
    for (const CopySource &s : std::as_const(sources))
        urlOf.insert(s.path, s.cacheEntry->url);
    QObject::connect(&session, &CopySession::fileCopied, &session,
                     [&](const QString &source, const QString &target) {
                         writeRecord({urlOf.value(source), target});
                     });
    QObject::connect(&session, &CopySession::fileFailed, &session,
                     [&](const QString &source, const QString &reason) {
                         writeError(QStringLiteral("%1: %2").arg(urlOf.value(source), reason));
                     });
    bool interrupted = false;
    QObject::connect(&session, &CopySession::finished, &session,
                     [] { QCoreApplication::exit(ExitOk); });
    setStopSignalHandler([&] {
        interrupted = true;
        if (session.isRunning())
            session.execute(false); // the stop button
    });
    session.execute(false);
    if (!session.isRunning()) {
        setStopSignalHandler(nullptr);
        return ExitFailure; // the destination could not be made (already said)
    }
    QCoreApplication::exec();
    setStopSignalHandler(nullptr);
    return session.failedCount() > 0 || interrupted ? ExitFailure : ExitOk;
}

int clear(const QString &folder)
{
    bool ok = false;
    listCacheEntries(folder, &ok);
    if (!ok) {
        writeError(QStringLiteral("cannot read the cache folder %1").arg(folder));
        return ExitFailure;
    }
    const CacheClearResult r = ClearBrowserCache(folder, QDir::homePath(), candidateHomeFolders());
    writeRecord({QStringLiteral("deleted"), QString::number(r.deleted)});
    writeRecord({QStringLiteral("spared"), QString::number(r.spared)});
    writeRecord({QStringLiteral("failed"), QString::number(r.failed)});
    return r.failed > 0 ? ExitFailure : ExitOk;
}

} // namespace

int runCache(const QStringList &args)
{
    QString folder = browserCacheFolder(defaultBrowserStorageFolder());
    QStringList words;
    int option = int(SameNameOption::OverwriteIfSizeAndTime);
    bool optionGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return printHelp(Usage);
        if (arg == QLatin1String("--cache-dir") || arg == QLatin1String("--same-name")) {
            if (i + 1 >= args.size())
                return usageError(QStringLiteral("cache: %1 needs a value").arg(arg), Usage);
            const QString value = args.at(++i);
            if (arg == QLatin1String("--cache-dir")) {
                folder = value;
                continue;
            }
            bool ok = false;
            option = value.toInt(&ok);
            if (!ok || option < 1 || option > 5)
                return usageError(QStringLiteral("cache: --same-name takes 1 to 5"), Usage);
            optionGiven = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("cache: unknown option %1").arg(arg), Usage);
        } else {
            words << arg;
        }
    }
    const QString action = words.value(0);
    if (action == QLatin1String("copy")) {
        if (words.size() != 2)
            return usageError(QStringLiteral("cache copy: one destination folder is needed"),
                              Usage);
        return copy(folder, words.at(1), option);
    }
    if (optionGiven)
        return usageError(QStringLiteral("cache: --same-name is for copy"), Usage);
    if (words.size() != 1)
        return usageError(action.isEmpty() ? QStringLiteral("cache: no action given")
                                           : QStringLiteral("cache: too many arguments"),
                          Usage);
    if (action == QLatin1String("list"))
        return list(folder);
    if (action == QLatin1String("clear"))
        return clear(folder);
    return usageError(QStringLiteral("cache: unknown action %1").arg(action), Usage);
}

} // namespace lumen::cli
