#pragma once

#include "harvest/download_transfer.h"
#include "harvest/harvest_analysis.h"
#include "harvest/harvest_list.h"
#include "harvest/search_harvester.h"

#include <QObject>

#include <functional>

namespace lumen
{

struct AppSettings;
class Browser;
class Clock;
class Prompter;
class SaveFolderChooser;
class SettingsStore;

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

    // --- the search window's own commands -------------------------------
    static const QString OpenAddressPrompt;  // 请输入需要打开的网址：
    static const QString OpenAddressTitle;   // 请输入...
    static const QString ExportSavedMessage; // 保存文件完毕：

    // Window load: when to ask for the save folder, silent mode on, a
    // blank page. The home page follows once the window shows
    // (openStartPage).
    void windowLoaded(const SettingsStore &store);
    void openStartPage();

    // "禁止弹出脚本提示": no script dialogs while set.
    void setSilentMode(bool on);
    bool silentMode() const;

    // "打开指定网址...": asks for an address; one that starts with https://
    // switches silent mode off (the user means a page that may need its
    // boxes), anything else switches it on. A bare host is taken as a
    // browser's address line takes it.
    void openAddress();
    void goBack();
    void goForward();

    // "导出数据...": every row as title, "-【", type, "】", state, CR LF,
    // in UTF-8, into the file the user names; then the saved size. Returns
    // whether a file was written.
    bool exportList();
    // The export's text for the list as it is now.
    static QByteArray exportText(const HarvestList &list);
    // A size in kilobytes as "#,##0.0" (1,234.5).
    static QString kilobytesText(qint64 bytes);

    // "源码另存为": the current document's markup into the file the user
    // names. Quiet: pageSourceSaved tells the path when it was written.
    void savePageSource();

    // Why the last add-all walk ended, as the status bar and the message
    // tell it; empty before the first walk.
    QString walkStatus() const { return m_walkStatus; }
    static QString walkEndText(const SearchHarvester &harvester, qint64 rows);
    // Whether an add-all walk that ends before the search's last page
    // tells the user in a message too (the command-line tool prints its
    // own account).
    void setWalkEndMessages(bool on) { m_walkEndMessages = on; }

    // Whether the download window is open; the close of this window shows
    // the start-up window only when it is not.
    void setDownloadWindowOpenQuery(std::function<bool()> isOpen)
    {
        m_downloadWindowOpen = std::move(isOpen);
    }
    // The window is asked to close: the guard of requestClose(); a close
    // that goes ahead asks for the start-up window unless the download
    // window is open.
    bool windowClosing();

signals:
    void silentModeChanged(bool on);
    void pageSourceSaved(const QString &path);
    // The start-up window is to be shown again.
    void startupWindowRequested();

    // The row count beside the list, refreshed after every harvested page
    // and every clear command.
    void countTextChanged(const QString &text);
    // What the add-all walk is doing or why it ended, for the status bar.
    void walkStatusChanged(const QString &text);

private:
    bool refusedWhileAnalysing();
    void setWalkStatus(const QString &text);
    void walkEnded();
    qint64 clearByTitle(bool contains);

    Browser &m_browser;
    AppSettings &m_settings;
    Prompter &m_prompter;
    HarvestList m_list;
    DownloadTransfer m_transfer;
    SearchHarvester m_harvester;
    HarvestAnalysis m_analysis;
    std::function<bool()> m_downloadWindowOpen;
    QString m_walkStatus;
    bool m_walkEndMessages = true;
};

} // namespace lumen
