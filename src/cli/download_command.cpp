// lumenarc-get download: the download engine without a window. It runs the
// same scheduler and monitor ticks as the download window until the monitor
// ends the run, then prints the list.

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/download_run.h"
#include "download_window/app_settings.h"
#include "download_window/settings_store.h"
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"

#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace lumen::cli
{

namespace
{

QString usage()
{
    return QStringLiteral("usage: lumenarc-get download [OPTIONS] [URL...]\n"
                          "  --list FILE          also read lines "
                          "URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]] (- = stdin)\n") +
           downloadOptionsUsage() +
           QStringLiteral(
               "Prints "
               "STATE<TAB>NAME<TAB>TYPE<TAB>SIZE<TAB>RECEIVED<TAB>PERCENT<TAB>FOLDER<TAB>URL "
               "per record.\nExit status: 0 none failed, 1 some failed or interrupted, 2 usage "
               "error.");
}

struct Entry {
    QString url;
    QString name;
    QString type;
    QString referer;
};

// The link's own file name, split into name and extension.
Entry entryFromUrl(const QString &url)
{
    Entry e;
    e.url = url;
    QString file = url;
    file.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        file = file.mid(slash + 1).trimmed();
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        e.name = file.left(dot).trimmed();
        e.type = file.mid(dot + 1).trimmed();
    } else {
        e.name = file;
    }
    return e;
}

bool readListFile(const QString &path, QList<Entry> &entries, QString &error)
{
    QFile file;
    bool opened = false;
    if (path == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly | QIODevice::Text);
    else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    }
    if (!opened) {
        error = QStringLiteral("cannot read %1").arg(path);
        return false;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        Entry e = entryFromUrl(fields.at(0).trimmed());
        if (fields.size() > 1)
            e.name = fields.at(1);
        if (fields.size() > 2)
            e.type = fields.at(2).trimmed();
        if (fields.size() > 3)
            e.referer = fields.at(3).trimmed();
        entries << e;
    }
    return true;
}

} // namespace

int runDownload(const QStringList &args)
{
    QList<Entry> entries;
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
            entries << entryFromUrl(a.trimmed());
        }
    }
    for (const QString &path : std::as_const(listFiles)) {
        QString error;
        if (!readListFile(path, entries, error))
            return usageError(error, usage());
    }
    if (entries.isEmpty())
        return usageError(QStringLiteral("no URL given"), usage());

    SettingsStore store(SettingsStore::defaultPath());
    DownloadWindowSettings window;
    const AppSettings app = loadForCommandLine(store, &window);

    DownloadList list;
    const QString saveFolder = options.folder ? *options.folder : app.saveFolder;
    for (const Entry &e : std::as_const(entries))
        list.append(e.url, e.name, e.type, saveFolder, e.referer);

    SilentSoundPlayer sound;
    ConsolePrompter prompter;
    DownloadEngine engine(list, SystemClock::instance(), sound, prompter);
    applyDownloadOptions(engine, options, app, window);
    return runDownloads(engine);
}

} // namespace lumen::cli
