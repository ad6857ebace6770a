#include "engine/download_list.h"

#include "engine/naming.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace lumen
{

QString percentText(qint64 received, qint64 total)
{
    const double pct = double(received) / double(total) * 100.0;
    return QString::number(qint64(std::floor(pct))) + QLatin1Char('%');
}

QString sizeColumnText(const DownloadItem &item)
{
    if (item.sizeNote == SizeNote::WaitingAgain)
        return RecordText::WaitingAgain;
    if (item.size >= 0)
        return QString::number(item.size);
    if (item.sizeNote == SizeNote::Unannounced)
        return RecordText::SizeUnknown;
    return QString();
}

QString receivedColumnText(const DownloadItem &item)
{
    return item.received >= 0 ? QString::number(item.received) : QString();
}

QString percentColumnText(const DownloadItem &item)
{
    switch (item.percentNote) {
    case PercentNote::FileMissing:
        return RecordText::FileMissing;
    case PercentNote::ProxyUnusable:
        return RecordText::BadProxy;
    case PercentNote::Cancelled:
        return RecordText::Cancelled;
    case PercentNote::None:
        break;
    }
    switch (item.outcome) {
    case Outcome::SkippedTooLarge:
        return RecordText::BigFileSkipped;
    case Outcome::SkippedExists:
        return RecordText::ExistsSkipped;
    case Outcome::CannotReplace:
        return RecordText::CannotReplace;
    default:
        break;
    }
    if (item.size > 0 && item.received >= 0)
        return percentText(item.received, item.size);
    return QString();
}

Outcome endedAs(const DownloadItem &item)
{
    if (item.outcome != Outcome::None)
        return item.outcome;
    switch (item.state) {
    case DownloadState::Finished:
        return Outcome::Document;
    case DownloadState::Failed:
        return Outcome::Failed;
    default:
        return Outcome::None;
    }
}

bool isProblem(const DownloadItem &item)
{
    switch (endedAs(item)) {
    case Outcome::WebPage:
    case Outcome::SkippedTooLarge:
    case Outcome::CannotReplace:
    case Outcome::Failed:
    case Outcome::Cancelled:
        return true;
    case Outcome::None:
    case Outcome::Document:
    case Outcome::SkippedExists:
        return false;
    }
    return false;
}

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::None:
        return QString();
    case Outcome::Document:
        return QStringLiteral("文献已保存");
    case Outcome::WebPage:
        return QStringLiteral("保存的是网页，不是文献");
    case Outcome::SkippedExists:
        return RecordText::ExistsSkipped;
    case Outcome::SkippedTooLarge:
        return RecordText::BigFileSkipped;
    case Outcome::CannotReplace:
        return RecordText::CannotReplace;
    case Outcome::Failed:
        return QStringLiteral("下载出错");
    case Outcome::Cancelled:
        return RecordText::Cancelled;
    }
    return QString();
}

QString recordToolTip(const DownloadItem &item)
{
    QString tip = item.name;
    if (!item.fileType.isEmpty())
        tip += QLatin1Char('.') + item.fileType;
    if (const QString ended = outcomeText(endedAs(item)); !ended.isEmpty())
        tip += QLatin1Char('\n') + ended;
    if (!item.reason.isEmpty())
        tip += QStringLiteral("\n原因：") + item.reason;
    return tip;
}

void clearProgress(DownloadItem &item)
{
    item.size = -1;
    item.received = -1;
    item.sizeNote = SizeNote::None;
    item.percentNote = PercentNote::None;
    item.outcome = Outcome::None;
    item.reason.clear();
}

QString plainDecimalText(double value)
{
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

const QString DownloadList::HintText = QStringLiteral("双击鼠标：下载当前项或者打开文件");

DownloadList::DownloadList(QObject *parent) : QAbstractTableModel(parent) {}

int DownloadList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(qMin<qint64>(count(), INT_MAX));
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
    case ReasonColumn:
        return QStringLiteral("原因");
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
    static constexpr int widths[ColumnCount] = {6000, 800, 1100, 1100, 800, 6000, 1440, 4500};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

QVariant DownloadList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const DownloadItem &it = at(index.row());
    switch (role) {
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return recordToolTip(it);
        [[fallthrough]];
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return it.name;
        case TypeColumn:
            return it.fileType;
        case SizeColumn:
            return sizeColumnText(it);
        case ReceivedColumn:
            return receivedColumnText(it);
        case PercentColumn:
            return percentColumnText(it);
        case FolderColumn:
            return it.folder;
        case BaseColumn:
            return it.baseFlag;
        case ReasonColumn:
            return it.reason;
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
    case OutcomeRole:
        return int(endedAs(it));
    case ProblemRole:
        return isProblem(it);
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
    countOutcome(endedAs(m_items.last()), +1);
    countErrorOrPage(m_items.last(), +1);
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
    const Outcome endedBefore = endedAs(item);
    countErrorOrPage(item, -1);
    item = std::move(copy);
    countErrorOrPage(item, +1);
    if (from != item.state) {
        countState(from, -1);
        countState(item.state, +1);
    }
    if (const Outcome endedNow = endedAs(item); endedNow != endedBefore) {
        countOutcome(endedBefore, -1);
        countOutcome(endedNow, +1);
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
    QList<bool> marked(m_items.size(), false);
    for (qint64 r : std::as_const(rows))
        if (r >= 0 && r < m_items.size())
            marked[r] = true;
    removeMarked(marked);
}

qint64 DownloadList::removeIf(const std::function<bool(const DownloadItem &)> &predicate)
{
    QList<bool> marked(m_items.size(), false);
    bool any = false;
    for (qsizetype r = 0; r < m_items.size(); ++r) {
        marked[r] = predicate(m_items.at(r));
        any = any || marked[r];
    }
    return any ? removeMarked(marked) : 0;
}

qint64 DownloadList::removeMarked(const QList<bool> &marked)
{
    // Runs are removed from the top down. The records kept so far are moved
    // up as each run is reached, so every record moves at most once and the
    // views see one removal per run, each over a model that already looks
    // exactly as the removal says.
    const qsizetype n = m_items.size();
    qsizetype write = 0; // first free place for a kept record
    qsizetype read = 0;  // first record not yet looked at
    qint64 removed = 0;
    while (read < n) {
        if (!marked.at(read)) {
            ++read;
            continue;
        }
        qsizetype runEnd = read;
        while (runEnd + 1 < n && marked.at(runEnd + 1))
            ++runEnd;
        // Close the gap in front of the run: kept records move up to write.
        if (m_gapLength == 0)
            write = read;
        else
            for (qsizetype r = write + m_gapLength; r < read; ++r)
                m_items[write++] = std::move(m_items[r]);
        m_gapStart = write;
        m_gapLength = read - write;
        const qint64 first = write;
        const qint64 last = write + (runEnd - read);
        beginRemoveRows(QModelIndex(), int(first), int(last));
        for (qsizetype r = read; r <= runEnd; ++r) {
            countState(m_items.at(r).state, -1);
            countOutcome(endedAs(m_items.at(r)), -1);
            countErrorOrPage(m_items.at(r), -1);
        }
        m_counts.total -= runEnd - read + 1;
        removed += runEnd - read + 1;
        read = runEnd + 1;
        m_gapLength = read - write;
        endRemoveRows();
    }
    if (removed == 0)
        return 0;
    for (qsizetype r = write + m_gapLength; r < n; ++r)
        m_items[write++] = std::move(m_items[r]);
    m_items.resize(write);
    m_gapStart = 0;
    m_gapLength = 0;
    rebuildIndexes();
    return removed;
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
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<DownloadItem> sorted;
    sorted.reserve(m_items.size());
    QList<qint64> newRowOfOld(m_items.size(), 0);
    for (qsizetype i = 0; i < newOrder.size(); ++i) {
        const qint64 old = newOrder.at(i);
        sorted.append(std::move(m_items[old]));
        newRowOfOld[old] = i;
    }
    m_items = std::move(sorted);
    rebuildIndexes();
    // The selection and the current row follow their records.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &i : before)
        after.append(index(int(newRowOfOld.at(i.row())), i.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void DownloadList::shuffle(std::mt19937_64 &random)
{
    QList<qint64> order(m_items.size());
    std::iota(order.begin(), order.end(), qint64(0));
    std::shuffle(order.begin(), order.end(), random);
    reorder(order);
}

namespace
{

bool isNumericColumn(int column)
{
    return column == DownloadList::SizeColumn || column == DownloadList::ReceivedColumn ||
           column == DownloadList::PercentColumn;
}

// Empty texts first, then numbers by value, then any other text.
struct SortKey {
    int rank = 0;
    qint64 number = 0;
    QString folded;
};

SortKey sortKeyOf(const QString &text, int column)
{
    SortKey k;
    if (text.isEmpty())
        return k;
    if (isNumericColumn(column)) {
        QString digits = text.trimmed();
        if (column == DownloadList::PercentColumn)
            digits.remove(QLatin1Char('%'));
        bool ok = false;
        k.number = digits.toLongLong(&ok);
        if (ok) {
            k.rank = 1;
            return k;
        }
    }
    k.rank = 2;
    k.folded = text.toCaseFolded();
    return k;
}

bool keyLess(const SortKey &a, const SortKey &b)
{
    if (a.rank != b.rank)
        return a.rank < b.rank;
    if (a.rank == 1)
        return a.number < b.number;
    return a.folded < b.folded;
}

QString columnText(const DownloadItem &it, int column)
{
    switch (column) {
    case DownloadList::NameColumn:
        return it.name;
    case DownloadList::TypeColumn:
        return it.fileType;
    case DownloadList::SizeColumn:
        return sizeColumnText(it);
    case DownloadList::ReceivedColumn:
        return receivedColumnText(it);
    case DownloadList::PercentColumn:
        return percentColumnText(it);
    case DownloadList::FolderColumn:
        return it.folder;
    case DownloadList::BaseColumn:
        return it.baseFlag;
    case DownloadList::ReasonColumn:
        return it.reason;
    }
    return QString();
}

} // namespace

void DownloadList::sortByColumn(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    std::vector<SortKey> keys;
    keys.reserve(m_items.size());
    for (const DownloadItem &it : std::as_const(m_items))
        keys.push_back(sortKeyOf(columnText(it, column), column));
    QList<qint64> rows(m_items.size());
    std::iota(rows.begin(), rows.end(), qint64(0));
    if (order == Qt::AscendingOrder)
        std::stable_sort(rows.begin(), rows.end(),
                         [&](qint64 a, qint64 b) { return keyLess(keys[a], keys[b]); });
    else
        std::stable_sort(rows.begin(), rows.end(),
                         [&](qint64 a, qint64 b) { return keyLess(keys[b], keys[a]); });
    reorder(rows);
}

std::optional<DownloadList::UrlClash>
DownloadList::rewriteUrls(const std::function<void(QString &, QString &)> &rewrite)
{
    QList<std::pair<QString, QString>> next;
    next.reserve(m_items.size());
    QHash<QString, qint64> rowByUrl;
    rowByUrl.reserve(m_items.size());
    for (qsizetype r = 0; r < m_items.size(); ++r) {
        QString url = m_items.at(r).url;
        QString referer = m_items.at(r).referer;
        rewrite(url, referer);
        if (const auto found = rowByUrl.constFind(url); found != rowByUrl.constEnd())
            return UrlClash{*found, r, url};
        rowByUrl.insert(url, r);
        next.append({std::move(url), std::move(referer)});
    }
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype r = 0; r < m_items.size(); ++r) {
        DownloadItem &it = m_items[r];
        if (it.url == next.at(r).first && it.referer == next.at(r).second)
            continue;
        it.url = next.at(r).first;
        it.referer = next.at(r).second;
        if (first < 0)
            first = r;
        last = r;
    }
    m_rowByUrl = std::move(rowByUrl);
    if (first >= 0)
        emit dataChanged(index(int(first), 0), index(int(last), ColumnCount - 1));
    return std::nullopt;
}

qint64 DownloadList::countNotDownloaded() const
{
    // Only a waiting record can be started. A failed or finished record
    // whose columns happen to be empty (one refused before any byte came)
    // is not waiting to be downloaded: counting it would start a run that
    // the same tick finds finished, once a second for ever.
    if (m_counts.waiting == 0)
        return 0;
    qint64 n = 0;
    for (const DownloadItem &it : m_items)
        if (it.state == DownloadState::Waiting && sizeColumnText(it).isEmpty() &&
            receivedColumnText(it).isEmpty() && percentColumnText(it).isEmpty())
            ++n;
    return n;
}

bool DownloadList::isListFinished() const
{
    return m_counts.waiting == 0 && m_counts.downloading == 0;
}

qint64 DownloadList::countErrorOrPageItems() const
{
    return m_counts.errorsOrPages;
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

void DownloadList::countErrorOrPage(const DownloadItem &item, int delta)
{
    if (item.state == DownloadState::Failed ||
        item.fileType.compare(QLatin1String("html"), Qt::CaseInsensitive) == 0 ||
        item.fileType.compare(QLatin1String("htm"), Qt::CaseInsensitive) == 0)
        m_counts.errorsOrPages += delta;
}

void DownloadList::countOutcome(Outcome outcome, int delta)
{
    switch (outcome) {
    case Outcome::None:
        break;
    case Outcome::Document:
        m_counts.documents += delta;
        break;
    case Outcome::WebPage:
        m_counts.webPages += delta;
        break;
    case Outcome::SkippedExists:
        m_counts.skippedExists += delta;
        break;
    case Outcome::SkippedTooLarge:
        m_counts.skippedTooLarge += delta;
        break;
    case Outcome::CannotReplace:
        m_counts.cannotReplace += delta;
        break;
    case Outcome::Failed:
        m_counts.failures += delta;
        break;
    case Outcome::Cancelled:
        m_counts.cancelled += delta;
        break;
    }
}

} // namespace lumen
