#include "shell/about_session.h"

#include "engine/app_title.h"
#include "engine/prompter.h"
#include "engine/shell.h"
#include "shell/maker.h"
#include "shell/program_version.h"

namespace lumen
{

const QString AboutSession::LoadingText = QStringLiteral("正在加载信息，请稍候...\r\n");
const QString AboutSession::NoSystemInformationText = QStringLiteral("此时系统信息不可用");

AboutSession::AboutSession(Shell &shell, Prompter &prompter, const QString &osDescription,
                           const QUrl &productPage, const QUrl &repositoryHome, QObject *parent)
    : QObject(parent), m_shell(shell), m_prompter(prompter), m_osDescription(osDescription),
      m_productPage(productPage), m_repositoryHome(repositoryHome), m_systemInformation(LoadingText)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(FillDelayMs);
    connect(&m_timer, &QTimer::timeout, this, &AboutSession::fill);
}

QString AboutSession::caption() const
{
    return QStringLiteral("关于『") + ApplicationTitle + QStringLiteral("』 ");
}

QString AboutSession::productName() const
{
    return ApplicationTitle;
}

QString AboutSession::versionText() const
{
    return QStringLiteral("版本 ") + programVersionText();
}

QString AboutSession::creditText() const
{
    return QStringLiteral("澜图Lumenarc 开发组 出品");
}

QString AboutSession::productPageText() const
{
    return QStringLiteral("产品主页：最新版本与使用说明");
}

QString AboutSession::repositoryText() const
{
    return QStringLiteral("西岭大学文献库主页");
}

QString AboutSession::reportHintText() const
{
    return QStringLiteral("遇到问题时，请复制下面的系统信息，随问题说明一起发给我们。");
}

QString AboutSession::mailText() const
{
    return QStringLiteral("给软件作者建议：") + SupportMailbox;
}

void AboutSession::start()
{
    m_timer.start();
}

void AboutSession::fill()
{
    m_systemInformation = QStringLiteral("OP:") + m_osDescription;
    emit systemInformationChanged(m_systemInformation);
}

void AboutSession::startSystemInformation()
{
    if (!m_shell.startSystemInformation())
        m_prompter.message(NoSystemInformationText, Prompter::Icon::None);
}

void AboutSession::openProductPage()
{
    if (hasProductPage())
        m_shell.openUrl(m_productPage.toString());
}

void AboutSession::openRepository()
{
    m_shell.openUrl(m_repositoryHome.toString());
}

void AboutSession::mailMaker()
{
    mailSuggestion(m_shell);
}

} // namespace lumen
