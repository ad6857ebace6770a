#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace lumen
{

// Texts the harvest writes into its rows.
namespace HarvestText
{
inline const QString Succeeded = QStringLiteral("成功");    // handed to the download list
inline const QString Failed = QStringLiteral("分析失败");   // counts as not succeeded
inline const QString SourceSearch = QStringLiteral("搜索"); // found on a search results page
inline const QString FileTypePdf = QStringLiteral("pdf");
} // namespace HarvestText

// One result entry found on a search results page.
struct HarvestItem {
    quint64 id = 0;       // stable identity, independent of the row's position
    QString title;        // anchor text of the entry, trimmed
    QString fileType;     // "pdf" for every parsed entry
    QString state;        // "", "成功" or "分析失败"
    QString folder;       // save folder chosen at harvest time, or ""
    QString source;       // "搜索" for every parsed entry
    QString fullTextLink; // the row's key: unique within the list
    QString pageLink;     // results page the entry was found on
};

// The harvest list: the model the search window shows and the store of the
// entries. Rows are 0-based here. Lookups by key and by id are hash based so
// that harvesting a page never walks the list.
class HarvestList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TitleColumn, TypeColumn, StateColumn, FolderColumn, SourceColumn, ColumnCount };
    enum Role { KeyRole = Qt::UserRole + 1, PageLinkRole, IdRole };

    explicit HarvestList(QObject *parent = nullptr);

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Titles are never edited in place.
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    static QString columnCaption(int column);

    qint64 count() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    // The row count as the label beside the list shows it.
    QString countText() const { return QString::number(m_items.size()); }

    // 加入LV1: appends a row with an empty state. A full-text link already in
    // the list is silently skipped and the existing row left as it was.
    // Returns whether a row was added.
    bool add(const QString &title, const QString &fullTextLink, const QString &pageLink,
             const QString &fileType, const QString &folder, const QString &source);

    const HarvestItem &at(qint64 row) const { return m_items.at(row); }
    const QList<HarvestItem> &items() const { return m_items; }
    bool containsKey(const QString &fullTextLink) const
    {
        return m_rowByKey.contains(fullTextLink);
    }
    // -1 when absent.
    qint64 rowOfKey(const QString &fullTextLink) const
    {
        return m_rowByKey.value(fullTextLink, -1);
    }
    qint64 rowOfId(quint64 id) const { return m_rowById.value(id, -1); }
    QList<quint64> idsOfRows(const QList<int> &rows) const;

    // The analysis state is the only field that changes after a row is added.
    void setState(qint64 row, const QString &state);
    bool setStateById(quint64 id, const QString &state);

    // The removal walks behind the clear commands. Each returns the number of
    // rows removed. They hold no guard or prompt of their own.
    qint64 removeIds(const QSet<quint64> &ids);
    qint64 removeSucceeded();
    // Case-insensitive; removes the rows whose title contains the text
    // (contains == true) or lacks it (contains == false).
    qint64 removeByTitle(const QString &text, bool contains);
    void clear();

signals:
    // After every removal walk; the label beside the list follows it.
    void rowsRemovedCount(qint64 removed);

private:
    template <typename Pred> qint64 removeWhere(Pred remove);
    void rebuildIndexes();

    QList<HarvestItem> m_items;
    QHash<QString, qint64> m_rowByKey;
    QHash<quint64, qint64> m_rowById;
    quint64 m_nextId = 1;
};

} // namespace lumen
