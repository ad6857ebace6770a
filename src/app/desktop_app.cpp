#include "app/desktop_app.h"

#include "engine/clock.h"
#include "harvest/web_engine_profile.h"

namespace lumen
{

DesktopApp::DesktopApp(QObject *parent)
    : QObject(parent), m_store(SettingsStore::defaultPath()), m_clock(SystemClock::instance()),
      m_engine(m_downloads, m_clock, m_sound, m_prompter)
{
    readStartupSettings(m_store, m_settings);
}

DesktopApp::~DesktopApp() = default;

WebEngineProfile &DesktopApp::browserProfile()
{
    // The profile opens its storage folder and starts the engine's
    // networking; a run that never browses or downloads does without.
    if (!m_profile)
        m_profile = std::make_unique<WebEngineProfile>();
    return *m_profile;
}

bool DesktopApp::start()
{
    return true;
}

} // namespace lumen
