#pragma once

#include "engine/download_item.h"
#include "engine/download_list.h"
#include "settings/list_journal.h"

#include <QList>
#include <QMap>

namespace lumen
{

// The download list's table of the journal: every field of each record,
// its state and the file it stored.
class DownloadJournal final : public ModelJournal<DownloadList>
{
    Q_OBJECT
public:
    // The version of this journal file's schema.
    static constexpr int SchemaVersion = 2;

    // The database must outlive the journal; it is opened by the caller.
    DownloadJournal(DownloadList &list, JournalDatabase &database, QObject *parent = nullptr);
    ~DownloadJournal() override;

    // The table's CREATE statements, part of the journal's schema.
    static QStringList schema();
    // The statements that bring a journal of an older version up by one
    // version, by the version they start from.
    static QMap<int, QStringList> upgrades();

    // The records as the last run left them, in list order.
    QList<DownloadItem> storedRecords() const;
    // True when a stored record had not come to an end (waiting or
    // downloading) when the last run stopped.
    bool hasUnfinishedRecords() const;
    // Appends the stored records to the list, records that were
    // downloading coming back as waiting, and journals the list as it then
    // stands. Records whose URL is already in the list are left out.
    // Answers how many were restored.
    qint64 restore();

protected:
    QVariantList valuesAt(qint64 row) const override;
};

} // namespace lumen
