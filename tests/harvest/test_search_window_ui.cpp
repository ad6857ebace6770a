// The search window over the real web engine and the local repository
// site, driven by its controls: the start page, harvesting one page and all
// pages with the stop, the analysis pop-up, the close guard, export and page
// source, the open-address rule, links that ask for a new window, the bar's
// limits; and the save-folder dialog with its history file. The settle waits
// are passed by moving a fake clock; only page loads take real time.

#include "download_window/save_folder_dialog.h"
#include "engine/download_list.h"
#include "harvest/harvest_session.h"
#include "harvest/login_panel_window.h"
#include "harvest/search_window.h"
#include "harvest/site_login.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_save_folder_chooser.h"
#include "support/fake_shell.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QWebEnginePage>

#include <functional>
#include <memory>

using namespace lumen;
using namespace lumen::test;

namespace
{

// A search window over real parts and fakes at the seams.
struct Rig {
    WebEngineProfile profile;
    WebEngineBrowser browser{&profile};
    AppSettings settings;
    FakePrompter prompter;
    FakeSaveFolderChooser chooser;
    FakeClock clock;
    FakeShell shell;
    DownloadList downloads;
    SettingsStore store;
    HarvestSession session{
        browser, settings, prompter, chooser, [this]() -> DownloadList & { return downloads; },
        clock};
    std::unique_ptr<SearchWindow> window;

    Rig(const QString &folder) : profile(folder + "/profile"), store(folder + "/settings.ini")
    {
        store.write(setting::PromptForSaveFolder, QStringLiteral("0"));
        window = std::make_unique<SearchWindow>(session, browser, shell, store);
        window->show();
    }

    template <typename T> T *find(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    QAction *action(const QString &name) const { return find<QAction>(name); }

    bool load(const QUrl &url)
    {
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.navigate(url);
        return complete.wait(30000);
    }

    // Presses "加入全部到列表" and lets the walk run: each settle wait is
    // passed by the clock once the next page has loaded, or handed to
    // onSettle. False when the walk did not end.
    bool walk(const std::function<void()> &onSettle = {})
    {
        SearchHarvester &h = session.harvester();
        bool navigated = false;
        bool settling = false;
        const auto a =
            QObject::connect(&h, &SearchHarvester::navigatingTo, [&] { navigated = true; });
        const auto b = QObject::connect(&browser, &Browser::documentComplete, [&] {
            settling = navigated;
            navigated = false;
        });
        QSignalSpy finished(&h, &SearchHarvester::addAllFinished);
        QTest::mouseClick(find<QPushButton>("Command4"), Qt::LeftButton);
        QDeadlineTimer deadline(120000);
        while (finished.isEmpty() && !deadline.hasExpired()) {
            if (settling) {
                settling = false;
                if (onSettle) {
                    onSettle();
                } else {
                    clock.advanceMs(SearchHarvester::SettleMs);
                    h.tick();
                }
            }
            QTest::qWait(10);
        }
        QObject::disconnect(a);
        QObject::disconnect(b);
        return !finished.isEmpty();
    }
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

} // namespace

class TestSearchWindowUi : public QObject
{
    Q_OBJECT

    TestSite m_site;
    QTemporaryDir m_dir;
    int m_rigs = 0;

    std::unique_ptr<Rig> makeRig()
    {
        const QString folder = m_dir.filePath(QString::number(++m_rigs));
        QDir().mkpath(folder);
        return std::make_unique<Rig>(folder);
    }

    QUrl search(const QString &query) const { return m_site.url("/search?" + query); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start());
        qputenv("LUMENARC_REPOSITORY", m_site.baseUrl().toString().toUtf8());
    }

    void cleanupTestCase() { qunsetenv("LUMENARC_REPOSITORY"); }

    // Load: caption, the blank page, then the repository's home page in
    // silent mode; the count, the hidden pop-up menu and the status bar.
    void startsOnTheHomePage()
    {
        auto rig = makeRig();
        QCOMPARE(rig->window->windowTitle(), QStringLiteral("Lumenarc网页分析-澜图软件"));
        QTRY_COMPARE_WITH_TIMEOUT(rig->browser.currentUrl(), m_site.baseUrl(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->browser.isBusy(), 30000);
        QVERIFY(rig->browser.isSilent());
        QVERIFY(rig->find<QCheckBox>("Check2")->isChecked());
        QCOMPARE(rig->settings.promptForSaveFolder, false); // read from the settings
        QCOMPARE(rig->find<QLabel>("Label1")->text(), QStringLiteral("0"));
        QCOMPARE(rig->find<QLabel>("StatusPanel1")->text(), QStringLiteral("澜图软件"));
        // The analysis menu is no entry of the menu bar.
        QMenu *analysis = rig->find<QMenu>(QStringLiteral("menu加入"));
        QVERIFY(analysis);
        QVERIFY(!rig->window->menuBar()->actions().contains(analysis->menuAction()));
        QCOMPARE(rig->window->menuBar()->actions().size(), 4);
        QCOMPARE(rig->find<QTreeView>("ListView1")->alternatingRowColors(), true);
    }

    // "加入本页到列表" over a results page; the same page again adds nothing.
    void addThisPage()
    {
        auto rig = makeRig();
        QTRY_VERIFY_WITH_TIMEOUT(
            rig->browser.currentUrl() == m_site.baseUrl() && !rig->browser.isBusy(), 30000);
        QVERIFY(rig->load(search("q=demo&rows=20")));
        QSignalSpy harvested(&rig->session.harvester(), &SearchHarvester::pageHarvested);
        QTest::mouseClick(rig->find<QPushButton>("Command9"), Qt::LeftButton);
        QVERIFY(harvested.wait(30000));
        QCOMPARE(rig->session.list().count(), 20);
        QCOMPARE(rig->find<QLabel>("Label1")->text(), QStringLiteral("20"));
        QTest::mouseClick(rig->find<QPushButton>("Command9"), Qt::LeftButton);
        QVERIFY(harvested.wait(30000));
        QCOMPARE(rig->session.list().count(), 20);
        QCOMPARE(rig->session.list().at(0).fileType, QStringLiteral("pdf"));
        QVERIFY(rig->session.list().at(0).fullTextLink.endsWith(".pdf"));
    }

    // "加入全部到列表" walks the three pages of the whole corpus; pressed
    // again while it runs it stops, keeping what it had. While it runs the
    // window refuses to close.
    void addAllAndStop()
    {
        auto rig = makeRig();
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig->browser.isBusy() && rig->browser.currentUrl() == m_site.baseUrl(), 30000);
        QVERIFY(rig->load(search("q=*&rows=100")));
        auto *button = rig->find<QPushButton>("Command4");
        QCOMPARE(button->text(), SearchHarvester::AddAllCaption);
        QVERIFY(rig->walk());
        QCOMPARE(rig->session.list().count(), testsite::DefaultItemCount);
        QCOMPARE(rig->session.harvester().pagesWalked(), 3);
        QCOMPARE(button->text(), SearchHarvester::AddAllCaption);
        QCOMPARE(rig->find<QLabel>("Label1")->text(), QString::number(testsite::DefaultItemCount));

        // Again from the first page, stopped in the first settle wait.
        rig->session.list().clear();
        QVERIFY(rig->load(search("q=*&rows=100")));
        QSignalSpy startup(rig->window.get(), &SearchWindow::startupWindowRequested);
        int settles = 0;
        QVERIFY(rig->walk([&] {
            ++settles;
            QCOMPARE(button->text(), SearchHarvester::StopAddCaption);
            QVERIFY(!button->styleSheet().isEmpty()); // red while running
            QVERIFY(!rig->window->close());
            QCOMPARE(rig->prompter.messages().last(), HarvestSession::WorkingMessage);
            QVERIFY(rig->window->isVisible());
            QTest::mouseClick(button, Qt::LeftButton);
        }));
        QCOMPARE(settles, 1);
        QCOMPARE(rig->session.list().count(), 200);
        QCOMPARE(button->text(), SearchHarvester::AddAllCaption);
        QVERIFY(button->styleSheet().isEmpty());
        QCOMPARE(startup.size(), 0);
        // The status bar says why it ended; the user's own stop needs no box.
        auto *walkStatus = rig->find<QLabel>("StatusPanel3");
        QVERIFY(walkStatus->text().startsWith(QStringLiteral("已停止加入全部")));
        const qsizetype boxes = rig->prompter.messages().size();

        // Page 1 again, add all: its first pages are in the list already,
        // and the walk still goes through to the last page.
        QVERIFY(rig->load(search("q=*")));
        QVERIFY(rig->walk());
        QCOMPARE(rig->session.list().count(), testsite::DefaultItemCount);
        QCOMPARE(rig->session.harvester().walkEnd(), SearchHarvester::WalkEnd::LastPage);
        QCOMPARE(rig->find<QLabel>("Label1")->text(), QString::number(testsite::DefaultItemCount));
        QVERIFY(walkStatus->text().startsWith(QStringLiteral("加入全部完成")));
        QCOMPARE(rig->prompter.messages().size(), boxes);

        // A window opened again over the same session counts the list's rows.
        rig->window.reset();
        rig->window =
            std::make_unique<SearchWindow>(rig->session, rig->browser, rig->shell, rig->store);
        rig->window->show();
        QCOMPARE(rig->find<QLabel>("Label1")->text(), QString::number(testsite::DefaultItemCount));
        QCOMPARE(rig->find<QLabel>("StatusPanel3")->text(), rig->session.walkStatus());
        button = rig->find<QPushButton>("Command4");
        QSignalSpy startupAgain(rig->window.get(), &SearchWindow::startupWindowRequested);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->browser.isBusy(), 30000);
        // Idle again: the close goes ahead and the start-up window comes back.
        QVERIFY(rig->window->close());
        QCOMPARE(startupAgain.size(), 1);
    }

    // "分析下载": an empty list says so; no selection analyses all at once;
    // with a selection the pop-up offers the four commands.
    void analysisPopup_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("states");
        QTest::addColumn<int>("handedOn");
        // Rows start "", 成功, "", 分析失败; rows 2 and 3 are selected.
        QTest::newRow("unanalysed")
            << "menu分析未分析项" << QStringList{"成功", "成功", "成功", "分析失败"} << 2;
        QTest::newRow("failed") << "menu加入分析失败项" << QStringList{"", "成功", "", "成功"} << 1;
        QTest::newRow("selected") << "menu选中加入" << QStringList{"", "成功", "成功", "分析失败"}
                                  << 2;
        QTest::newRow("all") << "menu全部加入" << QStringList{"成功", "成功", "成功", "成功"} << 4;
    }

    void analysisPopup()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, states);
        QFETCH(int, handedOn);
        auto rig = makeRig();
        rig->settings.promptForSaveFolder = true; // no dialog at analysis
        auto *analyse = rig->find<QPushButton>("Command2");
        QTest::mouseClick(analyse, Qt::LeftButton);
        QCOMPARE(rig->prompter.messages(), QStringList{HarvestAnalysis::EmptyListMessage});

        HarvestList &list = rig->session.list();
        const QStringList start{"", "成功", "", "分析失败"};
        for (int i = 0; i < start.size(); ++i) {
            list.add(QStringLiteral("T%1").arg(i),
                     m_site.url(QStringLiteral("/items/%1.pdf").arg(i + 1)).toString(),
                     search("q=demo").toString(), "pdf", QString(), HarvestText::SourceSearch);
            list.setState(i, start.at(i));
        }
        auto *view = rig->find<QTreeView>("ListView1");
        view->selectionModel()->select(
            QItemSelection(list.index(1, 0), list.index(2, list.columnCount() - 1)),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        auto *menu = rig->find<QMenu>(QStringLiteral("menu加入"));
        QTest::mouseClick(analyse, Qt::LeftButton);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(analyse->isEnabled()); // the window stays live under the menu
        QVERIFY(rig->session.analysis().isIdle());
        rig->action(action)->trigger();
        menu->hide();
        QTRY_VERIFY(rig->session.analysis().isIdle());
        QStringList now;
        for (const HarvestItem &it : list.items())
            now << it.state;
        QCOMPARE(now, states);
        QCOMPARE(rig->downloads.count(), qint64(handedOn));

        // Nothing selected: every row at once, no menu.
        view->clearSelection();
        QTest::mouseClick(analyse, Qt::LeftButton);
        QVERIFY(!menu->isVisible());
        QTRY_VERIFY(rig->session.analysis().isIdle());
        for (const HarvestItem &it : list.items())
            QCOMPARE(it.state, HarvestText::Succeeded);
    }

    // The export and the page source, byte for byte.
    void exportAndPageSource()
    {
        auto rig = makeRig();
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig->browser.isBusy() && rig->browser.currentUrl() == m_site.baseUrl(), 30000);
        QVERIFY(rig->load(search("q=demo&rows=20")));
        QSignalSpy harvested(&rig->session.harvester(), &SearchHarvester::pageHarvested);
        QTest::mouseClick(rig->find<QPushButton>("Command9"), Qt::LeftButton);
        QVERIFY(harvested.wait(30000));
        rig->session.list().setState(0, HarvestText::Succeeded);

        QByteArray expected;
        for (const HarvestItem &it : rig->session.list().items())
            expected += (it.title + "-【pdf】" + it.state + "\r\n").toUtf8();
        const QString exported = m_dir.filePath("export.txt");
        rig->prompter.texts.enqueue(exported);
        QTest::mouseClick(rig->find<QPushButton>("Command7"), Qt::LeftButton);
        QCOMPARE(readFile(exported), expected);
        QCOMPARE(rig->prompter.messages().last(),
                 "保存文件完毕：" + HarvestSession::kilobytesText(expected.size()) + "KB");

        // The page source is the engine's own serialisation of the document.
        QString own;
        rig->browser.page()->runJavaScript("document.documentElement.outerHTML", 0,
                                           [&own](const QVariant &v) { own = v.toString(); });
        QTRY_VERIFY(!own.isEmpty());
        QSignalSpy saved(&rig->session, &HarvestSession::pageSourceSaved);
        rig->prompter.texts.enqueue(m_dir.filePath("source"));
        rig->action(QStringLiteral("menu源码另存为"))->trigger();
        QVERIFY(saved.wait(30000));
        QCOMPARE(readFile(m_dir.filePath("source.htm")), own.toUtf8());
        QVERIFY(own.contains("c-clientmarkup"));
    }

    // "打开指定网址...": https in any case switches silent mode off, any
    // other address switches it on; a bare host opens as http.
    void openAddressSilentRule()
    {
        auto rig = makeRig();
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig->browser.isBusy() && rig->browser.currentUrl() == m_site.baseUrl(), 30000);
        auto *silent = rig->find<QCheckBox>("Check2");
        // A loopback https address that answers nothing still changes the mode.
        rig->prompter.texts.enqueue(QStringLiteral(" HTTPS://127.0.0.1:1/x "));
        rig->action(QStringLiteral("menu打开指定网址"))->trigger();
        QVERIFY(!silent->isChecked());
        QVERIFY(!rig->browser.isSilent());

        const QString bare = QStringLiteral("127.0.0.1:%1/about").arg(m_site.port());
        rig->prompter.texts.enqueue(bare);
        rig->action(QStringLiteral("menu打开指定网址"))->trigger();
        QVERIFY(silent->isChecked());
        QVERIFY(rig->browser.isSilent());
        QTRY_COMPARE_WITH_TIMEOUT(rig->browser.currentUrl(), m_site.url("/about"), 30000);

        // The box itself switches the mode too.
        QTest::mouseClick(silent, Qt::LeftButton);
        QVERIFY(!rig->browser.isSilent());
    }

    // A link with a new-window target opens in the same view; back returns,
    // forward goes again; a page script cannot close the window.
    void newWindowLinksStayInTheView()
    {
        auto rig = makeRig();
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig->browser.isBusy() && rig->browser.currentUrl() == m_site.baseUrl(), 30000);
        const QUrl target = m_site.url("/about");
        const QUrl page(QStringLiteral("data:text/html,<a id=x target=_blank href='%1'>x</a>"
                                       "<script>window.close()</script>")
                            .arg(target.toString()));
        QVERIFY(rig->load(page));
        const int windows = QApplication::topLevelWidgets().size();
        QSignalSpy complete(&rig->browser, &Browser::documentComplete);
        rig->browser.clickElementById("x");
        QVERIFY(complete.wait(30000));
        QCOMPARE(rig->browser.currentUrl(), target);
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        QVERIFY(rig->window->isVisible());

        rig->action(QStringLiteral("menu后退"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rig->browser.currentUrl(), page, 30000);
        rig->action(QStringLiteral("menu前进"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(rig->browser.currentUrl(), target, 30000);
    }

    // The help menu's pages go to the desktop, built from the product site.
    void makerPagesThroughTheShell()
    {
        qputenv("LUMENARC_PRODUCT_SITE", m_site.baseUrl().toString().toUtf8());
        auto rig = makeRig();
        rig->action(QStringLiteral("menu作者网站澜图软件"))->trigger();
        rig->action(QStringLiteral("menu最新版本"))->trigger();
        rig->action(QStringLiteral("menu软件定制"))->trigger();
        rig->action(QStringLiteral("menu给软件作者建议"))->trigger();
        qunsetenv("LUMENARC_PRODUCT_SITE");
        QCOMPARE(rig->shell.requests.size(), 4);
        QCOMPARE(rig->shell.requests.at(0), "openUrl\t" + m_site.baseUrl().toString());
        QCOMPARE(rig->shell.requests.at(1), "openUrl\t" + m_site.url("/lumenarc/").toString());
        QCOMPARE(rig->shell.requests.at(2), "openUrl\t" + m_site.url("/softmake.htm").toString());
        QVERIFY(rig->shell.requests.at(3).startsWith("composeMail\t"));

        QSignalSpy download(rig->window.get(), &SearchWindow::downloadWindowRequested);
        rig->action(QStringLiteral("menu打开下载窗口"))->trigger();
        QCOMPARE(download.size(), 1);
    }

    // The bar between browser and list: too low or outside the browser
    // panel, it goes back to four fifths of the height; dragged down, it
    // leaves the list room; the window keeps its least size.
    void barLimits()
    {
        auto rig = makeRig();
        rig->window->resize(300, 200);
        QCOMPARE(rig->window->size(),
                 QSize(SearchWindow::MinimumWidth, SearchWindow::MinimumHeight));
        QCOMPARE(SearchWindow::settledBarTop(521, 600), 480);
        QCOMPARE(SearchWindow::settledBarTop(520, 600), 520);
        QCOMPARE(SearchWindow::settledBarTop(300, 600), 300);
        QCOMPARE(SearchWindow::settledBarTop(-1, 600), 480);

        rig->window->resize(900, 700);
        QTRY_COMPARE(rig->window->height(), 700);
        auto *splitter = rig->find<QSplitter>("splitter");
        QVERIFY(splitter->handle(1)->objectName() == QStringLiteral("PicBar"));
        const int h = splitter->height();
        splitter->setSizes({h - 10, 5});
        rig->window->resize(900, 710);
        QTRY_COMPARE(rig->window->height(), 710);
        // Dragged to the bottom, the bar still leaves the list its room.
        QVERIFY(splitter->sizes().at(0) <= splitter->height() - SearchWindow::ListReserve);
        QVERIFY(splitter->sizes().at(0) > splitter->height() / 2);
    }

    // The save-folder dialog with its history file.
    void saveFolderDialog()
    {
        QTemporaryDir app, user, target;
        FolderHistoryLocation where{app.path(), user.path()};
        const QString history = where.writePath();
        SettingsStore store(target.filePath("settings.ini"));
        FakePrompter prompter;
        AppSettings settings;

        // First use: no file, the default folder, an empty list; cancel
        // keeps the default and says so.
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            auto *combo = dialog.findChild<QComboBox *>("Combo1");
            QCOMPARE(combo->count(), 0);
            QCOMPARE(combo->currentText(), defaultSaveFolder());
            QVERIFY(dialog.findChild<QRadioButton *>("Option2")->isChecked());
            QVERIFY(dialog.testAttribute(Qt::WA_DeleteOnClose) == false);
            QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
            QTest::mouseClick(dialog.findChild<QPushButton *>("Command3"), Qt::LeftButton);
            QVERIFY(settings.saveFolderDialogCancelled);
            QCOMPARE(settings.saveFolder, defaultSaveFolder());
            QVERIFY(!QFile::exists(history));
        }

        // Blank lines, case repeats and spaces go; the rest keeps its order.
        const QString a = target.filePath("a/"), b = target.filePath("b/");
        writeFile(history, (a + "\r\n\r\n  " + a.toUpper() + "\r\n" + b + "\r\n").toUtf8());
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            QCOMPARE(dialog.folders(), (QStringList{a, b}));
            // A typed folder that does not exist is made; OK appends it even
            // when listed, and the name option is kept.
            auto *combo = dialog.findChild<QComboBox *>("Combo1");
            combo->setEditText(target.filePath("new/sub"));
            dialog.findChild<QRadioButton *>("Option1")->setChecked(true);
            QTest::mouseClick(dialog.findChild<QPushButton *>("Command2"), Qt::LeftButton);
            QVERIFY(QFileInfo(target.filePath("new/sub")).isDir());
            QCOMPARE(settings.saveFolder, target.filePath("new/sub/"));
            QVERIFY(!settings.saveFolderDialogCancelled);
            QVERIFY(settings.useSourceFileName);
            QCOMPARE(store.read(setting::SaveFolder.section, setting::SaveFolder.key, QString()),
                     target.filePath("new/sub/"));
        }
        QCOMPARE(readFile(history),
                 (a + "\r\n" + b + "\r\n" + target.filePath("new/sub/") + "\r\n").toUtf8());
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            QVERIFY(dialog.findChild<QRadioButton *>("Option1")->isChecked());
            dialog.findChild<QComboBox *>("Combo1")->setEditText(a);
            dialog.accept();
        }
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            QCOMPARE(dialog.folders(), (QStringList{a, b, target.filePath("new/sub/")}));
        }
        QCOMPARE(readFile(history).count(a.toUtf8()), 2);

        // A hundred lines are read; the hundred-and-first is not.
        QByteArray hundred;
        for (int i = 0; i < 100; ++i)
            hundred += target.filePath(QStringLiteral("f%1/").arg(i)).toUtf8() + "\r\n";
        writeFile(history, hundred + b.toUtf8() + "\r\n");
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            QCOMPARE(dialog.folders().size(), 100);
            QVERIFY(!dialog.folders().contains(b));
        }

        // A folder that cannot be made: the dialog stays and says so.
        writeFile(target.filePath("file"), "x");
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            QSignalSpy accepted(&dialog, &QDialog::accepted);
            dialog.findChild<QComboBox *>("Combo1")->setEditText(target.filePath("file/sub"));
            const QString before = settings.saveFolder;
            dialog.accept();
            QCOMPARE(accepted.size(), 0);
            QCOMPARE(prompter.messages().last(), SaveFolderDialog::FolderErrorMessage);
            QCOMPARE(settings.saveFolder, before);
        }

        // "...": the picker starts at the folder holding the text's last
        // piece; a cancelled picker leaves the text.
        {
            SaveFolderDialog dialog(settings, store, prompter, where);
            auto *combo = dialog.findChild<QComboBox *>("Combo1");
            combo->setEditText(target.filePath("a/file.pdf"));
            QDir().mkpath(a);
            prompter.texts.enqueue(target.filePath("b"));
            QTest::mouseClick(dialog.findChild<QPushButton *>("Command1"), Qt::LeftButton);
            QCOMPARE(prompter.shown.last().kind, QStringLiteral("folder"));
            QCOMPARE(prompter.shown.last().text, a);
            QCOMPARE(prompter.shown.last().title, SaveFolderDialog::BrowsePrompt);
            QCOMPARE(combo->currentText(), b);
            combo->setEditText(QStringLiteral("/no/such/place/"));
            QTest::mouseClick(dialog.findChild<QPushButton *>("Command1"), Qt::LeftButton);
            QCOMPARE(prompter.shown.last().text, QDir::rootPath());
            QCOMPARE(combo->currentText(), QStringLiteral("/no/such/place/"));
        }

        // An empty list is one empty line, which loads as an empty list.
        QVERIFY(SaveFolderHistory({}, history));
        QCOMPARE(readFile(history), QByteArray("\r\n"));
        SaveFolderDialog empty(settings, store, prompter, where);
        QCOMPARE(empty.folders(), QStringList());
    }

    // Pictures of the search window with a harvested list and of the login
    // panel; kept where LUMEN_SCREENSHOT_DIR points (run under a real
    // display server for the browser's content), else only checked.
    void screenshots()
    {
        const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR", m_dir.path());
        auto rig = makeRig();
        rig->window->resize(1280, 860);
        auto *splitter = rig->find<QSplitter>("splitter");
        splitter->setSizes({splitter->height() / 2, splitter->height() / 2});
        QTRY_VERIFY_WITH_TIMEOUT(
            !rig->browser.isBusy() && rig->browser.currentUrl() == m_site.baseUrl(), 30000);
        QVERIFY(rig->load(search("q=demo&rows=20")));
        QSignalSpy harvested(&rig->session.harvester(), &SearchHarvester::pageHarvested);
        QTest::mouseClick(rig->find<QPushButton>("Command9"), Qt::LeftButton);
        QVERIFY(harvested.wait(30000));
        for (int i = 0; i < 5; ++i)
            rig->session.list().setState(i, HarvestText::Succeeded);
        QTest::qWait(1500); // let the engine paint the page
        const QImage window = rig->window->grab().toImage();
        QVERIFY(!window.isNull());
        QVERIFY(window.save(QDir(folder).filePath("search-window.png")));

        WebEngineBrowser loginBrowser(&rig->profile);
        SiteLogin login(loginBrowser, rig->prompter, rig->clock);
        QWidget host;
        host.resize(1000, 640);
        auto *panel = new LoginPanel(login, loginBrowser, &host);
        panel->setGeometry(0, 0, 1000, 640);
        host.show();
        panel->findChild<QLineEdit *>("Text1")->setText(m_site.url("/login").toString());
        panel->findChild<QLineEdit *>("Text2")->setText("reader");
        panel->findChild<QLineEdit *>("Text3")->setText("secret");
        QSignalSpy complete(&loginBrowser, &Browser::documentComplete);
        panel->open(m_site.url("/login"));
        QVERIFY(complete.wait(30000));
        QTest::qWait(1500);
        const QImage image = host.grab().toImage();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(QDir(folder).filePath("login-panel.png")));
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestSearchWindowUi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_search_window_ui.moc"
