#pragma once

#include "engine/download_method.h"
#include "engine/download_scheduler.h"
#include "engine/naming.h"
#include "engine/status_presenter.h"
#include "engine/transfer.h"
#include "engine/transfer_pool.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>

namespace lumen
{

class Clock;
class Downloader;
class DownloadList;
struct DownloadItem;
class Prompter;
class SoundPlayer;

// The download engine as the fronts see it: the scheduler (DownloadScheduler),
// the running transfers of both methods (TransferPool) and what the user is
// told of them (StatusPresenter), wired together. The download window binds
// its controls to the options here; the command-line tool drives the same
// object.
//
// Two 1000 ms ticks keep time: the scheduler tick, which starts the next
// waiting records once the pause between downloads is over, runs while the
// scheduler is enabled; the monitor tick, which ends runs, restarts and
// re-queues, while the engine lives. Without a pause a run does not wait
// for a tick: its start and every transfer's end queue the next start.
// Both are public slots and read time only from the Clock, so tests switch
// the timers off (setTimersDriven(false)) and call the ticks after advancing
// a fake clock.
class DownloadEngine : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DownloadMethod downloadMethod READ downloadMethod WRITE setDownloadMethod NOTIFY
                   downloadMethodChanged)
    Q_PROPERTY(int threadCount READ threadCount WRITE setThreadCount NOTIFY threadCountChanged)
    Q_PROPERTY(bool threadCountEnabled READ threadCountEnabled NOTIFY downloadMethodChanged)
    Q_PROPERTY(bool autoStart READ autoStart WRITE setAutoStart NOTIFY autoStartChanged)
    Q_PROPERTY(bool autoRedownload READ autoRedownload WRITE setAutoRedownload NOTIFY
                   autoRedownloadChanged)
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(bool startEnabled READ startEnabled NOTIFY startEnabledChanged)
    Q_PROPERTY(QString methodText READ methodText NOTIFY downloadMethodChanged)
    Q_PROPERTY(QString actionText READ actionText NOTIFY actionTextChanged)
    Q_PROPERTY(QString connectionText READ connectionText NOTIFY connectionTextChanged)
    Q_PROPERTY(QString countersText READ countersText NOTIFY countersTextChanged)

public:
    static constexpr int TickMs = DownloadScheduler::TickMs;
    static constexpr int MaxSlots = TransferPool::MaxSlots;
    // CountErrorOrPageItems at which the error stop ends a run.
    static constexpr qint64 ErrorStopCount = DownloadScheduler::ErrorStopCount;
    // The size limit when none usable is set.
    static constexpr double DefaultMaxFileSizeMB = 10;

    // The "自动重新下载：" choices.
    using RedownloadFilter = DownloadScheduler::RedownloadFilter;

    // The notice sounds, by the number of their file (101.wav ...).
    enum Sound {
        PageSound = StatusPresenter::PageSound,
        RunEndSound = StatusPresenter::RunEndSound,
        FailedSound = StatusPresenter::FailedSound
    };

    DownloadEngine(DownloadList &list, Clock &clock, SoundPlayer &sound, Prompter &prompter,
                   QObject *parent = nullptr);
    ~DownloadEngine() override;

    DownloadList &list() const { return m_list; }

    // --- options the window binds ------------------------------------------
    // One record at a time over one connection, or up to threadCount slots.
    DownloadMethod downloadMethod() const { return m_scheduler.downloadMethod(); }
    void setDownloadMethod(DownloadMethod method) { m_scheduler.setDownloadMethod(method); }
    // Method two's slot count, 1..6.
    int threadCount() const { return m_scheduler.threadCount(); }
    void setThreadCount(int count) { m_scheduler.setThreadCount(count); }
    bool threadCountEnabled() const { return downloadMethod() == DownloadMethod::MultiConnection; }
    // "下载方式：1" / "下载方式：2"
    QString methodText() const;
    // Seconds between the end of one download and the start of the next.
    int intervalSeconds() const { return m_scheduler.intervalSeconds(); }
    void setIntervalSeconds(int seconds) { m_scheduler.setIntervalSeconds(seconds); }
    SameNamePolicy sameNamePolicy() const { return m_scheduler.sameNamePolicy(); }
    void setSameNamePolicy(SameNamePolicy policy) { m_scheduler.setSameNamePolicy(policy); }
    // "当有待下载项时，自动启动下载"
    bool autoStart() const { return m_scheduler.autoStart(); }
    void setAutoStart(bool on) { m_scheduler.setAutoStart(on); }
    // "自动重新下载：" and its choice.
    bool autoRedownload() const { return m_scheduler.autoRedownload(); }
    void setAutoRedownload(bool on) { m_scheduler.setAutoRedownload(on); }
    RedownloadFilter redownloadFilter() const { return m_scheduler.redownloadFilter(); }
    void setRedownloadFilter(RedownloadFilter filter) { m_scheduler.setRedownloadFilter(filter); }
    // "有5个以上下载出错或者网页文件，就停止下载"
    bool errorStop() const { return m_scheduler.errorStop(); }
    void setErrorStop(bool on) { m_scheduler.setErrorStop(on); }
    // "声音提示"
    bool soundOn() const { return m_status.soundOn(); }
    void setSoundOn(bool on) { m_status.setSoundOn(on); }
    // "自动定位到下载项": locateRecord() is announced when a record starts.
    bool autoLocate() const { return m_scheduler.autoLocate(); }
    void setAutoLocate(bool on) { m_scheduler.setAutoLocate(on); }

    // Settings that method one uses: the size limit (both methods) and the
    // proxy (method one only, for http and https alike). A negative or
    // non-numeric limit would skip every file: the default stands instead.
    double maxFileSizeMB() const { return m_scheduler.maxFileSizeMB(); }
    void setMaxFileSizeMB(double mb);
    // A proxy without an address or with a port that is not a number from 1
    // to 65535 is unusable: method one then fails every record with
    // "代理服务器设置有误" rather than going out another way.
    void setProxy(bool enabled, const QString &address, const QString &port);
    bool proxyEnabled() const { return m_proxyEnabled; }

    // --- state ---------------------------------------------------------------
    // The scheduler tick is enabled (the window shows its running mark
    // exactly then).
    bool isRunning() const { return m_scheduler.isRunning(); }
    // The "开始下载" menu entry: enabled while the scheduler is stopped or the
    // list is finished; kept by the monitor tick.
    bool startEnabled() const { return m_scheduler.startEnabled(); }
    // The single connection runs; or, in the multi-connection method, the
    // scheduler runs or a slot is loaded. Rows are not cancelled by hand and
    // no second start by hand is taken while it holds.
    bool downloadBusy() const { return m_scheduler.busy(); }
    // Seconds since midnight of the last end of a download.
    double lastFinishTime() const { return m_scheduler.lastFinishTime(); }
    // Final names held by running transfers (both methods).
    const NameReservations &reservations() const { return m_pool.reservations(); }
    // Record ids the method-two slots 1..6 work on; 0 for a free slot.
    quint64 slotRecord(int slot) const { return m_pool.slotRecord(slot); }
    // CountSlotInstances: loaded slots plus the idle template (1 when idle).
    int countSlotInstances() const { return 1 + m_pool.slotsInUse(); }
    // A method-one request is out and its headers are awaited (StillExecuting).
    bool methodOneExecuting() const { return m_pool.singleExecuting(); }
    // A method-one download is in flight.
    bool methodOneActive() const { return m_pool.singleActive(); }
    // Nothing runs: the scheduler is stopped and no transfer is in flight.
    bool isIdle() const { return !isRunning() && !m_pool.anyActive(); }
    // DownloadIdleGuard: false, after telling the user, while anything runs;
    // list operations that move rows call it first.
    bool downloadIdleGuard(Prompter &prompter) const;

    // --- status panels -------------------------------------------------------
    QString actionText() const { return m_status.actionText(); }         // panel 2
    QString connectionText() const { return m_status.connectionText(); } // panel 3
    QString countersText() const { return m_status.countersText(); }     // panel 4, states
    // Panel 4 whole: the states, then the ended records by how they ended.
    QString countsPanelText() const { return m_status.countsPanelText(); }
    QString countsPanelToolTip() const { return m_status.countsPanelToolTip(); }
    // The counters text for the list as it is now.
    static QString countersTextFor(const DownloadList &list)
    {
        return StatusPresenter::countersTextFor(list);
    }
    static QString countsPanelTextFor(const DownloadList &list)
    {
        return StatusPresenter::countsPanelTextFor(list);
    }
    static QString countsPanelToolTipFor(const DownloadList &list)
    {
        return StatusPresenter::countsPanelToolTipFor(list);
    }

    // --- sounds --------------------------------------------------------------
    // Folders searched in order for "<n>.wav"; by default the application's
    // folder and the per-user data folder.
    void setSoundFolders(const QStringList &folders) { m_status.setSoundFolders(folders); }
    QStringList soundFolders() const { return m_status.soundFolders(); }
    // PlayNoticeSound: plays "<n>.wav" from the first folder that holds it;
    // a missing file plays nothing and says nothing.
    void playNoticeSound(int number) { m_status.playNoticeSound(number); }

    // --- ticks ---------------------------------------------------------------
    // With false, neither tick runs by itself (tests call them directly).
    void setTimersDriven(bool driven) { m_scheduler.setTimersDriven(driven); }

    // For the window's "下载当前项" and tests: Inet下载当前文件 for one record
    // that the caller has marked Downloading.
    void downloadCurrent(quint64 recordId) { m_scheduler.downloadCurrent(recordId); }
    // 多线程下载: starts slot t (1..6) on the record, storing into path.
    void multiThreadDownload(int slot, quint64 recordId, const QString &url, const QString &path)
    {
        m_scheduler.multiThreadDownload(slot, recordId, url, path);
    }

    // The slot's Downloader while loaded (tests drive its events).
    Downloader *slotDownloader(int slot) const { return m_pool.slotDownloader(slot); }

    // The network managers both methods fetch through. A front whose
    // browser keeps the user's sessions gives them its cookie jar before the
    // first run, so that downloads are made as the signed-in user.
    QList<QNetworkAccessManager *> networkManagers() { return m_pool.networkManagers(); }

public slots:
    // StartDownloading: enables the scheduler.
    void startDownloading() { m_scheduler.startDownloading(); }
    // StopDownloading: ends the run and every download in flight.
    void stopDownloading() { m_scheduler.stopDownloading(); }
    // The "切换" command: toggles between the methods, thread count back to 1.
    void switchMethod() { m_scheduler.switchMethod(); }
    // The scheduler tick: once the pause after the last download is over,
    // starts the next waiting record (method one) or fills the free slots
    // (method two).
    void schedulerTick() { m_scheduler.schedulerTick(); }
    // The monitor tick: ends a finished run (with its notice sound), keeps the
    // start entry and the counters up to date, starts a run when records wait
    // and auto-start is on, re-queues by the auto-redownload choice and stops
    // a run at the error limit.
    void monitorTick() { m_scheduler.monitorTick(); }
    // The method-one stall and header watchdog (also run by its own timer).
    void methodOneWatchdogTick();

signals:
    void downloadMethodChanged(DownloadMethod method);
    void threadCountChanged(int count);
    void autoStartChanged(bool on);
    void autoRedownloadChanged(bool on);
    void runningChanged(bool running);
    void startEnabledChanged(bool enabled);
    void actionTextChanged(const QString &text);
    void connectionTextChanged(const QString &text);
    void countersTextChanged(const QString &text);
    void countsPanelTextChanged(const QString &text, const QString &toolTip);
    // A record starts and the locate option is ticked: bring it into view.
    void locateRecord(quint64 recordId);
    // A download ended with the record's type htm or html: a web page came
    // back instead of the document (the login helper may sign in).
    void webPageDownloaded(quint64 recordId);
    // Any download ended (either method, any outcome).
    void downloadEnded(quint64 recordId);
    // After every monitor tick.
    void monitorTicked();

private:
    void onTransferEnded(quint64 recordId, TransferNotice notice);
    void dropLeftover(const DownloadItem &item);

    DownloadList &m_list;
    // In dependency order: the pool and the presenter stand alone, the
    // scheduler drives both.
    TransferPool m_pool;
    StatusPresenter m_status;
    DownloadScheduler m_scheduler;
    bool m_proxyEnabled = false;
};

} // namespace lumen
