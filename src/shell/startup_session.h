#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace lumen
{

class RegistryStore;
class UpdateCheck;

// `fCover`'s decisions without the window: the start-up work, the deferred
// start that enables the search button and starts the update check, and the
// two ways out (open the search window, end the program). The window shows
// these properties and forwards its clicks; the program's composition root
// answers the two requests.
class StartupSession : public QObject
{
    Q_OBJECT
    // `Label3`, the loading notice.
    Q_PROPERTY(bool loading READ isLoading NOTIFY loadingChanged)
    // `Command1`, "资料检索下载".
    Q_PROPERTY(bool searchEnabled READ isSearchEnabled NOTIFY searchEnabledChanged)
    // `Label2`, the update notice; empty while there is none.
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
public:
    // The deferred start: the window is on screen before the search button
    // comes alive and the network is asked.
    static constexpr int DeferredStartMs = 100;

    static const QString LoadingText;      // "正在加载组件，请稍候..."
    static const QString FixedNoticeText;  // the researchers-only notice
    static const QString SearchButtonText; // "资料检索下载"
    static const QString ExitButtonText;   // "退出软件"

    // programName: the executable's base name, under which the browser
    // emulation value is filed.
    StartupSession(UpdateCheck &updateCheck, RegistryStore &registry, const QString &programName,
                   QObject *parent = nullptr);

    // Where the system's release file is read from (tests point elsewhere).
    void setOsReleasePaths(const QStringList &paths) { m_osReleasePaths = paths; }

    QString windowTitle() const;
    // "版本:" and the program's version.
    QString versionText() const;

    bool isLoading() const { return m_loading; }
    bool isSearchEnabled() const { return m_searchEnabled; }
    QString notice() const;
    bool isStarted() const { return m_started; }
    bool isTimerActive() const { return m_timer.isActive(); }

    // `OsBitness` and `OsDescription`, known once the start-up work ran.
    QString osBitness() const { return m_osBitness; }
    QString osDescription() const { return m_osDescription; }

public slots:
    // Asks for the start-up work at the next turn of the event loop, so the
    // first window (the start-up window, or the download window of a start
    // with a list) is on screen with its loading notice before it. The
    // program calls it once it has shown that window; later calls do
    // nothing.
    void begin();
    // The start-up work: the system's bitness and description, the browser
    // emulation value, then the deferred start. Runs only once; failures are
    // silent. A window that shows the description calls it first, in case
    // it comes before the queued run.
    void runStartupWork();
    // Arms the deferred start again, which repeats the update check (after
    // the about window closes).
    void restartTimer();
    // `Command1`: asks for the search window.
    void openSearch();
    // `Command3` or the close box: asks for the end of the program.
    void exitProgram();
    // `Label2`'s click.
    void openProductPage();

signals:
    void loadingChanged(bool loading);
    void searchEnabledChanged(bool enabled);
    void noticeChanged(const QString &notice);
    void started();
    void searchWindowRequested();
    void quitRequested();

private:
    void onTimer();

    UpdateCheck &m_updateCheck;
    RegistryStore &m_registry;
    QString m_programName;
    QStringList m_osReleasePaths;
    QTimer m_timer; // the deferred start, once
    bool m_started = false;
    bool m_begun = false;
    bool m_loading = true;
    bool m_searchEnabled = false;
    QString m_osBitness;
    QString m_osDescription;
};

} // namespace lumen
