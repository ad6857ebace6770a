#include "harvest/list_recovery.h"

#include "engine/app_title.h"
#include "engine/prompter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace lumen
{

namespace
{

const QString RestoreQuestion = QStringLiteral("恢复上次未完成的下载列表？");
const QString SetAsideMessage =
    QStringLiteral("上次的列表记录文件无法使用（%1），已另存为：\n%2\n本次从空列表开始。");
const QString CannotWriteMessage =
    QStringLiteral("列表记录文件无法写入（%1）：\n%2\n程序意外退出时，列表可能无法恢复。");
const QString HeldByAnotherRunMessage =
    QStringLiteral("另一个正在运行的本程序正在记录下载列表，本次运行不记录列表。");

} // namespace

ListRecovery::ListRecovery(DownloadList &downloads, Prompter &prompter, QString folder)
    : m_downloads(downloads), m_prompter(prompter),
      m_lock(QDir(folder).filePath(QStringLiteral("lists.lock"))),
      m_downloadDb(QDir(folder).filePath(QStringLiteral("downloads.sqlite")),
                   DownloadJournal::SchemaVersion, DownloadJournal::schema(),
                   DownloadJournal::upgrades()),
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
    // A lock left by a run that died is stale as soon as its process is gone.
    m_lock.setStaleLockTime(0);
    QDir().mkpath(QFileInfo(m_lock.fileName()).absolutePath());
    if (!m_lock.tryLock(0) && m_lock.error() == QLockFile::LockFailedError) {
        // Another copy keeps the journals: this run goes on without one,
        // and leaves them as they are even when it keeps none itself.
        if (enabled)
            m_prompter.message(HeldByAnotherRunMessage, Prompter::Icon::Information);
        m_started = true;
        return false;
    }
    for (JournalDatabase *db : {&m_downloadDb, &m_harvestDb}) {
        // A journal that cannot be kept at all (no driver, a folder that
        // cannot be written) leaves the program running without one.
        if (db->open() && !db->setAsidePath().isEmpty())
            m_prompter.message(SetAsideMessage.arg(db->problem(), db->setAsidePath()),
                               Prompter::Icon::Warning);
    }
    m_enabled = enabled;
    m_started = true;
    if (m_downloadDb.isOpen()) {
        m_downloadJournal = std::make_unique<DownloadJournal>(m_downloads, m_downloadDb);
        tellWhenWritesFail(*m_downloadJournal, m_downloadDb.path());
    }
    // The harvest list may not exist yet: the decision reads its journal
    // through a list of its own, and the real list joins it afterwards.
    {
        HarvestList noHarvestYet;
        std::unique_ptr<HarvestJournal> harvestJournal;
        if (m_harvestDb.isOpen())
            harvestJournal = std::make_unique<HarvestJournal>(noHarvestYet, m_harvestDb);
        const bool unfinished =
            enabled && ((m_downloadJournal && m_downloadJournal->hasUnfinishedRecords()) ||
                        (harvestJournal && harvestJournal->hasUnfinishedEntries()));
        m_restoreHarvest =
            unfinished && m_prompter.question(RestoreQuestion, Prompter::Buttons::YesNo,
                                              Prompter::Icon::Question) == Prompter::Answer::Yes;
        // Turned off, declined, or nothing left undone: the next run starts
        // from empty lists.
        if (!m_restoreHarvest) {
            if (m_downloadJournal)
                m_downloadJournal->discard();
            if (harvestJournal)
                harvestJournal->discard();
        }
    }
    const bool restored = m_restoreHarvest && m_downloadJournal && m_downloadJournal->restore() > 0;
    if (m_downloadJournal)
        m_downloadJournal->setEnabled(enabled);
    journalHarvest();
    return restored;
}

void ListRecovery::tellWhenWritesFail(ListJournal &journal, const QString &path)
{
    // Said while it happens: the user learns now, not after a crash, that
    // the list would not come back.
    QObject::connect(
        &journal, &ListJournal::writeFailed, &journal, [this, path](const QString &reason) {
            m_prompter.message(CannotWriteMessage.arg(reason, path), Prompter::Icon::Warning);
        });
}

void ListRecovery::attachHarvest(HarvestList &harvest)
{
    m_harvestList = &harvest;
    journalHarvest();
}

void ListRecovery::journalHarvest()
{
    if (!m_started || !m_harvestList || m_harvestJournal || !m_harvestDb.isOpen())
        return;
    m_harvestJournal = std::make_unique<HarvestJournal>(*m_harvestList, m_harvestDb);
    tellWhenWritesFail(*m_harvestJournal, m_harvestDb.path());
    m_harvestJournal->setEnabled(m_enabled);
    if (m_restoreHarvest)
        m_harvestJournal->restore();
    m_restoreHarvest = false;
}

} // namespace lumen
