#pragma once

#include "engine/download_item.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace lumen
{

class DownloadList;
class JournalDatabase;

// Keeps the download list in the journal so that a closed or crashed
// program can offer it back. Changes of the list are gathered and written
// in one transaction at most once per flush interval (a second): a
// progress update marks its record and costs nothing more, and a kill
// loses at most the changes of the last interval. Bulk changes of the
// list (removals, sorting, shuffling, clearing) rewrite the journal whole
// in one transaction.
class DownloadJournal : public QObject
{
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 1000;
    static constexpr int SchemaVersion = 1;

    // The database must outlive the journal; it is opened by the caller.
    DownloadJournal(DownloadList &list, JournalDatabase &database, QObject *parent = nullptr);
    ~DownloadJournal() override;

    // The journal's schema, for JournalDatabase.
    static QStringList schema();

    // The records the journal holds, in list order, as the last run left
    // them.
    QList<DownloadItem> storedRecords() const;
    // True when the journal holds a record that had not come to an end
    // (waiting or downloading) when the last run stopped.
    bool hasUnfinishedRecords() const;
    // Appends the stored records to the list, records that were
    // downloading coming back as waiting, and journals the list as it
    // then stands. Records whose URL is already in the list are left out.
    // Answers how many records were restored.
    qint64 restore();
    // Empties the journal (the user declined the offer, or the list was
    // cleared).
    void discard();

    // Starts or stops following the list. While stopped nothing is written
    // and the journal is emptied (the setting that turns journaling off).
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Writes the gathered changes now; the interval timer and the
    // destructor call it. False when the write failed (the reason is
    // lastError()); the changes stay gathered for the next try.
    bool flush();
    QString lastError() const { return m_lastError; }
    void setFlushInterval(int ms) { m_timer.setInterval(ms); }

signals:
    // After each committed batch, with the number of records written.
    void flushed(qint64 written);

private:
    void markDirty(int first, int last);
    void markWhole();
    void schedule();
    bool writeWhole();
    bool writeDirty();

    DownloadList &m_list;
    JournalDatabase &m_db;
    QTimer m_timer;
    QSet<quint64> m_dirty;
    bool m_whole = false;
    bool m_enabled = true;
    QString m_lastError;
};

} // namespace lumen
