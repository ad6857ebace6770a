#include "tools/cache_tool_session.h"

#include "engine/prompter.h"
#include "tools/logging.h"

#include <QFileInfo>

#include <algorithm>
#include <numeric>

namespace lumen
{

namespace cache_text
{
QString countLine(int count, bool failed)
{
    return (failed ? QStringLiteral("出错!!!共有") : QStringLiteral("共有")) +
           QString::number(count) + QStringLiteral(" 个文件");
}
} // namespace cache_text

// --- CacheRowModel -------------------------------------------------------------

int CacheRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CacheRowModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheRowModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CacheRow &r = m_rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case UrlColumn:
            return r.text;
        case TypeColumn:
            return r.type;
        case SizeColumn:
            return QString::number(r.size);
        case FilePathColumn:
            return r.filePath;
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant CacheRowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList headers{QStringLiteral("URL"), QStringLiteral("TYPE"),
                                     QStringLiteral("SIZE(Byte)"), QStringLiteral("FilePath")};
    return headers.value(section);
}

void CacheRowModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const auto key = [column](const CacheRow &r) -> const QString & {
        return column == UrlColumn ? r.text : column == TypeColumn ? r.type : r.filePath;
    };
    // Stable, so rows of equal keys keep their order.
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const CacheRow &a, const CacheRow &b) {
        if (column == SizeColumn)
            return order == Qt::AscendingOrder ? a.size < b.size : b.size < a.size;
        return order == Qt::AscendingOrder ? key(a) < key(b) : key(b) < key(a);
    });
    // Nothing keeps persistent indexes on this list (selections are
    // cleared by the view on a layout change).
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CacheRowModel::setRows(QList<CacheRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

// --- TextRowModel --------------------------------------------------------------

TextRowModel::TextRowModel(const QStringList &headers, QObject *parent)
    : QAbstractTableModel(parent), m_headers(headers)
{
}

int TextRowModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TextRowModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant TextRowModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return m_rows.value(index.row()).value(index.column());
}

QVariant TextRowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return m_headers.value(section);
}

void TextRowModel::setRows(QList<QStringList> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

// --- CacheToolSession ----------------------------------------------------------

CacheToolSession::CacheToolSession(const QString &myCacheFolder, const QString &myHome,
                                   const QStringList &homes, QObject *parent)
    : QObject(parent), m_myCacheFolder(myCacheFolder), m_myHome(myHome), m_homes(homes),
      m_userFolders({QStringLiteral("用户名"), QStringLiteral("文件夹")}),
      m_cacheFolders({QStringLiteral("文件夹")})
{
    qRegisterMetaType<QList<lumen::CopySource>>();
}

void CacheToolSession::setCountLine(const QString &line)
{
    if (line == m_countLine)
        return;
    m_countLine = line;
    emit countLineChanged(line);
}

void CacheToolSession::setKind(const QString &kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    emit listingKindChanged(kind);
}

void CacheToolSession::listMyCache()
{
    bool ok = false;
    const QList<CacheEntry> entries = listCacheEntries(m_myCacheFolder, &ok);
    QList<CacheRow> rows;
    rows.reserve(entries.size());
    for (const CacheEntry &e : entries) {
        if (!e.normal)
            continue;
        rows.append({e.url, UrlFileExtension(e.url), e.displaySize(), e.filePath, e});
    }
    const int count = int(rows.size());
    qCDebug(lcTools) << "cache listed:" << m_myCacheFolder << count << "entries"
                     << (ok ? "" : "(read in part)");
    m_entries.setRows(std::move(rows));
    setCountLine(cache_text::countLine(count, !ok));
    setKind(cache_text::MyCacheKind);
}

void CacheToolSession::listAllUsers()
{
    QList<QStringList> users;
    QList<QStringList> folders;
    m_recordedFolders.clear();
    QList<CacheRow> rows;
    for (const UserCacheFolder &u : ListAllUserCaches(m_myCacheFolder, m_myHome, m_homes)) {
        users.append({u.user, u.folder});
        const QStringList sub = CollectSubFolders(u.folder);
        m_recordedFolders += sub;
        for (const QString &f : sub)
            folders.append({f});
        for (const QString &path : CollectFiles(u.folder)) {
            rows.append({cache_text::UserPrefix + u.user, UrlFileExtension(path),
                         QFileInfo(path).size(), path, std::nullopt});
        }
    }
    m_userFolders.setRows(std::move(users));
    m_cacheFolders.setRows(std::move(folders));
    const int count = int(rows.size());
    m_entries.setRows(std::move(rows));
    setCountLine(cache_text::countLine(count));
    setKind(cache_text::AllCachesKind);
}

void CacheToolSession::deleteRows(const QList<int> &rowNumbers)
{
    QList<int> sorted = rowNumbers;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const QList<CacheRow> &rows = m_entries.rows();
    for (const int i : std::as_const(sorted)) {
        if (i < 0 || i >= rows.size())
            continue;
        const CacheRow &r = rows.at(i);
        if (r.text.startsWith(cache_text::UserPrefix)) {
            if (r.filePath.isEmpty() || r.type.toLower() == QLatin1String("txt"))
                continue;
            // The file pass spares what the entry pass spares.
            if (const std::optional<CacheEntry> e = readCacheEntry(r.filePath);
                e && isSparedUrl(e->url))
                continue;
            forceDelete(r.filePath);
        } else {
            if (r.text.isEmpty() || isSparedUrl(r.text) || r.filePath.isEmpty())
                continue;
            deleteCacheEntry(r.filePath);
        }
    }
    removeEmptyFolders(m_recordedFolders);
    if (m_kind == cache_text::MyCacheKind)
        listMyCache();
    else if (m_kind == cache_text::AllCachesKind)
        listAllUsers();
}

void CacheToolSession::deleteAll()
{
    QList<int> all(m_entries.rowCount());
    std::iota(all.begin(), all.end(), 0);
    deleteRows(all);
}

void CacheToolSession::sortByColumn(int column)
{
    m_order = m_order == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_entries.sort(column, m_order);
}

QList<CopySource> CacheToolSession::copySources(const QList<int> &rowNumbers) const
{
    QList<int> sorted = rowNumbers;
    std::sort(sorted.begin(), sorted.end());
    QList<CopySource> sources;
    const QList<CacheRow> &rows = m_entries.rows();
    for (const int i : std::as_const(sorted)) {
        if (i < 0 || i >= rows.size() || rows.at(i).filePath.isEmpty())
            continue;
        const CacheRow &r = rows.at(i);
        if (r.entry) {
            sources << CopySource::fromCacheEntry(*r.entry);
        } else if (const std::optional<CacheEntry> e = readCacheEntry(r.filePath)) {
            // A user's cache file that is an entry gives its document too.
            sources << CopySource::fromCacheEntry(*e);
        } else {
            sources << CopySource::fromFile(r.filePath);
        }
    }
    return sources;
}

void CacheToolSession::copyRows(const QList<int> &rows)
{
    emit copyRequested(copySources(rows));
}

CacheClearResult clearBrowserCache(const QString &myCacheFolder, const QString &myHome,
                                   const QStringList &homes, Prompter &prompter, bool report)
{
    const CacheClearResult r = ClearBrowserCache(myCacheFolder, myHome, homes);
    if (report)
        prompter.message(cache_text::Cleared, Prompter::Icon::Information);
    return r;
}

} // namespace lumen
