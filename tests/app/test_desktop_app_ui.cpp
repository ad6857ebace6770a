// The desktop program's lifecycle through its real windows: which window
// brings the start-up window back, the end of the run with downloads in
// flight, and the download window opened straight from a list file.

#include "app/desktop_app.h"
#include "download_window/download_window.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "harvest/login_panel_window.h"
#include "harvest/search_window.h"
#include "harvest/site_login.h"
#include "harvest/web_engine_profile.h"
#include "settings/settings_store.h"
#include "shell/browser_emulation.h"
#include "shell/cover_window.h"
#include "shell/program_version.h"
#include "shell/registry_store.h"
#include "shell/startup_session.h"
#include "support/fake_prompter.h"
#include "support/fake_shell.h"
#include "support/fake_sound_player.h"
#include "support/files.h"
#include "support/test_site.h"
#include "tools/cache_tool_session.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

using namespace lumen;
using namespace lumen::test;

namespace
{

struct Rig {
    FakePrompter prompter;
    FakeShell shell;
    FakeSoundPlayer sound;
    std::unique_ptr<DesktopApp> app;

    explicit Rig(const QString &saveFolder)
    {
        app = std::make_unique<DesktopApp>(DesktopSeams{&prompter, &shell, &sound, nullptr});
        app->settings().saveFolder = saveFolder;
    }

    // The start-up window as the user meets it: shown, its search button
    // alive once the deferred start ran.
    CoverWindow *startAndWaitForSearchButton()
    {
        if (!app->start())
            return nullptr;
        CoverWindow *cover = app->coverWindow();
        auto *search = cover->findChild<QPushButton *>(QStringLiteral("Command1"));
        if (!QTest::qWaitFor([search] { return search->isEnabled(); }, 5000))
            return nullptr;
        return cover;
    }
};

// Files under folder whose names do not end in ".part".
QStringList finalFiles(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".part")))
            out << path;
    }
    return out;
}

} // namespace

class TestDesktopAppUi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    TestSite m_site;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        // Settings, key store and browser profile stay in this test's folder.
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
        qputenv("XDG_CACHE_HOME", m_home.filePath("cache").toUtf8());
        WebEngineProfile::setSharedStorageFolder(m_home.filePath("profile"));
        QVERIFY(m_site.start());
        qputenv("LUMENARC_REPOSITORY", m_site.baseUrl().toString().toUtf8());
        // No product site: the update check stays silent.
        qputenv("LUMENARC_PRODUCT_SITE", "");
        // Each case starts with empty lists; the journal's own case turns
        // it on.
        SettingsStore(SettingsStore::defaultPath()).write(setting::KeepListsJournal, "0");
    }

    // A run that ended with downloads left is offered back at the next
    // start, with the download window showing the restored records; the
    // run after a declined offer starts empty and asks nothing.
    void theLastRunsListComesBack()
    {
        SettingsStore store(SettingsStore::defaultPath());
        store.write(setting::KeepListsJournal, "1");
        QTemporaryDir folder;
        {
            Rig last(folder.path() + u'/');
            QVERIFY(last.startAndWaitForSearchButton());
            QCOMPARE(last.prompter.shown.size(), 0);
            last.app->downloads().append("http://127.0.0.1:9/items/1.pdf", "第一篇", "pdf",
                                         folder.path() + u'/', QString());
            last.app->downloads().append("http://127.0.0.1:9/items/2.pdf", "第二篇", "pdf",
                                         folder.path() + u'/', QString());
            last.app->downloads().setState(0, DownloadState::Finished);
        }
        {
            Rig next(folder.path() + u'/');
            next.prompter.answers.enqueue(Prompter::Answer::Yes);
            QVERIFY(next.startAndWaitForSearchButton());
            QCOMPARE(next.prompter.messages(), QStringList{"恢复上次未完成的下载列表？"});
            QCOMPARE(next.app->downloads().count(), 2);
            QCOMPARE(next.app->downloads().at(0).state, DownloadState::Finished);
            QCOMPARE(next.app->downloads().at(1).name, QStringLiteral("第二篇"));
            QVERIFY(next.app->downloadWindow() && next.app->downloadWindow()->isVisible());
        }
        {
            Rig declined(folder.path() + u'/');
            declined.prompter.answers.enqueue(Prompter::Answer::No);
            QVERIFY(declined.startAndWaitForSearchButton());
            QCOMPARE(declined.prompter.messages(), QStringList{"恢复上次未完成的下载列表？"});
            QCOMPARE(declined.app->downloads().count(), 0);
        }
        Rig fresh(folder.path() + u'/');
        QVERIFY(fresh.startAndWaitForSearchButton());
        QCOMPARE(fresh.prompter.shown.size(), 0);
        store.write(setting::KeepListsJournal, "0");
    }

    // The start-up window comes back only when the last of the search and
    // download windows closes, whichever of them goes first.
    void startupWindowReturnsWithTheLastMainWindow_data()
    {
        QTest::addColumn<bool>("searchFirst");
        QTest::newRow("search window closes first") << true;
        QTest::newRow("download window closes first") << false;
    }
    void startupWindowReturnsWithTheLastMainWindow()
    {
        QFETCH(bool, searchFirst);
        QTemporaryDir folder;
        Rig rig(folder.path() + u'/');
        QSignalSpy ended(rig.app.get(), &DesktopApp::ended);
        CoverWindow *cover = rig.startAndWaitForSearchButton();
        QVERIFY(cover);
        QVERIFY(cover->isVisible());
        QVERIFY(!cover->windowIcon().isNull());

        QTest::mouseClick(cover->findChild<QPushButton *>(QStringLiteral("Command1")),
                          Qt::LeftButton);
        QPointer<SearchWindow> search = rig.app->searchWindow();
        QVERIFY(search);
        QVERIFY(search->isVisible());
        QVERIFY(cover->isHidden());
        QCOMPARE(search->windowIcon().cacheKey(), cover->windowIcon().cacheKey());

        // The search window's request for the download window.
        emit search->downloadWindowRequested();
        QPointer<DownloadWindow> download = rig.app->downloadWindow();
        QVERIFY(download);
        QVERIFY(download->isVisible());
        QCOMPARE(download->windowIcon().cacheKey(), cover->windowIcon().cacheKey());
        QVERIFY(rig.app->loginPanel());
        QVERIFY(rig.app->loginPanel()->isHidden());

        QWidget *first = searchFirst ? static_cast<QWidget *>(search.data()) : download.data();
        QWidget *second = searchFirst ? static_cast<QWidget *>(download.data()) : search.data();
        QVERIFY(first->close());
        QVERIFY(cover->isHidden());
        QVERIFY(second->close());
        QVERIFY(cover->isVisible());
        // Closed windows are gone; the next request builds them afresh.
        QTRY_VERIFY(!search && !download);
        QCOMPARE(ended.size(), 0);
        QVERIFY(rig.prompter.messages().isEmpty());

        // The download window's request for the search window reopens it.
        rig.app->showDownloadWindow();
        QVERIFY(cover->isHidden());
        emit rig.app->downloadWindow()->searchWindowRequested();
        QVERIFY(rig.app->searchWindow() && rig.app->searchWindow()->isVisible());
    }

    // Closing the start-up window ends the program at once: no question,
    // every window gone, the transfers stopped, and of the files in flight
    // nothing under a final name.
    void closingTheStartupWindowEndsTheRun()
    {
        QTemporaryDir folder;
        Rig rig(folder.path() + u'/');
        QSignalSpy ended(rig.app.get(), &DesktopApp::ended);
        CoverWindow *cover = rig.startAndWaitForSearchButton();
        QVERIFY(cover);
        QTest::mouseClick(cover->findChild<QPushButton *>(QStringLiteral("Command1")),
                          Qt::LeftButton);
        QPointer<SearchWindow> search = rig.app->searchWindow();

        // Slow and stalling bodies: still arriving when the end comes.
        DownloadList &list = rig.app->downloads();
        for (int id : {8, 9, 28, 29})
            list.append(m_site.url(QStringLiteral("/items/%1.pdf").arg(id)).toString(),
                        QStringLiteral("item %1").arg(id), QStringLiteral("pdf"),
                        rig.app->settings().saveFolder, m_site.baseUrl().toString());
        rig.app->showDownloadWindow();
        QPointer<DownloadWindow> download = rig.app->downloadWindow();
        DownloadEngine &engine = rig.app->engine();
        engine.setDownloadMethod(DownloadMethod::MultiConnection);
        engine.setThreadCount(4);
        engine.startDownloading();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QDirIterator it(folder.path(), {QStringLiteral("*.part")}, QDir::Files);
                return it.hasNext();
            }(),
            10000);
        QVERIFY(engine.isRunning());

        // The start-up window is hidden; the user gets it back by closing the
        // others... or ends the program from it (its close box).
        cover->show();
        QVERIFY(cover->close());
        QCOMPARE(ended.size(), 1);
        QVERIFY(rig.app->hasEnded());
        QVERIFY(!search && !download);
        QVERIFY(cover->isHidden());
        QVERIFY(!engine.isRunning());
        QVERIFY(rig.prompter.messages().isEmpty());
        QCOMPARE(finalFiles(folder.path()), QStringList());

        // Nothing comes back to life afterwards: no window, no file.
        QTest::qWait(1500);
        QCOMPARE(finalFiles(folder.path()), QStringList());
        rig.app->showSearchWindow();
        QVERIFY(!rig.app->searchWindow());
        rig.app.reset();
        QCOMPARE(finalFiles(folder.path()), QStringList());
    }

    // The menus' requests for other windows arrive: each window opens once,
    // wears the program's icon, and the about window's closing repeats the
    // update check; the cache tool and the cache clearing work on the
    // program's own browser profile.
    void menusOpenTheirWindows()
    {
        QTemporaryDir folder;
        Rig rig(folder.path() + u'/');
        CoverWindow *cover = rig.startAndWaitForSearchButton();
        QVERIFY(cover);
        rig.app->showSearchWindow();
        SearchWindow *search = rig.app->searchWindow();
        QVERIFY(search);
        const qint64 icon = cover->windowIcon().cacheKey();
        const auto trigger = [](QWidget *w, const char *name) {
            auto *action = w->findChild<QAction *>(QString::fromUtf8(name));
            QVERIFY2(action, name);
            action->trigger();
        };

        trigger(search, "menu关于");
        QPointer<QWidget> about = rig.app->aboutWindow();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowIcon().cacheKey(), icon);
        // Modal to the window whose menu opened it.
        QCOMPARE(about->parentWidget(), search);
        QCOMPARE(about->windowModality(), Qt::WindowModal);
        QCOMPARE(QApplication::activeModalWidget(), about.data());
        trigger(search, "menu关于");
        QCOMPARE(rig.app->aboutWindow(), about.data());
        QVERIFY(!rig.app->startupSession().isTimerActive());
        about->close();
        QVERIFY(rig.app->startupSession().isTimerActive());

        trigger(search, "menu软件使用方法");
        QVERIFY(rig.app->usageWindow() && rig.app->usageWindow()->isVisible());
        QCOMPARE(rig.app->usageWindow()->windowIcon().cacheKey(), icon);
        // The steps stay in view beside the search window they describe.
        QCOMPARE(rig.app->usageWindow()->parentWidget(), search);
        QCOMPARE(rig.app->usageWindow()->windowModality(), Qt::NonModal);

        trigger(search, "menu查看IE浏览器缓存");
        QPointer<QWidget> cache = rig.app->cacheWindow();
        QVERIFY(cache && cache->isVisible());
        QVERIFY(cache->isModal());
        QCOMPARE(cache->windowIcon().cacheKey(), icon);
        cache->close();
        QTRY_VERIFY(!cache);

        trigger(search, "menu清空IE浏览器缓存");
        QCOMPARE(rig.prompter.messages(), QStringList{cache_text::Cleared});

        trigger(search, "menu打开下载窗口");
        DownloadWindow *download = rig.app->downloadWindow();
        QVERIFY(download && download->isVisible());
        trigger(download, "menu软件权限设置方法");
        trigger(download, "menu微软组件下载安装");
        int helpWindows = 0;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits("QDialog") && w != rig.app->usageWindow()) {
                ++helpWindows;
                QCOMPARE(w->windowIcon().cacheKey(), icon);
                QCOMPARE(w->parentWidget(), download);
                QCOMPARE(w->windowModality(), Qt::WindowModal);
            }
        }
        QCOMPARE(helpWindows, 2);
        trigger(download, "menu清空IE浏览器缓存");
        QCOMPARE(rig.prompter.messages().size(), 2);
    }

    // The login panel lies over the download list and goes with the window:
    // closing the window while the panel is shown, or destroying it
    // outright, leaves nothing behind, and the next opening has a panel and
    // a login helper of its own.
    void loginPanelGoesWithTheDownloadWindow_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("closed") << false;
        QTest::newRow("destroyed") << true;
    }
    void loginPanelGoesWithTheDownloadWindow()
    {
        QFETCH(bool, destroy);
        QTemporaryDir folder;
        Rig rig(folder.path() + u'/');
        rig.app->showDownloadWindow();
        QPointer<DownloadWindow> download = rig.app->downloadWindow();
        QVERIFY(download);
        QVERIFY(QTest::qWaitForWindowExposed(download));
        QPointer<LoginPanel> panel = rig.app->loginPanel();
        QVERIFY(panel && panel->isHidden());
        QCOMPARE(download->loginPanel(), panel.data());

        QTest::mouseClick(download->findChild<QPushButton *>(QStringLiteral("Command1")),
                          Qt::LeftButton);
        QVERIFY(panel->isVisible());
        QVERIFY(download->isLoginPanelShown());
        const auto inWindow = [&download](const QWidget *w) {
            return QRect(w->mapTo(download, QPoint(0, 0)), w->size());
        };
        QTRY_COMPARE(inWindow(panel), inWindow(download->listView()));
        // At 800×600 the panel still fits over the list, every control of
        // it inside the window.
        download->showNormal();
        download->resize(800, 600);
        QTRY_COMPARE(download->size(), QSize(800, 600));
        QTRY_COMPARE(inWindow(panel), inWindow(download->listView()));
        for (QWidget *control : panel->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (control->isHidden())
                continue;
            QVERIFY2(download->rect().contains(
                         QRect(control->mapTo(download, QPoint(0, 0)), control->size())),
                     qPrintable(control->objectName()));
            QVERIFY2(control->width() >= control->minimumSizeHint().width(),
                     qPrintable(control->objectName()));
        }
        // The login browser's page titles reach the window's status bar.
        emit rig.app->siteLogin()->titleTextChanged(QStringLiteral("登录"));
        QCOMPARE(download->findChild<QLabel *>(QStringLiteral("StatusBar1Panel3"))->text(),
                 QStringLiteral("登录"));

        if (destroy)
            delete download.data();
        else
            QVERIFY(download->close());
        QTRY_VERIFY(!download);
        QVERIFY(!panel);
        QVERIFY(!rig.app->loginPanel());
        QVERIFY(!rig.app->siteLogin());

        rig.app->showDownloadWindow();
        QVERIFY(rig.app->downloadWindow());
        QVERIFY(rig.app->loginPanel() && rig.app->loginPanel()->isHidden());
        QVERIFY(rig.app->siteLogin());
        QVERIFY(rig.prompter.messages().isEmpty());
    }

    // The copy window the cache tool hands its files to takes the clicks,
    // and the cache tool waits until it is closed.
    void copyWindowTakesInputOverTheCacheTool()
    {
        QTemporaryDir folder;
        writeFile(folder.filePath("doc.pdf"), "%PDF-1.4");
        Rig rig(folder.path() + u'/');
        QVERIFY(rig.startAndWaitForSearchButton());
        rig.app->showSearchWindow();
        auto *action =
            rig.app->searchWindow()->findChild<QAction *>(QStringLiteral("menu查看IE浏览器缓存"));
        QVERIFY(action);
        action->trigger();
        QPointer<QWidget> cache = rig.app->cacheWindow();
        QVERIFY(cache);
        QVERIFY(QTest::qWaitForWindowExposed(cache));

        // What the cache tool's "复制选中..." asks for.
        rig.app->showCopyWindow({CopySource::fromFile(folder.filePath("doc.pdf"))});
        QPointer<QWidget> copy = rig.app->copyWindow();
        QVERIFY(copy && copy->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(copy));
        QCOMPARE(copy->parentWidget(), cache.data());
        QCOMPARE(copy->windowModality(), Qt::WindowModal);
        QCOMPARE(QApplication::activeModalWidget(), copy.data());

        // Clicks reach it through the window system, as the user's do.
        const auto click = [](QWidget *control) {
            QWidget *window = control->window();
            QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                              control->mapTo(window, QPoint(6, control->height() / 2)));
        };
        auto *skip = copy->findChild<QRadioButton *>(QStringLiteral("Option1_1"));
        QVERIFY(skip);
        QVERIFY(!skip->isChecked());
        click(skip);
        QVERIFY(skip->isChecked());
        // The cache tool's own close button does nothing meanwhile.
        click(cache->findChild<QPushButton *>(QStringLiteral("Command4")));
        QVERIFY(cache->isVisible());

        click(copy->findChild<QPushButton *>(QStringLiteral("Command2")));
        QTRY_VERIFY(!copy);
        QVERIFY(cache->isVisible());
        click(cache->findChild<QPushButton *>(QStringLiteral("Command4")));
        QTRY_VERIFY(!cache);
    }

    // A start with a list skips the start-up window but not its work: the
    // system's description reaches the about and help windows, and the
    // emulation value is written.
    void downloadListRunsTheStartupWork()
    {
        QTemporaryDir folder;
        const QString listPath = folder.filePath("list.txt");
        writeFile(listPath, "http://127.0.0.1:9/items/1.pdf\n");
        QFile::remove(RegistryStore::defaultPath());
        Rig rig(folder.path() + u'/');
        QVERIFY(rig.app->startWithDownloadList(listPath));
        DownloadWindow *download = rig.app->downloadWindow();
        QVERIFY(download);
        QTRY_VERIFY(rig.app->startupSession().isStarted());
        const QString description = rig.app->startupSession().osDescription();
        QVERIFY2(description.contains(QStringLiteral(" 版本:")) &&
                     description.endsWith(QStringLiteral("位]")),
                 qPrintable(description));
        QCOMPARE(RegistryStore(RegistryStore::defaultPath())
                     .readNumber(BrowserEmulationKey, executableBaseName() + QStringLiteral(".exe"),
                                 QStringLiteral("32")),
                 QStringLiteral("10001"));

        auto *about = download->findChild<QAction *>(QStringLiteral("关于"));
        QVERIFY(about);
        about->trigger();
        QWidget *aboutWindow = rig.app->aboutWindow();
        QVERIFY(aboutWindow);
        auto *info = aboutWindow->findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
        QTRY_COMPARE(info->toPlainText(), QStringLiteral("OP:") + description);
        aboutWindow->close();

        download->findChild<QAction *>(QStringLiteral("menu微软组件下载安装"))->trigger();
        QLabel *system = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("Net35"))
                system = w->findChild<QLabel *>(QStringLiteral("Label4"));
        }
        QVERIFY(system);
        QCOMPARE(system->text(), QStringLiteral("您的操作系统是：") + description);
    }

    // lumenarc --download-list FILE: the download window straight away,
    // filled from the file; an unreadable file says why and leaves the
    // program at its start-up window.
    void downloadListOpensTheDownloadWindow()
    {
        QTemporaryDir folder;
        const QString listPath = folder.filePath("list.txt");
        {
            QFile f(listPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("http://127.0.0.1:9/items/1.pdf\r\n"
                    "\n"
                    "http://127.0.0.1:9/items/2.pdf\t第二篇\tcaj\thttp://127.0.0.1:9/items/2\n"
                    "http://127.0.0.1:9/items/1.pdf\tagain\n");
        }
        Rig rig(folder.path() + u'/');
        QVERIFY(rig.app->startWithDownloadList(listPath));
        DownloadWindow *download = rig.app->downloadWindow();
        QVERIFY(download);
        QVERIFY(download->isVisible());
        QVERIFY(rig.app->coverWindow()->isHidden());
        const DownloadList &list = rig.app->downloads();
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.at(0).url, QStringLiteral("http://127.0.0.1:9/items/1.pdf"));
        QCOMPARE(list.at(0).name, QStringLiteral("1"));
        QCOMPARE(list.at(0).fileType, QStringLiteral("pdf"));
        QCOMPARE(list.at(1).name, QStringLiteral("第二篇"));
        QCOMPARE(list.at(1).fileType, QStringLiteral("caj"));
        QCOMPARE(list.at(1).referer, QStringLiteral("http://127.0.0.1:9/items/2"));
        QCOMPARE(list.at(1).folder, folder.path() + u'/');
        QVERIFY(!rig.app->engine().isRunning());

        Rig missing(folder.path() + u'/');
        QVERIFY(!missing.app->startWithDownloadList(folder.filePath("no-such-list.txt")));
        QCOMPARE(missing.prompter.messages().size(), 1);
        QVERIFY(missing.prompter.messages().first().contains(QStringLiteral("no-such-list.txt")));
        QVERIFY(!missing.app->downloadWindow());
        QVERIFY(missing.app->coverWindow()->isVisible());
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestDesktopAppUi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_desktop_app_ui.moc"
