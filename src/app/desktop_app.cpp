#include "app/desktop_app.h"

#include "app/desktop_shell.h"
#include "app/effect_sound_player.h"
#include "app/widget_prompter.h"
#include "download_window/download_list_file.h"
#include "download_window/download_session.h"
#include "download_window/download_window.h"
#include "download_window/save_folder_dialog.h"
#include "download_window/settings_dialog.h"
#include "download_window/url_replace_dialog.h"
#include "engine/app_title.h"
#include "engine/clock.h"
#include "engine/prompter.h"
#include "harvest/harvest_session.h"
#include "harvest/list_recovery.h"
#include "harvest/login_panel_window.h"
#include "harvest/repository.h"
#include "harvest/search_window.h"
#include "harvest/site_login.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/stored_download_settings.h"
#include "shell/about_session.h"
#include "shell/about_window.h"
#include "shell/component_help_window.h"
#include "shell/cover_window.h"
#include "shell/platform_help.h"
#include "shell/program_version.h"
#include "shell/registry_store.h"
#include "shell/startup_session.h"
#include "shell/update_check.h"
#include "shell/usage_window.h"
#include "tools/browser_cache.h"
#include "tools/cache_tool_session.h"
#include "tools/cache_window.h"
#include "tools/copy_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

namespace lumen
{

namespace
{
Prompter &chosenPrompter(const DesktopSeams &s, std::unique_ptr<WidgetPrompter> &own)
{
    if (s.prompter)
        return *s.prompter;
    own = std::make_unique<WidgetPrompter>();
    return *own;
}

Shell &chosenShell(const DesktopSeams &s, std::unique_ptr<DesktopShell> &own)
{
    if (s.shell)
        return *s.shell;
    own = std::make_unique<DesktopShell>();
    return *own;
}

SoundPlayer &chosenSound(const DesktopSeams &s, std::unique_ptr<EffectSoundPlayer> &own)
{
    if (s.sound)
        return *s.sound;
    own = std::make_unique<EffectSoundPlayer>();
    return *own;
}

void bringForward(QWidget *w)
{
    if (w->isMinimized())
        w->showNormal();
    else
        w->show();
    w->raise();
    w->activateWindow();
}
} // namespace

DesktopApp::DesktopApp(QObject *parent) : DesktopApp(DesktopSeams{}, parent) {}

DesktopApp::DesktopApp(const DesktopSeams &seams, QObject *parent)
    : QObject(parent), m_prompter(chosenPrompter(seams, m_ownPrompter)),
      m_shell(chosenShell(seams, m_ownShell)), m_sound(chosenSound(seams, m_ownSound)),
      m_clock(seams.clock ? *seams.clock : SystemClock::instance()),
      m_store(SettingsStore::defaultPath()), m_engine(m_downloads, m_clock, m_sound, m_prompter)
{
    build();
}

DesktopApp::~DesktopApp()
{
    // Windows first: they hold references into everything below.
    delete m_loginPanel;
    delete m_search;
    delete m_download;
    delete m_about;
    delete m_usage;
    delete m_componentHelp;
    delete m_permissionsHelp;
    delete m_cache;
    delete m_copy;
    delete m_cover;
}

void DesktopApp::build()
{
    // The program has ended only when the start-up window says so; it is
    // hidden (not closed) while the search window is in use.
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);

    readStartupSettings(m_store, m_settings);
    loadSaveFolder(m_store, m_settings);
    {
        // Downloads start as the stored settings say, whichever window (or
        // none yet) asked for them.
        const DownloadWindowSettings window = loadDownloadWindowSettings(m_store, m_settings);
        applyStoredDownloadSettings(m_engine, m_settings, window);
    }
    m_downloadSession = std::make_unique<DownloadSession>(m_downloads, m_engine, m_store,
                                                          m_settings, m_prompter, m_shell);
    m_recovery =
        std::make_unique<ListRecovery>(m_downloads, m_prompter, ListRecovery::defaultFolder());
    m_settingsOpener = std::make_unique<ModalSettingsDialogOpener>();
    m_urlReplaceOpener = std::make_unique<ModalUrlReplaceOpener>();

    m_registry = std::make_unique<RegistryStore>(RegistryStore::defaultPath());
    m_updateCheck = std::make_unique<UpdateCheck>(
        UpdateCheck::configuredProductSite(), executableBaseName(), m_shell, m_prompter, m_clock);
    m_startup = std::make_unique<StartupSession>(*m_updateCheck, *m_registry, executableBaseName());
    connect(m_startup.get(), &StartupSession::searchWindowRequested, this,
            &DesktopApp::showSearchWindow);
    connect(m_startup.get(), &StartupSession::quitRequested, this, &DesktopApp::endProgram);
}

WebEngineProfile &DesktopApp::browserProfile()
{
    if (!m_profile) {
        m_profile = WebEngineProfile::shared();
        m_profile->shareSessionsWith(m_engine);
    }
    return *m_profile;
}

HarvestSession &DesktopApp::harvestSession()
{
    if (!m_harvest) {
        m_searchBrowser = std::make_unique<WebEngineBrowser>(&browserProfile());
        m_chooser = std::make_unique<DialogSaveFolderChooser>(m_store, m_prompter);
        // Analysis hands records over to the list this program keeps for the
        // whole run; the download window is loaded (not shown) on the way,
        // so that it is there when the analysis brings it forward.
        m_harvest = std::make_unique<HarvestSession>(
            *m_searchBrowser, m_settings, m_prompter, *m_chooser,
            [this]() -> DownloadList & {
                ensureDownloadWindow();
                return m_downloads;
            },
            m_clock);
        m_recovery->attachHarvest(m_harvest->list());
        m_harvest->setDownloadWindowOpenQuery(
            [this] { return m_download && m_download->isVisible(); });
        connect(&m_harvest->transfer(), &DownloadTransfer::downloadWindowShowRequested, this,
                [this](bool restore) {
                    DownloadWindow &w = ensureDownloadWindow();
                    if (restore)
                        bringForward(&w);
                    else {
                        w.show();
                        w.raise();
                    }
                });
    }
    return *m_harvest;
}

CoverWindow *DesktopApp::coverWindow() const
{
    return m_cover;
}

SearchWindow *DesktopApp::searchWindow() const
{
    return m_search;
}

DownloadWindow *DesktopApp::downloadWindow() const
{
    return m_download;
}

LoginPanel *DesktopApp::loginPanel() const
{
    return m_loginPanel;
}

QWidget *DesktopApp::aboutWindow() const
{
    return m_about;
}

QWidget *DesktopApp::usageWindow() const
{
    return m_usage;
}

QWidget *DesktopApp::cacheWindow() const
{
    return m_cache;
}

QWidget *DesktopApp::copyWindow() const
{
    return m_copy;
}

bool DesktopApp::start()
{
    if (m_ended)
        return false;
    if (!m_cover) {
        m_cover = new CoverWindow(*m_startup);
        m_cover->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    m_cover->show();
    m_startup->begin();
    if (offerLastLists())
        showDownloadWindow();
    return true;
}

bool DesktopApp::offerLastLists()
{
    if (m_offeredLastLists)
        return false;
    m_offeredLastLists = true;
    return m_recovery->start(m_store.read(setting::KeepListsJournal) != QLatin1String("0"));
}

bool DesktopApp::startWithDownloadList(const QString &listFile)
{
    QString error;
    QList<DownloadListEntry> entries;
    if (!readDownloadListFile(listFile, entries, error)) {
        m_prompter.message(error, Prompter::Icon::Critical);
        start();
        return false;
    }
    offerLastLists();
    for (const DownloadListEntry &e : std::as_const(entries))
        m_downloads.append(e.url, e.name, e.type, m_settings.saveFolder, e.referer);
    // The start-up window is there (hidden) all the same: the program still
    // ends when it closes, and closing the download window brings it back.
    if (!m_cover)
        m_cover = new CoverWindow(*m_startup);
    showDownloadWindow();
    // The start-up work does not wait for the start-up window: the about
    // and help windows and the emulation value need it all the same.
    m_startup->begin();
    return true;
}

QWidget *DesktopApp::owner() const
{
    if (m_search && m_search->isVisible())
        return m_search;
    if (m_download && m_download->isVisible())
        return m_download;
    return m_cover;
}

QWidget *DesktopApp::opener() const
{
    // The window whose menu asked, when a window asked.
    if (auto *w = qobject_cast<QWidget *>(sender()))
        return w->window();
    return owner();
}

template <typename W> void DesktopApp::present(QPointer<W> &slot, W *created)
{
    created->setAttribute(Qt::WA_DeleteOnClose);
    created->setWindowIcon(programIcon());
    slot = created;
    bringForward(created);
}

SearchWindow &DesktopApp::ensureSearchWindow()
{
    if (!m_search) {
        HarvestSession &session = harvestSession();
        auto *w = new SearchWindow(session, *m_searchBrowser, m_shell, m_store);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setWindowIcon(programIcon());
        m_chooser->setParentWindow(w);
        connect(w, &SearchWindow::downloadWindowRequested, this, &DesktopApp::showDownloadWindow);
        connect(w, &SearchWindow::startupWindowRequested, this,
                [this, w] { showStartupIfAlone(w); });
        connect(w, &SearchWindow::settingsRequested, this, &DesktopApp::showSettingsDialog);
        connect(w, &SearchWindow::aboutRequested, this, &DesktopApp::showAboutWindow);
        connect(w, &SearchWindow::usageRequested, this, &DesktopApp::showUsageWindow);
        connect(w, &SearchWindow::browserCacheRequested, this, &DesktopApp::showCacheWindow);
        connect(w, &SearchWindow::clearBrowserCacheRequested, this, &DesktopApp::clearBrowserCache);
        m_search = w;
    }
    return *m_search;
}

DownloadWindow &DesktopApp::ensureDownloadWindow()
{
    if (!m_download) {
        // Downloads carry the browser's sign-ins from the first one on.
        browserProfile();
        auto *w = new DownloadWindow(*m_downloadSession, *m_settingsOpener, *m_urlReplaceOpener);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->setWindowIcon(programIcon());
        connect(w, &DownloadWindow::searchWindowRequested, this, &DesktopApp::showSearchWindow);
        connect(w, &DownloadWindow::aboutRequested, this, &DesktopApp::showAboutWindow);
        connect(w, &DownloadWindow::permissionsHelpRequested, this,
                &DesktopApp::showPermissionsHelp);
        connect(w, &DownloadWindow::componentHelpRequested, this, &DesktopApp::showComponentHelp);
        connect(w, &DownloadWindow::loginPanelRequested, this, &DesktopApp::showLoginPanel);
        connect(w, &DownloadWindow::clearBrowserCacheRequested, this,
                &DesktopApp::clearBrowserCache);
        connect(w, &DownloadWindow::closed, this, [this, w] { showStartupIfAlone(w); });

        // The login helper starts empty with each opening of the window and
        // goes with it; its panel covers the list when asked for.
        m_loginBrowser = std::make_unique<WebEngineBrowser>(&browserProfile());
        m_loginBrowser->setSilent(true);
        m_login = std::make_unique<SiteLogin>(*m_loginBrowser, m_prompter, m_clock);
        m_login->watch(m_engine);
        auto *panel = new LoginPanel(*m_login, *m_loginBrowser);
        w->setLoginPanel(panel);
        m_loginPanel = panel;
        connect(m_login.get(), &SiteLogin::titleTextChanged, w, &DownloadWindow::showLoginTitle);
        connect(w, &QObject::destroyed, this, [this] {
            // The panel went with the window; the helper and its browser
            // follow, so the next opening starts afresh.
            m_login.reset();
            m_loginBrowser.reset();
        });
        m_download = w;
    }
    return *m_download;
}

void DesktopApp::showSearchWindow()
{
    if (m_ended)
        return;
    if (m_cover)
        m_cover->hide();
    bringForward(&ensureSearchWindow());
}

void DesktopApp::showDownloadWindow()
{
    if (m_ended)
        return;
    if (m_cover)
        m_cover->hide();
    bringForward(&ensureDownloadWindow());
}

void DesktopApp::showLoginPanel()
{
    if (!m_loginPanel || !m_download)
        return;
    QUrl selected;
    const quint64 id = m_download->currentId();
    if (id != 0) {
        const qint64 row = m_downloads.rowOfId(id);
        if (row >= 0)
            selected = QUrl(m_downloads.at(row).url);
    }
    m_loginPanel->open(selected);
}

void DesktopApp::showSettingsDialog()
{
    DownloadSession &s = *m_downloadSession;
    m_settingsOpener->open(owner(), s.settingsDialogValues(),
                           [&s](const SettingsDialogValues &v) { s.applySettingsDialog(v); });
}

void DesktopApp::showAboutWindow()
{
    if (m_about) {
        bringForward(m_about);
        return;
    }
    m_startup->runStartupWork(); // the description it shows
    m_aboutSession =
        std::make_unique<AboutSession>(m_shell, m_prompter, m_startup->osDescription(),
                                       m_updateCheck->productPageUrl(), repositoryHomePage());
    // Modal to the window it was opened from, as the help windows are.
    auto *w = new AboutWindow(*m_aboutSession, opener());
    w->setWindowModality(Qt::WindowModal);
    // Each closing of the about window looks for a newer version again.
    connect(w, &QDialog::finished, m_startup.get(), &StartupSession::restartTimer);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setWindowIcon(programIcon());
    m_about = w;
    w->open();
}

void DesktopApp::showUsageWindow()
{
    // Modeless, so the steps stay in view while the user follows them; it
    // stays over its opener and goes with it.
    if (!m_usage)
        present(m_usage, static_cast<QWidget *>(new UsageWindow(opener())));
    else
        bringForward(m_usage);
}

void DesktopApp::showComponentHelp()
{
    m_startup->runStartupWork();
    if (!m_componentHelp) {
        auto *w = new ComponentHelpWindow(m_startup->osDescription(), opener());
        w->setWindowModality(Qt::WindowModal);
        present(m_componentHelp, static_cast<QWidget *>(w));
    } else {
        bringForward(m_componentHelp);
    }
}

void DesktopApp::showPermissionsHelp()
{
    if (m_permissionsHelp) {
        bringForward(m_permissionsHelp);
        return;
    }
    m_startup->runStartupWork();
    const QList<PermissionEntry> entries =
        programPermissionEntries(QCoreApplication::applicationFilePath(),
                                 QFileInfo(m_store.path()).absolutePath(), m_settings.saveFolder);
    auto *w = new PermissionHelpWindow(executableBaseName(), m_startup->osDescription(), entries,
                                       opener());
    w->setWindowModality(Qt::WindowModal);
    present(m_permissionsHelp, static_cast<QWidget *>(w));
}

void DesktopApp::showCacheWindow()
{
    if (m_cache) {
        bringForward(m_cache);
        return;
    }
    m_cacheSession =
        std::make_unique<CacheToolSession>(browserCacheFolder(browserProfile().storageFolder()),
                                           QDir::homePath(), candidateHomeFolders());
    connect(m_cacheSession.get(), &CacheToolSession::copyRequested, this,
            &DesktopApp::showCopyWindow);
    auto *w = new CacheWindow(*m_cacheSession, owner());
    w->setWindowModality(Qt::ApplicationModal);
    connect(w, &QObject::destroyed, this, [this] { m_cacheSession.reset(); });
    present(m_cache, static_cast<QWidget *>(w));
}

void DesktopApp::showCopyWindow(const QList<CopySource> &sources)
{
    if (!m_copy) {
        m_copySession = std::make_unique<CopySession>(m_store, m_prompter);
        // The cache tool waits for it: it is modal over the cache window,
        // which, modal to the whole program itself, would otherwise block it.
        auto *w = new CopyWindow(*m_copySession, m_cache ? m_cache.data() : owner());
        w->setWindowModality(Qt::WindowModal);
        connect(w, &QObject::destroyed, this, [this] { m_copySession.reset(); });
        present(m_copy, static_cast<QWidget *>(w));
    }
    // A run under way keeps its files; the new ones wait for the next.
    if (!m_copySession->isRunning())
        m_copySession->setSources(sources);
    bringForward(m_copy);
}

void DesktopApp::clearBrowserCache()
{
    lumen::clearBrowserCache(browserCacheFolder(browserProfile().storageFolder()), QDir::homePath(),
                             candidateHomeFolders(), m_prompter, true);
}

void DesktopApp::showStartupIfAlone(QWidget *closing)
{
    if (m_ended)
        return;
    const bool searchOpen = m_search && m_search != closing && m_search->isVisible();
    const bool downloadOpen = m_download && m_download != closing && m_download->isVisible();
    if (searchOpen || downloadOpen)
        return;
    start();
}

void DesktopApp::endProgram()
{
    if (m_ended)
        return;
    m_ended = true;
    // No transfer outlives this: what is in flight stays a partial file and
    // no window asks its closing question.
    m_engine.stopDownloading();
    if (m_login)
        m_login.get()->disconnect();
    delete m_loginPanel;
    delete m_about;
    delete m_usage;
    delete m_componentHelp;
    delete m_permissionsHelp;
    delete m_cache;
    delete m_copy;
    delete m_search;
    delete m_download;
    if (m_cover)
        m_cover->hide();
    emit ended();
}

} // namespace lumen
