// lumenarc: the desktop program.
#include "app/desktop_app.h"
#include "app/logging.h"
#include "engine/app_title.h"
#include "harvest/web_engine_profile.h"
#include "shell/program_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>

#include <sys/socket.h>
#include <unistd.h>

namespace
{

int stopSignalPipe[2] = {-1, -1};

void onStopSignal(int signal)
{
    // A second signal of the kind ends the program at once, should the
    // first one's orderly end not come.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    const char byte = 1;
    if (::write(stopSignalPipe[1], &byte, 1) < 0) {
        // Nothing more can be done inside a signal handler.
    }
}

// SIGTERM (a session ending, a service manager) and SIGINT end the program as
// the start-up window's close box does: transfers stop and nothing stands
// under a final name half-written. The signal is served by the event loop, so
// a program whose loop hangs does not answer it.
void endOnStopSignals(lumen::DesktopApp &desktop)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopSignalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(stopSignalPipe[0], QSocketNotifier::Read, &desktop);
    QObject::connect(notifier, &QSocketNotifier::activated, &desktop, [&desktop] {
        char byte;
        if (::read(stopSignalPipe[0], &byte, 1) < 0)
            return;
        qCDebug(lumen::lcApp) << "stop signal: the program ends";
        desktop.endProgram();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// With LUMENARC_READY_FILE set, the program writes "ready" into that file once
// its first window has painted and the event loop has turned after it: a
// start-up check learns that the program is up, not merely that it has not
// ended yet.
class ReadyReport : public QObject
{
public:
    explicit ReadyReport(const QString &path) : m_path(path) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow()) {
            qApp->removeEventFilter(this);
            qCDebug(lumen::lcApp) << "first window painted:" << watched->metaObject()->className();
            QTimer::singleShot(0, this, [this] { write(); });
        }
        return false;
    }

private:
    void write()
    {
        QSaveFile file(m_path);
        if (file.open(QIODevice::WriteOnly) && file.write("ready\n") == 6 && file.commit())
            return;
        qCWarning(lumen::lcApp) << "cannot write the ready file" << m_path;
    }

    QString m_path;
};

} // namespace

int main(int argc, char **argv)
{
    // The browser engine must be set up before the application object.
    lumen::initWebEngine(false);
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(lumen::ApplicationTitle);
    QApplication::setApplicationVersion(lumen::programVersionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(lumen::ApplicationTitle);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption downloadList(
        QStringLiteral("download-list"),
        QStringLiteral("Opens the download window with the records of FILE: lines "
                       "URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]], as lumenarc-get download "
                       "--list takes them."),
        QStringLiteral("FILE"));
    parser.addOption(downloadList);
    // Exits with a message on an unknown option, and after --help/--version.
    parser.process(app);

    ReadyReport ready(qEnvironmentVariable("LUMENARC_READY_FILE"));
    if (!qEnvironmentVariableIsEmpty("LUMENARC_READY_FILE"))
        app.installEventFilter(&ready);

    lumen::DesktopApp desktop;
    QObject::connect(&desktop, &lumen::DesktopApp::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    endOnStopSignals(desktop);
    if (parser.isSet(downloadList))
        desktop.startWithDownloadList(parser.value(downloadList));
    else if (!desktop.start())
        return 1;
    return app.exec();
}
