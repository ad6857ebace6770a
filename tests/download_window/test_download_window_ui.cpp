#include "download_rig.h"

#include "download_window/download_window.h"
#include "download_window/save_folder_dialog.h"
#include "download_window/settings_dialog.h"
#include "download_window/url_replace_dialog.h"
#include "engine/app_title.h"
#include "engine/naming.h"
#include "support/files.h"
#include "support/test_site.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <memory>

using namespace lumen;
using namespace lumen::test;

namespace
{
using S = DownloadState;

// Answers the settings dialog as a user would: the real dialog, edited by
// the script and confirmed with its OK button, without a modal loop.
class ScriptedSettingsOpener final : public SettingsDialogOpener
{
public:
    std::function<void(SettingsDialog &)> edit;
    bool pressOk = true;
    int opened = 0;
    SettingsDialogValues shownWith;

    void open(QWidget *owner, const SettingsDialogValues &initial, const Confirm &confirm) override
    {
        ++opened;
        shownWith = initial;
        SettingsDialog dialog(initial, owner);
        QObject::connect(&dialog, &SettingsDialog::confirmed, &dialog, confirm);
        if (edit)
            edit(dialog);
        const char *button = pressOk ? "Command1" : "Command2";
        dialog.findChild<QPushButton *>(QString::fromLatin1(button))->click();
    }
};

// Types the texts into the real replacement dialog and presses "替换";
// remembers whether the dialog closed.
class ScriptedUrlReplaceOpener final : public UrlReplaceOpener
{
public:
    QString find;
    QString replacement;
    int result = -1;

    void open(QWidget *owner, const UrlReplaceDialog::Replace &replace) override
    {
        UrlReplaceDialog dialog(replace, owner);
        dialog.findChild<QLineEdit *>("Text1")->setText(find);
        dialog.findChild<QLineEdit *>("Text2")->setText(replacement);
        dialog.findChild<QPushButton *>("Command1")->click();
        result = dialog.result();
    }
};

struct WindowRig : DownloadRig {
    ScriptedSettingsOpener settingsOpener;
    ScriptedUrlReplaceOpener urlOpener;
    std::unique_ptr<DownloadWindow> window;

    // Settings stored before the window loads go in first.
    void open()
    {
        window = std::make_unique<DownloadWindow>(session, settingsOpener, urlOpener);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    template <typename T> T *child(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        if (!w)
            qWarning("no control named %s", qPrintable(name));
        return w;
    }
    QAction *action(const QString &name) const { return child<QAction>(name); }
    void trigger(const QString &name) const { action(name)->trigger(); }
    QTreeView *view() const { return window->listView(); }
    QPoint rowCentre(int row) const { return view()->visualRect(list.index(row, 0)).center(); }
    void selectRows(const QList<int> &rows)
    {
        view()->clearSelection();
        for (int r : rows)
            view()->selectionModel()->select(list.index(r, 0), QItemSelectionModel::Select |
                                                                   QItemSelectionModel::Rows);
        if (!rows.isEmpty())
            view()->selectionModel()->setCurrentIndex(list.index(rows.last(), 0),
                                                      QItemSelectionModel::NoUpdate);
    }
    void rightClickList()
    {
        const QPoint at(10, 10);
        QContextMenuEvent ev(QContextMenuEvent::Mouse, at, view()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view()->viewport(), &ev);
    }
    QString panel(int n) const
    {
        return child<QLabel>(QStringLiteral("StatusBar1Panel%1").arg(n))->text();
    }
};

// The controls of the download window, by object name, in their order.
const QStringList DownloadWindowControls = {
    "Label7",           "Command26",        "Label8",          "Picture1",  "Option1",
    "Option2",          "Option3",          "Command4",        "Command31", "Command1",
    "Check3",           "Combo4",           "Check4",          "Label4",    "Label1",
    "Label5",           "Combo2",           "Label5Unit",      "Label2",    "Combo1",
    "Shape1",           "Check5",           "Check6",          "ListView3", "StatusBar1Panel1",
    "StatusBar1Panel2", "StatusBar1Panel3", "StatusBar1Panel4"};
const QStringList SettingsDialogControls = {
    "Label1", "Picture3", "Option1",    "Check1",   "Label14", "Text6",
    "Label6", "Label15",  "Text8",      "Label10",  "Option2", "Check2",
    "Label2", "Text1",    "Label2Unit", "Command1", "Command2"};

// Where a control is within its window, cut to what every widget around
// it leaves visible.
QRect visibleRect(const QWidget *w, QRect *whole = nullptr)
{
    const QWidget *window = w->window();
    QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
    if (whole)
        *whole = r;
    for (const QWidget *p = w->parentWidget(); p && p != window; p = p->parentWidget())
        r &= QRect(p->mapTo(window, QPoint(0, 0)), p->size());
    return r & window->rect();
}

// Every control is shown whole inside its window, none lies on another
// (a container and what it holds aside), and those with a text are at
// least as large as their text asks.
void checkReachable(QWidget *window, const QStringList &names)
{
    QList<QWidget *> controls;
    for (const QString &name : names) {
        auto *w = window->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QVERIFY2(w->isVisible(), qPrintable(name));
        QRect whole;
        const QRect seen = visibleRect(w, &whole);
        QVERIFY2(!whole.isEmpty(), qPrintable(name));
        QVERIFY2(seen == whole, qPrintable(QStringLiteral("%1 is cut: %2,%3 %4x%5 of %6x%7")
                                               .arg(name)
                                               .arg(whole.x())
                                               .arg(whole.y())
                                               .arg(whole.width())
                                               .arg(whole.height())
                                               .arg(seen.width())
                                               .arg(seen.height())));
        if (w->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored &&
            !qobject_cast<QAbstractItemView *>(w))
            QVERIFY2(w->width() >= w->minimumSizeHint().width(),
                     qPrintable(QStringLiteral("%1 is %2 px wide of the %3 it needs")
                                    .arg(name)
                                    .arg(w->width())
                                    .arg(w->minimumSizeHint().width())));
        controls << w;
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j) {
            QWidget *a = controls.at(i);
            QWidget *b = controls.at(j);
            if (a->isAncestorOf(b) || b->isAncestorOf(a))
                continue;
            QVERIFY2(!visibleRect(a).intersects(visibleRect(b)),
                     qPrintable(a->objectName() + " lies on " + b->objectName()));
        }
}

// A double-click as the desktop delivers it: a click, then the second press.
void doubleClick(QWidget *w, const QPoint &at)
{
    QTest::mouseClick(w, Qt::LeftButton, {}, at);
    QTest::mouseDClick(w, Qt::LeftButton, {}, at);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// One record of every way a record can end, as the engine leaves it.
struct Ending {
    const char *name;
    DownloadState state;
    Outcome outcome;
    const char *reason;
    const char *percent; // what the percent column shows
    bool problem;
};
const Ending Endings[] = {
    {"document", DownloadState::Finished, Outcome::Document, "", "100%", false},
    {"page", DownloadState::Finished, Outcome::WebPage, "HTTP 200 OK", "100%", true},
    {"exists", DownloadState::Finished, Outcome::SkippedExists, "/d/exists.pdf exists",
     "已存在，跳过", false},
    {"large", DownloadState::Finished, Outcome::SkippedTooLarge,
     "12582912 bytes announced, above the 10 MB limit", "大文件，跳过", true},
    {"locked", DownloadState::Failed, Outcome::CannotReplace, "/d/locked.pdf cannot be replaced",
     "无法替换", true},
    {"refused", DownloadState::Failed, Outcome::Failed, "Connection refused", "", true},
    {"cancelled", DownloadState::Failed, Outcome::Cancelled, "stopped", "下载取消", true},
    {"waiting", DownloadState::Waiting, Outcome::None, "", "", false},
};

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestDownloadWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The maker's pages open only where a product site is set; a local
        // address nobody answers on is enough, since the shell is a fake.
        qputenv("LUMENARC_PRODUCT_SITE", "http://127.0.0.1:9/");
    }
    void opensWithItsControls()
    {
        WindowRig rig;
        rig.add("a");
        rig.open();
        DownloadWindow &w = *rig.window;
        QCOMPARE(w.objectName(), QStringLiteral("fFileDownload"));
        QCOMPARE(w.windowTitle(), QStringLiteral("文件下载-") + ApplicationTitle);
        QCOMPARE(rig.child<QLabel>("Label7")->text(), QStringLiteral("下载方式：2"));
        QComboBox *threads = rig.child<QComboBox>("Combo1");
        QCOMPARE(threads->count(), 6);
        QCOMPARE(threads->currentText(), QStringLiteral("3")); // first run: three connections
        QVERIFY(threads->isEnabled());
        QComboBox *interval = rig.child<QComboBox>("Combo2");
        QCOMPARE(interval->count(), 601);
        QCOMPARE(interval->currentText(), QStringLiteral("0"));
        QCOMPARE(interval->itemText(600), QStringLiteral("600"));
        QCOMPARE(rig.child<QComboBox>("Combo4")->currentText(), QStringLiteral("出错项"));
        QVERIFY(rig.child<QRadioButton>("Option3")->isChecked());
        for (const char *c : {"Check3", "Check4", "Check5", "Check6"})
            QVERIFY(!rig.child<QCheckBox>(c)->isChecked());
        QVERIFY(!rig.child<QWidget>("Shape1")->isVisible());
        QCOMPARE(rig.child<QLabel>("Label1")->text(), QStringLiteral("1条"));
        QVERIFY(w.isMaximized()); // never closed on this screen before

        QCOMPARE(rig.view()->objectName(), QStringLiteral("ListView3"));
        QCOMPARE(rig.view()->model()->columnCount(), 8);
        QStringList headers;
        for (int c = 0; c < 8; ++c)
            headers << rig.view()->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"名称", "类型", "文件大小", "已下载数", "百分比", "保存路径",
                                       "B", "原因"}));
        // The reason column waits to be asked for.
        QVERIFY(rig.view()->isColumnHidden(DownloadList::ReasonColumn));
        for (int c = 0; c < DownloadList::ReasonColumn; ++c)
            QVERIFY(!rig.view()->isColumnHidden(c));
        QCOMPARE(rig.view()->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(rig.view()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QVERIFY(rig.view()->alternatingRowColors());
        QCOMPARE(rig.view()->palette().color(QPalette::Base), QColor(231, 248, 237));

        QCOMPARE(rig.panel(1), DownloadWindow::Slogan);
        QCOMPARE(rig.panel(4), QStringLiteral("总数:1 正在下载:0 等待:1 已完成:0 失败:0\n"
                                              "文献:0 网页:0 跳过:0 出错:0 取消:0"));
        QVERIFY(!rig.action("menu打开网址")->isVisible());
        QVERIFY(!rig.action("menu打开网址")->isEnabled());
    }

    void menuTree()
    {
        WindowRig rig;
        rig.open();
        // Every entry, separators included, in order, by its control name.
        const auto entries = [&](const QString &menuName) {
            QStringList out;
            for (QAction *a : rig.window->findChild<QMenu *>(menuName)->actions())
                out << a->objectName() + (a->isSeparator() ? QString() : "=" + a->text());
            return out;
        };
        QCOMPARE(entries("menu下载"), (QStringList{"menu全选专利列表=全选",
                                                   "menu全不选=全不选",
                                                   "menu随机排序列表=随机排序列表(打乱)",
                                                   "menu自动列宽=自动调整列宽",
                                                   "dgt465",
                                                   "menu重新下载=重新下载",
                                                   "dfgfdg454",
                                                   "menu清除=清除",
                                                   "menu清空=清空",
                                                   "menu删除=删除文件",
                                                   "fght4565",
                                                   "menu下载全部=开始下载",
                                                   "menu停止下载=停止下载",
                                                   "menu取消下载选中项=取消下载选中项",
                                                   "gfhfg456",
                                                   "menu打开下载文件=打开下载文件",
                                                   "menu打开文件所在文件夹=打开所在文件夹",
                                                   "menu用记事本打开文件=用记事本打开文件",
                                                   "fygu8766",
                                                   "menu复制名称=复制名称",
                                                   "menu批量替换网址=批量替换网址",
                                                   "menu打开网址=打开网址",
                                                   "menu导出名称=导出名称",
                                                   "ewe345",
                                                   "menu退出本下载窗口=关闭本下载窗口"}));
        QCOMPARE(entries("menu重新下载"),
                 (QStringList{"menu重新下载选中项=选中项", "menu重新下载出错项=出错项",
                              "menu重新下载文件类型为HTM和HTML项=网页类型文件(HTM/HTML/xml)项",
                              "menu重新下载出错项和网页项=重新下载出错项和网页类型文件项",
                              "menu重新下载文件大小小于指定数字的项=文件大小小于指定数字的项"}));
        QCOMPARE(entries("menu清除"),
                 (QStringList{"menu清除选中项=选中项", "menu清除全部出错项=全部出错项",
                              "menu清除完成项=完成项"}));
        QCOMPARE(entries("menu删除"),
                 (QStringList{"menu删除网页类型文件项=网页类型文件(HTM/HTML/xml)项",
                              "menu删除出错项=出错项"}));
        QCOMPARE(entries("menu导出名称"),
                 (QStringList{"menu导出全部名称=全部", "menu导出未完成项名称=未完成项"}));
        QCOMPARE(entries("menu窗口"), QStringList{"menu资料检索分析窗口=资料检索分析窗口"});
        QCOMPARE(entries("menu工具"),
                 (QStringList{"设置=设置", "menu自动定位到下载项=自动定位到下载项", "dsfwe423",
                              "menu检查文件是否存在=检查文件是否存在",
                              "menu检查并纠正磁盘文件类型=检查并纠正磁盘文件类型", "rtre45365",
                              "menu清空IE浏览器缓存=清空IE浏览器缓存",
                              "menu打开文件判断类型=打开文件判断类型"}));
        QCOMPARE(entries("menu帮助").mid(0, 5),
                 (QStringList{"关于=关于", "ghgf665", "menu软件权限设置方法=软件权限设置方法",
                              "menu微软组件下载安装=微软组件下载安装", "retre6436"}));
        QStringList bar;
        for (QAction *a : rig.window->menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, (QStringList{"列表操作(&D)", "窗口(&W)", "工具(&T)", "帮助(&H)"}));
    }

    void menuEntries_data()
    {
        QTest::addColumn<QString>("entry");
        // Records r0.. by state letter (W, D, F, X); row 1 is current and
        // rows 0 and 1 are selected before the entry is chosen.
        QTest::addColumn<QString>("states");
        QTest::addColumn<QString>("after"); // state letters after, or "-" to skip the check
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("shell");

        const QStringList none;
        QTest::newRow("shuffle") << "menu随机排序列表"
                                 << "W"
                                 << "W" << QStringList{"随机排序完成！"} << none;
        QTest::newRow("re-download selected") << "menu重新下载选中项"
                                              << "XXX"
                                              << "WWX" << none << none;
        QTest::newRow("re-download failed") << "menu重新下载出错项"
                                            << "XFW"
                                            << "WFW" << none << none;
        QTest::newRow("re-download small files")
            << "menu重新下载文件大小小于指定数字的项"
            << "F"
            << "F" << QStringList{"请输入数字（文件大小，单位：字节）："} << none;
        QTest::newRow("remove selected") << "menu清除选中项"
                                         << "WFX"
                                         << "X" << none << none;
        QTest::newRow("remove failed") << "menu清除全部出错项"
                                       << "XWX"
                                       << "W" << none << none;
        QTest::newRow("remove finished") << "menu清除完成项"
                                         << "FWF"
                                         << "W" << none << none;
        QTest::newRow("empty") << "menu清空"
                               << "WF"
                               << "" << QStringList{"您确定要清空列表的所有信息吗？"} << none;
        QTest::newRow("cancel selected") << "menu取消下载选中项"
                                         << "WWW"
                                         << "XXW" << none << none;
        QTest::newRow("open file, missing") << "menu打开下载文件"
                                            << "FF"
                                            << "FF" << QStringList{"该文件不存在！"} << none;
        QTest::newRow("open folder, file missing") << "menu打开文件所在文件夹"
                                                   << "FF"
                                                   << "FF" << none << QStringList{"openFolder"};
        QTest::newRow("text editor, missing") << "menu用记事本打开文件"
                                              << "F"
                                              << "F" << QStringList{"该文件不存在！"} << none;
        QTest::newRow("check files") << "menu检查文件是否存在"
                                     << "F"
                                     << "F" << none << none;
        QTest::newRow("correct types") << "menu检查并纠正磁盘文件类型"
                                       << "F"
                                       << "F" << QStringList{"纠正文件类型：0个."} << none;
        QTest::newRow("identify type") << "menu打开文件判断类型"
                                       << ""
                                       << "" << QStringList{""} << none;
        QTest::newRow("latest version") << "menu最新版本"
                                        << ""
                                        << "" << none << QStringList{"openUrl"};
        QTest::newRow("suggestions") << "menu给软件作者建议"
                                     << ""
                                     << "" << none << QStringList{"openUrl"};
    }
    void menuEntries()
    {
        QFETCH(QString, entry);
        QFETCH(QString, states);
        QFETCH(QString, after);
        WindowRig rig;
        for (int i = 0; i < states.size(); ++i) {
            const QChar c = states.at(i);
            rig.add(QStringLiteral("r%1").arg(i),
                    c == 'F'   ? S::Finished
                    : c == 'X' ? S::Failed
                    : c == 'D' ? S::Downloading
                               : S::Waiting,
                    "pdf", c == 'W' ? QString() : "10");
        }
        rig.open();
        if (states.size() >= 2)
            rig.selectRows({0, 1});
        else if (states.size() == 1)
            rig.selectRows({0});
        // Emptying the list is the one entry that asks; the user confirms.
        if (entry == QStringLiteral("menu清空"))
            rig.prompter.answers.enqueue(Prompter::Answer::Yes);

        rig.trigger(entry);

        QString got;
        for (const DownloadItem &it : rig.list.items())
            got += QChar("?WDFX"[int(it.state)]);
        QCOMPARE(got, after);
        QStringList shown;
        for (const auto &s : rig.prompter.shown)
            shown << s.text;
        QTEST(shown, "shown");
        QStringList kinds;
        for (const QString &r : rig.shell.requests)
            kinds << r.section('\t', 0, 0);
        QTEST(kinds, "shell");
        QCoreApplication::sendPostedEvents(); // the count is told once the change is over
        QCOMPARE(rig.child<QLabel>("Label1")->text(), rig.session.countText());
    }

    void selectAllAndNone()
    {
        WindowRig rig;
        for (int i = 0; i < 3; ++i)
            rig.add(QStringLiteral("r%1").arg(i));
        rig.open();
        rig.trigger("menu全选专利列表");
        QCOMPARE(rig.window->selectedIds().size(), 3);
        rig.trigger("menu全不选");
        QVERIFY(rig.window->selectedIds().isEmpty());
    }

    void startStopAndTheRunningMark()
    {
        WindowRig rig;
        rig.add("a");
        rig.open();
        QWidget *mark = rig.child<QWidget>("Shape1");
        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);
        QVERIFY(rig.engine.isRunning());
        QVERIFY(mark->isVisible());
        QTest::mouseClick(rig.child<QPushButton>("Command31"), Qt::LeftButton);
        QVERIFY(!rig.engine.isRunning());
        QVERIFY(!mark->isVisible());
        rig.trigger("menu下载全部");
        QVERIFY(mark->isVisible());
        rig.trigger("menu停止下载");
        QVERIFY(!mark->isVisible());

        // Stop clears the automatic options, and the boxes show it.
        QCheckBox *autoStart = rig.child<QCheckBox>("Check4");
        autoStart->setChecked(true);
        QVERIFY(rig.engine.autoStart());
        rig.trigger("menu停止下载");
        QVERIFY(!autoStart->isChecked());
    }

    void controlsSetTheEngine()
    {
        WindowRig rig;
        rig.open();
        QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton);
        QCOMPARE(rig.engine.downloadMethod(), DownloadMethod::SingleConnection);
        QCOMPARE(rig.child<QLabel>("Label7")->text(), QStringLiteral("下载方式：1"));
        QCOMPARE(rig.child<QComboBox>("Combo1")->currentText(), QStringLiteral("1"));
        QVERIFY(!rig.child<QComboBox>("Combo1")->isEnabled());
        QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton);
        QVERIFY(rig.child<QComboBox>("Combo1")->isEnabled());
        rig.child<QComboBox>("Combo1")->setCurrentIndex(5);
        QCOMPARE(rig.engine.threadCount(), 6);
        rig.child<QComboBox>("Combo2")->setCurrentIndex(30);
        QCOMPARE(rig.engine.intervalSeconds(), 30);
        rig.child<QRadioButton>("Option1")->click();
        QCOMPARE(rig.engine.sameNamePolicy(), SameNamePolicy::Skip);
        rig.child<QComboBox>("Combo4")->setCurrentIndex(2);
        QCOMPARE(rig.engine.redownloadFilter(),
                 DownloadEngine::RedownloadFilter::FailedAndWebPages);
        rig.child<QCheckBox>("Check5")->setChecked(true);
        QVERIFY(rig.engine.errorStop());
        rig.child<QCheckBox>("Check6")->setChecked(true);
        QVERIFY(rig.engine.soundOn());
        rig.trigger("menu自动定位到下载项");
        QVERIFY(rig.engine.autoLocate());
        rig.trigger("menu自动定位到下载项");
        QVERIFY(!rig.engine.autoLocate());
    }

    void signalsForOtherWindows()
    {
        WindowRig rig;
        rig.open();
        const QList<std::pair<const char *, void (DownloadWindow::*)()>> cases = {
            {"menu资料检索分析窗口", &DownloadWindow::searchWindowRequested},
            {"menu清空IE浏览器缓存", &DownloadWindow::clearBrowserCacheRequested},
            {"关于", &DownloadWindow::aboutRequested},
            {"menu软件权限设置方法", &DownloadWindow::permissionsHelpRequested},
            {"menu微软组件下载安装", &DownloadWindow::componentHelpRequested},
        };
        for (const auto &[name, signal] : cases) {
            QSignalSpy spy(rig.window.get(), signal);
            rig.trigger(QString::fromUtf8(name));
            QCOMPARE(spy.count(), 1);
        }
        QSignalSpy login(rig.window.get(), &DownloadWindow::loginPanelRequested);
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(login.count(), 1);
    }

    void guardsRefuseWhileDownloading_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("message");
        const QString idle = QStringLiteral("停止下载以后，才能执行此操作！");
        QTest::newRow("shuffle") << "menu随机排序列表" << idle;
        QTest::newRow("remove selected") << "menu清除选中项" << idle;
        QTest::newRow("remove failed") << "menu清除全部出错项" << idle;
        QTest::newRow("remove finished") << "menu清除完成项" << idle;
        QTest::newRow("empty") << "menu清空" << idle;
        QTest::newRow("correct types") << "menu检查并纠正磁盘文件类型" << idle;
    }
    void guardsRefuseWhileDownloading()
    {
        QFETCH(QString, entry);
        WindowRig rig;
        rig.add("a", S::Failed, "pdf", "1");
        rig.add("b", S::Finished, "pdf", "1");
        rig.open();
        rig.selectRows({0, 1});
        rig.trigger("menu下载全部");
        rig.trigger(entry);
        QTEST(rig.prompter.messages().join('|'), "message");
        QCOMPARE(rig.list.count(), 2);

        // The header click has its own refusal.
        rig.prompter.shown.clear();
        QHeaderView *header = rig.view()->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(rig.prompter.messages(), QStringList{"停止下载后方可排序！"});
    }

    void rightClickEnabling()
    {
        WindowRig rig;
        rig.add("a");
        rig.open();
        QMenu *menu = rig.window->listMenu();
        const auto states = [&] {
            return QList<bool>{
                rig.action("menu全选专利列表")->isEnabled(),
                rig.window->findChild<QMenu *>("menu清除")->menuAction()->isEnabled(),
                rig.action("menu清空")->isEnabled(), rig.action("menu停止下载")->isEnabled()};
        };
        QCOMPARE(states(), (QList<bool>{true, true, true, true})); // before the first right click
        rig.rightClickList();
        QVERIFY(menu->isVisible());
        menu->hide();
        QCOMPARE(states(), (QList<bool>{true, true, true, false}));

        rig.trigger("menu下载全部");
        rig.rightClickList();
        menu->hide();
        QCOMPARE(states(), (QList<bool>{false, false, false, true}));
        // The states stay when the downloads end, until the next right click.
        rig.trigger("menu停止下载");
        QCOMPARE(states(), (QList<bool>{false, false, false, true}));
        rig.rightClickList();
        menu->hide();
        QCOMPARE(states(), (QList<bool>{true, true, true, false}));
    }

    void doubleClicks()
    {
        WindowRig rig;
        const quint64 done = rig.add("done", S::Finished, "pdf", "9");
        rig.writeStored(done);
        const quint64 gone = rig.add("gone", S::Finished, "pdf", "9");
        const quint64 failed = rig.add("failed", S::Failed, "pdf", "9");
        rig.writeStored(failed, "%PDF-partial");
        rig.open();
        QWidget *vp = rig.view()->viewport();

        doubleClick(vp, rig.rowCentre(0));
        QCOMPARE(rig.shell.requests, QStringList{"openFile\t" + rig.path("done.pdf")});

        doubleClick(vp, rig.rowCentre(1));
        QCOMPARE(rig.prompter.messages(), QStringList{"文件不存在！"});
        QCOMPARE(rig.rec(gone).state, S::Finished);

        doubleClick(vp, rig.rowCentre(2));
        QCOMPARE(rig.rec(failed).state, S::Waiting);
        QVERIFY(percentColumnText(rig.rec(failed)).isEmpty());
        QVERIFY(!QFile::exists(rig.path("failed.pdf")));
        QCOMPARE(rig.view()->model()->data(rig.list.index(2, DownloadList::SizeColumn)),
                 QVariant(QString()));

        // A click shows the file of a record in panel 2 when it exists.
        QTest::mouseClick(vp, Qt::LeftButton, {}, rig.rowCentre(0));
        QCOMPARE(rig.panel(2), rig.path("done.pdf"));
        QTest::mouseClick(vp, Qt::LeftButton, {}, rig.rowCentre(1));
        QCOMPARE(rig.panel(2), QString());
        Q_UNUSED(done);
    }

    void headerClickSortsOnce()
    {
        WindowRig rig;
        for (const char *size : {"900", "10000", "5"})
            rig.add(QStringLiteral("s") + size, S::Finished, "pdf", QString::fromLatin1(size));
        rig.open();
        QHeaderView *header = rig.view()->header();
        const QPoint at(header->sectionViewportPosition(DownloadList::SizeColumn) + 5,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(rig.names(), (QStringList{"s10000", "s900", "s5"}));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(rig.names(), (QStringList{"s5", "s900", "s10000"}));
    }

    void copyNameTakesTheCurrentRecord()
    {
        WindowRig rig;
        for (int i = 0; i < 3; ++i)
            rig.add(QStringLiteral("名称%1").arg(i));
        rig.open();
        rig.selectRows({0, 2, 1}); // three selected, the last one current
        rig.trigger("menu复制名称");
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("名称1"));
    }

    void exportsByteForByte()
    {
        WindowRig rig;
        rig.add("a", S::Finished, "pdf", "1");
        rig.add(QStringLiteral("中文"));
        rig.open();
        const QString all = rig.dir.filePath("all.txt");
        const QString open = rig.dir.filePath("open.txt");
        rig.prompter.texts.enqueue(all);
        rig.trigger("menu导出全部名称");
        rig.prompter.texts.enqueue(open);
        rig.trigger("menu导出未完成项名称");
        QCOMPARE(readAll(all), QByteArray("a\r\n") + QStringLiteral("中文").toUtf8() + "\r\n");
        QCOMPARE(readAll(open), QStringLiteral("中文").toUtf8() + "\r\n");
        QCOMPARE(rig.prompter.messages(), (QStringList{"", ""})); // the two save dialogs only
    }

    // Each way a record ends has its own mark, its tooltip says how it
    // ended and why, the hidden "原因" column carries the reason, the percent
    // column holds its status text whole, and panel 4 counts them apart.
    void everyOutcomeShowsItsMarkReasonAndCount()
    {
        WindowRig rig;
        for (const Ending &e : Endings) {
            const qint64 row = rig.list.append(QStringLiteral("http://127.0.0.1/") + e.name, e.name,
                                               "pdf", rig.folder(), QString());
            rig.list.update(row, [&](DownloadItem &it) {
                it.state = e.state;
                it.outcome = e.outcome;
                it.reason = QString::fromUtf8(e.reason);
                if (QByteArray(e.percent) == "100%")
                    it.size = it.received = 3000;
                // A single connection stopped mid-body says so in the column.
                if (e.outcome == Outcome::Cancelled)
                    it.percentNote = PercentNote::Cancelled;
            });
        }
        rig.open();
        QTreeView *view = rig.view();
        QVERIFY(view->isColumnHidden(DownloadList::ReasonColumn));

        QList<QImage> marks;
        for (int row = 0; row < int(std::size(Endings)); ++row) {
            const Ending &e = Endings[row];
            const QString reason = QString::fromUtf8(e.reason);
            const QModelIndex name = rig.list.index(row, DownloadList::NameColumn);
            const QString tip = view->model()->data(name, Qt::ToolTipRole).toString();
            QVERIFY2(tip.contains(outcomeText(e.outcome)), qPrintable(tip));
            QVERIFY2(reason.isEmpty() || tip.contains(reason), qPrintable(tip));
            QCOMPARE(
                view->model()->data(rig.list.index(row, DownloadList::ReasonColumn)).toString(),
                reason);
            QCOMPARE(
                view->model()->data(rig.list.index(row, DownloadList::PercentColumn)).toString(),
                QString::fromUtf8(e.percent));
            marks << iconImage(rig.window->rowIcon(row));
        }
        // A mark for each way to stand; the page's is not the document's.
        for (int a = 0; a < marks.size(); ++a)
            for (int b = a + 1; b < marks.size(); ++b)
                QVERIFY2(
                    marks.at(a) != marks.at(b),
                    qPrintable(
                        QStringLiteral("%1 looks like %2").arg(Endings[a].name, Endings[b].name)));
        // A record that ended before outcomes were kept looks as its state says.
        const qint64 old = rig.list.append("http://127.0.0.1/old", "old", "pdf", rig.folder(), "");
        rig.list.setState(old, DownloadState::Finished);
        QCOMPARE(iconImage(rig.window->rowIcon(int(old))), marks.at(0));
        rig.list.setState(old, DownloadState::Failed);
        QCOMPARE(iconImage(rig.window->rowIcon(int(old))), marks.at(5));
        rig.list.removeRowsAt({old});

        // The status texts are never cut: the column is as wide as the
        // delegate asks for each of them.
        QStyleOptionViewItem option;
        option.initFrom(view->viewport());
        option.font = view->font();
        for (int row = 2; row <= 6; ++row) {
            const QModelIndex pct = rig.list.index(row, DownloadList::PercentColumn);
            const int needs = view->itemDelegate()->sizeHint(option, pct).width();
            QVERIFY2(needs <= view->columnWidth(DownloadList::PercentColumn),
                     qPrintable(QStringLiteral("%1 needs %2 px of %3")
                                    .arg(pct.data().toString())
                                    .arg(needs)
                                    .arg(view->columnWidth(DownloadList::PercentColumn))));
        }

        rig.engine.monitorTick();
        QCOMPARE(rig.panel(4), QStringLiteral("总数:8 正在下载:0 等待:1 已完成:4 失败:3\n"
                                              "文献:1 网页:1 跳过:2 出错:2 取消:1"));
        const QString countsTip = rig.child<QLabel>(QStringLiteral("StatusBar1Panel4"))->toolTip();
        QVERIFY2(countsTip.contains(QStringLiteral("已存在跳过 1")) &&
                     countsTip.contains(QStringLiteral("大文件跳过 1")) &&
                     countsTip.contains(QStringLiteral("无法替换 1")),
                 qPrintable(countsTip));

        // The reason column comes from the header's menu, and stays for the
        // next opening of the window.
        auto *headerMenu = rig.window->findChild<QMenu *>(QStringLiteral("headerMenu"));
        QVERIFY(headerMenu);
        rig.trigger("menu显示原因列");
        QVERIFY(!view->isColumnHidden(DownloadList::ReasonColumn));
        QVERIFY(rig.session.reasonColumnShown());
        rig.window.reset();
        rig.open();
        QVERIFY(!rig.view()->isColumnHidden(DownloadList::ReasonColumn));
        QVERIFY(rig.action("menu显示原因列")->isChecked());
        rig.trigger("menu显示原因列");
        QVERIFY(rig.view()->isColumnHidden(DownloadList::ReasonColumn));
    }

    // "只显示有问题的项" hides the records that need nothing; every operation
    // on "the selected" reaches only what the user sees, and rows follow
    // their records through changes, appends and sorting.
    void problemsFilter()
    {
        WindowRig rig;
        QList<quint64> ids;
        for (const Ending &e : Endings) {
            const qint64 row = rig.list.append(QStringLiteral("http://127.0.0.1/") + e.name, e.name,
                                               "pdf", rig.folder(), QString());
            rig.list.update(row, [&](DownloadItem &it) {
                it.state = e.state;
                it.outcome = e.outcome;
                it.reason = QString::fromUtf8(e.reason);
            });
            ids << rig.list.at(row).id;
        }
        rig.open();
        const auto shown = [&] {
            QStringList names;
            for (int row = 0; row < rig.list.count(); ++row)
                if (!rig.view()->isRowHidden(row, QModelIndex()))
                    names << rig.list.at(row).name;
            return names;
        };
        const QStringList problems{"page", "large", "locked", "refused", "cancelled"};
        QCOMPARE(shown().size(), int(std::size(Endings)));

        rig.trigger("menu只显示有问题的项");
        QVERIFY(rig.session.problemsOnly());
        QCOMPARE(shown(), problems);

        // Select all takes in the hidden rows too; the operations do not.
        rig.trigger("menu全选专利列表");
        QCOMPARE(rig.window->selectedIds().size(), problems.size());
        rig.view()->setCurrentIndex(rig.list.index(0, 0)); // the hidden document
        QCOMPARE(rig.window->currentId(), quint64(0));
        rig.trigger("menu全选专利列表");
        rig.trigger("menu清除选中项");
        QCOMPARE(rig.names(), (QStringList{"document", "exists", "waiting"}));

        // A record that ends badly comes into view; one that ends well, or
        // comes in, stays out of it.
        rig.list.update(rig.list.rowOfId(ids.last()), [](DownloadItem &it) {
            it.state = DownloadState::Failed;
            it.outcome = Outcome::Failed;
            it.reason = QStringLiteral("HTTP 404 Not Found");
        });
        rig.list.append("http://127.0.0.1/new", "new", "pdf", rig.folder(), QString());
        QCOMPARE(shown(), QStringList{"waiting"});

        // Sorting moves the marks with their records.
        QHeaderView *header = rig.view()->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 5, header->height() / 2));
        QCOMPARE(rig.names(), (QStringList{"waiting", "new", "exists", "document"}));
        QCOMPARE(shown(), QStringList{"waiting"});
        rig.trigger("menu全选专利列表");
        rig.trigger("menu重新下载选中项");
        QCOMPARE(rig.rec(ids.last()).state, DownloadState::Waiting);
        QCOMPARE(rig.rec(ids.at(0)).state, DownloadState::Finished); // hidden: untouched

        // The filter is the session's: a window opened again shows it.
        rig.window.reset();
        rig.open();
        QVERIFY(rig.action("menu只显示有问题的项")->isChecked());
        QCOMPARE(shown(), QStringList{});
        rig.trigger("menu只显示有问题的项");
        QCOMPARE(shown().size(), 4);
    }

    // Closing the window and opening it again over the same engine: every
    // control shows what the engine keeps, and nothing the window shows
    // differs from what the engine does.
    void reopenedWindowShowsWhatTheEngineKeeps()
    {
        WindowRig rig;
        rig.add("a", S::Finished, "pdf", "1");
        rig.open();
        rig.child<QComboBox>("Combo4")->setCurrentIndex(2);
        rig.child<QComboBox>("Combo1")->setCurrentIndex(4);
        rig.child<QCheckBox>("Check5")->setChecked(true);
        rig.child<QCheckBox>("Check6")->setChecked(true);
        rig.child<QRadioButton>("Option2")->click();
        rig.trigger("menu自动定位到下载项");
        QVERIFY(rig.window->close());
        rig.window.reset();

        rig.open();
        QCOMPARE(rig.engine.redownloadFilter(),
                 DownloadEngine::RedownloadFilter::FailedAndWebPages);
        QCOMPARE(rig.child<QComboBox>("Combo4")->currentIndex(),
                 int(rig.engine.redownloadFilter()));
        QCOMPARE(rig.child<QComboBox>("Combo4")->currentText(),
                 QStringLiteral("出错项和文件类型为HTM和HTML项"));
        QCOMPARE(rig.child<QComboBox>("Combo1")->currentText(),
                 QString::number(rig.engine.threadCount()));
        QCOMPARE(rig.engine.threadCount(), 5);
        QCOMPARE(rig.child<QComboBox>("Combo2")->currentIndex(), rig.engine.intervalSeconds());
        QCOMPARE(rig.child<QCheckBox>("Check3")->isChecked(), rig.engine.autoRedownload());
        QCOMPARE(rig.child<QCheckBox>("Check4")->isChecked(), rig.engine.autoStart());
        QVERIFY(rig.child<QCheckBox>("Check5")->isChecked());
        QVERIFY(rig.engine.errorStop());
        QVERIFY(rig.child<QCheckBox>("Check6")->isChecked());
        QVERIFY(rig.engine.soundOn());
        QVERIFY(rig.child<QRadioButton>("Option2")->isChecked());
        QCOMPARE(rig.engine.sameNamePolicy(), SameNamePolicy::Overwrite);
        QCOMPARE(rig.action("menu自动定位到下载项")->isChecked(), rig.engine.autoLocate());
        QVERIFY(rig.engine.autoLocate());

        // What the box shows is what the engine uses: choosing the first
        // item again reaches the engine.
        rig.child<QComboBox>("Combo4")->setCurrentIndex(0);
        QCOMPARE(rig.engine.redownloadFilter(), DownloadEngine::RedownloadFilter::Failed);
    }

    // With auto re-download of web pages, a stored page is fetched again once
    // for the user's request and then stays: no endless loop of fetches,
    // and no run that starts and ends every second with its sound.
    void autoRedownloadFetchesAStoredPageOnce()
    {
        TestSite site;
        QVERIFY(site.start());
        WindowRig rig;
        rig.open();
        const QString url = site.url(QStringLiteral("/items/5.pdf")).toString();
        const quint64 id =
            rig.list.at(rig.list.append(url, "gated", "pdf", rig.folder(), QString())).id;
        rig.child<QCheckBox>("Check6")->setChecked(true);
        rig.engine.setSoundFolders({QStringLiteral(LUMEN_SOURCE_DIR "/sounds")});
        rig.child<QComboBox>("Combo4")->setCurrentIndex(1);
        rig.child<QCheckBox>("Check3")->setChecked(true);
        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);

        const auto fetches = [&] {
            return site.requestLog().filter(QStringLiteral("/items/5.pdf")).size();
        };
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 20000);
        QCOMPARE(rig.rec(id).outcome, Outcome::WebPage);
        QCOMPARE(rig.rec(id).state, S::Finished);
        rig.engine.monitorTick(); // the run ends; the page is taken again
        QCOMPARE(rig.rec(id).state, S::Waiting);
        QVERIFY(rig.engine.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 20000);
        QCOMPARE(rig.rec(id).outcome, Outcome::WebPage);
        QCOMPARE(fetches(), 2);

        const int sounds = rig.sound.played.size();
        for (int tick = 0; tick < 4; ++tick) {
            rig.engine.monitorTick();
            QCOMPARE(rig.rec(id).state, S::Finished);
        }
        QVERIFY(!rig.engine.isRunning());
        QVERIFY(!rig.child<QWidget>("Shape1")->isVisible());
        // The run that ended told it once; no run started and ended since.
        QCOMPARE(rig.sound.played.mid(sounds).filter("102.wav").size(), 1);
        QCOMPARE(fetches(), 2);
        QCOMPARE(rig.rec(id).fileType, QStringLiteral("htm"));

        // Asking again (the box ticked anew) fetches it once more.
        rig.child<QCheckBox>("Check3")->setChecked(false);
        rig.child<QCheckBox>("Check3")->setChecked(true);
        rig.engine.monitorTick();
        QCOMPARE(rig.rec(id).state, S::Waiting);
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 20000);
        QCOMPARE(fetches(), 3);
        rig.engine.stopDownloading();
    }

    // Addresses replaced to a scheme that is never fetched: every record
    // fails at once with the reason, shown in the window; auto-start does
    // not start and end a run over them every second.
    void refusedSchemeFailsWithAReasonAndDoesNotCycle()
    {
        WindowRig rig;
        rig.add("one");
        rig.add("two");
        rig.engine.setSoundFolders({QStringLiteral(LUMEN_SOURCE_DIR "/sounds")});
        rig.open();
        rig.urlOpener.find = "http://";
        rig.urlOpener.replacement = "ftp://";
        rig.trigger("menu批量替换网址");
        QCOMPARE(rig.list.at(0).url, QStringLiteral("ftp://127.0.0.1/items/one"));
        rig.child<QCheckBox>("Check6")->setChecked(true);
        rig.child<QCheckBox>("Check4")->setChecked(true);
        rig.engine.monitorTick(); // auto-start: records wait
        QVERIFY(rig.engine.isRunning());
        QTRY_VERIFY(rig.list.isListFinished());
        for (int row = 0; row < 2; ++row) {
            const DownloadItem &it = rig.list.at(row);
            QCOMPARE(it.state, S::Failed);
            QVERIFY2(!it.reason.isEmpty(), qPrintable(it.name));
            const QString tip =
                rig.view()->model()->data(rig.list.index(row, 0), Qt::ToolTipRole).toString();
            QVERIFY2(tip.contains(it.reason), qPrintable(tip));
        }
        rig.engine.monitorTick(); // the run ends, with its sound
        QVERIFY(!rig.engine.isRunning());
        for (int tick = 0; tick < 4; ++tick) {
            rig.engine.monitorTick();
            QVERIFY(!rig.engine.isRunning());
        }
        QCOMPARE(rig.sound.played.filter("102.wav").size(), 1);
        QVERIFY(rig.child<QCheckBox>("Check4")->isChecked()); // still on, waiting for records
    }

    // "切换" or the settings dialog to method one while method two's slots
    // run: the single connection starts only once every slot is done.
    void methodOneWaitsForTheRunningSlots_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("切换") << true;
        QTest::newRow("settings dialog") << false;
    }
    void methodOneWaitsForTheRunningSlots()
    {
        QFETCH(bool, byButton);
        TestSite site;
        QVERIFY(site.start());
        WindowRig rig;
        rig.open();
        for (int item : {8, 28, 48, 20, 40})
            rig.list.append(site.url(QStringLiteral("/items/%1.pdf").arg(item)).toString(),
                            QStringLiteral("p%1").arg(item), "pdf", rig.folder(), QString());
        rig.child<QComboBox>("Combo1")->setCurrentIndex(2);
        // Whenever a record starts, the kind of start and what else runs.
        QStringList beside;
        connect(&rig.list, &DownloadList::stateChanged, rig.window.get(),
                [&](quint64, DownloadState, DownloadState to) {
                    if (to == S::Downloading &&
                        rig.engine.downloadMethod() == DownloadMethod::SingleConnection &&
                        rig.engine.countSlotInstances() > 1)
                        beside << QStringLiteral("one connection beside %1 slots")
                                      .arg(rig.engine.countSlotInstances() - 1);
                });
        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);
        QTRY_COMPARE(rig.engine.countSlotInstances(), 4);
        if (byButton) {
            QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton);
        } else {
            rig.settingsOpener.edit = [](SettingsDialog &d) {
                d.findChild<QRadioButton *>("Option1")->setChecked(true);
            };
            rig.trigger("设置");
        }
        QCOMPARE(rig.child<QLabel>("Label7")->text(), QStringLiteral("下载方式：1"));
        rig.clock.advanceSeconds(2);
        rig.engine.schedulerTick();
        QVERIFY(!rig.engine.methodOneActive());
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 30000);
        QCOMPARE(beside, QStringList{});
        for (const DownloadItem &it : rig.list.items())
            QCOMPARE(it.outcome, Outcome::Document);
        rig.engine.monitorTick();
        QVERIFY(!rig.engine.isRunning());
    }

    // The other way round: slots switched on while the single connection
    // still streams start only once it is done.
    void methodTwoWaitsForTheSingleConnection()
    {
        TestSite site;
        QVERIFY(site.start());
        WindowRig rig;
        rig.open();
        QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton); // method one
        for (int item : {8, 20, 40})
            rig.list.append(site.url(QStringLiteral("/items/%1.pdf").arg(item)).toString(),
                            QStringLiteral("p%1").arg(item), "pdf", rig.folder(), QString());
        QStringList beside;
        connect(&rig.list, &DownloadList::stateChanged, rig.window.get(),
                [&](quint64, DownloadState, DownloadState to) {
                    if (to == S::Downloading &&
                        rig.engine.downloadMethod() == DownloadMethod::MultiConnection &&
                        rig.engine.methodOneActive())
                        beside << QStringLiteral("a slot beside the single connection");
                });
        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);
        QTRY_VERIFY(rig.engine.methodOneActive());
        QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton);
        rig.child<QComboBox>("Combo1")->setCurrentIndex(2);
        rig.clock.advanceSeconds(2);
        rig.engine.schedulerTick();
        QCOMPARE(rig.engine.countSlotInstances(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 30000);
        QCOMPARE(beside, QStringList{});
        for (const DownloadItem &it : rig.list.items())
            QCOMPARE(it.outcome, Outcome::Document);
    }

    // A run against the local site that ends in every way a record can end,
    // each shown as it ended. With LUMEN_SCREENSHOT_DIR set the window is
    // kept there, wide and at 800×600.
    void aRunWithEveryOutcome()
    {
        TestSite site;
        QVERIFY(site.start());
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            closedPort = probe.serverPort();
        }
        WindowRig rig;
        rig.open();
        // A folder named as a researcher would name it, for the picture.
        QTemporaryDir papers(QDir::tempPath() + QStringLiteral("/papers-XXXXXX"));
        QVERIFY(papers.isValid());
        const QString folder = papers.path() + QLatin1Char('/');
        const auto add = [&](const QString &url, const QString &name) {
            return rig.list.at(rig.list.append(url, name, "pdf", folder, QString())).id;
        };
        const auto item = [&](int id) {
            return site.url(QStringLiteral("/items/%1.pdf").arg(id)).toString();
        };
        const quint64 paper = add(item(20), QStringLiteral("Deep-sea vents and early life"));
        const quint64 page = add(item(5), QStringLiteral("Glacier retreat 1990-2020"));
        const quint64 exists = add(item(40), QStringLiteral("Soil carbon in alpine meadows"));
        const quint64 large = add(item(7), QStringLiteral("Atlas of coastal erosion (scans)"));
        const quint64 server = add(item(6), QStringLiteral("River deltas under sea-level rise"));
        const quint64 offline =
            add(QStringLiteral("http://127.0.0.1:%1/items/3.pdf").arg(closedPort),
                QStringLiteral("Lichen growth rates"));
        const quint64 stalled = add(item(9), QStringLiteral("Permafrost methane survey"));
        DownloadRig::writeBytes(folder + QStringLiteral("Soil carbon in alpine meadows.pdf"),
                                "%PDF-1.4 kept");
        rig.child<QRadioButton>("Option1")->click(); // skip files that are there
        rig.child<QComboBox>("Combo1")->setCurrentIndex(5);
        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.statusCounts().waiting == 0 &&
                                     rig.list.statusCounts().downloading == 1 &&
                                     rig.rec(stalled).state == S::Downloading,
                                 30000);
        QTest::mouseClick(rig.child<QPushButton>("Command31"), Qt::LeftButton);
        rig.engine.monitorTick();

        QCOMPARE(rig.rec(paper).outcome, Outcome::Document);
        QCOMPARE(rig.rec(page).outcome, Outcome::WebPage);
        QCOMPARE(rig.rec(page).state, S::Finished);
        QCOMPARE(rig.rec(exists).outcome, Outcome::SkippedExists);
        QCOMPARE(readAll(folder + "Soil carbon in alpine meadows.pdf"),
                 QByteArray("%PDF-1.4 kept"));
        QCOMPARE(rig.rec(large).outcome, Outcome::SkippedTooLarge);
        QVERIFY2(rig.rec(server).reason.contains(QStringLiteral("500")),
                 qPrintable(rig.rec(server).reason));
        QCOMPARE(rig.rec(offline).outcome, Outcome::Failed);
        QVERIFY2(rig.rec(offline).reason.contains(QStringLiteral("refused"), Qt::CaseInsensitive),
                 qPrintable(rig.rec(offline).reason));
        QCOMPARE(rig.rec(stalled).outcome, Outcome::Cancelled);
        for (quint64 id : {page, exists, large, server, offline, stalled})
            QVERIFY2(!rig.rec(id).reason.isEmpty(), qPrintable(rig.rec(id).name));
        const StatusCounts c = rig.list.statusCounts();
        QCOMPARE(c.documents, 1);
        QCOMPARE(c.skippedExists + c.skippedTooLarge, 2);
        QCOMPARE(c.cancelled, 1);
        QVERIFY(rig.panel(4).endsWith(QStringLiteral("文献:1 网页:%1 跳过:2 出错:%2 取消:1")
                                          .arg(c.webPages)
                                          .arg(c.failures + c.cannotReplace)));

        rig.trigger("menu显示原因列");
        QStringList stoppedControls = DownloadWindowControls;
        stoppedControls.removeAll(QStringLiteral("Shape1")); // shown only while running
        const QString shots = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
        rig.window->showNormal();
        for (const QSize &size : {QSize(1600, 1000), QSize(800, 600)}) {
            rig.window->resize(size);
            QTRY_COMPARE(rig.window->size(), size);
            checkReachable(rig.window.get(), stoppedControls);
            if (!shots.isEmpty())
                QVERIFY(rig.window->grab().save(
                    shots + (size.width() == 1600 ? QStringLiteral("/download-outcomes.png")
                                                  : QStringLiteral("/download-outcomes-800.png"))));
        }
    }

    void settingsDialogOkOrder_data()
    {
        QTest::addColumn<bool>("fromMethodOne");
        QTest::addColumn<bool>("methodTwo");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("threadBox");
        QTest::addColumn<bool>("threadBoxEnabled");
        QTest::addColumn<double>("sizeUsed");
        QTest::newRow("method two kept keeps the box's number")
            << false << true << "3128"
            << "20" << QStringList{} << "5" << true << 20.0;
        QTest::newRow("a change to method two resets the box to 1")
            << true << true << "3128"
            << "20" << QStringList{} << "1" << true << 20.0;
        QTest::newRow("method one keeps the box's number")
            << false << false << "3128"
            << "20" << QStringList{} << "5" << false << 20.0;
        QTest::newRow("port not a number is stored and reported")
            << false << true << "80a"
            << "20" << QStringList{"代理服务器网址或者端口格式不对！"} << "5" << true << 20.0;
        QTest::newRow("size not a number keeps the old size")
            << false << true << "3128"
            << "viel" << QStringList{"文件大小必须是数字，仍按原来的10MB限制下载。"} << "5" << true
            << 10.0;
        QTest::newRow("size below zero keeps the size in use")
            << false << true << "3128"
            << "-5" << QStringList{"文件大小不能小于0，仍按原来的10MB限制下载。"} << "5" << true
            << 10.0;
    }
    void settingsDialogOkOrder()
    {
        QFETCH(bool, fromMethodOne);
        QFETCH(bool, methodTwo);
        QFETCH(QString, port);
        QFETCH(QString, size);
        QFETCH(double, sizeUsed);
        WindowRig rig;
        rig.open();
        if (fromMethodOne)
            QTest::mouseClick(rig.child<QPushButton>("Command26"), Qt::LeftButton);
        rig.child<QComboBox>("Combo1")->setCurrentIndex(4);
        rig.settingsOpener.edit = [&](SettingsDialog &d) {
            QCOMPARE(d.objectName(), QStringLiteral("fOption"));
            QCOMPARE(d.findChild<QRadioButton *>("Option2")->isChecked(), !fromMethodOne);
            QCOMPARE(d.findChild<QLineEdit *>("Text1")->text(), QStringLiteral("10"));
            d.findChild<QRadioButton *>(methodTwo ? "Option2" : "Option1")->setChecked(true);
            d.findChild<QCheckBox *>("Check1")->setChecked(true);
            d.findChild<QLineEdit *>("Text6")->setText(" 127.0.0.1 ");
            d.findChild<QLineEdit *>("Text8")->setText(port);
            d.findChild<QLineEdit *>("Text1")->setText(size);
        };
        rig.trigger("设置");
        QCOMPARE(rig.settingsOpener.opened, 1);
        QTEST(rig.prompter.messages(), "messages");
        QTEST(rig.child<QComboBox>("Combo1")->currentText(), "threadBox");
        QTEST(rig.child<QComboBox>("Combo1")->isEnabled(), "threadBoxEnabled");
        QCOMPARE(rig.child<QComboBox>("Combo1")->currentText(),
                 QString::number(rig.engine.threadCount()));
        QCOMPARE(rig.child<QLabel>("Label7")->text(),
                 QStringLiteral("下载方式：") + (methodTwo ? "2" : "1"));
        QCOMPARE(rig.store.read(setting::ProxyAddress), QStringLiteral("127.0.0.1"));
        QCOMPARE(rig.store.read(setting::ProxyPort), port);
        QCOMPARE(rig.store.read(setting::ProxyEnabled), QStringLiteral("1"));
        QCOMPARE(rig.engine.maxFileSizeMB(), sizeUsed);
        // What the dialog shows next time is the limit in use.
        rig.settingsOpener.edit = nullptr;
        rig.settingsOpener.pressOk = false;
        rig.trigger("设置");
        QCOMPARE(rig.settingsOpener.shownWith.maxFileSizeText, numberSettingText(sizeUsed));
    }

    // A limit below zero stored by an earlier version is not shown as if it
    // held: the dialog shows the limit the downloads use.
    void settingsDialogShowsTheLimitInUse()
    {
        WindowRig rig;
        rig.store.write(setting::MaxFileSizeMB, QStringLiteral("-5"));
        rig.open();
        QCOMPARE(rig.engine.maxFileSizeMB(), 10.0);
        rig.settingsOpener.pressOk = false;
        rig.trigger("设置");
        QCOMPARE(rig.settingsOpener.shownWith.maxFileSizeText, QStringLiteral("10"));
    }

    void settingsDialogCloseChangesNothing()
    {
        WindowRig rig;
        rig.open();
        rig.settingsOpener.pressOk = false;
        rig.settingsOpener.edit = [](SettingsDialog &d) {
            d.findChild<QRadioButton *>("Option1")->setChecked(true);
            d.findChild<QLineEdit *>("Text1")->setText("99");
        };
        rig.trigger("设置");
        QCOMPARE(rig.engine.downloadMethod(), DownloadMethod::MultiConnection);
        QCOMPARE(rig.store.read(setting::DownloadMethod.section, setting::DownloadMethod.key,
                                "<absent>"),
                 QStringLiteral("<absent>"));
        QCOMPARE(
            rig.store.read(setting::MaxFileSizeMB.section, setting::MaxFileSizeMB.key, "<absent>"),
            QStringLiteral("<absent>"));
    }

    void urlReplacement()
    {
        WindowRig rig;
        rig.list.append("http://h/a/1", "one", "pdf", rig.folder(), "http://h/A/");
        rig.list.append("http://h/b/1", "two", "pdf", rig.folder(), "");
        rig.open();

        // A clash is refused as a whole and the dialog stays open.
        rig.urlOpener.find = "/b/";
        rig.urlOpener.replacement = "/a/";
        rig.trigger("menu批量替换网址");
        QCOMPARE(rig.urlOpener.result, int(QDialog::Rejected));
        QCOMPARE(rig.list.at(1).url, QStringLiteral("http://h/b/1"));
        QVERIFY(rig.lastMessage().contains("http://h/a/1"));

        rig.urlOpener.find = "h/a";
        rig.urlOpener.replacement = "127.0.0.1/x";
        rig.trigger("menu批量替换网址");
        QCOMPARE(rig.urlOpener.result, int(QDialog::Accepted));
        QCOMPARE(rig.list.at(0).url, QStringLiteral("http://127.0.0.1/x/1"));
        QCOMPARE(rig.list.at(0).referer, QStringLiteral("http://127.0.0.1/x/"));
        QCOMPARE(rig.lastMessage(), QStringLiteral("全部网址替换完成！"));

        rig.urlOpener.find = "  ";
        rig.trigger("menu批量替换网址");
        QCOMPARE(rig.urlOpener.result, int(QDialog::Rejected));
        QCOMPARE(rig.lastMessage(), QStringLiteral("请输入字符串！"));
    }

    void closeQuestion_data()
    {
        QTest::addColumn<bool>("waiting");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<bool>("closes");
        QTest::newRow("nothing unfinished") << false << false << true;
        QTest::newRow("waiting, no") << true << false << false;
        QTest::newRow("waiting, yes") << true << true << true;
    }
    void closeQuestion()
    {
        QFETCH(bool, waiting);
        QFETCH(bool, answerYes);
        QFETCH(bool, closes);
        WindowRig rig;
        rig.add("a", waiting ? S::Waiting : S::Finished, "pdf", waiting ? QString() : "1");
        rig.open();
        QSignalSpy closed(rig.window.get(), &DownloadWindow::closed);
        rig.prompter.answers.enqueue(answerYes ? Prompter::Answer::Yes : Prompter::Answer::No);
        rig.trigger("menu退出本下载窗口");
        QCOMPARE(closed.count(), closes ? 1 : 0);
        QCOMPARE(rig.window->isVisible(), !closes);
        QCOMPARE(rig.prompter.messages(),
                 waiting ? QStringList{"正在下载文件或者下载没有完成，要强制关闭窗口吗？"}
                         : QStringList{});
        QCOMPARE(rig.store.read(setting::SameNamePolicy), QStringLiteral("重命名"));
        QCOMPARE(rig.store.read(QStringLiteral("fFileDownload"), setting::ResolutionKey, "-"),
                 closes ? QStringLiteral("0*0") : "-"); // closed maximised
    }

    void geometryComesBack()
    {
        WindowRig rig;
        rig.open();
        rig.window->showNormal();
        rig.window->setGeometry(40, 60, 900, 600);
        QVERIFY(rig.window->close());
        const QString top = rig.store.read(QStringLiteral("fFileDownload"), setting::TopKey, "-");
        QCOMPARE(top, QString::number(rig.window->normalGeometry().top() * 15));

        DownloadWindow again(rig.session, rig.settingsOpener, rig.urlOpener);
        QVERIFY(!again.isMaximized());
        QCOMPARE(again.geometry().size(), QSize(900, 600));
    }

    // From 800×600 up every control can be reached, with the counters of
    // a five-digit list read whole. With LUMEN_SCREENSHOT_DIR set, the
    // window at 800×600 is kept there.
    void everyControlReachable_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("800x600") << QSize(800, 600);
        QTest::newRow("1000x700") << QSize(1000, 700);
        QTest::newRow("1600x900") << QSize(1600, 900);
    }
    void everyControlReachable()
    {
        QFETCH(QSize, size);
        WindowRig rig;
        const S states[] = {S::Finished, S::Failed, S::Waiting, S::Finished};
        for (int i = 0; i < 12000; ++i) {
            const S state = states[i % 4];
            rig.add(QStringLiteral("paper-%1").arg(i + 1, 5, 10, QLatin1Char('0')), state, "pdf",
                    state == S::Finished ? QString::number(180000 + 37 * i) : QString());
        }
        rig.open();
        rig.window->showNormal();
        rig.window->resize(size);
        QTRY_COMPARE(rig.window->size(), size);
        rig.engine.startDownloading(); // the running mark shows
        QVERIFY(rig.child<QWidget>("Shape1")->isVisible());
        QCOMPARE(rig.panel(4),
                 QStringLiteral("总数:12000 正在下载:0 等待:3000 已完成:6000 失败:3000\n"
                                "文献:6000 网页:0 跳过:0 出错:3000 取消:0"));
        checkReachable(rig.window.get(), DownloadWindowControls);

        QMenuBar *bar = rig.window->menuBar();
        for (QAction *menu : bar->actions())
            QVERIFY2(bar->rect().contains(bar->actionGeometry(menu)), qPrintable(menu->text()));

        const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
        if (!folder.isEmpty() && size == QSize(800, 600)) {
            rig.view()->setCurrentIndex(rig.list.index(1, 0));
            QVERIFY(rig.window->grab().save(folder + "/download-window-800.png"));
        }
        rig.engine.stopDownloading();
    }

    // The settings dialog at its least size and at 800×600.
    void settingsDialogReachable()
    {
        SettingsDialogValues values;
        values.downloadMethod = DownloadMethod::SingleConnection;
        values.proxyEnabled = true;
        values.proxyAddress = QStringLiteral("proxy.lab.net");
        values.proxyPort = QStringLiteral("3128");
        values.maxFileSizeText = QStringLiteral("10");
        SettingsDialog dialog(values);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // The designed size is the least it takes.
        QCOMPARE(dialog.minimumSize(), QSize(9400 / 15, 4500 / 15));
        dialog.resize(1, 1);
        QTRY_VERIFY(dialog.width() < 800 && dialog.height() < 600);
        checkReachable(&dialog, SettingsDialogControls);
        dialog.resize(800, 600);
        QTRY_COMPARE(dialog.size(), QSize(800, 600));
        checkReachable(&dialog, SettingsDialogControls);
        const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(dialog.grab().save(folder + "/settings-dialog-800.png"));
    }

    // The login panel lies over the list wherever the window puts the list,
    // says when it is shown or hidden, and goes with the window.
    void loginPanelLiesOverTheList()
    {
        WindowRig rig;
        rig.add("a");
        rig.open();
        DownloadWindow &w = *rig.window;
        w.showNormal();
        w.resize(900, 600);
        QPointer<QWidget> panel = new QWidget;
        panel->setObjectName(QStringLiteral("PicWebBK"));
        w.setLoginPanel(panel);
        QCOMPARE(w.loginPanel(), panel.data());
        QCOMPARE(panel->window(), &w);
        QVERIFY(panel->isHidden());
        QVERIFY(!w.isLoginPanelShown());

        QSignalSpy shown(&w, &DownloadWindow::loginPanelShownChanged);
        const auto inWindow = [&w](const QWidget *c) {
            return QRect(c->mapTo(&w, QPoint(0, 0)), c->size());
        };
        panel->show();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.last().at(0).toBool(), true);
        QVERIFY(w.isLoginPanelShown());
        QTRY_COMPARE(inWindow(panel), inWindow(rig.view()));
        QVERIFY(rig.view()->height() > 100);
        w.resize(1200, 800);
        QTRY_COMPARE(w.size(), QSize(1200, 800));
        QTRY_COMPARE(inWindow(panel), inWindow(rig.view()));
        QVERIFY(visibleRect(panel) == inWindow(panel));

        // The window's own hiding is not the panel's.
        w.hide();
        w.show();
        QCOMPARE(shown.size(), 1);
        QTest::mouseClick(panel, Qt::LeftButton); // the panel, not the list, takes the click
        QCOMPARE(rig.view()->selectionModel()->selectedRows().size(), 0);

        w.showLoginTitle(QStringLiteral("登录 - 图书馆"));
        QCOMPARE(rig.panel(3), QStringLiteral("登录 - 图书馆"));

        panel->hide();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last().at(0).toBool(), false);
        panel->show();
        // Destroyed while shown: the panel goes with it.
        rig.window.reset();
        QVERIFY(!panel);
    }

    // The dialog over its session: a folder under "~" is made in the home
    // folder, a relative one is refused and the dialog stays.
    void saveFolderDialogReadsTheHomeFolder()
    {
        QTemporaryDir root;
        const QByteArray oldHome = qgetenv("HOME");
        const QString oldWorking = QDir::currentPath();
        QDir(root.path()).mkpath("home");
        QDir(root.path()).mkpath("work");
        qputenv("HOME", root.filePath("home").toUtf8());
        QDir::setCurrent(root.filePath("work"));
        const auto restore = qScopeGuard([&] {
            QDir::setCurrent(oldWorking);
            qputenv("HOME", oldHome);
        });
        FolderHistoryLocation where{root.filePath("app"), root.filePath("user")};
        QDir(root.path()).mkpath("app");
        SettingsStore store(root.filePath("settings.ini"));
        FakePrompter prompter;
        AppSettings settings;
        const auto type = [](SaveFolderDialog &dialog, const QString &text) {
            auto *edit = dialog.findChild<QComboBox *>("Combo1")->lineEdit();
            edit->clear();
            QTest::keyClicks(edit, text);
        };

        SaveFolderDialog refusing(settings, store, prompter, where);
        QSignalSpy refused(&refusing, &QDialog::accepted);
        type(refusing, "papers");
        QTest::mouseClick(refusing.findChild<QPushButton *>("Command2"), Qt::LeftButton);
        QCOMPARE(refused.size(), 0);
        QCOMPARE(prompter.messages(), QStringList{SaveFolderSession::FullPathMessage});
        QCOMPARE(QDir(root.filePath("work")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{});
        QVERIFY(!QFile::exists(where.writePath()));

        SaveFolderDialog dialog(settings, store, prompter, where);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        type(dialog, "~/papers");
        QTest::mouseClick(dialog.findChild<QPushButton *>("Command2"), Qt::LeftButton);
        QCOMPARE(accepted.size(), 1);
        const QString papers = root.filePath("home/papers/");
        QVERIFY(QFileInfo(papers).isDir());
        QCOMPARE(settings.saveFolder, papers);
        QCOMPARE(dialog.findChild<QComboBox *>("Combo1")->currentText(), papers);
        QCOMPARE(readFile(where.writePath()), (papers + "\r\n").toUtf8());
        QCOMPARE(QDir(root.filePath("work")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{});
    }

    // After the type check renamed a stored page, the record's stored file is
    // the renamed one: a re-download removes it instead of leaving both the
    // page and the new document side by side.
    void correctedTypeIsTheFileARedownloadReplaces()
    {
        WindowRig rig;
        const quint64 id =
            rig.add(QStringLiteral("x"), S::Finished, QStringLiteral("pdf"), QStringLiteral("30"));
        rig.writeStored(id, "<html><body>sign in</body></html>");
        rig.open();

        rig.trigger("menu检查并纠正磁盘文件类型");
        QCOMPARE(rig.lastMessage(), QStringLiteral("纠正文件类型：1个."));
        QCOMPARE(rig.rec(id).fileType, QStringLiteral("htm"));
        QVERIFY(QFile::exists(rig.path("x.htm")));
        QCOMPARE(rig.rec(id).storedPath, rig.path("x.htm"));
        // It was never the document: it counts and looks as the page it is.
        QCOMPARE(rig.rec(id).outcome, Outcome::WebPage);
        QVERIFY(
            rig.view()->model()->data(rig.list.index(0, 0), DownloadList::ProblemRole).toBool());

        rig.selectRows({0});
        rig.trigger("menu重新下载选中项");
        QCOMPARE(rig.rec(id).state, S::Waiting);
        QVERIFY(!QFile::exists(rig.path("x.htm")));
        QVERIFY(!QFile::exists(rig.path("x.pdf")));
    }

    void downloadsFromTheRepositorySite()
    {
        TestSite site;
        QVERIFY(site.start());
        WindowRig rig;
        rig.open();
        const auto add = [&](int id, const QString &name) {
            return rig.list
                .at(rig.list.append(site.url(QStringLiteral("/items/%1.pdf").arg(id)).toString(),
                                    name, "pdf", rig.folder(), QString()))
                .id;
        };
        const quint64 pdf = add(20, "paper");
        const quint64 login = add(5, "gated");
        const quint64 slow = add(8, "slow");
        rig.child<QComboBox>("Combo1")->setCurrentIndex(2);
        rig.child<QCheckBox>("Check6")->setChecked(true);
        rig.engine.setSoundFolders({QStringLiteral(LUMEN_SOURCE_DIR "/sounds")});

        QTest::mouseClick(rig.child<QPushButton>("Command4"), Qt::LeftButton);
        QVERIFY(rig.child<QWidget>("Shape1")->isVisible());
        rig.clock.advanceSeconds(2);
        rig.engine.schedulerTick(); // three slots, three downloads
        QCOMPARE(rig.rec(slow).state, S::Downloading);

        // Progress shows in the list while the slow one comes in.
        const QModelIndex pct =
            rig.list.index(int(rig.list.rowOfId(slow)), DownloadList::PercentColumn);
        QTRY_VERIFY_WITH_TIMEOUT(
            !pct.data().toString().isEmpty() && pct.data().toString() != "100%", 10000);
        // With LUMEN_SCREENSHOT set, the window as it looks mid-download.
        if (const QString shot = qEnvironmentVariable("LUMEN_SCREENSHOT"); !shot.isEmpty()) {
            rig.window->showNormal();
            rig.window->resize(1560, 720);
            rig.engine.monitorTick();
            QVERIFY(rig.window->grab().save(shot));
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 20000);
        rig.engine.monitorTick();
        QVERIFY(!rig.child<QWidget>("Shape1")->isVisible());
        // Two documents, and the sign-in page that came instead of the third.
        QCOMPARE(rig.panel(4), QStringLiteral("总数:3 正在下载:0 等待:0 已完成:3 失败:0\n"
                                              "文献:2 网页:1 跳过:0 出错:0 取消:0"));

        QCOMPARE(rig.rec(pdf).state, S::Finished);
        QCOMPARE(readAll(rig.path("paper.pdf")).left(5), QByteArray("%PDF-"));
        QCOMPARE(percentColumnText(rig.rec(slow)), QStringLiteral("100%"));
        // The login page came back under the PDF's name and was renamed.
        QCOMPARE(rig.rec(login).fileType, QStringLiteral("htm"));
        QVERIFY(QFile::exists(rig.path("gated.htm")));
        QVERIFY(!QFile::exists(rig.path("gated.pdf")));
        QCOMPARE(QDir(rig.folder()).entryList({"*.part"}, QDir::Files), QStringList{});
        QVERIFY(rig.sound.played.contains(QStringLiteral(LUMEN_SOURCE_DIR "/sounds/101.wav")));
        QVERIFY(rig.sound.played.contains(QStringLiteral(LUMEN_SOURCE_DIR "/sounds/102.wav")));

        // Web pages again: the page goes, the record waits with a type to be found.
        rig.trigger("menu重新下载文件类型为HTM和HTML项");
        QCOMPARE(rig.rec(login).state, S::Waiting);
        QCOMPARE(rig.rec(login).fileType, QStringLiteral("xxx"));
        QVERIFY(!QFile::exists(rig.path("gated.htm")));
        QCOMPARE(rig.rec(pdf).state, S::Finished);

        rig.trigger("menu下载全部");
        rig.clock.advanceSeconds(2);
        rig.engine.schedulerTick();
        QTRY_VERIFY_WITH_TIMEOUT(rig.list.isListFinished(), 20000);
        QCOMPARE(rig.rec(login).state, S::Finished);
        QCOMPARE(rig.rec(login).fileType, QStringLiteral("htm")); // still a login page
        QVERIFY(QFile::exists(rig.path("gated.htm")));
    }
};

QTEST_MAIN(TestDownloadWindow)
#include "test_download_window_ui.moc"
