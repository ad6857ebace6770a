#pragma once

#include <QDialog>
#include <QList>

class QLabel;
class QPushButton;
class QTreeView;

namespace lumen
{

class CacheToolSession;

// fIEcache: the browser cache tool. A view over CacheToolSession: the entry
// list, the user folders and their sub-folders, the count line and the
// buttons. The lists start empty; nothing is listed until a button asks.
class CacheWindow : public QDialog
{
    Q_OBJECT
public:
    explicit CacheWindow(CacheToolSession &session, QWidget *parent = nullptr);

    // The rows selected in the entry list, in row order.
    QList<int> selectedRows() const;

private:
    void fitColumns();

    CacheToolSession &m_session;
    QTreeView *m_entries = nullptr;
    QTreeView *m_users = nullptr;
    QTreeView *m_folders = nullptr;
    QLabel *m_count = nullptr;
};

} // namespace lumen
