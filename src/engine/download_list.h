#pragma once

#include "engine/download_item.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <random>

namespace lumen
{

struct StatusCounts {
    qint64 total = 0;
    qint64 waiting = 0;
    qint64 downloading = 0;
    qint64 finished = 0;
    qint64 failed = 0;
    // How the ended records ended (endedAs): kept beside the states, so
    // telling them apart costs nothing per tick however long the list.
    qint64 documents = 0;
    qint64 webPages = 0;
    qint64 skippedExists = 0;
    qint64 skippedTooLarge = 0;
    qint64 cannotReplace = 0;
    qint64 failures = 0;
    qint64 cancelled = 0;
    // Records of an html type or failed: what the error stop counts.
    qint64 errorsOrPages = 0;
};

// The download list: the one queue of the engine and the model the window
// shows. Rows are 0-based here; the lookups by URL and by id are hash based
// so that neither appending nor finding a record walks the list.
class DownloadList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        NameColumn,
        TypeColumn,
        SizeColumn,
        ReceivedColumn,
        PercentColumn,
        FolderColumn,
        BaseColumn,
        // Why the record ended as it did; after every other column, so the
        // positions of those stay what they always were.
        ReasonColumn,
        ColumnCount
    };
    // OutcomeRole: endedAs() as an int; ProblemRole: isProblem().
    enum Role {
        StateRole = Qt::UserRole + 1,
        UrlRole,
        RefererRole,
        IdRole,
        OutcomeRole,
        ProblemRole
    };

    // Hint shown for the list in the window.
    static const QString HintText;

    explicit DownloadList(QObject *parent = nullptr);

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    static QString columnCaption(int column);
    static Qt::Alignment columnAlignment(int column);
    static int columnInitialWidthTwips(int column);

    qint64 count() const { return m_items.size() - m_gapLength; }
    bool isEmpty() const { return count() == 0; }

    // Appends a Waiting record at the end. The name is passed through
    // SanitizeFileName. A URL already in the list leaves the list as it was;
    // the append still counts as done, so this always returns the row that
    // holds the URL.
    qint64 append(const QString &url, const QString &name, const QString &fileType,
                  const QString &folder, const QString &referer);

    const DownloadItem &at(qint64 row) const { return m_items.at(physicalRow(row)); }
    const QList<DownloadItem> &items() const { return m_items; }
    // -1 when absent.
    qint64 rowOfUrl(const QString &url) const;
    qint64 rowOfId(quint64 id) const;
    bool containsUrl(const QString &url) const { return m_rowByUrl.contains(url); }

    // Changes one record in place and tells the views. The change may not
    // alter the id; a changed URL is refused (returns false, record kept)
    // when another record already has it.
    bool update(qint64 row, const std::function<void(DownloadItem &)> &change);
    bool updateById(quint64 id, const std::function<void(DownloadItem &)> &change);
    void setState(qint64 row, DownloadState state);

    // Structural changes. The callers (list operations) refuse them while a
    // download runs; the model itself only keeps its indexes right.
    void removeRowsAt(QList<qint64> rows);
    void clear();
    // newOrder[i] is the old row that becomes row i; must be a permutation.
    // Selections and other persistent indexes follow their records.
    void reorder(const QList<qint64> &newOrder);

    // Bulk operations of the list menu. Each walks the list once and tells
    // the views once (removal: once per run of adjacent rows), so a list of
    // tens of thousands of records stays responsive.

    // Removes every record the predicate holds for; answers how many went.
    qint64 removeIf(const std::function<bool(const DownloadItem &)> &predicate);
    // A uniformly random order of every record.
    void shuffle(std::mt19937_64 &random);
    // Sorts once by the column's text, stably: records appended later go to
    // the end, not to their sorted place. Sizes, received bytes and
    // percentages compare as 64-bit numbers; empty texts come before numbers
    // and other texts ("未知", "不存在") after them. Other columns compare
    // their texts without regard to letter case.
    void sortByColumn(int column, Qt::SortOrder order);
    // Rewrites the URL and referer of every record at once. When two records
    // would end with the same URL nothing changes and the answer names them.
    struct UrlClash {
        qint64 firstRow = -1;
        qint64 secondRow = -1;
        QString url;
    };
    std::optional<UrlClash>
    rewriteUrls(const std::function<void(QString &url, QString &referer)> &rewrite);

    // 统计未下载项数目: rows whose size, received and percent texts are all empty.
    qint64 countNotDownloaded() const;
    // 检测是否下载列表完毕: true when empty or every row is Finished or Failed.
    bool isListFinished() const;
    // CountErrorOrPageItems: rows typed htm/html (any case) plus failed rows of other types.
    qint64 countErrorOrPageItems() const;
    // UpdateStatusCounts: totals by state, kept up to date as records change.
    StatusCounts statusCounts() const;

signals:
    // Emitted after any change of a record's state.
    void stateChanged(quint64 id, DownloadState from, DownloadState to);

private:
    void rebuildIndexes();
    // Removes the rows whose flag is set, in one pass over the records.
    qint64 removeMarked(const QList<bool> &marked);
    // During removeMarked the records between the rows kept so far and the
    // rows not yet looked at are a gap of m_gapLength dead entries starting at
    // row m_gapStart; every row access goes through here.
    qsizetype physicalRow(qint64 row) const { return row < m_gapStart ? row : row + m_gapLength; }
    void countState(DownloadState state, int delta);
    void countOutcome(Outcome outcome, int delta);
    void countErrorOrPage(const DownloadItem &item, int delta);

    QList<DownloadItem> m_items;
    QHash<QString, qint64> m_rowByUrl;
    QHash<quint64, qint64> m_rowById;
    quint64 m_nextId = 1;
    StatusCounts m_counts;
    qint64 m_gapStart = 0;
    qint64 m_gapLength = 0;
};

} // namespace lumen
