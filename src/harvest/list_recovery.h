#pragma once

#include "download_window/download_journal.h"
#include "harvest/harvest_journal.h"
#include "settings/journal_database.h"

#include <QLockFile>

#include <QString>

#include <memory>

namespace lumen
{

class DownloadList;
class HarvestList;
class Prompter;

// The journals of both lists and the offer to bring them back. A run that
// ended with records still waiting or downloading, or with harvested
// entries not yet handed on, is offered back at the next start; declining
// empties the journals, and a run whose lists were done starts empty as
// before. A journal file that cannot be trusted is set aside with a
// message, and a journal that cannot be kept at all lets the program run
// on without one.
class ListRecovery
{
public:
    // folder: where the two journal files live.
    ListRecovery(DownloadList &downloads, Prompter &prompter, QString folder);
    ~ListRecovery();

    // The per-user data folder's "<application title>/journal".
    static QString defaultFolder();

    // Opens the journals (when enabled), tells of files set aside, and
    // offers the last run's lists. True when records were restored into
    // the download list, so that the download window should be shown.
    // Disabled: the journals are emptied and nothing is followed.
    bool start(bool enabled);
    // The harvest list comes with the search, usually later than the
    // download list: once both this and start() were called it is
    // journaled, and filled from the journal when the offer was taken.
    void attachHarvest(HarvestList &harvest);

    // Null before start() or when that journal could not be opened.
    DownloadJournal *downloadJournal() const { return m_downloadJournal.get(); }
    HarvestJournal *harvestJournal() const { return m_harvestJournal.get(); }

private:
    void journalHarvest();
    void tellWhenWritesFail(ListJournal &journal, const QString &path);

    DownloadList &m_downloads;
    Prompter &m_prompter;
    // Held for the whole run: a second copy of the program started beside
    // this one must neither offer nor wipe nor write into this run's lists.
    QLockFile m_lock;
    JournalDatabase m_downloadDb;
    JournalDatabase m_harvestDb;
    std::unique_ptr<DownloadJournal> m_downloadJournal;
    std::unique_ptr<HarvestJournal> m_harvestJournal;
    HarvestList *m_harvestList = nullptr;
    bool m_started = false;
    bool m_enabled = true;
    bool m_restoreHarvest = false;
};

} // namespace lumen
