#pragma once

#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

#include "tools/copy_session.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QWidget;

namespace lumen
{

class AboutSession;
class AboutWindow;
class CacheToolSession;
class CacheWindow;
class Clock;
class ComponentHelpWindow;
class CopySession;
class CopyWindow;
class CoverWindow;
class DesktopShell;
class DialogSaveFolderChooser;
class DownloadSession;
class DownloadWindow;
class EffectSoundPlayer;
class HarvestSession;
class ListRecovery;
class LoginPanel;
class ModalSettingsDialogOpener;
class ModalUrlReplaceOpener;
class PermissionHelpWindow;
class Prompter;
class RegistryStore;
class SearchWindow;
class Shell;
class SiteLogin;
class SoundPlayer;
class StartupSession;
class UpdateCheck;
class UsageWindow;
class WebEngineBrowser;
class WebEngineProfile;
class WidgetPrompter;

// The seams the program answers through. The program itself leaves them
// empty and gets the desktop's message boxes, shell, sounds and clock; a
// test hands in its own so that no box waits for a click and no sound plays.
struct DesktopSeams {
    Prompter *prompter = nullptr;
    Shell *shell = nullptr;
    SoundPlayer *sound = nullptr;
    Clock *clock = nullptr;
};

// The desktop program's composition root. It owns everything that lives for
// the whole run, built in the order each piece needs the previous ones: the
// seams, the settings store and the values read from it, the download list
// with its engine and session, the key store, the update check and the
// start-up session; the browser profile and the harvest session follow on
// first use, because starting the browser engine is the slow part and a run
// that only downloads does without a search browser.
//
// Each window is one instance, created on first use and gone once closed.
// Windows never call each other: every request from one window to another
// is a signal connected here, and so is the program's lifecycle: it starts
// at the start-up window, the search and download windows bring it back
// when the other is not open, and closing it ends the program at once.
class DesktopApp : public QObject
{
    Q_OBJECT
public:
    explicit DesktopApp(QObject *parent = nullptr);
    explicit DesktopApp(const DesktopSeams &seams, QObject *parent = nullptr);
    ~DesktopApp() override;

    SettingsStore &settingsStore() { return m_store; }
    AppSettings &settings() { return m_settings; }
    Prompter &prompter() { return m_prompter; }
    Shell &shell() { return m_shell; }
    SoundPlayer &soundPlayer() { return m_sound; }
    Clock &clock() { return m_clock; }
    DownloadList &downloads() { return m_downloads; }
    DownloadEngine &engine() { return m_engine; }
    DownloadSession &downloadSession() { return *m_downloadSession; }
    StartupSession &startupSession() { return *m_startup; }
    UpdateCheck &updateCheck() { return *m_updateCheck; }
    // The browser profile, started on first use, whose cookies the
    // downloads then share.
    WebEngineProfile &browserProfile();
    HarvestSession &harvestSession();
    // The login helper of the open download window; null without one.
    SiteLogin *siteLogin() const { return m_login.get(); }

    // The windows that are open now (null when not).
    CoverWindow *coverWindow() const;
    SearchWindow *searchWindow() const;
    DownloadWindow *downloadWindow() const;
    LoginPanel *loginPanel() const;
    QWidget *aboutWindow() const;
    QWidget *usageWindow() const;
    QWidget *cacheWindow() const;
    QWidget *copyWindow() const;
    bool hasEnded() const { return m_ended; }

    // The program's front door: shows the start-up window.
    bool start();
    // The convenience start: the download window straight away, filled from
    // a list file (the command-line tool's `download --list` format). False,
    // with a message, when the file cannot be read; the start-up window is
    // shown then instead.
    bool startWithDownloadList(const QString &listFile);

public slots:
    void showSearchWindow();
    // Shows the download window in front, creating it first if needed.
    void showDownloadWindow();
    void showSettingsDialog();
    void showAboutWindow();
    void showUsageWindow();
    void showComponentHelp();
    void showPermissionsHelp();
    void showLoginPanel();
    // The browser cache tool over the shared profile's cache, and the copy
    // window it hands documents to.
    void showCacheWindow();
    void showCopyWindow(const QList<lumen::CopySource> &sources);
    // "清空IE浏览器缓存" of the search and download windows, with its report.
    void clearBrowserCache();
    // Ends the run: every window goes without a question, downloads in
    // flight are stopped (their files stay partial, never under a final
    // name), then ended() asks the event loop to finish.
    void endProgram();

signals:
    // The program is over; main() quits its event loop on it.
    void ended();

private:
    void build();
    // Once a run, at its first window: the last run's lists, if it left
    // work undone. True when the download list was filled from them.
    bool offerLastLists();
    QWidget *owner() const;
    // The window a request came from (the sender's window), else owner().
    QWidget *opener() const;
    SearchWindow &ensureSearchWindow();
    DownloadWindow &ensureDownloadWindow();
    void showStartupIfAlone(QWidget *closing);
    template <typename W> void present(QPointer<W> &slot, W *created);

    // Seams: the program's own unless a test gave its.
    std::unique_ptr<WidgetPrompter> m_ownPrompter;
    std::unique_ptr<DesktopShell> m_ownShell;
    std::unique_ptr<EffectSoundPlayer> m_ownSound;
    Prompter &m_prompter;
    Shell &m_shell;
    SoundPlayer &m_sound;
    Clock &m_clock;

    SettingsStore m_store;
    AppSettings m_settings;
    DownloadList m_downloads;
    DownloadEngine m_engine;
    std::unique_ptr<DownloadSession> m_downloadSession;
    std::unique_ptr<ModalSettingsDialogOpener> m_settingsOpener;
    std::unique_ptr<ModalUrlReplaceOpener> m_urlReplaceOpener;
    WebEngineProfile *m_profile = nullptr;

    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<UpdateCheck> m_updateCheck;
    std::unique_ptr<StartupSession> m_startup;
    std::unique_ptr<AboutSession> m_aboutSession;

    std::unique_ptr<WebEngineBrowser> m_searchBrowser;
    std::unique_ptr<DialogSaveFolderChooser> m_chooser;
    std::unique_ptr<HarvestSession> m_harvest;
    // The journals of both lists: after the lists they follow, so that they
    // go (writing their last batch) before the lists do.
    std::unique_ptr<ListRecovery> m_recovery;
    bool m_offeredLastLists = false;
    // The login browser and helper belong to one opening of the download
    // window: its values start empty each time the window loads.
    std::unique_ptr<WebEngineBrowser> m_loginBrowser;
    std::unique_ptr<SiteLogin> m_login;
    // The cache tool's and copy window's sessions live as long as their
    // windows.
    std::unique_ptr<CacheToolSession> m_cacheSession;
    std::unique_ptr<CopySession> m_copySession;

    QPointer<CoverWindow> m_cover;
    QPointer<SearchWindow> m_search;
    QPointer<DownloadWindow> m_download;
    QPointer<LoginPanel> m_loginPanel;
    QPointer<QWidget> m_about;
    QPointer<QWidget> m_usage;
    QPointer<QWidget> m_componentHelp;
    QPointer<QWidget> m_permissionsHelp;
    QPointer<QWidget> m_cache;
    QPointer<QWidget> m_copy;
    bool m_ended = false;
};

} // namespace lumen
