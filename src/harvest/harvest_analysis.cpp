#include "harvest/harvest_analysis.h"

#include "engine/clock.h"
#include "engine/prompter.h"
#include "harvest/download_transfer.h"
#include "harvest/harvest_list.h"
#include "settings/app_settings.h"
#include "settings/save_folder_chooser.h"

namespace lumen
{

const QString HarvestAnalysis::BusyMessage = QStringLiteral("正在分析，不能清除！");
const QString HarvestAnalysis::EmptyListMessage = QStringLiteral("列表没有数据哦！");
const QString HarvestAnalysis::ProgressCaption = QStringLiteral("正在分析,请稍候...");

HarvestAnalysis::HarvestAnalysis(HarvestList &list, DownloadTransfer &transfer,
                                 AppSettings &settings, SaveFolderChooser &saveFolderChooser,
                                 Prompter &prompter, Clock &clock, QObject *parent)
    : QObject(parent), m_list(list), m_transfer(transfer), m_settings(settings),
      m_saveFolderChooser(saveFolderChooser), m_prompter(prompter), m_clock(clock)
{
    m_stepTimer.setInterval(0);
    connect(&m_stepTimer, &QTimer::timeout, this, &HarvestAnalysis::step);
    m_automaticTimer.setInterval(AutomaticTickMs);
    connect(&m_automaticTimer, &QTimer::timeout, this, &HarvestAnalysis::automaticTick);
}

void HarvestAnalysis::run(AnalysisKind kind, const QList<quint64> &selectedIds)
{
    const bool guarded = kind == AnalysisKind::Unanalysed || kind == AnalysisKind::Selected;
    if (guarded && !m_idle) {
        m_prompter.message(BusyMessage, Prompter::Icon::Critical);
        return;
    }
    // "分析失败项" and "分析全部" have no guard: started during another
    // command they walk the list themselves, and the other command ends.
    m_walking = false;
    m_stepTimer.stop();

    m_idle = false;
    m_kind = kind;
    m_handedOn = 0;
    emit progressPanelVisibleChanged(true);
    emit started(kind);
    if (m_list.isEmpty()) {
        finish();
        return;
    }
    // The folder is asked for either when pages are harvested or here, never
    // at both; the automatic run never asks.
    if ((kind == AnalysisKind::Unanalysed && m_automatic) || m_settings.promptForSaveFolder)
        m_settings.saveFolderDialogCancelled = false;
    else
        m_saveFolderChooser.chooseSaveFolder(m_settings);
    if (m_settings.saveFolderDialogCancelled || m_idle) {
        finish();
        return;
    }
    m_selected = QSet<quint64>(selectedIds.cbegin(), selectedIds.cend());
    // Rows harvested while the walk runs wait for the next command.
    m_rows.clear();
    m_rows.reserve(m_list.count());
    for (const HarvestItem &it : m_list.items())
        m_rows.append(it.id);
    m_next = 0;
    m_walking = true;
    m_stepTimer.start();
}

bool HarvestAnalysis::takes(const QString &state, quint64 id) const
{
    switch (m_kind) {
    case AnalysisKind::Unanalysed:
        return state.isEmpty();
    case AnalysisKind::Failed:
        return state == HarvestText::Failed;
    case AnalysisKind::Selected:
        return m_selected.contains(id);
    case AnalysisKind::All:
        return true;
    }
    return false;
}

void HarvestAnalysis::step()
{
    if (!m_walking)
        return;
    if (m_idle) { // stopped between two rows
        finish();
        return;
    }
    const bool clearsFirst = m_kind != AnalysisKind::Unanalysed;
    int looked = 0;
    while (m_next < m_rows.size() && looked < RowsLookedAtPerStep) {
        const quint64 id = m_rows.at(m_next++);
        const qint64 row = m_list.rowOfId(id);
        if (row < 0)
            continue;
        ++looked;
        const HarvestItem item = m_list.at(row);
        if (!takes(item.state, id)) {
            if (m_kind == AnalysisKind::Selected && m_idle) {
                finish();
                return;
            }
            continue;
        }
        if (clearsFirst)
            m_list.setState(row, QString());
        if (item.source == HarvestText::SourceSearch) {
            const bool ok = m_transfer.addToDownloadList(item.fullTextLink, item.title,
                                                         item.fileType, item.folder, item.pageLink);
            // The row may have moved while the transfer ran; find it again.
            m_list.setStateById(id, ok ? HarvestText::Succeeded : HarvestText::Failed);
            if (ok)
                ++m_handedOn;
            emit rowHandedOn(id, ok);
        }
        if (m_idle || !m_walking) {
            if (m_walking)
                finish();
            return;
        }
        break; // one row per turn: a click waiting in the queue comes next
    }
    if (m_next >= m_rows.size())
        finish();
}

void HarvestAnalysis::finish()
{
    m_walking = false;
    m_stepTimer.stop();
    m_rows.clear();
    m_selected.clear();
    emit progressPanelVisibleChanged(false);
    m_idle = true;
    // Only rows handed on are a reason to bring the download window
    // forward: an automatic run every 30 s that found nothing would pull it
    // over whatever the user does, its own close question included.
    if (m_handedOn > 0)
        m_transfer.showDownloadWindow(false);
    emit finished(m_kind, m_handedOn);
}

void HarvestAnalysis::analyseButtonClicked(
    const QList<quint64> &selectedIds,
    const std::function<std::optional<AnalysisKind>()> &pickCommand)
{
    if (m_list.isEmpty()) {
        m_prompter.message(EmptyListMessage, Prompter::Icon::Information);
        return;
    }
    if (selectedIds.isEmpty()) {
        run(AnalysisKind::All);
        return;
    }
    if (const std::optional<AnalysisKind> kind = pickCommand ? pickCommand() : std::nullopt)
        run(*kind, selectedIds);
}

void HarvestAnalysis::stop()
{
    m_idle = true;
}

void HarvestAnalysis::setAutomatic(bool enabled)
{
    m_automatic = enabled;
    if (enabled) {
        m_automaticSinceMs = m_clock.monotonicMs();
        m_automaticTimer.start();
    } else {
        m_automaticTimer.stop();
    }
}

void HarvestAnalysis::automaticTick()
{
    if (!m_automatic)
        return;
    const qint64 now = m_clock.monotonicMs();
    if (now - m_automaticSinceMs < AutomaticIntervalMs)
        return;
    m_automaticSinceMs = now;
    // A command is still walking: the unanalysed rows are taken at the next
    // interval rather than refused with a box nobody asked for.
    if (!m_idle)
        return;
    run(AnalysisKind::Unanalysed);
}

} // namespace lumen
