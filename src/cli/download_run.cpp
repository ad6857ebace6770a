#include "cli/download_run.h"

#include "cli/cli_output.h"
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/requeue.h"
#include "engine/url_policy.h"
#include "settings/app_settings.h"
#include "settings/stored_download_settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace lumen::cli
{

namespace
{

// The largest size limit whose byte count still fits a file size.
constexpr double MaxSizeLimitMB = double((std::numeric_limits<qint64>::max() >> 20) - 1);

} // namespace

QString downloadOptionsUsage()
{
    return QStringLiteral(
        "  --folder DIR         save folder\n"
        "  --method 1|2         1 = one file at a time, 2 = several at once\n"
        "  --threads 1..6       files at once with method 2\n"
        "  --same-name skip|overwrite|rename\n"
        "  --interval SECONDS   pause between two downloads (0..600)\n"
        "  --max-size MB        larger files are skipped (a finite number, 0 or more)\n"
        "  --proxy HOST:PORT    send method 1 through this HTTP proxy\n"
        "  --stop-after-errors  stop when 5 or more records failed or are web pages\n"
        "A record that stores a web page (an error or sign-in page: type htm or html) "
        "instead of the document counts as failed for the exit status, as it does for "
        "--stop-after-errors; the reason of each failure is written on stderr.\n");
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
        options.method = downloadMethodFromNumber(v.toInt());
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
        // "nan", "inf" and numbers whose byte count no file size can reach
        // would all read as "no limit" further on.
        if (!ok || !std::isfinite(mb) || mb < 0 || mb > MaxSizeLimitMB)
            return invalid(QStringLiteral("--max-size takes a number of megabytes from 0 to %1")
                               .arg(qint64(MaxSizeLimitMB)));
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
    applyStoredDownloadSettings(engine, app, window);
    if (options.method)
        engine.setDownloadMethod(*options.method);
    if (options.threads)
        engine.setThreadCount(*options.threads);
    else if (options.method)
        engine.setThreadCount(
            engine.downloadMethod() == DownloadMethod::MultiConnection ? window.threadCount() : 1);
    if (options.policy)
        engine.setSameNamePolicy(*options.policy);
    engine.setIntervalSeconds(options.interval);
    if (options.maxSize)
        engine.setMaxFileSizeMB(*options.maxSize);
    if (options.proxy)
        engine.setProxy(true, options.proxy->first, options.proxy->second);
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

bool isStoredWebPage(const DownloadItem &item)
{
    return item.state == DownloadState::Finished && isWebPageType(item.fileType);
}

int printDownloadList(const DownloadList &list)
{
    qint64 failed = 0;
    qint64 pages = 0;
    qint64 finished = 0;
    for (const DownloadItem &it : list.items()) {
        if (it.state == DownloadState::Failed)
            ++failed;
        else if (isStoredWebPage(it))
            ++pages;
        else if (it.state == DownloadState::Finished)
            ++finished;
        writeRecord({downloadStateName(it.state), it.name, it.fileType, sizeColumnText(it),
                     receivedColumnText(it), percentColumnText(it), it.folder, it.url});
    }
    std::fflush(stdout);
    writeProgress(QStringLiteral("%1 records: %2 finished, %3 failed, %4 web pages instead of "
                                 "the document, %5 not done")
                      .arg(list.items().size())
                      .arg(finished)
                      .arg(failed)
                      .arg(pages)
                      .arg(list.items().size() - finished - failed - pages));
    return failed + pages > 0 ? ExitFailure : ExitOk;
}

namespace
{

// What the system says about a folder the download could not store into:
// it is a file, it cannot be made, or a file cannot be created or written
// in it (read-only, no permission, disk full). Empty when nothing is wrong.
QString folderProblem(const QString &folder)
{
    if (folder.trimmed().isEmpty())
        return QStringLiteral("no save folder");
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(folder));
    if (!info.exists()) {
        // The first part of the path that is missing: making it gives the
        // system's reason.
        QString path = QDir::cleanPath(info.absoluteFilePath());
        QString missing = path;
        while (!QFileInfo::exists(path) && path != QDir::rootPath()) {
            missing = path;
            path = QFileInfo(path).absolutePath();
        }
        if (QFileInfo(path).exists() && !QFileInfo(path).isDir())
            return QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(path));
        const QByteArray name = QFile::encodeName(missing);
        if (::mkdir(name.constData(), 0777) != 0)
            return QStringLiteral("cannot make the folder %1: %2")
                .arg(QDir::toNativeSeparators(missing),
                     QString::fromLocal8Bit(std::strerror(errno)));
        ::rmdir(name.constData());
        return QString();
    }
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".lumenarc-probe-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("cannot write in %1: %2")
            .arg(QDir::toNativeSeparators(folder), probe.errorString());
    const QByteArray block(64 * 1024, '\0');
    if (probe.write(block) != block.size() || !probe.flush() || ::fsync(probe.handle()) != 0)
        return QStringLiteral("cannot write in %1: %2")
            .arg(QDir::toNativeSeparators(folder),
                 probe.errorString().isEmpty() ? QString::fromLocal8Bit(std::strerror(errno))
                                               : probe.errorString());
    return QString();
}

bool isPercent(const QString &text)
{
    return text.endsWith(QLatin1Char('%'));
}

} // namespace

QString recordEndReason(const DownloadItem &item, const QString &connectionText)
{
    QStringList parts;
    if (isStoredWebPage(item)) {
        parts << QStringLiteral("a web page came back instead of the document (stored as %1)")
                     .arg(item.fileType);
        return parts.join(QStringLiteral("; "));
    }
    if (!isFetchableUrl(QUrl(item.url.trimmed()))) {
        parts << QStringLiteral("only http and https addresses are fetched");
        return parts.join(QStringLiteral("; "));
    }
    if (const QString status = percentColumnText(item); !status.isEmpty() && !isPercent(status))
        parts << status; // the record's own status text
    const QString folder = folderProblem(item.folder);
    if (!folder.isEmpty())
        parts << folder;
    else if (!connectionText.isEmpty())
        parts << connectionText;
    if (parts.isEmpty())
        parts << QStringLiteral("the transfer did not complete");
    return parts.join(QStringLiteral("; "));
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
        text +=
            QStringLiteral("  %1 %2/%3 %4\n")
                .arg(it.name, receivedColumnText(it), sizeColumnText(it), percentColumnText(it));
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
    // The connection report of method one that names an error ("11 ...");
    // it belongs to the record that ends next.
    QString connectionError;
    const QMetaObject::Connection reports = QObject::connect(
        &engine, &DownloadEngine::connectionTextChanged, &engine, [&](const QString &text) {
            if (text.startsWith(QLatin1String("11 ")))
                connectionError = text;
        });
    // Each record that fails (or stores a web page) says why, as it ends:
    // when its transfer ends (the stored type is settled by then), or when
    // the list marks it failed without a transfer (a folder that cannot be
    // made).
    QSet<quint64> told;
    DownloadList &list = engine.list();
    // A folder that cannot be made is cleared from its record; the reason
    // is found at the folder the record asked for.
    QHash<quint64, QString> askedFolder;
    for (const DownloadItem &item : list.items())
        askedFolder.insert(item.id, item.folder);
    auto tell = [&](DownloadItem item) {
        if (item.state == DownloadState::Waiting) {
            told.remove(item.id); // queued again: its next end is told again
            return;
        }
        if ((item.state != DownloadState::Failed && !isStoredWebPage(item)) ||
            told.contains(item.id))
            return;
        told.insert(item.id);
        if (item.folder.isEmpty())
            item.folder = askedFolder.value(item.id);
        writeError(
            QStringLiteral("%1: %2 (%3)")
                .arg(escapeField(item.name),
                     escapeField(recordEndReason(item, std::exchange(connectionError, QString()))),
                     escapeField(item.url)));
    };
    // The command ends as soon as its last record does, not on the next
    // monitor tick: once an end leaves every record finished or failed, the
    // monitor runs at once (it ends the run, and its report ends the
    // command below). The check waits for the event loop, after the
    // scheduler had its chance to start the next record; several ends in one
    // turn make one check. endChecks owns the queued check, so none outlives
    // this call.
    QObject endChecks;
    bool endCheckQueued = false;
    auto checkForEnd = [&] {
        if (endCheckQueued || done)
            return;
        endCheckQueued = true;
        QTimer::singleShot(0, &endChecks, [&] {
            endCheckQueued = false;
            if (!done && list.isListFinished())
                engine.monitorTick();
        });
    };
    const QMetaObject::Connection ends =
        QObject::connect(&engine, &DownloadEngine::downloadEnded, &engine, [&](quint64 id) {
            const qint64 row = list.rowOfId(id);
            if (row >= 0)
                tell(list.at(row));
            checkForEnd();
        });
    const QMetaObject::Connection failures = QObject::connect(
        &list, &DownloadList::dataChanged, &engine,
        [&](const QModelIndex &from, const QModelIndex &to) {
            for (int row = from.row(); row <= to.row() && row < list.items().size(); ++row) {
                const DownloadItem &item = list.at(row);
                if (item.state == DownloadState::Failed || item.state == DownloadState::Waiting)
                    tell(item);
                if (item.state == DownloadState::Failed || item.state == DownloadState::Finished)
                    checkForEnd();
            }
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
    checkForEnd(); // every record may be settled without a transfer (skipped)
    const int code = QCoreApplication::exec();
    QObject::disconnect(ticks);
    QObject::disconnect(ends);
    QObject::disconnect(failures);
    QObject::disconnect(reports);
    setStopSignalHandler(nullptr);
    return code;
}

} // namespace lumen::cli
