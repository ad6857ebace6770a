#pragma once

#include "harvest/harvest_list.h"
#include "settings/list_journal.h"

#include <QList>

namespace lumen
{

// The harvest list's table of the journal: every entry with its analysis
// state, so that entries harvested but not yet analysed survive the run.
class HarvestJournal final : public ModelJournal<HarvestList>
{
    Q_OBJECT
public:
    // The version of this journal file's schema.
    static constexpr int SchemaVersion = 1;

    HarvestJournal(HarvestList &list, JournalDatabase &database, QObject *parent = nullptr);
    ~HarvestJournal() override;

    static QStringList schema();

    QList<HarvestItem> storedEntries() const;
    // True when a stored entry was not yet handed on (no "成功").
    bool hasUnfinishedEntries() const;
    // Appends the stored entries with their states; entries whose link is
    // already in the list are left out. Answers how many were restored.
    qint64 restore();

protected:
    QVariantList valuesAt(qint64 row) const override;
};

} // namespace lumen
