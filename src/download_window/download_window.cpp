#include "download_window/download_window.h"

#include "download_window/download_session.h"
#include "download_window/flow_layout.h"
#include "download_window/settings_dialog.h"
#include "download_window/url_replace_dialog.h"
#include "engine/app_title.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "settings/window_geometry.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace lumen
{

const QString DownloadWindow::Caption = QStringLiteral("文件下载");
const QString DownloadWindow::Slogan = QStringLiteral("澜图：文献自来，专心研读");

namespace
{

// The rows of the list alternate between this light green and white.
const QColor StripeColour(231, 248, 237);

// What the picture at the start of a row tells: the record's state and,
// once it ended, how. A stored web page is finished like a document but
// does not look like one; skips, refusals and cancels each have their own.
enum class RowMark {
    Waiting,
    Downloading,
    Document,
    WebPage,
    SkippedExists,
    SkippedTooLarge,
    CannotReplace,
    Cancelled,
    Failed
};

RowMark rowMark(DownloadState state, Outcome ended)
{
    switch (state) {
    case DownloadState::Waiting:
        return RowMark::Waiting;
    case DownloadState::Downloading:
        return RowMark::Downloading;
    case DownloadState::Finished:
        switch (ended) {
        case Outcome::WebPage:
            return RowMark::WebPage;
        case Outcome::SkippedExists:
            return RowMark::SkippedExists;
        case Outcome::SkippedTooLarge:
            return RowMark::SkippedTooLarge;
        default:
            return RowMark::Document;
        }
    case DownloadState::Failed:
        switch (ended) {
        case Outcome::CannotReplace:
            return RowMark::CannotReplace;
        case Outcome::Cancelled:
            return RowMark::Cancelled;
        default:
            return RowMark::Failed;
        }
    }
    return RowMark::Waiting;
}

QIcon markIcon(RowMark mark)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const auto pen = [](const QColor &c, double w) {
        return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    };
    switch (mark) {
    case RowMark::Waiting:
        p.setPen(QPen(QColor(120, 120, 120), 1.5));
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
        break;
    case RowMark::Downloading: {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 110, 220));
        QPainterPath arrow;
        arrow.moveTo(6, 1);
        arrow.lineTo(10, 1);
        arrow.lineTo(10, 8);
        arrow.lineTo(13.5, 8);
        arrow.lineTo(8, 14);
        arrow.lineTo(2.5, 8);
        arrow.lineTo(6, 8);
        arrow.closeSubpath();
        p.drawPath(arrow);
        break;
    }
    case RowMark::Document:
        p.setPen(pen(QColor(20, 150, 60), 2.5));
        p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
        break;
    case RowMark::WebPage: {
        // A globe: what came is a page of the web, not the paper.
        const QColor orange(225, 120, 10);
        p.setPen(pen(orange, 1.4));
        p.setBrush(QColor(255, 236, 200));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(5, 1.5, 6, 13));
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        break;
    }
    case RowMark::SkippedExists:
        // Two bars: the same file is there already.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 120, 200));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(pen(Qt::white, 1.8));
        p.drawLine(QPointF(4.5, 6), QPointF(11.5, 6));
        p.drawLine(QPointF(4.5, 10), QPointF(11.5, 10));
        break;
    case RowMark::SkippedTooLarge:
        // Jumped over: two chevrons.
        p.setPen(pen(QColor(190, 140, 0), 2.2));
        p.drawPolyline(QPolygonF({QPointF(2.5, 3.5), QPointF(7, 8), QPointF(2.5, 12.5)}));
        p.drawPolyline(QPolygonF({QPointF(8.5, 3.5), QPointF(13, 8), QPointF(8.5, 12.5)}));
        break;
    case RowMark::CannotReplace:
        // A padlock: the file there may not be replaced.
        p.setPen(pen(QColor(170, 70, 20), 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4.5, 1.5, 7, 8), 0, 180 * 16);
        p.drawLine(QPointF(4.5, 5.5), QPointF(4.5, 7.5));
        p.drawLine(QPointF(11.5, 5.5), QPointF(11.5, 7.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 90, 30));
        p.drawRoundedRect(QRectF(2.5, 7, 11, 7.5), 1.5, 1.5);
        break;
    case RowMark::Cancelled:
        // No entry: stopped on purpose.
        p.setPen(pen(QColor(110, 110, 110), 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(4, 12), QPointF(12, 4));
        break;
    case RowMark::Failed:
        p.setPen(pen(QColor(210, 40, 40), 2.5));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    }
    return QIcon(pm);
}

// Draws the record's mark in the name column; the model itself stays free
// of pictures.
class StateIconDelegate final : public QStyledItemDelegate
{
public:
    explicit StateIconDelegate(QObject *parent) : QStyledItemDelegate(parent)
    {
        for (int m = int(RowMark::Waiting); m <= int(RowMark::Failed); ++m)
            m_icons.insert(m, markIcon(RowMark(m)));
    }

    static RowMark markOf(const QModelIndex &index)
    {
        return rowMark(DownloadState(index.data(DownloadList::StateRole).toInt()),
                       Outcome(index.data(DownloadList::OutcomeRole).toInt()));
    }
    QIcon iconOf(const QModelIndex &index) const { return m_icons.value(int(markOf(index))); }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != DownloadList::NameColumn)
            return;
        option->features |= QStyleOptionViewItem::HasDecoration;
        option->icon = iconOf(index);
        option->decorationSize = QSize(16, 16);
    }

private:
    QHash<int, QIcon> m_icons;
};

// The panel's background: a soft band of colour behind the controls.
QPixmap panelBackground()
{
    QPixmap pm(8, 64);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(246, 250, 255));
    g.setColorAt(1, QColor(214, 229, 245));
    p.fillRect(pm.rect(), g);
    return pm;
}

} // namespace

DownloadWindow::DownloadWindow(DownloadSession &session, SettingsDialogOpener &settingsDialog,
                               UrlReplaceOpener &urlReplace, QWidget *parent)
    : QMainWindow(parent), m_session(session), m_settingsDialog(settingsDialog),
      m_urlReplace(urlReplace)
{
    setObjectName(QStringLiteral("fFileDownload"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_central = new QWidget(this);
    m_central->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(m_central);
    buildPanel(m_central);
    buildList(m_central);
    // The panel across the top, the list under it down to the status bar.
    auto *column = new QVBoxLayout(m_central);
    column->setContentsMargins(1, 1, 1, 0);
    column->setSpacing(0);
    column->addWidget(m_panel);
    column->addWidget(m_listArea, 1);
    buildMenus();
    buildStatusBar();
    bindEngine();
    load();
}

DownloadWindow::~DownloadWindow()
{
    // The panel goes with the window's children; it tells this window
    // nothing more on its way out.
    if (m_loginPanel)
        m_loginPanel->removeEventFilter(this);
}

// --- building ----------------------------------------------------------------------

void DownloadWindow::buildPanel(QWidget *central)
{
    DownloadEngine &engine = m_session.engine();
    m_panel = new QWidget(central);
    m_panel->setObjectName(QStringLiteral("Picture3"));
    // The picture lies behind the controls and is kept as large as the
    // panel (see eventFilter), outside the panel's layout.
    m_background = new QLabel(m_panel);
    m_background->setObjectName(QStringLiteral("Image1"));
    m_background->setPixmap(panelBackground());
    m_background->setScaledContents(true);
    m_background->lower();
    m_panel->installEventFilter(this);

    const auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, m_panel);
        l->setObjectName(QString::fromUtf8(name));
        return l;
    };
    const auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, m_panel);
        b->setObjectName(QString::fromUtf8(name));
        return b;
    };
    const auto check = [this](const char *name, const QString &text) {
        auto *c = new QCheckBox(text, m_panel);
        c->setObjectName(QString::fromUtf8(name));
        return c;
    };
    const auto combo = [this](const char *name) {
        auto *c = new QComboBox(m_panel);
        c->setObjectName(QString::fromUtf8(name));
        return c;
    };

    // First row.
    m_methodLabel = label("Label7", engine.methodText());
    auto *switchMethod = button("Command26", QStringLiteral("切换"));
    switchMethod->setToolTip(QStringLiteral("更改下载方式"));
    auto *sameNameLabel = label("Label8", QStringLiteral("同名文件："));
    auto *sameNameBox = new QWidget(m_panel);
    sameNameBox->setObjectName(QStringLiteral("Picture1"));
    auto *sameNameRow = new QHBoxLayout(sameNameBox);
    sameNameRow->setContentsMargins(0, 0, 0, 0);
    sameNameRow->setSpacing(8);
    m_sameName = new QButtonGroup(this);
    const QStringList captions = {QStringLiteral("跳过"), QStringLiteral("覆盖"),
                                  QStringLiteral("重命名")};
    for (int i = 0; i < 3; ++i) {
        auto *option = new QRadioButton(captions.at(i), sameNameBox);
        option->setObjectName(QStringLiteral("Option%1").arg(i + 1));
        sameNameRow->addWidget(option);
        m_sameName->addButton(option, i);
    }
    auto *start = button("Command4", QStringLiteral("开始下载"));
    auto *stop = button("Command31", QStringLiteral("停止下载"));
    stop->setToolTip(QStringLiteral("停止下载"));
    auto *login = button("Command1", QStringLiteral("网页登录"));
    m_autoRedownload = check("Check3", QStringLiteral("自动重新下载："));
    m_redownloadFilter = combo("Combo4");
    m_redownloadFilter->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                                  QStringLiteral("出错项和文件类型为HTM和HTML项")});
    m_autoStart = check("Check4", QStringLiteral("当有待下载项时，自动启动下载"));

    // Second row.
    auto *listLabel = label("Label4", QStringLiteral("下载列表："));
    m_countLabel = label("Label1", QStringLiteral("0条"));
    auto *intervalLabel = label("Label5", QStringLiteral("两个文件下载间隔："));
    m_interval = combo("Combo2");
    auto *intervalUnit = label("Label5Unit", QStringLiteral("秒"));
    auto *threadsLabel = label("Label2", QStringLiteral("线程数："));
    m_threads = combo("Combo1");
    for (int i = 1; i <= DownloadEngine::MaxSlots; ++i)
        m_threads->addItem(QString::number(i));
    m_errorStop = check("Check5", QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"));
    m_sound = check("Check6", QStringLiteral("声音提示"));

    // Shown exactly while the scheduler runs.
    m_runningMark = new QLabel(m_panel);
    m_runningMark->setObjectName(QStringLiteral("Shape1"));
    m_runningMark->setFixedSize(12, 12);
    m_runningMark->setStyleSheet(
        QStringLiteral("background-color: rgb(40, 190, 80); border: 1px solid rgb(20, 120, 50); "
                       "border-radius: 6px;"));
    m_runningMark->setToolTip(QStringLiteral("正在下载"));
    m_runningMark->hide();

    // The two rows are cut into columns that belong together above and
    // below: a column never splits, and a window too narrow for all of
    // them wraps the right-hand columns under the left ones, two rows at a
    // time, so every control stays in reach. Every row is as high as the
    // tallest control, so the rows of the columns line up.
    int rowHeight = 0;
    for (QWidget *w : m_panel->findChildren<QWidget *>())
        if (w != m_background && w != m_runningMark && w != sameNameBox)
            rowHeight = std::max(rowHeight, w->sizeHint().height());
    auto *flow = new FlowLayout(m_panel);
    flow->setContentsMargins(4, 3, 4, 3);
    const auto column = [&](const char *name) {
        auto *box = new QWidget(m_panel);
        box->setObjectName(QString::fromLatin1(name));
        auto *grid = new QGridLayout(box);
        grid->setContentsMargins(0, 0, 0, 0);
        grid->setVerticalSpacing(2);
        grid->setHorizontalSpacing(4);
        grid->setRowMinimumHeight(0, rowHeight);
        grid->setRowMinimumHeight(1, rowHeight);
        flow->addWidget(box);
        return grid;
    };
    const auto rows = [&](const char *name, const QList<QList<QWidget *>> &content) {
        QGridLayout *grid = column(name);
        for (int r = 0; r < content.size(); ++r) {
            auto *row = new QHBoxLayout;
            row->setSpacing(4);
            for (QWidget *w : content.at(r))
                row->addWidget(w, 0, Qt::AlignVCenter);
            row->addStretch(1);
            grid->addLayout(row, r, 0);
        }
    };
    rows("panelColumn1", {{m_methodLabel, switchMethod}, {listLabel, m_countLabel}});
    rows("panelColumn2", {{sameNameLabel, sameNameBox},
                          {intervalLabel, m_interval, intervalUnit, threadsLabel, m_threads}});
    // The running mark sits under the start button.
    QGridLayout *buttons = column("panelColumn3");
    int c = 0;
    for (QWidget *w : std::initializer_list<QWidget *>{start, stop, login})
        buttons->addWidget(w, 0, c++, Qt::AlignVCenter);
    buttons->addWidget(m_runningMark, 1, 0, Qt::AlignCenter);
    rows("panelColumn4", {{m_autoRedownload, m_redownloadFilter}, {m_errorStop}});
    rows("panelColumn5", {{m_autoStart}, {m_sound}});

    connect(switchMethod, &QPushButton::clicked, &engine, &DownloadEngine::switchMethod);
    connect(start, &QPushButton::clicked, &engine, &DownloadEngine::startDownloading);
    connect(stop, &QPushButton::clicked, &engine, &DownloadEngine::stopDownloading);
    connect(login, &QPushButton::clicked, this, &DownloadWindow::loginPanelRequested);
    connect(m_sameName, &QButtonGroup::idToggled, this, [&engine](int id, bool on) {
        if (on)
            engine.setSameNamePolicy(SameNamePolicy(id));
    });
}

void DownloadWindow::buildList(QWidget *central)
{
    // The list's place, which a login panel shares when it is given one.
    m_listArea = new QWidget(central);
    m_listArea->setObjectName(QStringLiteral("listArea"));
    m_listAreaLayout = new QGridLayout(m_listArea);
    m_listAreaLayout->setContentsMargins(0, 0, 0, 0);
    m_list = new QTreeView(m_listArea);
    m_listAreaLayout->addWidget(m_list, 0, 0);
    m_list->setObjectName(QStringLiteral("ListView3"));
    m_list->setModel(&m_session.list());
    m_list->setItemDelegate(new StateIconDelegate(m_list));
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setToolTip(DownloadList::HintText);
    m_list->setAlternatingRowColors(true);
    QPalette pal = m_list->palette();
    pal.setColor(QPalette::Base, StripeColour);
    pal.setColor(QPalette::AlternateBase, Qt::white);
    m_list->setPalette(pal);
    QHeaderView *header = m_list->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    for (int c = 0; c < DownloadList::ColumnCount; ++c)
        m_list->setColumnWidth(c, twipsToPixels(DownloadList::columnInitialWidthTwips(c)));
    // The percent column carries the status texts as well as the figures:
    // it is at least as wide as the longest of them in the list's font.
    {
        const QFontMetrics metrics(m_list->font());
        int widest =
            metrics.horizontalAdvance(DownloadList::columnCaption(DownloadList::PercentColumn));
        for (const QString &text :
             {RecordText::ExistsSkipped, RecordText::BigFileSkipped, RecordText::Cancelled,
              RecordText::CannotReplace, RecordText::FileMissing, RecordText::BadProxy})
            widest = std::max(widest, metrics.horizontalAdvance(text));
        const int margin =
            2 * (m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1);
        const int column = DownloadList::PercentColumn;
        m_list->setColumnWidth(column, std::max(m_list->columnWidth(column), widest + margin + 8));
    }

    // The header's own menu: the "原因" column and the problems filter.
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    m_headerMenu = new QMenu(this);
    m_headerMenu->setObjectName(QStringLiteral("headerMenu"));
    m_showReason = m_headerMenu->addAction(QStringLiteral("显示“原因”列"));
    m_showReason->setObjectName(QStringLiteral("menu显示原因列"));
    m_showReason->setCheckable(true);
    m_problemsOnly = m_headerMenu->addAction(QStringLiteral("只显示有问题的项"));
    m_problemsOnly->setObjectName(QStringLiteral("menu只显示有问题的项"));
    m_problemsOnly->setToolTip(
        QStringLiteral("出错、取消、无法替换、保存的是网页、大文件跳过的项"));
    m_problemsOnly->setCheckable(true);
    connect(header, &QHeaderView::customContextMenuRequested, this,
            [this, header](const QPoint &pos) {
                m_headerMenu->popup(header->viewport()->mapToGlobal(pos));
            });
    connect(m_showReason, &QAction::toggled, &m_session, &DownloadSession::setReasonColumnShown);
    connect(&m_session, &DownloadSession::reasonColumnShownChanged, this,
            &DownloadWindow::showReasonColumn);
    connect(m_problemsOnly, &QAction::toggled, &m_session, &DownloadSession::setProblemsOnly);
    connect(&m_session, &DownloadSession::problemsOnlyChanged, this, [this](bool on) {
        const QSignalBlocker block(m_problemsOnly);
        m_problemsOnly->setChecked(on);
        filterRows(0, int(m_session.list().count()) - 1);
    });
    // Rows whose record changes, or that come in, are shown or hidden as
    // the filter says; the rest keep what they were (a reorder moves the
    // hidden marks with their records).
    const DownloadList &records = m_session.list();
    connect(&records, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                if (m_session.problemsOnly())
                    filterRows(from.row(), to.row());
            });
    connect(&records, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                if (m_session.problemsOnly())
                    filterRows(first, last);
            });
    connect(&records, &QAbstractItemModel::modelReset, this,
            [this] { filterRows(0, int(m_session.list().count()) - 1); });

    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { m_session.sortByColumn(column); });
    connect(m_list, &QTreeView::customContextMenuRequested, this, &DownloadWindow::showContextMenu);
    connect(m_list, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            m_session.activateRecord(m_session.list().at(index.row()).id);
    });
    connect(m_list, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            m_panels[1]->setText(m_session.pathTextFor(m_session.list().at(index.row()).id));
    });
}

QAction *DownloadWindow::addAction(QMenu *menu, const QString &name, const QString &caption,
                                   const std::function<void()> &run)
{
    auto *a = menu->addAction(caption);
    a->setObjectName(name);
    if (run)
        connect(a, &QAction::triggered, this, run);
    return a;
}

void DownloadWindow::addSeparator(QMenu *menu, const QString &name)
{
    menu->addSeparator()->setObjectName(name);
}

QMenu *DownloadWindow::addMenu(QMenu *parent, const QString &name, const QString &caption)
{
    auto *m = parent->addMenu(caption);
    m->setObjectName(name);
    m->menuAction()->setObjectName(name);
    return m;
}

void DownloadWindow::buildMenus()
{
    DownloadSession &s = m_session;
    DownloadEngine &engine = s.engine();
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    const auto topMenu = [bar](const QString &name, const QString &caption) {
        auto *m = bar->addMenu(caption);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name);
        return m;
    };

    QMenu *list = topMenu(QStringLiteral("menu下载"), QStringLiteral("列表操作(&D)"));
    m_listMenu = list;
    m_selectAll = addAction(list, QStringLiteral("menu全选专利列表"), QStringLiteral("全选"),
                            [this] { m_list->selectAll(); });
    addAction(list, QStringLiteral("menu全不选"), QStringLiteral("全不选"),
              [this] { m_list->clearSelection(); });
    addAction(list, QStringLiteral("menu随机排序列表"), QStringLiteral("随机排序列表(打乱)"),
              [&s] { s.shuffle(); });
    addAction(list, QStringLiteral("menu自动列宽"), QStringLiteral("自动调整列宽"),
              [this] { fitColumnWidths(); });
    addSeparator(list, QStringLiteral("dgt465"));
    QMenu *again = addMenu(list, QStringLiteral("menu重新下载"), QStringLiteral("重新下载"));
    addAction(again, QStringLiteral("menu重新下载选中项"), QStringLiteral("选中项"),
              [this, &s] { s.redownloadSelected(selectedIds()); });
    addAction(again, QStringLiteral("menu重新下载出错项"), QStringLiteral("出错项"),
              [&s] { s.redownloadFailed(); });
    addAction(again, QStringLiteral("menu重新下载文件类型为HTM和HTML项"),
              QStringLiteral("网页类型文件(HTM/HTML/xml)项"), [&s] { s.redownloadWebPages(); });
    addAction(again, QStringLiteral("menu重新下载出错项和网页项"),
              QStringLiteral("重新下载出错项和网页类型文件项"),
              [&s] { s.redownloadFailedAndWebPages(); });
    addAction(again, QStringLiteral("menu重新下载文件大小小于指定数字的项"),
              QStringLiteral("文件大小小于指定数字的项"), [&s] { s.redownloadSmallFiles(); });
    addSeparator(list, QStringLiteral("dfgfdg454"));
    m_removeMenu = addMenu(list, QStringLiteral("menu清除"), QStringLiteral("清除"));
    addAction(m_removeMenu, QStringLiteral("menu清除选中项"), QStringLiteral("选中项"),
              [this, &s] { s.removeSelected(selectedIds()); });
    addAction(m_removeMenu, QStringLiteral("menu清除全部出错项"), QStringLiteral("全部出错项"),
              [&s] { s.removeFailed(); });
    addAction(m_removeMenu, QStringLiteral("menu清除完成项"), QStringLiteral("完成项"),
              [&s] { s.removeFinished(); });
    m_empty = addAction(list, QStringLiteral("menu清空"), QStringLiteral("清空"),
                        [&s] { s.emptyList(); });
    QMenu *del = addMenu(list, QStringLiteral("menu删除"), QStringLiteral("删除文件"));
    addAction(del, QStringLiteral("menu删除网页类型文件项"),
              QStringLiteral("网页类型文件(HTM/HTML/xml)项"), [&s] { s.deleteWebPageFiles(); });
    addAction(del, QStringLiteral("menu删除出错项"), QStringLiteral("出错项"),
              [&s] { s.deleteFailedFiles(); });
    addSeparator(list, QStringLiteral("fght4565"));
    m_startAll = addAction(list, QStringLiteral("menu下载全部"), QStringLiteral("开始下载"),
                           [&engine] { engine.startDownloading(); });
    m_stop = addAction(list, QStringLiteral("menu停止下载"), QStringLiteral("停止下载"),
                       [&engine] { engine.stopDownloading(); });
    addAction(list, QStringLiteral("menu取消下载选中项"), QStringLiteral("取消下载选中项"),
              [this, &s] { s.cancelSelected(selectedIds()); });
    addSeparator(list, QStringLiteral("gfhfg456"));
    addAction(list, QStringLiteral("menu打开下载文件"), QStringLiteral("打开下载文件"),
              [this, &s] { s.openFile(currentId()); });
    addAction(list, QStringLiteral("menu打开文件所在文件夹"), QStringLiteral("打开所在文件夹"),
              [this, &s] { s.openFolder(currentId()); });
    addAction(list, QStringLiteral("menu用记事本打开文件"), QStringLiteral("用记事本打开文件"),
              [this, &s] { s.openInTextEditor(currentId()); });
    addSeparator(list, QStringLiteral("fygu8766"));
    addAction(list, QStringLiteral("menu复制名称"), QStringLiteral("复制名称"), [this, &s] {
        const QString name = s.nameForClipboard(currentId());
        if (!name.isEmpty())
            QGuiApplication::clipboard()->setText(name);
    });
    addAction(list, QStringLiteral("menu批量替换网址"), QStringLiteral("批量替换网址"), [this, &s] {
        m_urlReplace.open(this, [&s](const QString &find, const QString &replacement) {
            return s.replaceInUrls(find, replacement);
        });
    });
    QAction *openUrl =
        addAction(list, QStringLiteral("menu打开网址"), QStringLiteral("打开网址"), nullptr);
    openUrl->setVisible(false);
    openUrl->setEnabled(false);
    QMenu *exportMenu = addMenu(list, QStringLiteral("menu导出名称"), QStringLiteral("导出名称"));
    addAction(exportMenu, QStringLiteral("menu导出全部名称"), QStringLiteral("全部"),
              [&s] { s.exportAllNames(); });
    addAction(exportMenu, QStringLiteral("menu导出未完成项名称"), QStringLiteral("未完成项"),
              [&s] { s.exportUnfinishedNames(); });
    addSeparator(list, QStringLiteral("ewe345"));
    addAction(list, QStringLiteral("menu退出本下载窗口"), QStringLiteral("关闭本下载窗口"),
              [this] { close(); });

    QMenu *window = topMenu(QStringLiteral("menu窗口"), QStringLiteral("窗口(&W)"));
    addAction(window, QStringLiteral("menu资料检索分析窗口"), QStringLiteral("资料检索分析窗口"),
              [this] { emit searchWindowRequested(); });

    QMenu *tools = topMenu(QStringLiteral("menu工具"), QStringLiteral("工具(&T)"));
    addAction(tools, QStringLiteral("设置"), QStringLiteral("设置"), [this, &s] {
        m_settingsDialog.open(this, s.settingsDialogValues(),
                              [&s](const SettingsDialogValues &v) { s.applySettingsDialog(v); });
    });
    m_autoLocate = addAction(tools, QStringLiteral("menu自动定位到下载项"),
                             QStringLiteral("自动定位到下载项"), nullptr);
    m_autoLocate->setCheckable(true);
    connect(m_autoLocate, &QAction::toggled, &engine, &DownloadEngine::setAutoLocate);
    addSeparator(tools, QStringLiteral("dsfwe423"));
    addAction(tools, QStringLiteral("menu检查文件是否存在"), QStringLiteral("检查文件是否存在"),
              [&s] { s.checkFilesExist(); });
    addAction(tools, QStringLiteral("menu检查并纠正磁盘文件类型"),
              QStringLiteral("检查并纠正磁盘文件类型"), [&s] { s.correctFileTypes(); });
    addSeparator(tools, QStringLiteral("rtre45365"));
    addAction(tools, QStringLiteral("menu清空IE浏览器缓存"), QStringLiteral("清空IE浏览器缓存"),
              [this] { emit clearBrowserCacheRequested(); });
    addAction(tools, QStringLiteral("menu打开文件判断类型"), QStringLiteral("打开文件判断类型"),
              [&s] { s.identifyFileType(); });

    using Page = DownloadSession::SitePage;
    QMenu *help = topMenu(QStringLiteral("menu帮助"), QStringLiteral("帮助(&H)"));
    addAction(help, QStringLiteral("关于"), QStringLiteral("关于"),
              [this] { emit aboutRequested(); });
    addSeparator(help, QStringLiteral("ghgf665"));
    addAction(help, QStringLiteral("menu软件权限设置方法"), QStringLiteral("软件权限设置方法"),
              [this] { emit permissionsHelpRequested(); });
    addAction(help, QStringLiteral("menu微软组件下载安装"), QStringLiteral("微软组件下载安装"),
              [this] { emit componentHelpRequested(); });
    addSeparator(help, QStringLiteral("retre6436"));
    addAction(help, QStringLiteral("menu最新版本"), QStringLiteral("最新版本"),
              [&s] { s.openSitePage(Page::LatestVersion); });
    addAction(help, QStringLiteral("menu网店"), QStringLiteral("网店"),
              [&s] { s.openSitePage(Page::Shop); });
    QMenu *sites = addMenu(help, QStringLiteral("menu作者网站"), QStringLiteral("作者网站"));
    addAction(sites, QStringLiteral("menu作者网站澜图软件"), QStringLiteral("作者网站－澜图软件"),
              [&s] { s.openSitePage(Page::Home); });
    addAction(sites, QStringLiteral("menu作者网站澜图软件下载"),
              QStringLiteral("作者网站－澜图软件下载"), [&s] { s.openSitePage(Page::SecondSite); });
    addAction(help, QStringLiteral("menu软件教程和问答"), QStringLiteral("软件教程和问答"),
              [&s] { s.openSitePage(Page::Tutorials); });
    addAction(help, QStringLiteral("menu软件定制"), QStringLiteral("软件定制"),
              [&s] { s.openSitePage(Page::Custom); });
    addAction(help, QStringLiteral("menu给软件作者建议"), QStringLiteral("给软件作者建议"),
              [&s] { s.openSitePage(Page::Suggestions); });
}

void DownloadWindow::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    // The slogan and the counters are always read whole: they keep the
    // width of their text. The path and the connection state share what
    // is left and may be cut, never the counters, however long the list.
    const int stretch[4] = {0, 3, 1, 0};
    for (int i = 0; i < 4; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->installEventFilter(this);
        bar->addWidget(panel, stretch[i]);
        m_panels[i] = panel;
    }
    m_panels[0]->setText(Slogan);
    m_panels[0]->setCursor(Qt::PointingHandCursor);
    m_panels[1]->setCursor(Qt::PointingHandCursor);
    for (QLabel *panel : {m_panels[1], m_panels[2]}) {
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        panel->setMinimumWidth(60);
    }
}

void DownloadWindow::bindEngine()
{
    DownloadEngine &engine = m_session.engine();
    const auto showMethod = [this, &engine] {
        m_methodLabel->setText(engine.methodText());
        m_threads->setEnabled(engine.threadCountEnabled());
    };
    connect(&engine, &DownloadEngine::downloadMethodChanged, this, showMethod);
    const auto showThreads = [this, &engine] {
        const QSignalBlocker block(m_threads);
        m_threads->setCurrentIndex(engine.threadCount() - 1);
    };
    connect(&engine, &DownloadEngine::threadCountChanged, this, showThreads);
    connect(m_threads, &QComboBox::currentIndexChanged, &engine,
            [&engine](int index) { engine.setThreadCount(index + 1); });

    connect(m_interval, &QComboBox::currentIndexChanged, &engine,
            [&engine](int index) { engine.setIntervalSeconds(index); });
    connect(m_autoRedownload, &QCheckBox::toggled, &engine, &DownloadEngine::setAutoRedownload);
    connect(&engine, &DownloadEngine::autoRedownloadChanged, m_autoRedownload,
            &QCheckBox::setChecked);
    connect(m_redownloadFilter, &QComboBox::currentIndexChanged, &engine, [&engine](int index) {
        engine.setRedownloadFilter(DownloadEngine::RedownloadFilter(qBound(0, index, 2)));
    });
    connect(m_autoStart, &QCheckBox::toggled, &engine, &DownloadEngine::setAutoStart);
    connect(&engine, &DownloadEngine::autoStartChanged, m_autoStart, &QCheckBox::setChecked);
    connect(m_errorStop, &QCheckBox::toggled, &engine, &DownloadEngine::setErrorStop);
    connect(m_sound, &QCheckBox::toggled, &engine, &DownloadEngine::setSoundOn);

    connect(&engine, &DownloadEngine::runningChanged, m_runningMark, &QWidget::setVisible);
    connect(&engine, &DownloadEngine::startEnabledChanged, m_startAll, &QAction::setEnabled);
    connect(&engine, &DownloadEngine::actionTextChanged, m_panels[1], &QLabel::setText);
    connect(&engine, &DownloadEngine::connectionTextChanged, m_panels[2], &QLabel::setText);
    connect(&engine, &DownloadEngine::countsPanelTextChanged, this,
            [this](const QString &text, const QString &toolTip) {
                m_panels[3]->setText(text);
                m_panels[3]->setToolTip(toolTip);
            });
    connect(&engine, &DownloadEngine::locateRecord, this, [this](quint64 id) {
        const qint64 row = m_session.list().rowOfId(id);
        if (row >= 0)
            m_list->scrollTo(m_session.list().index(int(row), 0));
    });
    connect(&m_session, &DownloadSession::countTextChanged, m_countLabel, &QLabel::setText);
}

// --- lifecycle --------------------------------------------------------------------------

void DownloadWindow::load()
{
    DownloadEngine &engine = m_session.engine();
    setWindowTitle(Caption + QLatin1Char('-') + ApplicationTitle);
    m_redownloadFilter->setCurrentIndex(0);
    m_redownloadFilter->view()->setMinimumWidth(m_redownloadFilter->view()->sizeHintForColumn(0) +
                                                24);

    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QString resolution = screen ? resolutionText(screen->size()) : QString();
    const WindowPlacement placement = m_session.load(resolution);

    if (placement.maximised) {
        resize(twipsToPixels(15000), twipsToPixels(10000));
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        setGeometry(twipsToPixels(placement.left), twipsToPixels(placement.top),
                    twipsToPixels(placement.width), twipsToPixels(placement.height));
    }

    {
        const QSignalBlocker block(m_interval);
        QStringList seconds;
        seconds.reserve(601);
        for (int i = 0; i <= 600; ++i)
            seconds << QString::number(i);
        m_interval->addItems(seconds);
        m_interval->setCurrentIndex(0);
    }
    engine.setIntervalSeconds(0);

    readSessionState();
}

void DownloadWindow::readSessionState()
{
    // Every control shows what the session and its engine hold now: a
    // window opened again over a running engine never shows a choice of
    // its own. Setting a box to the value it already has tells nobody, so
    // the signals stay blocked and nothing is handed back.
    DownloadEngine &engine = m_session.engine();
    const auto show = [](auto *control, const auto &set) {
        const QSignalBlocker block(control);
        set(control);
    };
    m_methodLabel->setText(engine.methodText());
    show(m_threads, [&](QComboBox *c) { c->setCurrentIndex(engine.threadCount() - 1); });
    m_threads->setEnabled(engine.threadCountEnabled());
    show(m_sameName,
         [&](QButtonGroup *g) { g->button(int(engine.sameNamePolicy()))->setChecked(true); });
    show(m_interval, [&](QComboBox *c) { c->setCurrentIndex(engine.intervalSeconds()); });
    show(m_redownloadFilter,
         [&](QComboBox *c) { c->setCurrentIndex(int(engine.redownloadFilter())); });
    show(m_autoRedownload, [&](QCheckBox *c) { c->setChecked(engine.autoRedownload()); });
    show(m_autoStart, [&](QCheckBox *c) { c->setChecked(engine.autoStart()); });
    show(m_errorStop, [&](QCheckBox *c) { c->setChecked(engine.errorStop()); });
    show(m_sound, [&](QCheckBox *c) { c->setChecked(engine.soundOn()); });
    show(m_autoLocate, [&](QAction *a) { a->setChecked(engine.autoLocate()); });
    m_runningMark->setVisible(engine.isRunning());
    m_startAll->setEnabled(engine.startEnabled());
    m_panels[1]->setText(engine.actionText());
    m_panels[2]->setText(engine.connectionText());
    m_panels[3]->setText(DownloadEngine::countsPanelTextFor(m_session.list()));
    m_panels[3]->setToolTip(DownloadEngine::countsPanelToolTipFor(m_session.list()));
    m_countLabel->setText(m_session.countText());
    show(m_showReason, [&](QAction *a) { a->setChecked(m_session.reasonColumnShown()); });
    showReasonColumn(m_session.reasonColumnShown());
    show(m_problemsOnly, [&](QAction *a) { a->setChecked(m_session.problemsOnly()); });
    filterRows(0, int(m_session.list().count()) - 1);
}

void DownloadWindow::showReasonColumn(bool shown)
{
    const QSignalBlocker block(m_showReason);
    m_showReason->setChecked(shown);
    m_list->setColumnHidden(DownloadList::ReasonColumn, !shown);
}

void DownloadWindow::filterRows(int first, int last)
{
    const DownloadList &records = m_session.list();
    last = std::min<qint64>(last, records.count() - 1);
    const bool filtering = m_session.problemsOnly();
    if (!filtering && !m_rowsHidden)
        return;
    for (int row = std::max(first, 0); row <= last; ++row) {
        const bool hide = !m_session.showsRecord(records.at(row));
        // Telling the view only of a change keeps progress reports from
        // laying the whole list out again.
        if (m_list->isRowHidden(row, QModelIndex()) != hide)
            m_list->setRowHidden(row, QModelIndex(), hide);
    }
    m_rowsHidden = filtering;
}

void DownloadWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        readSessionState();
}

void DownloadWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_countLabel->setText(m_session.countText());
}

bool DownloadWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_panel && event->type() == QEvent::Resize) {
        m_background->setGeometry(m_panel->rect());
    } else if (watched == m_loginPanel &&
               (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
        // Its own show and hide, not those of the window around it.
        emit loginPanelShownChanged(event->type() == QEvent::ShowToParent);
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            if (watched == m_panels[0])
                m_session.openSitePage(DownloadSession::SitePage::SecondSite);
            else if (watched == m_panels[1])
                m_session.openStatusText(m_panels[1]->text());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void DownloadWindow::closeEvent(QCloseEvent *event)
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
    WindowGeometryState state;
    state.maximised = isMaximized();
    state.top = pixelsToTwips(g.top());
    state.left = pixelsToTwips(g.left());
    state.width = pixelsToTwips(g.width());
    state.height = pixelsToTwips(g.height());
    if (!m_session.requestClose(state, screen ? resolutionText(screen->size()) : QString())) {
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

// --- list ---------------------------------------------------------------------------------

QList<quint64> DownloadWindow::selectedIds() const
{
    // A row the filter hides is not among the selected, even when a
    // "select all" or a range took it in: no operation reaches a record the
    // user cannot see.
    QList<quint64> ids;
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    ids.reserve(rows.size());
    for (const QModelIndex &i : rows)
        if (!m_list->isRowHidden(i.row(), QModelIndex()))
            ids.append(m_session.list().at(i.row()).id);
    return ids;
}

QIcon DownloadWindow::rowIcon(int row) const
{
    const auto *delegate = static_cast<const StateIconDelegate *>(m_list->itemDelegate());
    return delegate->iconOf(m_session.list().index(row, DownloadList::NameColumn));
}

quint64 DownloadWindow::currentId() const
{
    const QModelIndex i = m_list->currentIndex();
    if (!i.isValid() || i.row() >= m_session.list().count() ||
        m_list->isRowHidden(i.row(), QModelIndex()))
        return 0;
    return m_session.list().at(i.row()).id;
}

// --- login panel ------------------------------------------------------------------------

void DownloadWindow::setLoginPanel(QWidget *panel)
{
    if (!panel || panel == m_loginPanel)
        return;
    if (m_loginPanel) {
        m_loginPanel->removeEventFilter(this);
        delete m_loginPanel;
    }
    m_loginPanel = panel;
    const bool shown = !panel->isHidden();
    panel->hide();
    // In the list's own cell, above the list: the layout keeps it exactly
    // over the list whatever the window does.
    m_listAreaLayout->addWidget(panel, 0, 0);
    panel->raise();
    panel->installEventFilter(this);
    if (shown)
        panel->show();
}

QWidget *DownloadWindow::loginPanel() const
{
    return m_loginPanel;
}

bool DownloadWindow::isLoginPanelShown() const
{
    return m_loginPanel && !m_loginPanel->isHidden();
}

void DownloadWindow::showLoginTitle(const QString &title)
{
    m_panels[2]->setText(title);
}

void DownloadWindow::applyContextMenuState()
{
    const DownloadSession::ContextMenuState state = m_session.contextMenuState();
    m_selectAll->setEnabled(state.selectAll);
    m_removeMenu->menuAction()->setEnabled(state.remove);
    m_empty->setEnabled(state.empty);
    m_stop->setEnabled(state.stop);
}

void DownloadWindow::showContextMenu(const QPoint &pos)
{
    // The entries keep these states when the menu is next opened from the
    // menu bar.
    applyContextMenuState();
    m_listMenu->popup(m_list->viewport()->mapToGlobal(pos));
}

void DownloadWindow::fitColumnWidths()
{
    for (int c = 0; c < DownloadList::ColumnCount; ++c)
        m_list->resizeColumnToContents(c);
}

} // namespace lumen
