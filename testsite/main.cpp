// lumenarc-testsite: the local repository site.
//
//   lumenarc-testsite [--port N] [--items N] [--version X.Y.Z] [--log FILE]
//
// Listens on 127.0.0.1 (port 0 takes a free one) and prints
// "listening on http://127.0.0.1:PORT/" as its first line. Ends on SIGINT,
// SIGTERM, or when its standard input (a pipe or socket) closes, so a test
// that dies never leaves the site running.

#include "http_server.h"
#include "item_behaviour.h"
#include "repository_site.h"
#include "request_log.h"

#include "lumen_build_info.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumen::testsite;

namespace
{

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// Signals only write a byte; the event loop does the quitting.
void watchSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &c, 1);
        app.quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Only a pipe or socket tells us our parent is gone; a terminal or
// /dev/null on stdin (a site started by hand or in the background) is left
// alone.
void watchStdin(QCoreApplication &app)
{
    struct stat st = {};
    if (fstat(STDIN_FILENO, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return;
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, notifier] {
        char buf[4096];
        const auto n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            notifier->setEnabled(false);
            app.quit();
        }
    });
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumenarc-testsite"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The local Lumenarc repository site; see /about once it runs."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"),
                                     QStringLiteral("Port on 127.0.0.1 (0: a free one)."),
                                     QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption itemsOpt(QStringLiteral("items"),
                                      QStringLiteral("Number of items in the corpus."),
                                      QStringLiteral("N"), QString::number(DefaultItemCount));
    const QCommandLineOption versionOpt(
        QStringLiteral("version"), QStringLiteral("Version published in NAME/newver.txt."),
        QStringLiteral("X.Y.Z"), QStringLiteral(LUMEN_VERSION_TEXT));
    const QCommandLineOption logOpt(QStringLiteral("log"),
                                    QStringLiteral("Append one line per request to FILE."),
                                    QStringLiteral("FILE"));
    parser.addOptions({portOpt, itemsOpt, versionOpt, logOpt});
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOpt).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "lumenarc-testsite: --port needs a number from 0 to 65535\n");
        return 2;
    }
    const int items = parser.value(itemsOpt).toInt(&ok);
    if (!ok || items < 1 || items > 100000) {
        std::fprintf(stderr, "lumenarc-testsite: --items needs a number from 1 to 100000\n");
        return 2;
    }
    const QString version = parser.value(versionOpt);
    if (version.isEmpty() || version.contains(QRegularExpression(QStringLiteral("[\\r\\n]")))) {
        std::fprintf(stderr, "lumenarc-testsite: --version must be one line of text\n");
        return 2;
    }

    RequestLog log;
    if (parser.isSet(logOpt) && !log.open(parser.value(logOpt))) {
        std::fprintf(stderr, "lumenarc-testsite: cannot write the log %s\n",
                     qPrintable(parser.value(logOpt)));
        return 2;
    }

    RepositorySite site(items, version);
    HttpServer server([&site](const HttpRequest &r) { return site.handle(r); },
                      [&site](const HttpRequest &r) { return site.hasSession(r); });
    QObject::connect(&server, &HttpServer::requestDone,
                     [&log](const RequestRecord &r) { log.write(r); });
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "lumenarc-testsite: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }

    watchSignals(app);
    watchStdin(app);
    std::printf("listening on http://127.0.0.1:%u/\n", unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}
