#pragma once

#include <QAbstractItemModel>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

namespace lumen
{

class JournalDatabase;

// Keeps a list model in a table of the journal so that a closed or crashed
// program can offer the list back. Changes are gathered and written in one
// transaction at most once per flush interval (a second): a progress update
// marks its record and costs nothing more, and a kill loses at most the
// changes of the last interval. Bulk changes (removals, sorting, shuffling,
// clearing) rewrite the table whole in one transaction.
//
// The table has the columns id (the record's id in this run), position
// (its row) and the columns a subclass names; a subclass says how to read
// a record and restores its list from storedRows().
class ListJournal : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 1000;

    ~ListJournal() override;

    // Starts or stops following the list. While stopped nothing is written
    // and the table is emptied (the setting that turns journaling off).
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Writes the gathered changes now; the interval timer and the
    // destructor call it. False when the write failed (lastError() says
    // why); the changes stay gathered for the next try.
    bool flush();
    QString lastError() const { return m_lastError; }
    void setFlushInterval(int ms) { m_timer.setInterval(ms); }

    // Empties the table (the user declined the offer).
    void discard();

signals:
    // After each committed batch, with the number of records written.
    void flushed(qint64 written);
    // A batch could not be written (the disk is full, the file went away):
    // once when writes start failing, not again until one has succeeded.
    void writeFailed(const QString &reason);

protected:
    // columns: the table's columns after id and position, in the order
    // valuesAt() gives them.
    ListJournal(QAbstractItemModel &model, JournalDatabase &database, QString table,
                QStringList columns, QObject *parent);

    virtual qint64 recordCount() const = 0;
    virtual quint64 idAt(qint64 row) const = 0;
    virtual qint64 rowOfId(quint64 id) const = 0;
    virtual QVariantList valuesAt(qint64 row) const = 0;

    // The stored rows in list order, each as its columns' values; empty
    // when the journal is not open.
    QList<QVariantList> storedRows() const;
    // True when a stored row matches the SQL condition.
    bool anyStored(const QString &condition) const;
    // The whole list is written at the next flush (after a restore: the
    // records have this run's ids).
    void markWhole();

private:
    void markDirty(int first, int last);
    void schedule();
    bool write(bool whole);

    QAbstractItemModel &m_model;
    JournalDatabase &m_db;
    QString m_table;
    QStringList m_columns;
    QString m_insert;
    QTimer m_timer;
    QSet<quint64> m_dirty;
    bool m_whole = false;
    bool m_enabled = true;
    bool m_failing = false;
    QString m_lastError;
};

// The bookkeeping every list model of the program answers the same way:
// count(), at(row).id and rowOfId(id).
template <typename List> class ModelJournal : public ListJournal
{
protected:
    ModelJournal(List &list, JournalDatabase &database, QString table, QStringList columns,
                 QObject *parent)
        : ListJournal(list, database, std::move(table), std::move(columns), parent), m_list(list)
    {
    }
    qint64 recordCount() const override { return m_list.count(); }
    quint64 idAt(qint64 row) const override { return m_list.at(row).id; }
    qint64 rowOfId(quint64 id) const override { return m_list.rowOfId(id); }

    List &m_list;
};

} // namespace lumen
