#pragma once

#include "app/desktop_shell.h"
#include "app/effect_sound_player.h"
#include "app/widget_prompter.h"
#include "download_window/app_settings.h"
#include "download_window/settings_store.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"

#include <QObject>

#include <memory>

namespace lumen
{

class Clock;
class WebEngineProfile;

// The desktop program's composition root. It owns everything that lives for
// the whole run, built in the order each piece needs the previous ones: the
// settings store and the values read from it, the seams the windows answer
// through, the download list with its engine, and the browser profile whose
// cookies the downloads share. Each window will be one instance held here,
// created on first use; windows never call each other, so every request
// from one window to another is a signal connected here.
class DesktopApp : public QObject
{
    Q_OBJECT
public:
    explicit DesktopApp(QObject *parent = nullptr);
    ~DesktopApp() override;

    SettingsStore &settingsStore() { return m_store; }
    AppSettings &settings() { return m_settings; }
    Prompter &prompter() { return m_prompter; }
    Shell &shell() { return m_shell; }
    SoundPlayer &soundPlayer() { return m_sound; }
    Clock &clock() { return m_clock; }
    DownloadList &downloads() { return m_downloads; }
    DownloadEngine &engine() { return m_engine; }
    WebEngineProfile &browserProfile();

    // Shows the first window. Returns false when the program cannot start.
    bool start();

private:
    SettingsStore m_store;
    AppSettings m_settings;
    WidgetPrompter m_prompter;
    DesktopShell m_shell;
    EffectSoundPlayer m_sound;
    Clock &m_clock;
    DownloadList m_downloads;
    DownloadEngine m_engine;
    std::unique_ptr<WebEngineProfile> m_profile;
};

} // namespace lumen
