// lumenarc-get download: the download engine without a window. It runs the
// same scheduler and monitor ticks as the download window until the monitor
// ends the run, then prints the list.

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "download_window/app_settings.h"
#include "download_window/settings_store.h"
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/prompter.h"
#include "engine/sound_player.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace lumen::cli
{

namespace
{

const QString Usage = QStringLiteral(
    "usage: lumenarc-get download [OPTIONS] [URL...]\n"
    "  --list FILE          also read lines URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]] (- = stdin)\n"
    "  --folder DIR         save folder\n"
    "  --method 1|2         1 = one file at a time, 2 = several at once\n"
    "  --threads 1..6       files at once with method 2\n"
    "  --same-name skip|overwrite|rename\n"
    "  --interval SECONDS   pause between two downloads (0..600)\n"
    "  --max-size MB        larger files are skipped\n"
    "  --proxy HOST:PORT    send method 1 through this HTTP proxy\n"
    "  --stop-after-errors  stop when 5 or more records failed or are web pages\n"
    "Prints STATE<TAB>NAME<TAB>TYPE<TAB>SIZE<TAB>RECEIVED<TAB>PERCENT<TAB>FOLDER<TAB>URL per "
    "record.\nExit status: 0 none failed, 1 some failed or interrupted, 2 usage error.");

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

QString stateName(DownloadState state)
{
    switch (state) {
    case DownloadState::Waiting:
        return QStringLiteral("Waiting");
    case DownloadState::Downloading:
        return QStringLiteral("Downloading");
    case DownloadState::Finished:
        return QStringLiteral("Finished");
    case DownloadState::Failed:
        return QStringLiteral("Failed");
    }
    return QString();
}

// The final list on stdout; the exit status it calls for.
int printList(const DownloadList &list)
{
    bool failed = false;
    for (const DownloadItem &it : list.items()) {
        failed = failed || it.state == DownloadState::Failed;
        writeRecord({stateName(it.state), it.name, it.fileType, it.sizeText, it.receivedText,
                     it.percentText, it.folder, it.url});
    }
    std::fflush(stdout);
    return failed ? ExitFailure : ExitOk;
}

void printProgress(const DownloadEngine &engine)
{
    QString text;
    for (const DownloadItem &it : engine.list().items()) {
        if (it.state != DownloadState::Downloading)
            continue;
        text += QStringLiteral("  %1 %2/%3 %4\n")
                    .arg(it.name, it.receivedText, it.sizeText, it.percentText);
    }
    text += engine.countersText() + QLatin1Char('\n');
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

class SilentSoundPlayer final : public SoundPlayer
{
public:
    void playFile(const QString &) override {}
};

// Messages go to stderr; nothing is ever asked.
class ConsolePrompter final : public Prompter
{
public:
    void message(const QString &text, Icon, const QString &) override { writeError(text); }
    Answer question(const QString &text, Buttons, Icon, const QString &) override
    {
        writeError(text);
        return Answer::No;
    }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> openFileName(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> pickFolder(const QString &, const QString &) override
    {
        return std::nullopt;
    }
};

// SIGINT and SIGTERM only write a byte into this pipe; the event loop reads
// it and stops the engine like the stop button would.
int s_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(s_signalPipe[1], &byte, 1);
}

bool installSignalPipe()
{
    if (::pipe(s_signalPipe) != 0)
        return false;
    for (int fd : s_signalPipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

} // namespace

int runDownload(const QStringList &args)
{
    QList<Entry> entries;
    QStringList listFiles;
    std::optional<QString> folder;
    std::optional<int> method;
    std::optional<int> threads;
    std::optional<SameNamePolicy> policy;
    int interval = 0;
    std::optional<double> maxSize;
    std::optional<QPair<QString, QString>> proxy;
    bool stopAfterErrors = false;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        auto value = [&](QString &out) {
            if (i + 1 >= args.size())
                return false;
            out = args.at(++i);
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            const QByteArray text = Usage.toUtf8() + '\n';
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
            return ExitOk;
        } else if (a == QLatin1String("--stop-after-errors")) {
            stopAfterErrors = true;
        } else if (a == QLatin1String("--list")) {
            if (!value(v))
                return usageError(QStringLiteral("--list needs a file"), Usage);
            listFiles << v;
        } else if (a == QLatin1String("--folder")) {
            if (!value(v) || v.trimmed().isEmpty())
                return usageError(QStringLiteral("--folder needs a folder"), Usage);
            folder = v;
        } else if (a == QLatin1String("--method")) {
            if (!value(v) || (v != QLatin1String("1") && v != QLatin1String("2")))
                return usageError(QStringLiteral("--method takes 1 or 2"), Usage);
            method = v.toInt();
        } else if (a == QLatin1String("--threads")) {
            bool ok = false;
            const int n = value(v) ? v.toInt(&ok) : 0;
            if (!ok || n < 1 || n > DownloadEngine::MaxSlots)
                return usageError(QStringLiteral("--threads takes 1 to 6"), Usage);
            threads = n;
        } else if (a == QLatin1String("--same-name")) {
            value(v);
            if (v == QLatin1String("skip"))
                policy = SameNamePolicy::Skip;
            else if (v == QLatin1String("overwrite"))
                policy = SameNamePolicy::Overwrite;
            else if (v == QLatin1String("rename"))
                policy = SameNamePolicy::Rename;
            else
                return usageError(QStringLiteral("--same-name takes skip, overwrite or rename"),
                                  Usage);
        } else if (a == QLatin1String("--interval")) {
            bool ok = false;
            interval = value(v) ? v.toInt(&ok) : -1;
            if (!ok || interval < 0 || interval > 600)
                return usageError(QStringLiteral("--interval takes 0 to 600 seconds"), Usage);
        } else if (a == QLatin1String("--max-size")) {
            bool ok = false;
            const double mb = value(v) ? v.toDouble(&ok) : 0;
            if (!ok || mb < 0)
                return usageError(QStringLiteral("--max-size takes a number of megabytes"), Usage);
            maxSize = mb;
        } else if (a == QLatin1String("--proxy")) {
            const qsizetype colon = value(v) ? v.lastIndexOf(QLatin1Char(':')) : -1;
            bool ok = false;
            const int port = colon > 0 ? v.mid(colon + 1).toInt(&ok) : 0;
            if (!ok || port < 1 || port > 65535)
                return usageError(QStringLiteral("--proxy takes HOST:PORT"), Usage);
            proxy = qMakePair(v.left(colon), v.mid(colon + 1));
        } else if (a.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option %1").arg(a), Usage);
        } else {
            entries << entryFromUrl(a.trimmed());
        }
    }
    for (const QString &path : std::as_const(listFiles)) {
        QString error;
        if (!readListFile(path, entries, error))
            return usageError(error, Usage);
    }
    if (entries.isEmpty())
        return usageError(QStringLiteral("no URL given"), Usage);

    SettingsStore store(SettingsStore::defaultPath());
    DownloadWindowSettings window;
    const AppSettings app = loadForCommandLine(store, &window);

    DownloadList list;
    const QString saveFolder = folder ? *folder : app.saveFolder;
    for (const Entry &e : std::as_const(entries))
        list.append(e.url, e.name, e.type, saveFolder, e.referer);

    SilentSoundPlayer sound;
    ConsolePrompter prompter;
    DownloadEngine engine(list, SystemClock::instance(), sound, prompter);
    engine.setDownloadMethod(method ? *method : app.downloadMethod);
    engine.setThreadCount(threads ? *threads
                                  : (engine.downloadMethod() == 2 ? window.threadIndex + 1 : 1));
    engine.setSameNamePolicy(policy ? *policy : window.sameNamePolicy);
    engine.setIntervalSeconds(interval);
    engine.setMaxFileSizeMB(maxSize ? *maxSize : app.maxFileSizeMB);
    if (proxy)
        engine.setProxy(true, proxy->first, proxy->second);
    else
        engine.setProxy(app.proxyEnabled == 1, app.proxyAddress, app.proxyPort);
    engine.setErrorStop(stopAfterErrors);

    bool done = false; // the list is printed once, whichever end comes first
    if (installSignalPipe()) {
        auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read,
                                             QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, &engine, [&, notifier] {
            char buf[16];
            while (::read(s_signalPipe[0], buf, sizeof buf) > 0) {
            }
            notifier->setEnabled(false);
            if (done)
                return;
            done = true;
            engine.stopDownloading();
            printList(engine.list());
            QCoreApplication::exit(ExitFailure);
        });
    }

    QObject::connect(&engine, &DownloadEngine::monitorTicked, &engine, [&] {
        if (done)
            return;
        printProgress(engine);
        // The monitor ended the run and the last transfer came back.
        if (!engine.isRunning() && engine.isIdle()) {
            done = true;
            QCoreApplication::exit(printList(engine.list()));
        }
    });
    engine.startDownloading();
    return QCoreApplication::exec();
}

} // namespace lumen::cli
