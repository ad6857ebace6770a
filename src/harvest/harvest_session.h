#pragma once

#include "harvest/download_transfer.h"
#include "harvest/harvest_analysis.h"
#include "harvest/harvest_list.h"
#include "harvest/search_harvester.h"

#include <QObject>

namespace lumen
{

struct AppSettings;
class Browser;
class Clock;
class Prompter;
class SaveFolderChooser;

// Everything the search window decides, without the window: the harvest
// list, harvesting a page or the whole search, the analysis commands and the
// hand-over to the download list, the clear commands and the close guard.
// The window and the command-line tool each own one and bind to it.
class HarvestSession : public QObject
{
    Q_OBJECT
public:
    static const QString ClearAllQuestion; // 清空全部 asks this first
    static const QString FilterPrompt;     // 请输入指定字符：
    static const QString WorkingMessage;   // the close guard's refusal

    HarvestSession(Browser &browser, AppSettings &settings, Prompter &prompter,
                   SaveFolderChooser &saveFolderChooser,
                   DownloadTransfer::DownloadListSource downloadList, Clock &clock,
                   QObject *parent = nullptr);

    HarvestList &list() { return m_list; }
    DownloadTransfer &transfer() { return m_transfer; }
    SearchHarvester &harvester() { return m_harvester; }
    HarvestAnalysis &analysis() { return m_analysis; }
    Browser &browser() { return m_browser; }

    // "打开Lumenarc首页": the repository's home page.
    void openHomePage();

    // The clear commands. Each is refused with "正在分析，不能清除！" while an
    // analysis runs (a running add-all walk does not block them) and
    // returns the number of rows removed.
    qint64 clearSelected(const QList<quint64> &selectedIds); // 清除选中项
    qint64 clearSucceeded();                                 // 清除分析成功项
    qint64 clearTitleContaining();                           // 清除标题含指定字符项
    qint64 clearTitleNotContaining();                        // 清除标题不含指定字符项
    qint64 clearAll();                                       // 清空全部

    // Whether the window may close now; when an add-all walk or an analysis
    // runs, tells the user and refuses. A close that goes ahead stops the
    // automatic analysis.
    bool requestClose();

signals:
    // The row count beside the list, refreshed after every harvested page
    // and every clear command.
    void countTextChanged(const QString &text);

private:
    bool refusedWhileAnalysing();
    qint64 clearByTitle(bool contains);

    Browser &m_browser;
    Prompter &m_prompter;
    HarvestList m_list;
    DownloadTransfer m_transfer;
    SearchHarvester m_harvester;
    HarvestAnalysis m_analysis;
};

} // namespace lumen
