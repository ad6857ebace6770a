#pragma once

#include <QMainWindow>
#include <QPointer>

class QCheckBox;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QTreeView;
class QWebEngineView;

namespace lumen
{

class HarvestSession;
class SettingsStore;
class Shell;
class WebEngineBrowser;

// The search window (fWebSearch): the repository in the embedded browser
// above, the harvest list with its commands below. A view over the
// HarvestSession it is given: each control calls a session command, each
// state the session announces shows in a control. Requests for other
// windows leave as signals.
class SearchWindow : public QMainWindow
{
    Q_OBJECT
public:
    static const QString Caption; // Lumenarc网页分析-澜图软件

    // Every size is kept at least this large (in pixels).
    static constexpr int MinimumWidth = 600;
    static constexpr int MinimumHeight = 334;
    // The list keeps at least this much of the height below the bar.
    static constexpr int ListReserve = 80;

    // The session, the browser it drives, the shell and the settings must
    // outlive the window. Loading reads the save-folder setting and shows a
    // blank page; the repository's home page follows once the window shows.
    SearchWindow(HarvestSession &session, WebEngineBrowser &browser, Shell &shell,
                 const SettingsStore &settings, QWidget *parent = nullptr);
    ~SearchWindow() override;

    // Where the bar between browser and list goes after a layout: a top
    // outside the browser panel or too close to the bottom goes back to
    // four fifths of the height.
    static int settledBarTop(int top, int height);

    HarvestSession &session() { return m_session; }

signals:
    // "打开下载窗口".
    void downloadWindowRequested();
    // The closed window leaves the start-up window to come back.
    void startupWindowRequested();
    void settingsRequested();          // 设置
    void browserCacheRequested();      // 查看IE浏览器缓存
    void clearBrowserCacheRequested(); // 清空IE浏览器缓存
    void aboutRequested();             // 关于
    void usageRequested();             // 软件使用方法

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildMenus();
    void buildList(QWidget *panel);
    void bindSession();
    void settleBar();
    void centreProgressPanel();
    QList<quint64> selectedIds() const;
    void fitColumns();
    void showAnalysisMenu();

    HarvestSession &m_session;
    Shell &m_shell;
    bool m_started = false;

    QWebEngineView *m_view = nullptr;
    QSplitter *m_splitter = nullptr;
    QWidget *m_listPanel = nullptr;
    QTreeView *m_list = nullptr;
    QLabel *m_count = nullptr;
    QPushButton *m_harvestPage = nullptr;
    QPushButton *m_addAll = nullptr;
    QPushButton *m_analyse = nullptr;
    QPushButton *m_export = nullptr;
    QCheckBox *m_automatic = nullptr;
    QCheckBox *m_silent = nullptr;
    QFrame *m_progress = nullptr;
    QLabel *m_statusText = nullptr;
    QLabel *m_walkStatus = nullptr;
    QMenu *m_analysisMenu = nullptr;
    QMenu *m_clearMenu = nullptr;
};

} // namespace lumen
