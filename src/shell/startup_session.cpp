#include "shell/startup_session.h"

#include "engine/app_title.h"
#include "shell/browser_emulation.h"
#include "shell/program_version.h"
#include "shell/system_description.h"
#include "shell/update_check.h"

#include <QSysInfo>

namespace lumen
{

const QString StartupSession::LoadingText = QStringLiteral("正在加载组件，请稍候...");
const QString StartupSession::FixedNoticeText =
    QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)");
const QString StartupSession::SearchButtonText = QStringLiteral("资料检索下载");
const QString StartupSession::ExitButtonText = QStringLiteral("退出软件");

StartupSession::StartupSession(UpdateCheck &updateCheck, RegistryStore &registry,
                               const QString &programName, QObject *parent)
    : QObject(parent), m_updateCheck(updateCheck), m_registry(registry), m_programName(programName),
      m_osReleasePaths(defaultOsReleasePaths())
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(DeferredStartMs);
    connect(&m_timer, &QTimer::timeout, this, &StartupSession::onTimer);
    connect(&m_updateCheck, &UpdateCheck::noticeChanged, this, &StartupSession::noticeChanged);
}

QString StartupSession::windowTitle() const
{
    return ApplicationTitle;
}

QString StartupSession::versionText() const
{
    return QStringLiteral("版本:") + programVersionText();
}

QString StartupSession::notice() const
{
    return m_updateCheck.notice();
}

void StartupSession::begin()
{
    if (m_begun || m_started)
        return;
    m_begun = true;
    QTimer::singleShot(0, this, &StartupSession::runStartupWork);
}

void StartupSession::runStartupWork()
{
    if (m_started)
        return;
    m_started = true;
    m_osBitness = lumen::osBitness();
    m_osDescription =
        lumen::osDescription(osProductName(readOsRelease(m_osReleasePaths), QSysInfo::kernelType(),
                                           QSysInfo::kernelVersion()),
                             m_osBitness);
    applyStartupBrowserEmulation(m_registry, m_programName, m_osBitness);
    m_timer.start();
    m_loading = false;
    emit loadingChanged(false);
    emit started();
}

void StartupSession::restartTimer()
{
    m_timer.start();
}

void StartupSession::onTimer()
{
    m_timer.stop();
    if (!m_searchEnabled) {
        m_searchEnabled = true;
        emit searchEnabledChanged(true);
    }
    m_updateCheck.start();
}

void StartupSession::openSearch()
{
    if (m_searchEnabled)
        emit searchWindowRequested();
}

void StartupSession::exitProgram()
{
    // Nothing is left to fire after the end was asked for.
    m_timer.stop();
    emit quitRequested();
}

void StartupSession::openProductPage()
{
    m_updateCheck.openProductPage();
}

} // namespace lumen
