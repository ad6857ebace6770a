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
#include <QHash>
#include <QSet>
#include <QSocketNotifier>
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
        "--stop-after-errors. Each failure, web page and skip writes its reason on stderr "
        "as its record ends.\n");
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
    return item.state == DownloadState::Finished && item.outcome == Outcome::WebPage;
}

bool endedWithoutDocument(const DownloadItem &item)
{
    switch (item.outcome) {
    case Outcome::WebPage:
    case Outcome::SkippedExists:
    case Outcome::SkippedTooLarge:
    case Outcome::CannotReplace:
    case Outcome::Failed:
    case Outcome::Cancelled:
        return true;
    case Outcome::None:
    case Outcome::Document:
        break;
    }
    return item.state == DownloadState::Failed;
}

QString shownFolder(const QString &folder)
{
    if (folder.trimmed().isEmpty())
        return folder;
    return QDir::cleanPath(QDir(folder).absolutePath()) + QLatin1Char('/');
}

int printDownloadList(const DownloadList &list)
{
    qint64 documents = 0;
    qint64 pages = 0;
    qint64 exists = 0;
    qint64 tooLarge = 0;
    qint64 failed = 0;
    qint64 cannotReplace = 0;
    qint64 cancelled = 0;
    for (const DownloadItem &it : list.items()) {
        switch (it.outcome) {
        case Outcome::Document:
            ++documents;
            break;
        case Outcome::WebPage:
            ++pages;
            break;
        case Outcome::SkippedExists:
            ++exists;
            break;
        case Outcome::SkippedTooLarge:
            ++tooLarge;
            break;
        case Outcome::CannotReplace:
            ++failed;
            ++cannotReplace;
            break;
        case Outcome::Cancelled:
            ++failed;
            ++cancelled;
            break;
        case Outcome::Failed:
            ++failed;
            break;
        case Outcome::None:
            // Failed with no end of its own: a run stopped around it.
            if (it.state == DownloadState::Failed)
                ++failed;
            break;
        }
        writeRecord({downloadStateName(it.state), it.name, it.fileType, sizeColumnText(it),
                     receivedColumnText(it), percentColumnText(it), shownFolder(it.folder),
                     it.url});
    }
    std::fflush(stdout);
    const qint64 total = list.items().size();
    writeProgress(QStringLiteral("%1 records: %2 documents, %3 web pages instead of the document, "
                                 "%4 skipped (%5 already there, %6 over the size limit), %7 "
                                 "failed (%8 could not replace a file, %9 cancelled), %10 not done")
                      .arg(total)
                      .arg(documents)
                      .arg(pages)
                      .arg(exists + tooLarge)
                      .arg(exists)
                      .arg(tooLarge)
                      .arg(failed)
                      .arg(cannotReplace)
                      .arg(cancelled)
                      .arg(total - documents - pages - exists - tooLarge - failed));
    return failed + pages > 0 ? ExitFailure : ExitOk;
}

QString recordEndReason(const DownloadItem &item)
{
    QString kind;
    switch (item.outcome) {
    case Outcome::WebPage:
        kind = QStringLiteral("web page instead of the document (stored as %1)").arg(item.fileType);
        break;
    case Outcome::SkippedExists:
        kind = QStringLiteral("skipped, already there");
        break;
    case Outcome::SkippedTooLarge:
        kind = QStringLiteral("skipped, over the size limit");
        break;
    case Outcome::CannotReplace:
        kind = QStringLiteral("failed, cannot replace");
        break;
    case Outcome::Cancelled:
        kind = QStringLiteral("cancelled");
        break;
    case Outcome::Failed:
    case Outcome::None:
    case Outcome::Document:
        kind = QStringLiteral("failed");
        break;
    }
    return item.reason.isEmpty() ? kind : kind + QStringLiteral(": ") + item.reason;
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
        // A record its server asked to come back later says until when.
        if (it.state == DownloadState::Waiting && !it.reason.isEmpty()) {
            text += QStringLiteral("  %1 waiting: %2\n").arg(it.name, it.reason);
            continue;
        }
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
    // Each record that ends without its document (a failure, a web page, a
    // skip) says why on stderr, once, as it ends: its outcome and reason
    // are set by then, wherever it ended (in a transfer, or refused before
    // one).
    QSet<quint64> told;
    QHash<quint64, QString> toldWaits;
    DownloadList &list = engine.list();
    auto tell = [&](const DownloadItem &item) {
        if (item.state == DownloadState::Waiting) {
            told.remove(item.id); // queued again: its next end is told again
            // A server asked for a pause: said once per answer.
            if (!item.reason.isEmpty() && toldWaits.value(item.id) != item.reason) {
                toldWaits.insert(item.id, item.reason);
                writeError(QStringLiteral("%1: waiting: %2 (%3)")
                               .arg(escapeField(item.name), escapeField(item.reason),
                                    escapeField(item.url)));
            }
            return;
        }
        // A record has its outcome once its end is complete: a state alone
        // may still wait for the reason that comes with it.
        if (item.state == DownloadState::Downloading || item.outcome == Outcome::None ||
            !endedWithoutDocument(item) || told.contains(item.id))
            return;
        told.insert(item.id);
        writeError(QStringLiteral("%1: %2 (%3)")
                       .arg(escapeField(item.name), escapeField(recordEndReason(item)),
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
            for (int row = from.row(); row <= to.row() && row < list.count(); ++row) {
                const DownloadItem &item = list.at(row);
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
    setStopSignalHandler(nullptr);
    return code;
}

} // namespace lumen::cli
