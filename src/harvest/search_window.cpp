#include "harvest/search_window.h"

#include "harvest/harvest_session.h"
#include "harvest/web_engine_browser.h"
#include "settings/product_site.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace lumen
{

const QString SearchWindow::Caption = QStringLiteral("Lumenarc网页分析-澜图软件");

namespace
{

template <typename W> W *named(W *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

QAction *addNamedAction(QMenu *menu, const QString &name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

} // namespace

SearchWindow::SearchWindow(HarvestSession &session, WebEngineBrowser &browser, Shell &shell,
                           const SettingsStore &settings, QWidget *parent)
    : QMainWindow(parent), m_session(session), m_shell(shell)
{
    setObjectName(QStringLiteral("fWebSearch"));
    setWindowTitle(Caption);
    setMinimumSize(MinimumWidth, MinimumHeight);
    resize(1000, 700);

    // Browser panel above the bar, list panel below it.
    auto *webPanel = named(new QWidget, QStringLiteral("PicPanWeb"));
    m_view = named(new QWebEngineView(webPanel), QStringLiteral("WebBrowser1"));
    m_view->setPage(browser.page());
    auto *webLayout = new QVBoxLayout(webPanel);
    webLayout->setContentsMargins(0, 0, 0, 0);
    webLayout->addWidget(m_view);

    m_listPanel = named(new QWidget, QStringLiteral("PicPanList"));
    buildList(m_listPanel);

    m_splitter = named(new QSplitter(Qt::Vertical, this), QStringLiteral("splitter"));
    m_splitter->addWidget(webPanel);
    m_splitter->addWidget(m_listPanel);
    m_splitter->setChildrenCollapsible(false);
    // The bar moves on release, where the layout rules then apply.
    m_splitter->setOpaqueResize(false);
    m_splitter->setHandleWidth(5);
    m_splitter->handle(1)->setObjectName(QStringLiteral("PicBar"));
    setCentralWidget(m_splitter);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { settleBar(); });

    auto *status = named(new QStatusBar(this), QStringLiteral("StatusBar1"));
    auto *slogan = named(new QLabel(QStringLiteral("澜图软件")), QStringLiteral("StatusPanel1"));
    m_statusText = named(new QLabel, QStringLiteral("StatusPanel2"));
    // Why the last add-all walk ended, or what it is doing.
    m_walkStatus = named(new QLabel, QStringLiteral("StatusPanel3"));
    status->addWidget(slogan);
    status->addWidget(m_statusText, 1);
    status->addPermanentWidget(m_walkStatus);
    setStatusBar(status);

    buildMenus();
    bindSession();

    m_session.windowLoaded(settings);
    m_splitter->setSizes({height() * 4 / 5, height() / 5});
}

SearchWindow::~SearchWindow() = default;

void SearchWindow::buildList(QWidget *panel)
{
    // The list may have outlived an earlier window: the count is its own.
    m_count = named(new QLabel(m_session.list().countText()), QStringLiteral("Label1"));
    m_harvestPage =
        named(new QPushButton(QStringLiteral("加入本页到列表")), QStringLiteral("Command9"));
    m_addAll =
        named(new QPushButton(m_session.harvester().addAllCaption()), QStringLiteral("Command4"));
    m_analyse = named(new QPushButton(QStringLiteral("分析下载")), QStringLiteral("Command2"));
    m_export = named(new QPushButton(QStringLiteral("导出数据...")), QStringLiteral("Command7"));
    m_automatic =
        named(new QCheckBox(QStringLiteral("自动分析下载未分析项")), QStringLiteral("Check1"));
    m_silent = named(new QCheckBox(QStringLiteral("禁止弹出脚本提示")), QStringLiteral("Check2"));

    auto *row = new QHBoxLayout;
    row->addWidget(named(new QLabel(QStringLiteral("待下载列表：")), QStringLiteral("Label2")));
    row->addWidget(m_count);
    row->addStretch();
    row->addWidget(m_automatic);
    row->addWidget(m_silent);
    row->addWidget(m_harvestPage);
    row->addWidget(m_addAll);
    row->addWidget(m_analyse);
    row->addWidget(m_export);

    m_list = named(new QTreeView, QStringLiteral("ListView1"));
    m_list->setModel(&m_session.list());
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true); // fifty thousand rows stay quick
    m_list->setAlternatingRowColors(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->header()->setStretchLastSection(false);

    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(row);
    layout->addWidget(m_list, 1);

    // The analysis progress floats over the middle of the list.
    m_progress = named(new QFrame(panel), QStringLiteral("PicPanPrograss"));
    m_progress->setFrameShape(QFrame::Box);
    m_progress->setAutoFillBackground(true);
    auto *progressLayout = new QHBoxLayout(m_progress);
    progressLayout->addWidget(
        named(new QLabel(HarvestAnalysis::ProgressCaption), QStringLiteral("Label11")));
    auto *stop = named(new QPushButton(QStringLiteral("停止")), QStringLiteral("Command5"));
    progressLayout->addWidget(stop);
    m_progress->adjustSize();
    m_progress->hide();
    connect(stop, &QPushButton::clicked, &m_session.analysis(), &HarvestAnalysis::stop);
}

void SearchWindow::buildMenus()
{
    // The analysis commands: a menu of the window that the bar does not
    // show, popped up under "分析下载".
    m_analysisMenu = named(new QMenu(QStringLiteral("加入"), this), QStringLiteral("menu加入"));
    const struct {
        const char16_t *name;
        const char16_t *caption;
        AnalysisKind kind;
    } analyses[] = {
        {u"menu分析未分析项", u"分析未分析项", AnalysisKind::Unanalysed},
        {u"menu加入分析失败项", u"分析失败项", AnalysisKind::Failed},
        {u"menu选中加入", u"分析选中项", AnalysisKind::Selected},
        {u"menu全部加入", u"分析全部", AnalysisKind::All},
    };
    for (const auto &a : analyses) {
        QAction *action = addNamedAction(m_analysisMenu, QString::fromUtf16(a.name),
                                         QString::fromUtf16(a.caption));
        const AnalysisKind kind = a.kind;
        connect(action, &QAction::triggered, this,
                [this, kind] { m_session.analysis().run(kind, selectedIds()); });
    }

    QMenuBar *bar = menuBar();
    QMenu *browse = named(bar->addMenu(QStringLiteral("浏览(&B)")), QStringLiteral("menu浏览"));
    connect(addNamedAction(browse, QStringLiteral("menu打开Lumenarc查询首页"),
                           QStringLiteral("打开Lumenarc首页")),
            &QAction::triggered, this, [this] { m_session.openStartPage(); });
    connect(addNamedAction(browse, QStringLiteral("menu打开指定网址"),
                           QStringLiteral("打开指定网址...")),
            &QAction::triggered, this, [this] { m_session.openAddress(); });
    browse->addSeparator();
    connect(addNamedAction(browse, QStringLiteral("menu后退"), QStringLiteral("后退")),
            &QAction::triggered, this, [this] { m_session.goBack(); });
    connect(addNamedAction(browse, QStringLiteral("menu前进"), QStringLiteral("前进")),
            &QAction::triggered, this, [this] { m_session.goForward(); });
    browse->addSeparator();
    connect(addNamedAction(browse, QStringLiteral("menu关闭本窗口"), QStringLiteral("关闭本窗口")),
            &QAction::triggered, this, &QWidget::close);

    m_clearMenu = named(bar->addMenu(QStringLiteral("清除(&C)")), QStringLiteral("menu清除"));
    connect(
        addNamedAction(m_clearMenu, QStringLiteral("menu清除选中项"), QStringLiteral("清除选中项")),
        &QAction::triggered, this, [this] { m_session.clearSelected(selectedIds()); });
    connect(addNamedAction(m_clearMenu, QStringLiteral("menu清除分析成功项"),
                           QStringLiteral("清除分析成功项")),
            &QAction::triggered, this, [this] { m_session.clearSucceeded(); });
    connect(addNamedAction(m_clearMenu, QStringLiteral("menu清除标题含指定字符项"),
                           QStringLiteral("清除标题含指定字符项")),
            &QAction::triggered, this, [this] { m_session.clearTitleContaining(); });
    connect(addNamedAction(m_clearMenu, QStringLiteral("menu清除标题不含指定字符项"),
                           QStringLiteral("清除标题不含指定字符项")),
            &QAction::triggered, this, [this] { m_session.clearTitleNotContaining(); });
    connect(addNamedAction(m_clearMenu, QStringLiteral("menu清空全部"), QStringLiteral("清空全部")),
            &QAction::triggered, this, [this] { m_session.clearAll(); });

    QMenu *tools = named(bar->addMenu(QStringLiteral("工具(&T)")), QStringLiteral("menu工具"));
    connect(addNamedAction(tools, QStringLiteral("menu设置"), QStringLiteral("设置")),
            &QAction::triggered, this, &SearchWindow::settingsRequested);
    connect(
        addNamedAction(tools, QStringLiteral("menu打开下载窗口"), QStringLiteral("打开下载窗口")),
        &QAction::triggered, this, &SearchWindow::downloadWindowRequested);
    tools->addSeparator();
    connect(addNamedAction(tools, QStringLiteral("menu查看IE浏览器缓存"),
                           QStringLiteral("查看IE浏览器缓存")),
            &QAction::triggered, this, &SearchWindow::browserCacheRequested);
    connect(addNamedAction(tools, QStringLiteral("menu清空IE浏览器缓存"),
                           QStringLiteral("清空IE浏览器缓存")),
            &QAction::triggered, this, &SearchWindow::clearBrowserCacheRequested);
    connect(addNamedAction(tools, QStringLiteral("menu源码另存为"), QStringLiteral("源码另存为")),
            &QAction::triggered, this, [this] { m_session.savePageSource(); });

    QMenu *help = named(bar->addMenu(QStringLiteral("帮助(&H)")), QStringLiteral("menu帮助"));
    connect(addNamedAction(help, QStringLiteral("menu关于"), QStringLiteral("关于(&A)")),
            &QAction::triggered, this, &SearchWindow::aboutRequested);
    connect(
        addNamedAction(help, QStringLiteral("menu软件使用方法"), QStringLiteral("软件使用方法")),
        &QAction::triggered, this, &SearchWindow::usageRequested);
    help->addSeparator();
    connect(addNamedAction(help, QStringLiteral("menu作者网站澜图软件"),
                           QStringLiteral("作者网站－澜图软件")),
            &QAction::triggered, this,
            [this] { openUrlInBrowser(m_shell, makerHomePage(), true); });
    connect(addNamedAction(help, QStringLiteral("menu最新版本"), QStringLiteral("最新版本")),
            &QAction::triggered, this, [this] { openUrlInBrowser(m_shell, programPage(), false); });
    connect(addNamedAction(help, QStringLiteral("menu软件定制"), QStringLiteral("软件定制")),
            &QAction::triggered, this,
            [this] { openUrlInBrowser(m_shell, customSoftwarePage(), true); });
    connect(addNamedAction(help, QStringLiteral("menu给软件作者建议"),
                           QStringLiteral("给软件作者建议")),
            &QAction::triggered, this, [this] { mailSuggestion(m_shell); });
}

void SearchWindow::bindSession()
{
    SearchHarvester &harvester = m_session.harvester();
    HarvestAnalysis &analysis = m_session.analysis();
    WebEngineBrowser *browser = qobject_cast<WebEngineBrowser *>(&m_session.browser());

    connect(m_harvestPage, &QPushButton::clicked, &harvester, &SearchHarvester::harvestThisPage);
    connect(m_addAll, &QPushButton::clicked, &harvester, &SearchHarvester::addAllClicked);
    connect(&harvester, &SearchHarvester::addAllRunningChanged, this, [this](bool running) {
        m_addAll->setText(m_session.harvester().addAllCaption());
        // Red while the walk runs, so the stop is easy to find.
        m_addAll->setStyleSheet(running ? QStringLiteral("background-color: #ff0000;") : QString());
    });
    connect(&harvester, &SearchHarvester::fitColumnsRequested, this, &SearchWindow::fitColumns);
    connect(&m_session, &HarvestSession::countTextChanged, m_count, &QLabel::setText);
    // Rows appended by a harvest show in the count at once as well.
    connect(&m_session.list(), &QAbstractItemModel::rowsInserted, this,
            [this] { m_count->setText(m_session.list().countText()); });
    connect(&m_session.list(), &QAbstractItemModel::modelReset, this,
            [this] { m_count->setText(m_session.list().countText()); });
    m_walkStatus->setText(m_session.walkStatus());
    connect(&m_session, &HarvestSession::walkStatusChanged, m_walkStatus, &QLabel::setText);

    connect(m_analyse, &QPushButton::clicked, this, &SearchWindow::showAnalysisMenu);
    connect(m_export, &QPushButton::clicked, this, [this] { m_session.exportList(); });
    connect(m_automatic, &QCheckBox::toggled, &analysis, &HarvestAnalysis::setAutomatic);
    connect(&analysis, &HarvestAnalysis::progressPanelVisibleChanged, this, [this](bool visible) {
        m_progress->setVisible(visible);
        if (visible) {
            centreProgressPanel();
            m_progress->raise();
        }
    });
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { m_clearMenu->popup(m_list->viewport()->mapToGlobal(at)); });

    m_silent->setChecked(m_session.silentMode());
    connect(m_silent, &QCheckBox::clicked, &m_session, &HarvestSession::setSilentMode);
    connect(&m_session, &HarvestSession::silentModeChanged, this, [this](bool on) {
        const QSignalBlocker block(m_silent);
        m_silent->setChecked(on);
    });

    if (browser) {
        connect(browser, &Browser::statusTextChanged, m_statusText, &QLabel::setText);
    }
    connect(&m_session, &HarvestSession::startupWindowRequested, this,
            &SearchWindow::startupWindowRequested);
}

void SearchWindow::showAnalysisMenu()
{
    m_analyse->setEnabled(false);
    // The menu is popped up and left to itself: its commands run when
    // picked, and the window stays live meanwhile.
    m_session.analysis().analyseButtonClicked(
        selectedIds(), [this]() -> std::optional<AnalysisKind> {
            m_analysisMenu->popup(m_analyse->mapToGlobal(QPoint(0, m_analyse->height())));
            return std::nullopt;
        });
    m_analyse->setEnabled(true);
}

QList<quint64> SearchWindow::selectedIds() const
{
    QList<int> rows;
    const QModelIndexList selected = m_list->selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex &index : selected)
        rows << index.row();
    return m_session.list().idsOfRows(rows);
}

void SearchWindow::fitColumns()
{
    m_list->header()->resizeSections(QHeaderView::ResizeToContents);
    // A very long title may not push the other columns out of sight.
    const int widest = qMax(200, m_list->viewport()->width() * 2 / 3);
    for (int c = 0; c < m_session.list().columnCount(); ++c)
        if (m_list->columnWidth(c) > widest)
            m_list->setColumnWidth(c, widest);
}

int SearchWindow::settledBarTop(int top, int height)
{
    if (top > height - ListReserve || top < 0)
        return height * 4 / 5;
    return top;
}

void SearchWindow::settleBar()
{
    const QList<int> sizes = m_splitter->sizes();
    if (sizes.size() != 2)
        return;
    const int height = m_splitter->height();
    const int top = settledBarTop(sizes.at(0), height);
    if (top != sizes.at(0))
        m_splitter->setSizes({top, height - top - m_splitter->handleWidth()});
    centreProgressPanel();
}

void SearchWindow::centreProgressPanel()
{
    m_progress->adjustSize();
    m_progress->move((m_listPanel->width() - m_progress->width()) / 2,
                     (m_listPanel->height() - m_progress->height()) / 2);
}

void SearchWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!isMinimized())
        settleBar();
}

void SearchWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    m_count->setText(m_session.list().countText());
    if (m_started)
        return;
    m_started = true;
    // The blank page first, the repository once the window is up.
    QTimer::singleShot(0, this, [this] { m_session.openStartPage(); });
}

void SearchWindow::closeEvent(QCloseEvent *event)
{
    if (m_session.windowClosing())
        event->accept();
    else
        event->ignore();
}

} // namespace lumen
