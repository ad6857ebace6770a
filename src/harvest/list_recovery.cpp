#include "harvest/list_recovery.h"

#include "engine/app_title.h"
#include "engine/prompter.h"

#include <QDir>
#include <QStandardPaths>

namespace lumen
{

namespace
{

const QString RestoreQuestion = QStringLiteral("恢复上次未完成的下载列表？");
const QString SetAsideMessage =
    QStringLiteral("上次的列表记录文件无法使用（%1），已另存为：\n%2\n本次从空列表开始。");

} // namespace

ListRecovery::ListRecovery(DownloadList &downloads, Prompter &prompter, QString folder)
    : m_downloads(downloads), m_prompter(prompter),
      m_downloadDb(QDir(folder).filePath(QStringLiteral("downloads.sqlite")),
                   DownloadJournal::SchemaVersion, DownloadJournal::schema()),
      m_harvestDb(QDir(folder).filePath(QStringLiteral("harvest.sqlite")),
                  HarvestJournal::SchemaVersion, HarvestJournal::schema())
{
}

ListRecovery::~ListRecovery()
{
    // The journals write their last batch before their databases close.
    m_downloadJournal.reset();
    m_harvestJournal.reset();
}

QString ListRecovery::defaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(ApplicationTitle + QStringLiteral("/journal"));
}

bool ListRecovery::start(bool enabled)
{
    for (JournalDatabase *db : {&m_downloadDb, &m_harvestDb}) {
        // A journal that cannot be kept at all (no driver, a folder that
        // cannot be written) leaves the program running without one.
        if (db->open() && !db->setAsidePath().isEmpty())
            m_prompter.message(SetAsideMessage.arg(db->problem(), db->setAsidePath()),
                               Prompter::Icon::Warning);
    }
    m_enabled = enabled;
    if (m_downloadDb.isOpen())
        m_downloadJournal = std::make_unique<DownloadJournal>(m_downloads, m_downloadDb);
    // The harvest list does not exist yet: a list of its own answers for
    // its journal until attachHarvest().
    HarvestList noHarvestYet;
    std::unique_ptr<HarvestJournal> harvestJournal;
    if (m_harvestDb.isOpen())
        harvestJournal = std::make_unique<HarvestJournal>(noHarvestYet, m_harvestDb);

    if (!enabled) {
        if (m_downloadJournal)
            m_downloadJournal->setEnabled(false);
        if (harvestJournal)
            harvestJournal->setEnabled(false);
        return false;
    }
    const bool unfinished = (m_downloadJournal && m_downloadJournal->hasUnfinishedRecords()) ||
                            (harvestJournal && harvestJournal->hasUnfinishedEntries());
    const bool restore =
        unfinished && m_prompter.question(RestoreQuestion, Prompter::Buttons::YesNo,
                                          Prompter::Icon::Question) == Prompter::Answer::Yes;
    if (!restore) {
        if (m_downloadJournal)
            m_downloadJournal->discard();
        if (harvestJournal)
            harvestJournal->discard();
        return false;
    }
    m_restoreHarvest = true;
    return m_downloadJournal && m_downloadJournal->restore() > 0;
}

void ListRecovery::attachHarvest(HarvestList &harvest)
{
    if (m_harvestJournal || !m_harvestDb.isOpen())
        return;
    m_harvestJournal = std::make_unique<HarvestJournal>(harvest, m_harvestDb);
    m_harvestJournal->setEnabled(m_enabled);
    if (m_restoreHarvest)
        m_harvestJournal->restore();
    m_restoreHarvest = false;
}

} // namespace lumen
