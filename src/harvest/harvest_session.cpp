#include "harvest/harvest_session.h"

#include "engine/prompter.h"
#include "harvest/browser.h"
#include "harvest/repository.h"

namespace lumen
{

const QString HarvestSession::ClearAllQuestion =
    QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？");
const QString HarvestSession::FilterPrompt = QStringLiteral("请输入指定字符：");
const QString HarvestSession::WorkingMessage = QStringLiteral("正在工作，停止以后才能退出窗口！");

HarvestSession::HarvestSession(Browser &browser, AppSettings &settings, Prompter &prompter,
                               SaveFolderChooser &saveFolderChooser,
                               DownloadTransfer::DownloadListSource downloadList, Clock &clock,
                               QObject *parent)
    : QObject(parent), m_browser(browser), m_prompter(prompter),
      m_transfer(settings, std::move(downloadList)),
      m_harvester(browser, m_list, settings, saveFolderChooser, clock),
      m_analysis(m_list, m_transfer, settings, saveFolderChooser, prompter, clock)
{
    connect(&m_harvester, &SearchHarvester::pageHarvested, this,
            [this] { emit countTextChanged(m_list.countText()); });
    connect(&m_list, &HarvestList::rowsRemovedCount, this,
            [this] { emit countTextChanged(m_list.countText()); });
}

void HarvestSession::openHomePage()
{
    m_browser.navigate(repositoryHomePage());
}

bool HarvestSession::refusedWhileAnalysing()
{
    if (m_analysis.isIdle())
        return false;
    m_prompter.message(HarvestAnalysis::BusyMessage, Prompter::Icon::Critical);
    return true;
}

qint64 HarvestSession::clearSelected(const QList<quint64> &selectedIds)
{
    if (refusedWhileAnalysing())
        return 0;
    return m_list.removeIds(QSet<quint64>(selectedIds.cbegin(), selectedIds.cend()));
}

qint64 HarvestSession::clearSucceeded()
{
    if (refusedWhileAnalysing())
        return 0;
    return m_list.removeSucceeded();
}

qint64 HarvestSession::clearByTitle(bool contains)
{
    if (refusedWhileAnalysing())
        return 0;
    const std::optional<QString> text = m_prompter.inputText(FilterPrompt);
    // An automatic analysis may have started while the box was open.
    if (text && refusedWhileAnalysing())
        return 0;
    if (!text || text->isEmpty() || m_list.isEmpty())
        return 0; // used as typed: blanks around it count
    return m_list.removeByTitle(*text, contains);
}

qint64 HarvestSession::clearTitleContaining()
{
    return clearByTitle(true);
}

qint64 HarvestSession::clearTitleNotContaining()
{
    return clearByTitle(false);
}

qint64 HarvestSession::clearAll()
{
    if (refusedWhileAnalysing())
        return 0;
    if (m_prompter.question(ClearAllQuestion, Prompter::Buttons::YesNo, Prompter::Icon::Question) !=
        Prompter::Answer::Yes)
        return 0;
    // An automatic analysis may have started while the box was open.
    if (refusedWhileAnalysing())
        return 0;
    const qint64 removed = m_list.count();
    m_list.clear();
    return removed;
}

bool HarvestSession::requestClose()
{
    if (m_harvester.isAddAllRunning() || !m_analysis.isIdle()) {
        m_prompter.message(WorkingMessage, Prompter::Icon::Critical);
        return false;
    }
    m_analysis.setAutomatic(false);
    return true;
}

} // namespace lumen
