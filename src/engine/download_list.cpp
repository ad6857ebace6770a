#include "engine/download_list.h"

#include "engine/naming.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace lumen
{

QString percentText(qint64 received, qint64 total)
{
    const double pct = double(received) / double(total) * 100.0;
    return QString::number(qint64(std::floor(pct))) + QLatin1Char('%');
}

QString plainDecimalText(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

const QString DownloadList::HintText = QStringLiteral("双击鼠标：下载当前项或者打开文件");

DownloadList::DownloadList(QObject *parent) : QAbstractTableModel(parent) {}

int DownloadList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(qMin<qint64>(m_items.size(), INT_MAX));
}

int DownloadList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DownloadList::columnCaption(int column)
{
    switch (column) {
    case NameColumn:
        return QStringLiteral("名称");
    case TypeColumn:
        return QStringLiteral("类型");
    case SizeColumn:
        return QStringLiteral("文件大小");
    case ReceivedColumn:
        return QStringLiteral("已下载数");
    case PercentColumn:
        return QStringLiteral("百分比");
    case FolderColumn:
        return QStringLiteral("保存路径");
    case BaseColumn:
        return QStringLiteral("B");
    default:
        return QString();
    }
}

Qt::Alignment DownloadList::columnAlignment(int column)
{
    switch (column) {
    case SizeColumn:
    case ReceivedColumn:
    case PercentColumn:
        return Qt::AlignRight | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

int DownloadList::columnInitialWidthTwips(int column)
{
    static constexpr int widths[ColumnCount] = {6000, 800, 1100, 1100, 800, 6000, 1440};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

QVariant DownloadList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    const DownloadItem &it = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case NameColumn:
            return it.name;
        case TypeColumn:
            return it.fileType;
        case SizeColumn:
            return it.sizeText;
        case ReceivedColumn:
            return it.receivedText;
        case PercentColumn:
            return it.percentText;
        case FolderColumn:
            return it.folder;
        case BaseColumn:
            return it.baseFlag;
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(columnAlignment(index.column()));
    case StateRole:
        return int(it.state);
    case UrlRole:
        return it.url;
    case RefererRole:
        return it.referer;
    case IdRole:
        return it.id;
    }
    return {};
}

QVariant DownloadList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return columnCaption(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columnAlignment(section));
    return {};
}

qint64 DownloadList::append(const QString &url, const QString &name, const QString &fileType,
                            const QString &folder, const QString &referer)
{
    if (const auto found = m_rowByUrl.constFind(url); found != m_rowByUrl.constEnd())
        return *found;
    DownloadItem item;
    item.id = m_nextId++;
    item.url = url;
    item.name = SanitizeFileName(name);
    item.fileType = fileType;
    item.folder = folder;
    item.referer = referer;
    item.state = DownloadState::Waiting;
    const qint64 row = m_items.size();
    beginInsertRows(QModelIndex(), int(row), int(row));
    m_items.append(std::move(item));
    m_rowByUrl.insert(url, row);
    m_rowById.insert(m_items.last().id, row);
    countState(DownloadState::Waiting, +1);
    ++m_counts.total;
    endInsertRows();
    return row;
}

qint64 DownloadList::rowOfUrl(const QString &url) const
{
    return m_rowByUrl.value(url, -1);
}

qint64 DownloadList::rowOfId(quint64 id) const
{
    return m_rowById.value(id, -1);
}

bool DownloadList::update(qint64 row, const std::function<void(DownloadItem &)> &change)
{
    if (row < 0 || row >= m_items.size())
        return false;
    DownloadItem copy = m_items.at(row);
    change(copy);
    DownloadItem &item = m_items[row];
    copy.id = item.id;
    if (copy.url != item.url) {
        if (m_rowByUrl.contains(copy.url))
            return false;
        m_rowByUrl.remove(item.url);
        m_rowByUrl.insert(copy.url, row);
    }
    const DownloadState from = item.state;
    item = std::move(copy);
    if (from != item.state) {
        countState(from, -1);
        countState(item.state, +1);
    }
    emit dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1));
    if (from != item.state)
        emit stateChanged(item.id, from, item.state);
    return true;
}

bool DownloadList::updateById(quint64 id, const std::function<void(DownloadItem &)> &change)
{
    return update(rowOfId(id), change);
}

void DownloadList::setState(qint64 row, DownloadState state)
{
    update(row, [state](DownloadItem &it) { it.state = state; });
}

void DownloadList::removeRowsAt(QList<qint64> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // Remove from the bottom up in contiguous runs so views get few signals.
    qsizetype i = rows.size() - 1;
    while (i >= 0) {
        const qint64 last = rows.at(i);
        qint64 first = last;
        while (i > 0 && rows.at(i - 1) == first - 1) {
            --i;
            first = rows.at(i);
        }
        --i;
        if (first < 0 || last >= m_items.size())
            continue;
        beginRemoveRows(QModelIndex(), int(first), int(last));
        for (qint64 r = first; r <= last; ++r)
            countState(m_items.at(r).state, -1);
        m_counts.total -= last - first + 1;
        m_items.remove(first, last - first + 1);
        endRemoveRows();
    }
    rebuildIndexes();
}

void DownloadList::clear()
{
    beginResetModel();
    m_items.clear();
    m_rowByUrl.clear();
    m_rowById.clear();
    m_counts = StatusCounts{};
    endResetModel();
}

void DownloadList::reorder(const QList<qint64> &newOrder)
{
    Q_ASSERT(newOrder.size() == m_items.size());
    if (newOrder.size() != m_items.size())
        return;
    emit layoutAboutToBeChanged();
    QList<DownloadItem> sorted;
    sorted.reserve(m_items.size());
    for (qint64 old : newOrder)
        sorted.append(std::move(m_items[old]));
    m_items = std::move(sorted);
    rebuildIndexes();
    // Views hold no persistent indexes into this model that must survive a
    // reorder except the selection, which the window rebuilds by id.
    emit layoutChanged();
}

qint64 DownloadList::countNotDownloaded() const
{
    qint64 n = 0;
    for (const DownloadItem &it : m_items)
        if (it.sizeText.isEmpty() && it.receivedText.isEmpty() && it.percentText.isEmpty())
            ++n;
    return n;
}

bool DownloadList::isListFinished() const
{
    return m_counts.waiting == 0 && m_counts.downloading == 0;
}

qint64 DownloadList::countErrorOrPageItems() const
{
    qint64 n = 0;
    for (const DownloadItem &it : m_items) {
        if (it.fileType.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0 ||
            it.fileType.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0)
            ++n;
        else if (it.state == DownloadState::Failed)
            ++n;
    }
    return n;
}

StatusCounts DownloadList::statusCounts() const
{
    return m_counts;
}

void DownloadList::rebuildIndexes()
{
    m_rowByUrl.clear();
    m_rowById.clear();
    m_rowByUrl.reserve(m_items.size());
    m_rowById.reserve(m_items.size());
    for (qint64 r = 0; r < m_items.size(); ++r) {
        m_rowByUrl.insert(m_items.at(r).url, r);
        m_rowById.insert(m_items.at(r).id, r);
    }
}

void DownloadList::countState(DownloadState state, int delta)
{
    switch (state) {
    case DownloadState::Waiting:
        m_counts.waiting += delta;
        break;
    case DownloadState::Downloading:
        m_counts.downloading += delta;
        break;
    case DownloadState::Finished:
        m_counts.finished += delta;
        break;
    case DownloadState::Failed:
        m_counts.failed += delta;
        break;
    }
}

} // namespace lumen
