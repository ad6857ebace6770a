#pragma once

// The cache tool's decisions without the window (fIEcache): the listing of
// this user's cache entries or of every user's cache files, deletion with
// its sparing rules, the numeric size sort, and the hand-over of documents
// to the copy window.

#include "tools/browser_cache.h"
#include "tools/copy_session.h"

#include <QAbstractTableModel>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace lumen
{

class Prompter;

namespace cache_text
{
inline const QString Caption = QStringLiteral("IE浏览器Cookie 缓存和历史列表");
inline const QString MyCacheKind = QStringLiteral("我的缓存");
inline const QString AllCachesKind = QStringLiteral("所有缓存");
inline const QString UserPrefix = QStringLiteral("用户:");
inline const QString Cleared = QStringLiteral("IE缓存清空完毕！");
// "共有" N " 个文件", or with "出错!!!" before it when the listing failed.
QString countLine(int count, bool failed = false);
} // namespace cache_text

// One row of the entry list: a cache entry (Text = its URL) or a file of a
// user's cache folder (Text = "用户:" and the user's name).
struct CacheRow {
    QString text;
    QString type;
    qint64 size = 0;
    QString filePath;
    std::optional<CacheEntry> entry; // for the rows of this user's cache
};

// The entry list (ListView1): columns "URL", "TYPE", "SIZE(Byte)",
// "FilePath". Sizes sort as numbers.
class CacheRowModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { UrlColumn, TypeColumn, SizeColumn, FilePathColumn, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    void setRows(QList<CacheRow> rows);
    const QList<CacheRow> &rows() const { return m_rows; }

private:
    QList<CacheRow> m_rows;
};

// A list of text rows under fixed headers (the user folders, the folders).
class TextRowModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TextRowModel(const QStringList &headers, QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void setRows(QList<QStringList> rows);
    const QList<QStringList> &rows() const { return m_rows; }

private:
    QStringList m_headers;
    QList<QStringList> m_rows;
};

class CacheToolSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString countLine READ countLine NOTIFY countLineChanged)
    Q_PROPERTY(QString listingKind READ listingKind NOTIFY listingKindChanged)

public:
    // myCacheFolder: this user's cache; homes: the home folders whose cache
    // folder of the same place "all users" lists (candidateHomeFolders()).
    CacheToolSession(const QString &myCacheFolder, const QString &myHome, const QStringList &homes,
                     QObject *parent = nullptr);

    CacheRowModel *entries() { return &m_entries; }
    TextRowModel *userFolders() { return &m_userFolders; }
    TextRowModel *cacheFolders() { return &m_cacheFolders; }
    QString countLine() const { return m_countLine; }
    // "我的缓存", "所有缓存", or empty before the first listing.
    QString listingKind() const { return m_kind; }
    // The sub-folders of every user's cache folder found by the last
    // all-users listing; what deletion removes when they are left empty.
    const QStringList &recordedFolders() const { return m_recordedFolders; }

    // The column click: sorts by the column, descending unless the last
    // sort was descending; sizes sort as numbers.
    void sortByColumn(int column);
    Qt::SortOrder sortOrder() const { return m_order; }

    // The documents of the given rows for the copy window: cache entries
    // are written decoded under their URLs' names.
    QList<CopySource> copySources(const QList<int> &rows) const;

public slots:
    // 查看我的缓存: this user's cache entries (complete pages and documents).
    void listMyCache();
    // 查看所有用户缓存: every file of the cache folder under each home.
    void listAllUsers();
    // 删除所选文件 and 全部删除: deletes the rows' entries or files, sparing
    // entries whose URL names a cookie and (in the all-users listing) .txt
    // files; then removes the empty folders left and lists again.
    void deleteRows(const QList<int> &rows);
    void deleteAll();
    // 复制选中...: hands the documents of the rows to the copy window.
    void copyRows(const QList<int> &rows);

signals:
    void countLineChanged(const QString &line);
    void listingKindChanged(const QString &kind);
    // The copy window is to open with these files and this caption.
    void copyRequested(const QList<lumen::CopySource> &sources);

private:
    void setCountLine(const QString &line);
    void setKind(const QString &kind);

    QString m_myCacheFolder;
    QString m_myHome;
    QStringList m_homes;
    CacheRowModel m_entries;
    TextRowModel m_userFolders;
    TextRowModel m_cacheFolders;
    QString m_countLine;
    QString m_kind;
    QStringList m_recordedFolders;
    Qt::SortOrder m_order = Qt::AscendingOrder;
};

// ClearBrowserCache with its report: clears as ClearBrowserCache does and,
// when report is set, says "IE缓存清空完毕！". The menu entries of the search
// and download windows call it with report set.
CacheClearResult clearBrowserCache(const QString &myCacheFolder, const QString &myHome,
                                   const QStringList &homes, Prompter &prompter, bool report);

} // namespace lumen

Q_DECLARE_METATYPE(QList<lumen::CopySource>)
