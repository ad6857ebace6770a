#include "cli/download_run.h"

#include "cli/cli_output.h"
#include "download_window/app_settings.h"
#include "engine/clock.h"
#include "engine/download_engine.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace lumen::cli
{

QString downloadOptionsUsage()
{
    return QStringLiteral(
        "  --folder DIR         save folder\n"
        "  --method 1|2         1 = one file at a time, 2 = several at once\n"
        "  --threads 1..6       files at once with method 2\n"
        "  --same-name skip|overwrite|rename\n"
        "  --interval SECONDS   pause between two downloads (0..600)\n"
        "  --max-size MB        larger files are skipped\n"
        "  --proxy HOST:PORT    send method 1 through this HTTP proxy\n"
        "  --stop-after-errors  stop when 5 or more records failed or are web pages\n");
}

OptionResult parseDownloadOption(const QStringList &args, qsizetype &i, DownloadOptions &options,
                                 QString &error)
{
    const QString &a = args.at(i);
    auto value = [&](QString &out) {
        if (i + 1 >= args.size())
            return false;
        out = args.at(++i);
        return true;
    };
    auto invalid = [&](const QString &message) {
        error = message;
        return OptionResult::Invalid;
    };
    QString v;
    if (a == QLatin1String("--stop-after-errors")) {
        options.stopAfterErrors = true;
    } else if (a == QLatin1String("--folder")) {
        if (!value(v) || v.trimmed().isEmpty())
            return invalid(QStringLiteral("--folder needs a folder"));
        options.folder = v;
    } else if (a == QLatin1String("--method")) {
        if (!value(v) || (v != QLatin1String("1") && v != QLatin1String("2")))
            return invalid(QStringLiteral("--method takes 1 or 2"));
        options.method = v.toInt();
    } else if (a == QLatin1String("--threads")) {
        bool ok = false;
        const int n = value(v) ? v.toInt(&ok) : 0;
        if (!ok || n < 1 || n > DownloadEngine::MaxSlots)
            return invalid(QStringLiteral("--threads takes 1 to 6"));
        options.threads = n;
    } else if (a == QLatin1String("--same-name")) {
        value(v);
        if (v == QLatin1String("skip"))
            options.policy = SameNamePolicy::Skip;
        else if (v == QLatin1String("overwrite"))
            options.policy = SameNamePolicy::Overwrite;
        else if (v == QLatin1String("rename"))
            options.policy = SameNamePolicy::Rename;
        else
            return invalid(QStringLiteral("--same-name takes skip, overwrite or rename"));
    } else if (a == QLatin1String("--interval")) {
        bool ok = false;
        options.interval = value(v) ? v.toInt(&ok) : -1;
        if (!ok || options.interval < 0 || options.interval > 600)
            return invalid(QStringLiteral("--interval takes 0 to 600 seconds"));
    } else if (a == QLatin1String("--max-size")) {
        bool ok = false;
        const double mb = value(v) ? v.toDouble(&ok) : 0;
        if (!ok || mb < 0)
            return invalid(QStringLiteral("--max-size takes a number of megabytes"));
        options.maxSize = mb;
    } else if (a == QLatin1String("--proxy")) {
        const qsizetype colon = value(v) ? v.lastIndexOf(QLatin1Char(':')) : -1;
        bool ok = false;
        const int port = colon > 0 ? v.mid(colon + 1).toInt(&ok) : 0;
        if (!ok || port < 1 || port > 65535)
            return invalid(QStringLiteral("--proxy takes HOST:PORT"));
        options.proxy = qMakePair(v.left(colon), v.mid(colon + 1));
    } else {
        return OptionResult::NotADownloadOption;
    }
    return OptionResult::Taken;
}

void applyDownloadOptions(DownloadEngine &engine, const DownloadOptions &options,
                          const AppSettings &app, const DownloadWindowSettings &window)
{
    engine.setDownloadMethod(options.method ? *options.method : app.downloadMethod);
    engine.setThreadCount(options.threads
                              ? *options.threads
                              : (engine.downloadMethod() == 2 ? window.threadIndex + 1 : 1));
    engine.setSameNamePolicy(options.policy ? *options.policy : window.sameNamePolicy);
    engine.setIntervalSeconds(options.interval);
    engine.setMaxFileSizeMB(options.maxSize ? *options.maxSize : app.maxFileSizeMB);
    if (options.proxy)
        engine.setProxy(true, options.proxy->first, options.proxy->second);
    else
        engine.setProxy(app.proxyEnabled == 1, app.proxyAddress, app.proxyPort);
    engine.setErrorStop(options.stopAfterErrors);
}

QString downloadStateName(DownloadState state)
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

int printDownloadList(const DownloadList &list)
{
    bool failed = false;
    for (const DownloadItem &it : list.items()) {
        failed = failed || it.state == DownloadState::Failed;
        writeRecord({downloadStateName(it.state), it.name, it.fileType, it.sizeText,
                     it.receivedText, it.percentText, it.folder, it.url});
    }
    std::fflush(stdout);
    return failed ? ExitFailure : ExitOk;
}

void writeProgress(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void printDownloadProgress(const DownloadEngine &engine)
{
    QString text;
    for (const DownloadItem &it : engine.list().items()) {
        if (it.state != DownloadState::Downloading)
            continue;
        text += QStringLiteral("  %1 %2/%3 %4\n")
                    .arg(it.name, it.receivedText, it.sizeText, it.percentText);
    }
    text += engine.countersText();
    writeProgress(text);
}

void ConsolePrompter::message(const QString &text, Icon, const QString &)
{
    writeError(text);
}

Prompter::Answer ConsolePrompter::question(const QString &text, Buttons, Icon, const QString &)
{
    writeError(text);
    return Answer::No;
}

namespace
{

int s_signalPipe[2] = {-1, -1};
std::function<void()> s_stopHandler;

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

void setStopSignalHandler(std::function<void()> handler)
{
    static bool installed = false;
    if (!installed && QCoreApplication::instance()) {
        installed = true;
        if (installSignalPipe()) {
            auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read,
                                                 QCoreApplication::instance());
            QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
                char buf[16];
                while (::read(s_signalPipe[0], buf, sizeof buf) > 0) {
                }
                if (s_stopHandler) {
                    // A handler runs once; a second signal finds none.
                    const std::function<void()> handler = std::move(s_stopHandler);
                    s_stopHandler = nullptr;
                    handler();
                }
            });
        }
    }
    s_stopHandler = std::move(handler);
}

int runDownloads(DownloadEngine &engine)
{
    bool done = false; // the list is printed once, whichever end comes first
    setStopSignalHandler([&] {
        if (done)
            return;
        done = true;
        engine.stopDownloading();
        printDownloadList(engine.list());
        QCoreApplication::exit(ExitFailure);
    });
    const QMetaObject::Connection ticks =
        QObject::connect(&engine, &DownloadEngine::monitorTicked, &engine, [&] {
            if (done)
                return;
            printDownloadProgress(engine);
            // The monitor ended the run and the last transfer came back.
            if (!engine.isRunning() && engine.isIdle()) {
                done = true;
                QCoreApplication::exit(printDownloadList(engine.list()));
            }
        });
    engine.startDownloading();
    const int code = QCoreApplication::exec();
    QObject::disconnect(ticks);
    setStopSignalHandler(nullptr);
    return code;
}

} // namespace lumen::cli
