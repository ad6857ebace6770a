#pragma once

#include "settings/app_settings.h"
#include "settings/window_geometry.h"

#include <QList>
#include <QObject>
#include <QString>

#include <random>

namespace lumen
{

class DownloadEngine;
class DownloadList;
class Prompter;
class SettingsStore;
class Shell;
struct DownloadItem;

// Everything the download window decides, without the window: loading and
// storing its settings, the close question, the list menu with its guards,
// the re-download, removal and delete-file operations, shuffle and sort,
// name export, the disk checks, the launch actions, the URL replacement and
// the settings dialog's OK. The window binds its controls here and to the
// engine's options; the command-line tool may drive the same object.
//
// Commands that work on "the selected records" take their ids, and those
// that work on "the current record" take its id (0 for none): positions
// change under shuffle and sort, ids do not.
class DownloadSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString countText READ countText NOTIFY countTextChanged)
    Q_PROPERTY(bool sortDescending READ sortDescending)
    Q_PROPERTY(bool problemsOnly READ problemsOnly WRITE setProblemsOnly NOTIFY problemsOnlyChanged)
    Q_PROPERTY(bool reasonColumnShown READ reasonColumnShown WRITE setReasonColumnShown NOTIFY
                   reasonColumnShownChanged)

public:
    // Messages of the list operations.
    static const QString EmptyListQuestion;   // 清空 asks this first
    static const QString CancelRefusedText;   // cancel selected while a download runs
    static const QString SortRefusedText;     // header click while downloading
    static const QString ShuffleDoneText;     // end of the shuffle
    static const QString SmallFilesPrompt;    // 请输入数字：
    static const QString CloseQuestion;       // closing with downloads unfinished
    static const QString FileMissingText;     // 文件不存在！
    static const QString ThisFileMissingText; // 该文件不存在！
    static const QString FolderMissingText;   // 文件夹不存在！
    static const QString OpenFailedText;      // 打开失败！
    static const QString TooLargeForEditorText;
    static const QString FileTypePrefix;  // 文件类型为：
    static const QString UnknownTypeText; // 目前还无法判断。
    static const QString CorrectedPrefix; // 纠正文件类型：
    static const QString CorrectedSuffix; // 个.
    static const QString EnterFindText;   // 请输入字符串！
    static const QString ReplaceDoneText; // 全部网址替换完成！
    static const QString UrlClashText;    // a replacement that would make two URLs equal
    static const QString ProxyMalformedText;
    static const QString SizeRejectedText; // %1 is the limit kept
    static const QString SizeNegativeText; // %1 is the limit kept

    // The text editor is offered files up to this size (2 MB).
    static constexpr qint64 TextEditorLimitBytes = 2048 * 1024;

    // Pages of the program's web site that the help menu and the status bar open;
    // empty (and nothing opens) while the program has no product site.
    enum class SitePage { Home, SecondSite, LatestVersion, Shop, Tutorials, Custom, Suggestions };
    static QString sitePageUrl(SitePage page);

    DownloadSession(DownloadList &list, DownloadEngine &engine, SettingsStore &store,
                    AppSettings &settings, Prompter &prompter, Shell &shell,
                    QObject *parent = nullptr);

    DownloadList &list() const { return m_list; }
    DownloadEngine &engine() const { return m_engine; }
    AppSettings &settings() const { return m_settings; }

    // The record count beside "下载列表：", e.g. "12条".
    QString countText() const;

    // --- opening and closing ------------------------------------------------
    // The window's settings, read in their order and handed to the engine:
    // method, thread count (method two only; method one keeps one
    // connection), same-name policy, proxy, size limit; the pause between
    // downloads starts at 0. Answers where to show the window on a screen
    // of the given resolution ("1920*1080").
    WindowPlacement load(const QString &screenResolution);

    // The close sequence. Stores the same-name policy and the method at
    // once; when downloading is unfinished asks the close question, and on
    // No answers false with nothing else changed. Otherwise stops every
    // download, stores the geometry and the thread count and answers true.
    bool requestClose(const WindowGeometryState &geometry, const QString &screenResolution);

    // Whether anything is unfinished: a transfer runs, the scheduler runs or
    // a record is neither finished nor failed.
    bool downloadUnfinished() const;

    // --- what the list shows ------------------------------------------------
    // "只显示有问题的项": the list shows only the records the researcher has
    // to look at (isProblem); the others stay in the list, out of sight.
    bool problemsOnly() const { return m_problemsOnly; }
    void setProblemsOnly(bool on);
    // Whether the list shows the record now.
    bool showsRecord(const DownloadItem &item) const;
    // The "原因" column, hidden until asked for.
    bool reasonColumnShown() const { return m_reasonColumnShown; }
    void setReasonColumnShown(bool shown);

    // --- enabling -----------------------------------------------------------
    // The scheduler runs or a transfer holds the busy flag.
    bool downloading() const;
    // The four entries of the list menu that depend on downloading, as the
    // right-click sets them.
    struct ContextMenuState {
        bool selectAll = true;
        bool remove = true; // the whole "清除" submenu
        bool empty = true;
        bool stop = true;
    };
    ContextMenuState contextMenuState() const;

    // --- list menu ----------------------------------------------------------
    // Re-download: no guard, never starts the scheduler. Each answers the
    // number of records put back in the queue.
    qint64 redownloadSelected(const QList<quint64> &selectedIds);
    qint64 redownloadFailed();
    qint64 redownloadWebPages();
    qint64 redownloadFailedAndWebPages();
    // Asks for a number; records received completely and smaller than it.
    qint64 redownloadSmallFiles();

    // Removal: refused while downloading (DownloadIdleGuard). Each answers
    // the number of records removed.
    qint64 removeSelected(const QList<quint64> &selectedIds);
    qint64 removeFailed();
    qint64 removeFinished();
    // Asks first; answers whether the list was emptied.
    bool emptyList();

    // Delete files: of finished or failed web-page records, or of failed
    // records. The progress texts are emptied and the file the record itself
    // stored is deleted; a file the record did not store (one that was
    // already there and skipped) is never touched. Answers the number of
    // files deleted.
    qint64 deleteWebPageFiles();
    qint64 deleteFailedFiles();

    // Waiting records among the selected become failed; refused while a
    // transfer holds the busy flag.
    qint64 cancelSelected(const QList<quint64> &selectedIds);

    // Refused while downloading; a uniform random order; says when done.
    bool shuffle();
    // Header click: refused while downloading. The first sort is descending,
    // each further one flips the order (one order for every column).
    bool sortByColumn(int column);
    bool sortDescending() const { return m_sortDescending; }

    // Name export as UTF-8 text, one name and CR LF per record (this
    // platform has no ANSI code page). Nothing for an empty list or a
    // cancelled dialog; a file that cannot be written is reported with the
    // system's own error text and nothing half-written is left.
    bool exportAllNames();
    bool exportUnfinishedNames();
    // The current record's name for the clipboard; empty when there is none.
    QString nameForClipboard(quint64 currentId) const;

    // --- disk checks ----------------------------------------------------------
    // Marks every record whose file is missing "不存在"; says nothing.
    int checkFilesExist();
    // Refused while downloading; renames files to their real type and says
    // how many. Nothing at all for an empty list. Answers -1 when refused.
    int correctFileTypes();

    // --- launch actions ---------------------------------------------------------
    bool openFile(quint64 currentId);
    bool openFolder(quint64 currentId);
    bool openInTextEditor(quint64 currentId);
    // Asks for any file and tells its detected type. Renames nothing.
    void identifyFileType();
    // The double-click: opens a finished record's file, puts a failed one
    // back in the queue (its stored file deleted), leaves others alone.
    void activateRecord(quint64 id);
    // Status bar panel 2 after a click on a record: its file when it exists.
    QString pathTextFor(quint64 id) const;
    // A click on status bar panel 2: an existing file or a web address in
    // the browser; anything else does nothing.
    bool openStatusText(const QString &text);
    bool openSitePage(SitePage page);

    // --- dialogs ----------------------------------------------------------------
    // URL replacement. False (the dialog stays open) for a blank find text or
    // when the replacement would make two records' URLs equal, which is
    // refused as a whole; true after replacing and saying so.
    bool replaceInUrls(const QString &findText, const QString &replacement);

    // The settings dialog's values as they stand now.
    SettingsDialogValues settingsDialogValues() const;
    // Settings dialog OK: stores its six values in order and applies them to
    // the engine. A proxy that is on with an empty address or a port that is
    // not a number is stored all the same and reported; a size that is not a
    // number, or is below 0, keeps the size in use and says so. The thread
    // count goes back to 1 only when the method changes to two.
    void applySettingsDialog(const SettingsDialogValues &values);

signals:
    // Once after any change of the number of records (queued, so a bulk
    // change tells it once).
    void countTextChanged(const QString &text);
    void problemsOnlyChanged(bool on);
    void reasonColumnShownChanged(bool shown);

private:
    bool idleGuard() const;
    bool exportNames(bool unfinishedOnly);
    bool openWithAssociatedProgram(const QString &path);
    // The current record, or nullptr.
    const DownloadItem *record(quint64 id) const;
    qint64 deleteStoredFiles(const std::function<bool(const DownloadItem &)> &which);

    DownloadList &m_list;
    DownloadEngine &m_engine;
    SettingsStore &m_store;
    AppSettings &m_settings;
    Prompter &m_prompter;
    Shell &m_shell;
    bool m_sortDescending = false;
    bool m_problemsOnly = false;
    bool m_reasonColumnShown = false;
    bool m_countPending = false;
    std::mt19937_64 m_random;
};

} // namespace lumen
