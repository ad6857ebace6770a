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
               "per record; the reason of each failure on stderr.\n"
               "An entry whose URL repeats an earlier one is left out (said on stderr).\n"
               "Exit status: 0 every record finished with its document, 1 some record "
               "failed or stored a web page (an error or sign-in page) instead of the "
               "document, or the run was interrupted, 2 usage error.");
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

// Longest line a list may hold: an address, a name, a type and a referring
// page fit many times over. A longer line is no list line (a file of
// another kind, /dev/zero) and is refused before it fills the memory.
constexpr qsizetype MaxListLineBytes = 64 * 1024;

bool addListLine(const QByteArray &bytes, QList<Entry> &entries)
{
    const QString line = QString::fromUtf8(bytes);
    if (line.trimmed().isEmpty())
        return false;
    const QStringList fields = line.split(QLatin1Char('\t'));
    Entry e = entryFromUrl(fields.at(0).trimmed());
    if (fields.size() > 1)
        e.name = fields.at(1);
    if (fields.size() > 2)
        e.type = fields.at(2).trimmed();
    if (fields.size() > 3)
        e.referer = fields.at(3).trimmed();
    entries << e;
    return true;
}

// Reads lines ended by LF, CR LF or a lone CR (as old editors write them),
// in blocks, so that no line is ever held longer than the limit.
bool readListFile(const QString &path, QList<Entry> &entries, QString &error)
{
    QFile file;
    bool opened = false;
    if (path == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line;
    qint64 lineNumber = 1;
    bool afterCr = false; // an LF right after a CR ends no further line
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        if (n == 0)
            break;
        for (qint64 i = 0; i < n; ++i) {
            const char c = block.at(i);
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (c == '\n' || c == '\r') {
                addListLine(line, entries);
                line.clear();
                ++lineNumber;
                continue;
            }
            if (line.size() >= MaxListLineBytes) {
                error = QStringLiteral("%1 line %2: longer than %3 bytes; not a list of "
                                       "addresses, nothing was downloaded")
                            .arg(path)
                            .arg(lineNumber)
                            .arg(MaxListLineBytes);
                return false;
            }
            line.append(c);
        }
    }
    addListLine(line, entries);
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
