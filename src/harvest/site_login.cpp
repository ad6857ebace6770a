#include "harvest/site_login.h"

#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/prompter.h"

#include <QPointer>

namespace lumen
{

const QString SiteLogin::MissingAddressMessage = QStringLiteral("必须先设置登录网址！");
const QString SiteLogin::MissingAccountMessage =
    QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");
const QString SiteLogin::AutoLoginCondition = QStringLiteral("下载到网页文件(htm/html/asp)文件");
const QStringList SiteLogin::AccountFieldNames = {QStringLiteral("userid"), QStringLiteral("user"),
                                                  QStringLiteral("username"),
                                                  QStringLiteral("useruid")};
const QStringList SiteLogin::PasswordFieldNames = {
    QStringLiteral("pass"), QStringLiteral("password"), QStringLiteral("passwd")};
const QString SiteLogin::AddressLoginElementId = QStringLiteral("submitip");

namespace
{

// What the user typed into the address box, as a browser's address line
// takes it: an address with a scheme stays as it is, a bare host gets one.
QUrl typedAddress(const QString &text)
{
    return QUrl::fromUserInput(text.trimmed());
}

} // namespace

SiteLogin::SiteLogin(Browser &browser, Prompter &prompter, Clock &clock, QObject *parent)
    : QObject(parent), m_browser(browser), m_prompter(prompter), m_clock(clock)
{
    m_timer.setInterval(TickMs);
    connect(&m_timer, &QTimer::timeout, this, &SiteLogin::tick);
    m_refreshTimer.setInterval(RefreshTickMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SiteLogin::refreshTick);

    // A load that ended, with a document or without, ends the wait for it:
    // there is nothing more to wait for.
    connect(&m_browser, &Browser::documentComplete, this, [this] {
        m_navigationPending = false;
        if (m_step != Step::Idle)
            tick();
    });
    connect(&m_browser, &Browser::loadFailed, this, [this] {
        m_navigationPending = false;
        if (m_step != Step::Idle)
            tick();
    });
    connect(&m_browser, &Browser::titleChanged, this, [this](const QString &title) {
        if (title.trimmed().toLower() != QLatin1String("about:blank"))
            emit titleTextChanged(title);
    });
}

SiteLogin::~SiteLogin() = default;

bool SiteLogin::missingValues(bool showMessages)
{
    QString message;
    if (m_address.trimmed().isEmpty())
        message = MissingAddressMessage;
    else if (m_mode == Mode::Account &&
             (m_account.trimmed().isEmpty() || m_password.trimmed().isEmpty()))
        message = MissingAccountMessage;
    if (message.isEmpty())
        return false;
    if (showMessages)
        m_prompter.message(message, Prompter::Icon::Critical);
    if (m_autoLogin) {
        m_autoLogin = false;
        emit autoLoginChanged(false);
    }
    return true;
}

bool SiteLogin::setAutoLogin(bool on)
{
    if (on) {
        // The user checked the box: tell them what is missing.
        if (!missingValues(true))
            m_autoLogin = true;
    } else {
        m_autoLogin = false;
    }
    // Always told, so a box the user ticked and that was refused unticks.
    emit autoLoginChanged(m_autoLogin);
    return m_autoLogin;
}

void SiteLogin::setAutoRefresh(bool on)
{
    if (on == m_autoRefresh)
        return;
    m_autoRefresh = on;
    if (on) {
        m_lastRefreshMs = m_clock.monotonicMs();
        m_refreshTimer.start();
    } else {
        m_refreshTimer.stop();
    }
    emit autoRefreshChanged(on);
}

void SiteLogin::refreshTick()
{
    if (!m_autoRefresh)
        return;
    const qint64 now = m_clock.monotonicMs();
    if (now - m_lastRefreshMs < RefreshIntervalMs)
        return;
    m_lastRefreshMs = now;
    m_browser.refresh();
}

void SiteLogin::panelOpened(const QUrl &selectedRecordUrl)
{
    if (m_autoLogin || m_autoRefresh || selectedRecordUrl.isEmpty())
        return;
    m_browser.navigate(selectedRecordUrl);
}

void SiteLogin::panelClosed()
{
    if (!m_autoRefresh)
        m_browser.navigate(QUrl(QStringLiteral("about:blank")));
}

void SiteLogin::browse()
{
    if (m_address.trimmed().isEmpty() || !m_browseEnabled)
        return;
    if (m_loginRunning) {
        // The login keeps its own course; the page the user asked for
        // simply loads meanwhile.
        m_browser.navigate(typedAddress(m_address));
        return;
    }
    openPage(Step::Browsing);
}

void SiteLogin::login(bool showMessages)
{
    if (missingValues(showMessages))
        return;
    if (m_loginRunning)
        return;
    setLoginRunning(true);
    openPage(Step::Opening);
}

void SiteLogin::watch(DownloadEngine &engine)
{
    connect(&engine, &DownloadEngine::webPageDownloaded, this, &SiteLogin::webPageDownloaded);
}

void SiteLogin::webPageDownloaded()
{
    if (m_autoLogin)
        login(false);
}

void SiteLogin::openPage(Step step)
{
    setBrowseEnabled(false);
    m_navigationPending = true;
    setStep(step);
    m_browser.navigate(typedAddress(m_address));
}

bool SiteLogin::pageWaitOver() const
{
    return (!m_browser.isBusy() && !m_navigationPending) || elapsedMs() > PageWaitMs;
}

void SiteLogin::tick()
{
    switch (m_step) {
    case Step::Idle:
        return;
    case Step::Browsing:
        if (pageWaitOver()) {
            setBrowseEnabled(true);
            setStep(Step::Idle);
        }
        return;
    case Step::Opening:
        if (pageWaitOver()) {
            setBrowseEnabled(true);
            afterPageOpened();
        }
        return;
    case Step::Reading:
        // A document that does not answer is treated as no document.
        if (elapsedMs() > PageWaitMs)
            settle();
        return;
    case Step::Submitted:
        if (pageWaitOver())
            settle();
        return;
    case Step::Settling:
        if (elapsedMs() > SettleMs)
            finishLogin();
        return;
    }
}

void SiteLogin::afterPageOpened()
{
    setStep(Step::Reading);
    const quint64 serial = ++m_snapshotSerial;
    QPointer<SiteLogin> self(this);
    m_browser.snapshot([self, serial](const DocumentSnapshot &document) {
        if (self)
            self->onDocument(serial, document);
    });
}

void SiteLogin::onDocument(quint64 serial, const DocumentSnapshot &document)
{
    if (serial != m_snapshotSerial || m_step != Step::Reading)
        return;
    if (!document.present) {
        settle();
        return;
    }
    if (m_mode == Mode::Account) {
        const QString account = m_account.trimmed();
        const QString password = m_password.trimmed();
        int filled = 0;
        for (const InputSnapshot &input : document.inputs) {
            const QString name = input.name.toLower();
            if (AccountFieldNames.contains(name)) {
                m_browser.setInputValue(input.index, account);
                ++filled;
            }
            if (PasswordFieldNames.contains(name)) {
                m_browser.setInputValue(input.index, password);
                ++filled;
            }
            // A submit button before the fields, or a form of one field,
            // sends nothing.
            if (input.type.toLower() == QLatin1String("submit") && filled > 1) {
                m_navigationPending = true;
                setStep(Step::Submitted);
                m_browser.clickInput(input.index);
                return;
            }
        }
    } else if (document.elementIds.contains(AddressLoginElementId)) {
        m_navigationPending = true;
        setStep(Step::Submitted);
        m_browser.clickElementById(AddressLoginElementId);
        return;
    }
    settle();
}

void SiteLogin::settle()
{
    setStep(Step::Settling);
}

void SiteLogin::finishLogin()
{
    setStep(Step::Idle);
    setLoginRunning(false);
    emit loginFinished();
}

void SiteLogin::setStep(Step step)
{
    m_step = step;
    m_stepStartedMs = m_clock.monotonicMs();
    if (step == Step::Idle)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}

void SiteLogin::setBrowseEnabled(bool enabled)
{
    if (enabled == m_browseEnabled)
        return;
    m_browseEnabled = enabled;
    emit browseEnabledChanged(enabled);
}

void SiteLogin::setLoginRunning(bool running)
{
    if (running == m_loginRunning)
        return;
    m_loginRunning = running;
    emit testLoginEnabledChanged(!running);
}

qint64 SiteLogin::elapsedMs() const
{
    return m_clock.monotonicMs() - m_stepStartedMs;
}

} // namespace lumen
