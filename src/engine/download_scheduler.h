#pragma once

#include "engine/download_method.h"
#include "engine/naming.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

namespace lumen
{

class Clock;
class DownloadList;
class Prompter;
class StatusPresenter;
class TransferPool;

// 确定是需要下载: false when the record's file exists and the policy is
// Skip; the record is then Finished, its size and received texts are the
// file's length and its percent text is "已存在，跳过". Also false, leaving
// the record as it is, when a running transfer holds its name under skip or
// overwrite (it is decided after that transfer), and when row is not in the
// list. Otherwise true (overwrite and rename never stop a download here).
// row is 0-based.
bool needsDownload(DownloadList &list, qint64 row, SameNamePolicy policy,
                   const NameReservations *reserved = nullptr);

// The scheduler: the scheduler tick, which picks the next waiting records
// and starts them on the transfer pool by the chosen method once the pause
// after the last download is over; and the monitor tick, which ends a
// finished run, restarts when records wait, re-queues by the automatic
// re-download choice and stops a run at the error limit. Both read time only
// from the Clock. When no pause holds it, the start of a run and the end of
// each transfer start the next records at once (queued on the event loop)
// rather than waiting for a tick: the tick keeps the interval.
class DownloadScheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int TickMs = 1000;
    // CountErrorOrPageItems at which the error stop ends a run.
    static constexpr qint64 ErrorStopCount = 5;

    // The "自动重新下载：" choices.
    enum class RedownloadFilter { Failed, WebPages, FailedAndWebPages };

    DownloadScheduler(DownloadList &list, Clock &clock, Prompter &prompter, TransferPool &pool,
                      StatusPresenter &status, QObject *parent = nullptr);

    // --- options ---------------------------------------------------------------
    DownloadMethod downloadMethod() const { return m_method; }
    void setDownloadMethod(DownloadMethod method);
    int threadCount() const { return m_threadCount; }
    void setThreadCount(int count);
    // The "切换" command: toggles between the methods, thread count back to 1.
    void switchMethod();
    int intervalSeconds() const { return m_interval; }
    void setIntervalSeconds(int seconds) { m_interval = qBound(0, seconds, 600); }
    SameNamePolicy sameNamePolicy() const { return m_policy; }
    void setSameNamePolicy(SameNamePolicy policy) { m_policy = policy; }
    bool autoStart() const { return m_autoStart; }
    void setAutoStart(bool on);
    bool autoRedownload() const { return m_autoRedownload; }
    void setAutoRedownload(bool on);
    RedownloadFilter redownloadFilter() const { return m_redownloadFilter; }
    void setRedownloadFilter(RedownloadFilter filter) { m_redownloadFilter = filter; }
    bool errorStop() const { return m_errorStop; }
    void setErrorStop(bool on) { m_errorStop = on; }
    bool autoLocate() const { return m_autoLocate; }
    void setAutoLocate(bool on) { m_autoLocate = on; }
    double maxFileSizeMB() const { return m_maxFileSizeMB; }
    void setMaxFileSizeMB(double mb) { m_maxFileSizeMB = mb; }

    // --- state -----------------------------------------------------------------
    bool isRunning() const { return m_running; }
    bool startEnabled() const { return m_startEnabled; }
    // The single connection runs; or, in the multi-connection method, the
    // scheduler runs (its slots may start at any tick) or a slot is loaded.
    // A start by hand is refused then.
    bool busy() const;
    double lastFinishTime() const { return m_lastFinishTime; }

    // With false, neither tick runs by itself.
    void setTimersDriven(bool driven);

    // CreateFolderPath for a record's folder. A name no folder can carry is
    // told once per run; the records bound for it fail quietly until the
    // next run. Empty when there is no folder to store in.
    QString makeFolder(const QString &folder, QString *error = nullptr);

    // Inet下载当前文件 for a record the caller marked Downloading.
    void downloadCurrent(quint64 recordId);
    // 多线程下载: starts slot (1..6) on the record, storing into path.
    void multiThreadDownload(int slot, quint64 recordId, const QString &url, const QString &path);
    // A transfer ended: the pause before the next start counts from now.
    // With no pause to keep, the next waiting records start as soon as the
    // event loop comes back, rather than on the next tick.
    void noteTransferEnded();

public slots:
    void startDownloading();
    void stopDownloading();
    void schedulerTick();
    void monitorTick();

signals:
    void downloadMethodChanged(DownloadMethod method);
    void threadCountChanged(int count);
    void autoStartChanged(bool on);
    void autoRedownloadChanged(bool on);
    void runningChanged(bool running);
    void startEnabledChanged(bool enabled);
    void locateRecord(quint64 recordId);
    void monitorTicked();

private:
    void setRunning(bool running);
    bool errorStopReached() const;
    double now() const;
    qint64 chooseWaitingRow(bool createFolders);
    void startNextSlotRecord(int slot);
    // What a tick starts: the next waiting record (method one) or one for
    // every free slot (method two), once the pause after the last end is
    // over. pauseZeroIsOver: an interval of 0 lets a start follow an end
    // in the same instant (a tick always lets a moment pass).
    void startWaitingRecords(bool pauseZeroIsOver);
    // Queues one start of the waiting records on the event loop; never
    // inside the call chain of a transfer's end, so that thousands of ends
    // in a row do not nest on the stack. Several requests before it runs
    // make one start.
    void queueStart();
    void runQueuedStart();

    DownloadList &m_list;
    Clock &m_clock;
    Prompter &m_prompter;
    TransferPool &m_pool;
    StatusPresenter &m_status;
    QTimer m_schedulerTimer;
    QTimer m_monitorTimer;
    bool m_timersDriven = true;

    DownloadMethod m_method = DownloadMethod::SingleConnection;
    int m_threadCount = 1;
    int m_interval = 0;
    SameNamePolicy m_policy = SameNamePolicy::Rename;
    bool m_autoStart = false;
    bool m_autoRedownload = false;
    RedownloadFilter m_redownloadFilter = RedownloadFilter::Failed;
    bool m_errorStop = false;
    bool m_autoLocate = false;
    double m_maxFileSizeMB = 10;

    bool m_running = false;
    bool m_startQueued = false;
    bool m_startEnabled = true;
    double m_lastFinishTime = 0;
    // Folders whose name could not be made this run: their message is shown once.
    QSet<QString> m_badFolders;
    // Stored web pages the automatic re-download has fetched again since the
    // user last turned it on: a page that comes back a page again stays.
    QSet<quint64> m_pagesFetchedAgain;
};

} // namespace lumen
