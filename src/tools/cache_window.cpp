#include "tools/cache_window.h"

#include "tools/cache_tool_session.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace lumen
{

namespace
{

QTreeView *listView(const QString &name, QAbstractItemModel *model, QWidget *parent)
{
    auto *view = new QTreeView(parent);
    view->setObjectName(name);
    view->setModel(model);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true); // lists of 100 000 rows stay quick
    view->setAlternatingRowColors(true);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    return view;
}

QPushButton *button(const QString &name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

CacheWindow::CacheWindow(CacheToolSession &session, QWidget *parent)
    : QDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("fIEcache"));
    setWindowTitle(cache_text::Caption);
    resize(1000, 640);

    m_entries = listView(QStringLiteral("ListView1"), session.entries(), this);
    m_users = listView(QStringLiteral("ListView2"), session.userFolders(), this);
    m_folders = listView(QStringLiteral("ListView3"), session.cacheFolders(), this);
    // The list is sorted once per click, not kept sorted.
    m_entries->header()->setSectionsClickable(true);
    m_entries->header()->setSortIndicatorShown(true);
    connect(m_entries->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        m_session.sortByColumn(column);
        m_entries->header()->setSortIndicator(column, m_session.sortOrder());
    });

    auto *lower = new QSplitter(Qt::Horizontal, this);
    lower->setObjectName(QStringLiteral("lowerSplitter"));
    lower->addWidget(m_users);
    lower->addWidget(m_folders);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("splitter"));
    split->addWidget(m_entries);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    m_count = new QLabel(session.countLine(), this);
    m_count->setObjectName(QStringLiteral("Label1"));
    connect(&session, &CacheToolSession::countLineChanged, m_count, &QLabel::setText);

    QPushButton *mine = button(QStringLiteral("Command1"), QStringLiteral("查看我的缓存"), this);
    QPushButton *all = button(QStringLiteral("Command7"), QStringLiteral("查看所有用户缓存"), this);
    QPushButton *del = button(QStringLiteral("Command2"), QStringLiteral("删除所选文件"), this);
    QPushButton *delAll = button(QStringLiteral("Command3"), QStringLiteral("全部删除"), this);
    QPushButton *copy = button(QStringLiteral("Command6"), QStringLiteral("复制选中..."), this);
    QPushButton *close = button(QStringLiteral("Command4"), QStringLiteral("关闭"), this);
    connect(mine, &QPushButton::clicked, this, [this] {
        m_session.listMyCache();
        fitColumns();
    });
    connect(all, &QPushButton::clicked, this, [this] {
        m_session.listAllUsers();
        fitColumns();
    });
    connect(del, &QPushButton::clicked, this, [this] { m_session.deleteRows(selectedRows()); });
    connect(delAll, &QPushButton::clicked, &m_session, &CacheToolSession::deleteAll);
    connect(copy, &QPushButton::clicked, this, [this] { m_session.copyRows(selectedRows()); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count, 1);
    for (QPushButton *b : {mine, all, del, delAll, copy, close})
        buttons->addWidget(b);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
}

QList<int> CacheWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_entries->selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CacheWindow::fitColumns()
{
    for (QTreeView *view : {m_entries, m_users, m_folders}) {
        for (int c = 0; c < view->model()->columnCount(); ++c)
            view->resizeColumnToContents(c);
    }
}

} // namespace lumen
