#include "engine/download_engine.h"

#include "engine/download_list.h"
#include "engine/prompter.h"
#include "engine/requeue.h"
#include "engine/resume_state.h"
#include "engine/single_transfer.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <cmath>

namespace lumen
{

namespace
{

const QString IdleGuardText = QStringLiteral("停止下载以后，才能执行此操作！");

} // namespace

DownloadEngine::DownloadEngine(DownloadList &list, Clock &clock, SoundPlayer &sound,
                               Prompter &prompter, QObject *parent)
    : QObject(parent), m_list(list), m_pool(list, clock), m_status(list, sound),
      m_scheduler(list, clock, prompter, m_pool, m_status)
{
    m_pool.setFolderMaker([this](const QString &folder, QString *error) {
        return m_scheduler.makeFolder(folder, error);
    });
    connect(&m_pool, &TransferPool::connectionStateChanged, &m_status,
            &StatusPresenter::showConnectionState);
    connect(&m_pool, &TransferPool::ended, this, &DownloadEngine::onTransferEnded);
    // A record that leaves the list takes what it left for a later attempt
    // with it: nobody will go on from that partial file now.
    connect(&m_list, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) {
                for (int row = first; row <= last && row < m_list.count(); ++row)
                    dropLeftover(m_list.at(row));
            });
    connect(&m_list, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        for (qint64 row = 0; row < m_list.count(); ++row)
            dropLeftover(m_list.at(row));
    });

    connect(&m_scheduler, &DownloadScheduler::downloadMethodChanged, this,
            &DownloadEngine::downloadMethodChanged);
    connect(&m_scheduler, &DownloadScheduler::threadCountChanged, this,
            &DownloadEngine::threadCountChanged);
    connect(&m_scheduler, &DownloadScheduler::autoStartChanged, this,
            &DownloadEngine::autoStartChanged);
    connect(&m_scheduler, &DownloadScheduler::autoRedownloadChanged, this,
            &DownloadEngine::autoRedownloadChanged);
    connect(&m_scheduler, &DownloadScheduler::runningChanged, this,
            &DownloadEngine::runningChanged);
    connect(&m_scheduler, &DownloadScheduler::startEnabledChanged, this,
            &DownloadEngine::startEnabledChanged);
    connect(&m_scheduler, &DownloadScheduler::locateRecord, this, &DownloadEngine::locateRecord);
    connect(&m_scheduler, &DownloadScheduler::monitorTicked, this, &DownloadEngine::monitorTicked);
    connect(&m_status, &StatusPresenter::actionTextChanged, this,
            &DownloadEngine::actionTextChanged);
    connect(&m_status, &StatusPresenter::connectionTextChanged, this,
            &DownloadEngine::connectionTextChanged);
    connect(&m_status, &StatusPresenter::countersTextChanged, this,
            &DownloadEngine::countersTextChanged);
    connect(&m_status, &StatusPresenter::countsPanelTextChanged, this,
            &DownloadEngine::countsPanelTextChanged);

    QStringList soundFolders{QCoreApplication::applicationDirPath()};
    const QString userData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!userData.isEmpty())
        soundFolders << userData;
    // Where an installation puts them, relative to the installed program.
    soundFolders << QCoreApplication::applicationDirPath() +
                        QStringLiteral("/../share/lumenarc/sounds");
    m_status.setSoundFolders(soundFolders);
    m_scheduler.setMaxFileSizeMB(DefaultMaxFileSizeMB);
}

DownloadEngine::~DownloadEngine()
{
    // The transfers go before the scheduler and the presenter they report
    // to: no end is told while the engine is half gone.
    m_pool.disconnect(this);
    m_pool.unloadSlots();
}

QString DownloadEngine::methodText() const
{
    return QStringLiteral("下载方式：") + QString::number(downloadMethodNumber(downloadMethod()));
}

void DownloadEngine::setMaxFileSizeMB(double mb)
{
    m_scheduler.setMaxFileSizeMB(std::isfinite(mb) && mb >= 0 ? mb : DefaultMaxFileSizeMB);
}

void DownloadEngine::setProxy(bool enabled, const QString &address, const QString &port)
{
    m_proxyEnabled = enabled;
    m_pool.setProxy(enabled, address, port);
}

bool DownloadEngine::downloadIdleGuard(Prompter &prompter) const
{
    if (isIdle())
        return true;
    prompter.message(IdleGuardText, Prompter::Icon::Information);
    return false;
}

void DownloadEngine::methodOneWatchdogTick()
{
    m_pool.single().watchdogTick();
}

void DownloadEngine::dropLeftover(const DownloadItem &item)
{
    // A record that stored its document left nothing behind; one that runs
    // is still writing its file.
    if (item.outcome == Outcome::Document || item.state == DownloadState::Downloading ||
        item.name.isEmpty())
        return;
    removeLeftoverPart(ItemFilePath(item), item.url.trimmed());
}

void DownloadEngine::onTransferEnded(quint64 recordId, TransferNotice notice)
{
    m_scheduler.noteTransferEnded();
    const qint64 row = m_list.rowOfId(recordId);
    if (row >= 0) {
        const DownloadItem item = m_list.at(row);
        m_status.transferEnded(item, notice);
        if (notice == TransferNotice::Announced && isWebPageType(item.fileType))
            emit webPageDownloaded(recordId);
    }
    emit downloadEnded(recordId);
}

} // namespace lumen
