#pragma once

#include "engine/download_method.h"
#include "engine/naming.h"
#include "engine/store_body.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>

namespace lumen
{

class Clock;
class Downloader;
class DownloadList;
class PartFile;
class Prompter;
class SingleTransfer;
class SoundPlayer;

// 确定是需要下载: false when the record's file exists and the policy is
// Skip; the record is then Finished, its size and received texts are the
// file's length and its percent text is "已存在，跳过". Also false when row is
// not in the list. Otherwise true (overwrite and rename never stop a download
// here). row is 0-based.
bool needsDownload(DownloadList &list, qint64 row, SameNamePolicy policy);

// The download engine: the scheduler that walks the download list and starts
// waiting records by the chosen method, the monitor that ends runs, restarts
// and re-queues, both download methods, the status texts and the notice
// sounds. The download window binds its controls to the options here; the
// command-line tool drives the same object.
//
// Two 1000 ms ticks drive everything: the scheduler tick, which starts the
// next waiting records, runs while the scheduler is enabled; the monitor
// tick, which ends runs, restarts and re-queues, while the engine lives. Both are public slots and
// read time only from the Clock, so tests switch the timers off (setTimersDriven(false)) and call
// the ticks after advancing a fake clock.
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
    static constexpr int TickMs = 1000;
    static constexpr int MaxSlots = 6;
    // CountErrorOrPageItems at which the error stop ends a run.
    static constexpr qint64 ErrorStopCount = 5;
    // The size limit when none usable is set.
    static constexpr double DefaultMaxFileSizeMB = 10;

    // The "自动重新下载：" choices.
    enum class RedownloadFilter { Failed, WebPages, FailedAndWebPages };

    // The notice sounds, by the number of their file (101.wav ...).
    enum Sound { PageSound = 101, RunEndSound = 102, FailedSound = 103 };

    DownloadEngine(DownloadList &list, Clock &clock, SoundPlayer &sound, Prompter &prompter,
                   QObject *parent = nullptr);
    ~DownloadEngine() override;

    DownloadList &list() const { return m_list; }

    // --- options the window binds ------------------------------------------
    // One record at a time over one connection, or up to threadCount slots.
    DownloadMethod downloadMethod() const { return m_method; }
    void setDownloadMethod(DownloadMethod method);
    // Method two's slot count, 1..6.
    int threadCount() const { return m_threadCount; }
    void setThreadCount(int count);
    bool threadCountEnabled() const { return m_method == DownloadMethod::MultiConnection; }
    // "下载方式：1" / "下载方式：2"
    QString methodText() const;
    // Seconds between the end of one download and the start of the next.
    int intervalSeconds() const { return m_interval; }
    void setIntervalSeconds(int seconds) { m_interval = qBound(0, seconds, 600); }
    SameNamePolicy sameNamePolicy() const { return m_policy; }
    void setSameNamePolicy(SameNamePolicy policy) { m_policy = policy; }
    // "当有待下载项时，自动启动下载"
    bool autoStart() const { return m_autoStart; }
    void setAutoStart(bool on);
    // "自动重新下载：" and its choice.
    bool autoRedownload() const { return m_autoRedownload; }
    void setAutoRedownload(bool on);
    RedownloadFilter redownloadFilter() const { return m_redownloadFilter; }
    void setRedownloadFilter(RedownloadFilter filter) { m_redownloadFilter = filter; }
    // "有5个以上下载出错或者网页文件，就停止下载"
    bool errorStop() const { return m_errorStop; }
    void setErrorStop(bool on) { m_errorStop = on; }
    // "声音提示"
    bool soundOn() const { return m_soundOn; }
    void setSoundOn(bool on) { m_soundOn = on; }
    // "自动定位到下载项": locateRecord() is announced when a record starts.
    bool autoLocate() const { return m_autoLocate; }
    void setAutoLocate(bool on) { m_autoLocate = on; }

    // Settings that method one uses: the size limit (both methods) and the
    // proxy (method one only, for http and https alike). A negative or
    // non-numeric limit would skip every file: the default stands instead.
    double maxFileSizeMB() const { return m_maxFileSizeMB; }
    void setMaxFileSizeMB(double mb);
    // A proxy without an address or with a port that is not a number from 1
    // to 65535 is unusable: method one then fails every record with
    // "代理服务器设置有误" rather than going out another way.
    void setProxy(bool enabled, const QString &address, const QString &port);
    bool proxyEnabled() const { return m_proxyEnabled; }

    // --- state ---------------------------------------------------------------
    // The scheduler tick is enabled (the window shows its running mark
    // exactly then).
    bool isRunning() const { return m_running; }
    // The "开始下载" menu entry: enabled while the scheduler is stopped or the
    // list is finished; kept by the monitor tick.
    bool startEnabled() const { return m_startEnabled; }
    bool downloadBusy() const { return m_busy; }
    // Seconds since midnight of the last end of a download.
    double lastFinishTime() const { return m_lastFinishTime; }
    // Final names held by running transfers (both methods).
    const NameReservations &reservations() const { return m_reservations; }
    // Record ids the method-two slots 1..6 work on; 0 for a free slot.
    quint64 slotRecord(int slot) const;
    // CountSlotInstances: loaded slots plus the idle template (1 when idle).
    int countSlotInstances() const;
    // A method-one request is out and its headers are awaited (StillExecuting).
    bool methodOneExecuting() const;
    // A method-one download is in flight.
    bool methodOneActive() const;
    // Nothing runs: the scheduler is stopped and no transfer is in flight.
    bool isIdle() const;
    // DownloadIdleGuard: false, after telling the user, while anything runs;
    // list operations that move rows call it first.
    bool downloadIdleGuard(Prompter &prompter) const;

    // --- status panels -------------------------------------------------------
    QString actionText() const { return m_actionText; }         // panel 2
    QString connectionText() const { return m_connectionText; } // panel 3
    QString countersText() const { return m_countersText; }     // panel 4
    // The counters text for the list as it is now.
    static QString countersTextFor(const DownloadList &list);

    // --- sounds --------------------------------------------------------------
    // Folders searched in order for "<n>.wav"; by default the application's
    // folder and the per-user data folder.
    void setSoundFolders(const QStringList &folders) { m_soundFolders = folders; }
    QStringList soundFolders() const { return m_soundFolders; }
    // PlayNoticeSound: plays "<n>.wav" from the first folder that holds it;
    // a missing file plays nothing and says nothing.
    void playNoticeSound(int number);

    // --- ticks ---------------------------------------------------------------
    // With false, neither tick runs by itself (tests call them directly).
    void setTimersDriven(bool driven);

    // For the window's "下载当前项" and tests: Inet下载当前文件 for one record
    // that the caller has marked Downloading.
    void downloadCurrent(quint64 recordId);
    // 多线程下载: starts slot t (1..6) on the record, storing into path.
    void multiThreadDownload(int slot, quint64 recordId, const QString &url, const QString &path);

    // The slot's Downloader while loaded (tests drive its events).
    Downloader *slotDownloader(int slot) const;

    // The network managers both methods fetch through. A front whose
    // browser keeps the user's sessions gives them its cookie jar before the
    // first run, so that downloads are made as the signed-in user.
    QList<QNetworkAccessManager *> networkManagers() { return {&m_methodOneNam, &m_methodTwoNam}; }

public slots:
    // StartDownloading: enables the scheduler.
    void startDownloading();
    // StopDownloading: ends the run and every download in flight.
    void stopDownloading();
    // The "切换" command: toggles between the methods, thread count back to 1.
    void switchMethod();
    // The scheduler tick: once the pause after the last download is over,
    // starts the next waiting record (method one) or fills the free slots
    // (method two).
    void schedulerTick();
    // The monitor tick: ends a finished run (with its notice sound), keeps the
    // start entry and the counters up to date, starts a run when records wait
    // and auto-start is on, re-queues by the auto-redownload choice and stops
    // a run at the error limit.
    void monitorTick();
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
    struct Slot {
        quint64 recordId = 0;
        Downloader *downloader = nullptr;
        QString reserved;     // the planned target this slot holds
        bool stored = false;  // the body reached storeBody
        StoreOutcome outcome; // what storeBody made of it
    };

    void setRunning(bool running);
    void setBusy(bool busy);
    void setActionText(const QString &text);
    void setConnectionText(const QString &text);
    void refreshCounters();
    double now() const;
    qint64 chooseWaitingRow(bool createFolders);
    QString makeFolder(const QString &folder);
    void startMethodOne(qint64 row);
    void onMethodOneFinished(quint64 recordId, bool success);
    void noticeEnd(quint64 recordId);

    void onSlotProgress(int slot, qint64 cur, qint64 max);
    void onSlotComplete(int slot, qint64 cur, qint64 max, const QString &saveFile);
    void onSlotError(int slot);
    void onSlotSizeLimit(int slot, qint64 received);
    bool storeSlotBody(int slot, PartFile &part);
    void unloadSlot(int slot);

    DownloadList &m_list;
    Clock &m_clock;
    SoundPlayer &m_sound;
    Prompter &m_prompter;
    NameReservations m_reservations;
    QNetworkAccessManager m_methodOneNam;
    QNetworkAccessManager m_methodTwoNam;
    SingleTransfer *m_transfer = nullptr;
    std::array<Slot, MaxSlots + 1> m_slots{}; // 0 is the template, never used
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
    bool m_soundOn = false;
    bool m_autoLocate = false;
    double m_maxFileSizeMB = DefaultMaxFileSizeMB;
    bool m_proxyEnabled = false;

    bool m_running = false;
    bool m_startEnabled = true;
    bool m_busy = false;
    double m_lastFinishTime = 0;
    QString m_actionText;
    QString m_connectionText;
    QString m_countersText;
    QStringList m_soundFolders;
    // Folders whose name could not be made this run: their message is shown once.
    QSet<QString> m_badFolders;
};

} // namespace lumen
