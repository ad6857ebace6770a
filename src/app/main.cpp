// lumenarc: the desktop program.
#include "app/application_setup.h"
#include "app/desktop_app.h"
#include "app/logging.h"
#include "harvest/web_engine_profile.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdio>

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
    // The browser engine must be set up before any application object.
    lumen::initWebEngine(false);

    // The options are read on an application object that needs no window
    // system, so --help, --version and a wrong option work without a
    // display; the windows' application object comes after.
    QString listFile;
    bool withList = false;
    {
        QCoreApplication options(argc, argv);
        lumen::describeApplication();
        QCommandLineParser parser;
        const QCommandLineOption downloadList = lumen::addDesktopOptions(parser);
        // Exits with a message on an unknown option, and after --help/--version.
        parser.process(options);
        // Nothing takes arguments besides the options; said like Qt's own
        // option errors.
        if (!parser.positionalArguments().isEmpty()) {
            std::fprintf(stderr, "%s: Unexpected argument '%s'.\n",
                         qPrintable(QCoreApplication::applicationName()),
                         qPrintable(parser.positionalArguments().first()));
            return 1;
        }
        withList = parser.isSet(downloadList);
        listFile = parser.value(downloadList);
    }

    QApplication app(argc, argv);
    lumen::describeApplication();
    lumen::installQtTranslations(app);

    ReadyReport ready(qEnvironmentVariable("LUMENARC_READY_FILE"));
    if (!qEnvironmentVariableIsEmpty("LUMENARC_READY_FILE"))
        app.installEventFilter(&ready);

    lumen::DesktopApp desktop;
    QObject::connect(&desktop, &lumen::DesktopApp::ended, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    endOnStopSignals(desktop);
    if (withList)
        desktop.startWithDownloadList(listFile);
    else if (!desktop.start())
        return 1;
    return app.exec();
}
