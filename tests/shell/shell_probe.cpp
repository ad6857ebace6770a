// lumenarc-shell-probe: measures how long the start-up window takes from
// exec to its first paint, and saves pictures of the start-up and about
// windows.
//
//   lumenarc-shell-probe --runs N          start N children, print each time
//                                          and the median
//   lumenarc-shell-probe --child           one start: prints the milliseconds
//                                          since exec once the window painted
//   lumenarc-shell-probe --screenshots DIR startup-window.png, about-window.png
//
// The children build the window over the real core objects, as the program
// does, with no product site so that no network is asked.

#include "engine/clock.h"
#include "harvest/repository.h"
#include "shell/about_session.h"
#include "shell/about_window.h"
#include "shell/cover_window.h"
#include "shell/registry_store.h"
#include "shell/startup_session.h"
#include "shell/system_description.h"
#include "shell/update_check.h"

#include "support/fake_prompter.h"
#include "support/fake_shell.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace lumen;

namespace
{

// Milliseconds since this process began, from the kernel's own record of
// its start, so the dynamic loader's work is counted too.
double msSinceExec()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Field 22 (start time in clock ticks since boot) counts from after the
    // command name, which may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

bool browserEngineMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngine");
}

struct Program {
    QTemporaryDir dir;
    lumen::test::FakeShell shell;
    lumen::test::FakePrompter prompter;
    UpdateCheck check{QString(), QStringLiteral("lumenarc"), shell, prompter,
                      SystemClock::instance()};
    RegistryStore registry{dir.filePath(QStringLiteral("registry.ini"))};
    StartupSession session{check, registry, QStringLiteral("lumenarc")};
    CoverWindow cover{session};
};

class PaintWatch : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            // After this paint has been flushed to the screen.
            QTimer::singleShot(0, [] {
                std::printf("painted %.1f ms engine-mapped %s\n", msSinceExec(),
                            browserEngineMapped() ? "yes" : "no");
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool m_done = false;
};

int runChild()
{
    Program program;
    PaintWatch watch;
    program.cover.installEventFilter(&watch);
    program.cover.show();
    program.session.begin();
    return QApplication::exec();
}

int runScreenshots(const QString &folder)
{
    QDir().mkpath(folder);
    Program program;
    program.cover.show();
    program.session.begin();
    auto *search = program.cover.findChild<QPushButton *>(QStringLiteral("Command1"));
    // The picture shows a stock Debian 12 kernel, so it does not change with
    // the machine it is taken on.
    const QString description = osDescription(
        osProductName(readOsRelease(), QSysInfo::kernelType(), QStringLiteral("6.1.0-18-amd64")),
        osBitness());
    AboutSession aboutSession(program.shell, program.prompter, description,
                              QUrl(QStringLiteral("http://127.0.0.1/lumenarc/")),
                              repositoryHomePage());
    AboutWindow about(aboutSession);
    int status = 1;
    // Once the deferred start has enabled the button, and the about window
    // has filled in its system information.
    QObject::connect(&program.session, &StartupSession::searchEnabledChanged, [&] {
        QTimer::singleShot(50, [&] {
            program.cover.grab().save(folder + QStringLiteral("/startup-window.png"));
            about.show();
        });
    });
    QObject::connect(&aboutSession, &AboutSession::systemInformationChanged, [&] {
        QTimer::singleShot(50, [&] {
            about.grab().save(folder + QStringLiteral("/about-window.png"));
            status = search->isEnabled() ? 0 : 1;
            QCoreApplication::quit();
        });
    });
    QApplication::exec();
    return status;
}

int runMany(int runs)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!child.waitForFinished(30000))
            return 1;
        const QByteArray out = child.readAllStandardOutput().trimmed();
        std::printf("run %d: %s (process ended after %lld ms)\n", i + 1, out.constData(),
                    clock.elapsed());
        const QList<QByteArray> words = out.split(' ');
        times << words.value(1).toDouble();
    }
    std::sort(times.begin(), times.end());
    std::printf("median exec to first paint: %.1f ms over %d runs\n", times[times.size() / 2],
                runs);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--child")))
        return runChild();
    const qsizetype shots = args.indexOf(QStringLiteral("--screenshots"));
    if (shots > 0 && shots + 1 < args.size())
        return runScreenshots(args[shots + 1]);
    const qsizetype runs = args.indexOf(QStringLiteral("--runs"));
    return runMany(runs > 0 ? args.value(runs + 1).toInt() : 9);
}
