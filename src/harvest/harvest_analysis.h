#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <optional>

namespace lumen
{

struct AppSettings;
class Clock;
class DownloadTransfer;
class HarvestList;
class Prompter;
class SaveFolderChooser;

// The four analysis commands of the "分析下载" menu.
enum class AnalysisKind {
    Unanalysed, // 分析未分析项: rows whose state is ""
    Failed,     // 分析失败项: rows whose state is "分析失败", cleared first
    Selected,   // 分析选中项: the selected rows, cleared first
    All,        // 分析全部: every row, cleared first
};

// Moves harvested entries to the download list: each row a command takes and
// whose source is "搜索" is handed to the transfer and marked "成功". The
// walk takes one row per turn of the event loop, so that a click on the stop
// button, the add-all walk and the browser are served between any two rows.
class HarvestAnalysis : public QObject
{
    Q_OBJECT
public:
    static const QString BusyMessage;      // 正在分析，不能清除！
    static const QString EmptyListMessage; // 列表没有数据哦！
    static const QString ProgressCaption;  // the progress panel's label
    // Automatic analysis of unanalysed rows runs this often.
    static constexpr qint64 AutomaticIntervalMs = 30000;
    // The automatic timer looks at the clock this often.
    static constexpr int AutomaticTickMs = 1000;
    // Rows a turn may pass over (rows the command does not take) before it
    // lets other events run; a turn hands on one row at most.
    static constexpr int RowsLookedAtPerStep = 200;

    HarvestAnalysis(HarvestList &list, DownloadTransfer &transfer, AppSettings &settings,
                    SaveFolderChooser &saveFolderChooser, Prompter &prompter, Clock &clock,
                    QObject *parent = nullptr);

    // True when no command runs (also after the stop button).
    bool isIdle() const { return m_idle; }
    bool isWalking() const { return m_walking; }

    // Runs one command. "分析未分析项" and "分析选中项" are refused with
    // BusyMessage while another command runs; "分析失败项" and "分析全部"
    // take over from a running command, which ends there. selectedIds are
    // the rows selected when the command was chosen (used by Selected).
    void run(AnalysisKind kind, const QList<quint64> &selectedIds = {});

    // The "分析下载" button: an empty list is told so; with no row selected
    // the whole list is analysed; otherwise pickCommand shows the menu and
    // returns the command chosen, or nothing.
    void analyseButtonClicked(const QList<quint64> &selectedIds,
                              const std::function<std::optional<AnalysisKind>()> &pickCommand);

    // The stop button: the running command stops after the row it is on.
    void stop();

    // The "自动分析下载未分析项" check box.
    void setAutomatic(bool enabled);
    bool isAutomatic() const { return m_automatic; }

public slots:
    // Handles the next row the command takes; the walk's own zero-timer
    // calls it, tests may call it directly.
    void step();
    // The automatic timer: runs "分析未分析项" once every interval.
    void automaticTick();

signals:
    // The progress panel with its stop button shows while a command runs.
    void progressPanelVisibleChanged(bool visible);
    void started(lumen::AnalysisKind kind);
    // A row was handed on (or refused by the transfer).
    void rowHandedOn(quint64 id, bool succeeded);
    void finished(lumen::AnalysisKind kind, qint64 handedOn);

private:
    bool takes(const QString &state, quint64 id) const;
    void finish();

    HarvestList &m_list;
    DownloadTransfer &m_transfer;
    AppSettings &m_settings;
    SaveFolderChooser &m_saveFolderChooser;
    Prompter &m_prompter;
    Clock &m_clock;

    bool m_idle = true;
    bool m_walking = false;
    AnalysisKind m_kind = AnalysisKind::All;
    QSet<quint64> m_selected;
    QList<quint64> m_rows; // the ids of the rows present when the walk began
    qsizetype m_next = 0;
    qint64 m_handedOn = 0;
    QTimer m_stepTimer;

    bool m_automatic = false;
    qint64 m_automaticSinceMs = 0;
    QTimer m_automaticTimer;
};

} // namespace lumen
