#include "harvest/harvest_list.h"

namespace lumen
{

HarvestList::HarvestList(QObject *parent) : QAbstractTableModel(parent) {}

int HarvestList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(qMin<qint64>(m_items.size(), INT_MAX));
}

int HarvestList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString HarvestList::columnCaption(int column)
{
    switch (column) {
    case TitleColumn:
        return QStringLiteral("标题");
    case TypeColumn:
        return QStringLiteral("类型");
    case StateColumn:
        return QStringLiteral("分析状态");
    case FolderColumn:
        return QStringLiteral("保存路径");
    case SourceColumn:
        return QStringLiteral("TYPE");
    default:
        return QString();
    }
}

QVariant HarvestList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const HarvestItem &it = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case TitleColumn:
            return it.title;
        case TypeColumn:
            return it.fileType;
        case StateColumn:
            return it.state;
        case FolderColumn:
            return it.folder;
        case SourceColumn:
            return it.source;
        }
        return {};
    case KeyRole:
        return it.fullTextLink;
    case PageLinkRole:
        return it.pageLink;
    case IdRole:
        return it.id;
    }
    return {};
}

QVariant HarvestList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnCaption(section);
    return {};
}

Qt::ItemFlags HarvestList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool HarvestList::add(const QString &title, const QString &fullTextLink, const QString &pageLink,
                      const QString &fileType, const QString &folder, const QString &source)
{
    if (m_rowByKey.contains(fullTextLink))
        return false;
    const qint64 row = m_items.size();
    beginInsertRows(QModelIndex(), int(row), int(row));
    HarvestItem &item = m_items.emplace_back();
    item.id = m_nextId++;
    item.title = title;
    item.fileType = fileType;
    item.folder = folder;
    item.source = source;
    item.fullTextLink = fullTextLink;
    item.pageLink = pageLink;
    m_rowByKey.insert(fullTextLink, row);
    m_rowById.insert(item.id, row);
    endInsertRows();
    return true;
}

QList<quint64> HarvestList::idsOfRows(const QList<int> &rows) const
{
    QList<quint64> ids;
    ids.reserve(rows.size());
    for (int r : rows)
        if (r >= 0 && r < m_items.size())
            ids.append(m_items.at(r).id);
    return ids;
}

void HarvestList::setState(qint64 row, const QString &state)
{
    if (row < 0 || row >= m_items.size() || m_items.at(row).state == state)
        return;
    m_items[row].state = state;
    const QModelIndex cell = index(int(row), StateColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

bool HarvestList::setStateById(quint64 id, const QString &state)
{
    const qint64 row = rowOfId(id);
    if (row < 0)
        return false;
    setState(row, state);
    return true;
}

template <typename Pred> qint64 HarvestList::removeWhere(Pred remove)
{
    // Find the rows first so that views hear of one contiguous block as a
    // plain removal and of anything scattered as one reset, never of
    // thousands of single-row shifts.
    qint64 first = -1, last = -1, removed = 0;
    bool contiguous = true;
    for (qint64 r = 0; r < m_items.size(); ++r) {
        if (!remove(m_items.at(r)))
            continue;
        if (first < 0)
            first = r;
        else if (r != last + 1)
            contiguous = false;
        last = r;
        ++removed;
    }
    if (removed == 0) {
        emit rowsRemovedCount(0);
        return 0;
    }
    if (contiguous) {
        beginRemoveRows(QModelIndex(), int(first), int(last));
        m_items.remove(first, last - first + 1);
        rebuildIndexes();
        endRemoveRows();
    } else {
        beginResetModel();
        m_items.removeIf(remove);
        rebuildIndexes();
        endResetModel();
    }
    emit rowsRemovedCount(removed);
    return removed;
}

qint64 HarvestList::removeIds(const QSet<quint64> &ids)
{
    return removeWhere([&ids](const HarvestItem &it) { return ids.contains(it.id); });
}

qint64 HarvestList::removeSucceeded()
{
    return removeWhere([](const HarvestItem &it) { return it.state == HarvestText::Succeeded; });
}

qint64 HarvestList::removeByTitle(const QString &text, bool contains)
{
    return removeWhere([&text, contains](const HarvestItem &it) {
        return it.title.contains(text, Qt::CaseInsensitive) == contains;
    });
}

void HarvestList::clear()
{
    const qint64 removed = m_items.size();
    beginResetModel();
    m_items.clear();
    m_rowByKey.clear();
    m_rowById.clear();
    endResetModel();
    emit rowsRemovedCount(removed);
}

void HarvestList::rebuildIndexes()
{
    m_rowByKey.clear();
    m_rowById.clear();
    m_rowByKey.reserve(m_items.size());
    m_rowById.reserve(m_items.size());
    for (qint64 r = 0; r < m_items.size(); ++r) {
        m_rowByKey.insert(m_items.at(r).fullTextLink, r);
        m_rowById.insert(m_items.at(r).id, r);
    }
}

} // namespace lumen
