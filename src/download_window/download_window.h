#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QIcon;
class QLabel;
class QMenu;
class QPushButton;
class QTreeView;
class QWidget;

namespace lumen
{

class DownloadSession;
class SettingsDialogOpener;
class UrlReplaceOpener;

// fFileDownload, the download window: the download list with the controls
// of the engine above it, its menus and a status bar. It is a view over a
// DownloadSession and the session's engine: every control is bound to a
// session command or an engine option, and the window decides nothing
// itself beyond layout and enabling.
//
// Requests for other windows (the search window, the about and help
// windows, the browser cache tool, the login panel) are signals for the
// application to wire; the window never opens another one itself.
class DownloadWindow : public QMainWindow
{
    Q_OBJECT
public:
    static const QString Caption; // 文件下载
    static const QString Slogan;  // status bar panel 1

    // Loads at once: caption, the engine's options from the stored
    // settings, the boxes, and where to show the window.
    DownloadWindow(DownloadSession &session, SettingsDialogOpener &settingsDialog,
                   UrlReplaceOpener &urlReplace, QWidget *parent = nullptr);
    ~DownloadWindow() override;

    DownloadSession &session() const { return m_session; }
    QTreeView *listView() const { return m_list; }
    // The "列表操作(&D)" menu, which is also the list's right-click menu.
    QMenu *listMenu() const { return m_listMenu; }

    // Ids of the selected records, top to bottom, and of the current one
    // (0 when there is none).
    QList<quint64> selectedIds() const;
    quint64 currentId() const;
    // The picture at the start of the row: the record's state, and how it
    // ended once it has.
    QIcon rowIcon(int row) const;

    // The login panel (PicWebBK): the window takes it over as its own child,
    // hidden until it is shown, and lays it exactly over the list, where it
    // stays however the window is resized; it goes with the window. Its
    // owner shows and hides it; the window only tells when that happens.
    // A second panel replaces the first.
    void setLoginPanel(QWidget *panel);
    QWidget *loginPanel() const;
    bool isLoginPanelShown() const;

public slots:
    // Status bar panel 3, which the login browser's page titles share with
    // the single connection's state.
    void showLoginTitle(const QString &title);

signals:
    void searchWindowRequested();      // 资料检索分析窗口
    void clearBrowserCacheRequested(); // 清空IE浏览器缓存
    void aboutRequested();             // 关于
    void permissionsHelpRequested();   // 软件权限设置方法
    void componentHelpRequested();     // 微软组件下载安装
    void loginPanelRequested();        // 网页登录
    // The login panel was shown or hidden.
    void loginPanelShownChanged(bool shown);
    // After the window agreed to close (the application shows the start-up
    // window again when the search window is not open).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPanel(QWidget *central);
    void buildList(QWidget *central);
    void buildMenus();
    void buildStatusBar();
    void bindEngine();
    void load();
    void readSessionState();
    void showReasonColumn(bool shown);
    // Shows or hides rows first..last as the problems filter says.
    void filterRows(int first, int last);
    void showContextMenu(const QPoint &pos);
    void applyContextMenuState();
    void fitColumnWidths();
    QAction *addAction(QMenu *menu, const QString &name, const QString &caption,
                       const std::function<void()> &run);
    void addSeparator(QMenu *menu, const QString &name);
    QMenu *addMenu(QMenu *parent, const QString &name, const QString &caption);

    DownloadSession &m_session;
    SettingsDialogOpener &m_settingsDialog;
    UrlReplaceOpener &m_urlReplace;

    QWidget *m_central = nullptr;
    QWidget *m_panel = nullptr;
    QWidget *m_listArea = nullptr;
    QGridLayout *m_listAreaLayout = nullptr;
    QPointer<QWidget> m_loginPanel;
    QLabel *m_background = nullptr;
    QLabel *m_methodLabel = nullptr;
    QLabel *m_countLabel = nullptr;
    QLabel *m_runningMark = nullptr;
    QButtonGroup *m_sameName = nullptr;
    QComboBox *m_threads = nullptr;
    QComboBox *m_interval = nullptr;
    QComboBox *m_redownloadFilter = nullptr;
    QCheckBox *m_autoRedownload = nullptr;
    QCheckBox *m_autoStart = nullptr;
    QCheckBox *m_errorStop = nullptr;
    QCheckBox *m_sound = nullptr;
    QTreeView *m_list = nullptr;
    QMenu *m_listMenu = nullptr;
    QAction *m_selectAll = nullptr;
    QMenu *m_removeMenu = nullptr;
    QAction *m_empty = nullptr;
    QAction *m_stop = nullptr;
    QAction *m_startAll = nullptr;
    QAction *m_autoLocate = nullptr;
    QMenu *m_headerMenu = nullptr;
    QAction *m_showReason = nullptr;
    QAction *m_problemsOnly = nullptr;
    bool m_rowsHidden = false; // some rows may be hidden by the filter
    QLabel *m_panels[4] = {};
    bool m_closing = false;
};

} // namespace lumen
