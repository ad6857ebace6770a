// The start-up window over its session: its texts, the deferred start, the
// update check it starts against the local site, and its two doors.

#include "shell/browser_emulation.h"
#include "shell/cover_window.h"
#include "shell/registry_store.h"
#include "shell/startup_session.h"
#include "shell/update_check.h"
#include "support/fake_prompter.h"
#include "support/fake_shell.h"
#include "support/files.h"
#include "support/test_site.h"

#include "engine/clock.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::FakePrompter;
using lumen::test::FakeShell;
using lumen::test::TestSite;
using lumen::test::writeFile;

namespace
{

// The session and its window over real core objects, with fakes at the
// desktop and the message boxes.
struct Rig {
    QTemporaryDir dir;
    FakeShell shell;
    FakePrompter prompter;
    UpdateCheck check;
    RegistryStore registry;
    StartupSession session;
    CoverWindow window;

    explicit Rig(const QString &productSite)
        : check(productSite, QStringLiteral("lumenarc"), shell, prompter, SystemClock::instance()),
          registry(dir.filePath(QStringLiteral("registry.ini"))),
          session(check, registry, QStringLiteral("lumenarc")), window(session)
    {
        writeFile(dir.filePath(QStringLiteral("os-release")),
                  "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n");
        session.setOsReleasePaths({dir.filePath(QStringLiteral("os-release"))});
    }
    // As the program shows it: the window, then the start-up work.
    void show()
    {
        window.show();
        session.begin();
    }
    template <typename T> T *child(const char *name)
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    QLabel *label(const char *name) { return child<QLabel>(name); }
    QPushButton *button(const char *name) { return child<QPushButton>(name); }
};

} // namespace

class TestCoverWindow : public QObject
{
    Q_OBJECT

private slots:
    void textsAndFirstState()
    {
        Rig rig{QString()};
        QCOMPARE(rig.window.objectName(), QStringLiteral("fCover"));
        QCOMPARE(rig.window.windowTitle(), QStringLiteral("澜图Lumenarc西岭大学文献检索下载"));
        QVERIFY(!rig.window.windowIcon().isNull());
        QVERIFY(!rig.label("Image1")->pixmap().isNull());
        QCOMPARE(rig.label("Label1")->text(), QStringLiteral("版本:") + programVersionText());
        QCOMPARE(rig.label("Label3")->text(), QStringLiteral("正在加载组件，请稍候..."));
        QCOMPARE(rig.label("Label4")->text(),
                 QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)"));
        QCOMPARE(rig.button("Command1")->text(), QStringLiteral("资料检索下载"));
        QCOMPARE(rig.button("Command3")->text(), QStringLiteral("退出软件"));
        // Before it is shown: loading, nothing to search with, no notice.
        QVERIFY(!rig.button("Command1")->isEnabled());
        QVERIFY(rig.button("Command3")->isEnabled());
        QVERIFY(rig.label("Label2")->isHidden());
        QVERIFY(!rig.label("Label3")->isHidden());
        for (QWidget *w : rig.window.findChildren<QWidget *>())
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
    }

    // Shown, the window shows the start-up work; 100 ms later the search
    // button comes alive. Without a product site nothing is asked and
    // nothing is said.
    void deferredStartWithoutProductSite()
    {
        Rig rig{QString()};
        QSignalSpy finished(&rig.check, &UpdateCheck::finished);
        rig.show();
        QTRY_VERIFY(rig.session.isStarted());
        QVERIFY(rig.label("Label3")->isHidden());
        QCOMPARE(rig.session.osDescription(),
                 QStringLiteral("Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:") +
                     QSysInfo::kernelVersion() + QStringLiteral(")[") + rig.session.osBitness() +
                     QStringLiteral("位]"));
        QVERIFY(!rig.button("Command1")->isEnabled());
        QTRY_VERIFY(rig.button("Command1")->isEnabled());
        QCOMPARE(finished.size(), 1);
        QCOMPARE(rig.check.lastOutcome(), UpdateCheck::Outcome::Skipped);
        QVERIFY(rig.prompter.shown.isEmpty());
        QVERIFY(rig.shell.requests.isEmpty());
        // The emulation value is filed for this program.
        QCOMPARE(RegistryStore(rig.registry.path())
                     .readNumber(BrowserEmulationKey, QStringLiteral("lumenarc.exe"),
                                 QStringLiteral("32")),
                 QStringLiteral("10001"));
    }

    void newerVersionIsAnnounced()
    {
        TestSite site;
        QVERIFY(site.start({QStringLiteral("--version"), QStringLiteral("99.0.0")}));
        Rig rig(site.baseUrl().toString());
        rig.show();
        QTRY_VERIFY(!rig.label("Label2")->isHidden());
        QCOMPARE(rig.label("Label2")->text(), QStringLiteral("有最新版本：V99.0.0"));
        const QString page = QStringLiteral("openUrl\t") + site.url("/lumenarc/").toString();
        QCOMPARE(rig.shell.requests, QStringList{page});

        // The notice is a link to the same page.
        QTest::mouseClick(rig.label("Label2"), Qt::LeftButton);
        QCOMPARE(rig.shell.requests, QStringList({page, page}));

        // Closing the about window arms the deferred start again, which
        // checks and announces once more.
        rig.session.restartTimer();
        QTRY_COMPARE(rig.shell.requests.size(), 3);
        QCOMPARE(site.requestLog().size(), 2);
    }

    void sameVersionSaysNothing()
    {
        TestSite site;
        QVERIFY(site.start()); // publishes the program's own version
        Rig rig(site.baseUrl().toString());
        QSignalSpy finished(&rig.check, &UpdateCheck::finished);
        rig.show();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(rig.check.lastOutcome(), UpdateCheck::Outcome::Current);
        QVERIFY(rig.label("Label2")->isHidden());
        QVERIFY(rig.shell.requests.isEmpty());
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    void failedCheckSaysSoAndStartupGoesOn()
    {
        TestSite site;
        QVERIFY(site.start());
        Rig rig(site.url(QStringLiteral("/nothing/here/")).toString());
        QSignalSpy finished(&rig.check, &UpdateCheck::finished);
        rig.show();
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(rig.prompter.messages(), QStringList{QStringLiteral("请保持网络畅通！")});
        QVERIFY(rig.button("Command1")->isEnabled());
        QVERIFY(rig.label("Label2")->isHidden());
    }

    // A store file full of noise does not stop the start-up.
    void damagedStoreDoesNotStopStartup()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("registry.ini"));
        writeFile(path, QByteArray("\x00\xff[[[\n=\n", 8));
        FakeShell shell;
        FakePrompter prompter;
        UpdateCheck check(QString(), QStringLiteral("lumenarc"), shell, prompter,
                          SystemClock::instance());
        RegistryStore registry(path);
        StartupSession session(check, registry, QStringLiteral("lumenarc"));
        session.setOsReleasePaths({dir.filePath(QStringLiteral("absent"))});
        CoverWindow window(session);
        window.show();
        session.begin();
        QTRY_VERIFY(window.findChild<QPushButton *>(QStringLiteral("Command1"))->isEnabled());
        QVERIFY(session.osDescription().contains(QStringLiteral(" 版本:")));
        QCOMPARE(RegistryStore(path).readNumber(BrowserEmulationKey, QStringLiteral("lumenarc.exe"),
                                                QStringLiteral("32")),
                 QStringLiteral("10001"));
    }

    void searchButtonHidesTheWindowAndAsksForTheSearchWindow()
    {
        Rig rig{QString()};
        QSignalSpy search(&rig.session, &StartupSession::searchWindowRequested);
        QSignalSpy quit(&rig.session, &StartupSession::quitRequested);
        rig.show();
        QTRY_VERIFY(rig.button("Command1")->isEnabled());
        QTest::mouseClick(rig.button("Command1"), Qt::LeftButton);
        QCOMPARE(search.size(), 1);
        QVERIFY(rig.window.isHidden());
        QCOMPARE(quit.size(), 0);
        // Shown again later, the start-up work is not repeated.
        rig.window.show();
        QVERIFY(rig.button("Command1")->isEnabled());
        QVERIFY(rig.label("Label3")->isHidden());
    }

    void exitButtonAndCloseBoxEndTheProgram_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("退出软件") << false;
        QTest::newRow("close box") << true;
    }
    void exitButtonAndCloseBoxEndTheProgram()
    {
        QFETCH(bool, closeBox);
        Rig rig{QString()};
        QSignalSpy quit(&rig.session, &StartupSession::quitRequested);
        rig.show();
        QTRY_VERIFY(rig.session.isStarted());
        if (closeBox)
            rig.window.close();
        else
            QTest::mouseClick(rig.button("Command3"), Qt::LeftButton);
        QCOMPARE(quit.size(), 1);
        QVERIFY(rig.window.isHidden());
        // Nothing the timer would still start.
        QVERIFY(!rig.session.isTimerActive());
    }
};

QTEST_MAIN(TestCoverWindow)
#include "test_cover_window_ui.moc"
