#include "harvest/site_login.h"

#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/prompter.h"

#include <QPointer>
#include <QRegularExpression>

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

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    auto defaultPort = [](const QString &scheme) {
        return scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1;
    };
    const QString scheme = a.scheme().toLower();
    if (scheme.isEmpty() || scheme != b.scheme().toLower())
        return false;
    if (a.host().compare(b.host(), Qt::CaseInsensitive) != 0 || a.host().isEmpty())
        return false;
    return a.port(defaultPort(scheme)) == b.port(defaultPort(scheme));
}

namespace
{

// What the user typed into the address box, as a browser's address line
// takes it: an address with a scheme stays as it is, a bare host gets one.
QUrl typedAddress(const QString &text)
{
    return QUrl::fromUserInput(text.trimmed());
}

// What a page says of itself in a line: the text of its first element named
// as an error or a message (class or id), else nothing.
QString pageMessage(const QString &html)
{
    static const QRegularExpression element(
        QStringLiteral("<(\\w+)[^>]*\\b(?:class|id)=\"[^\"]*(?:error|alert|warn|message|msg)"
                       "[^\"]*\"[^>]*>(.*?)</\\1>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    const QRegularExpressionMatch m = element.match(html);
    if (!m.hasMatch())
        return QString();
    QString text = m.captured(2);
    text.remove(tags);
    text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text.simplified().left(200);
}

bool asksForPassword(const DocumentSnapshot &document)
{
    for (const InputSnapshot &input : document.inputs)
        if (input.type.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
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
        m_title = title.trimmed();
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
    // Reloading the answer to a sign-in form would send the form again,
    // every minute, without asking: the login page is opened afresh instead.
    if (m_browser.showsFormAnswer() && !m_address.trimmed().isEmpty())
        m_browser.navigate(typedAddress(m_address));
    else
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
    m_showMessages = showMessages;
    m_submitted = false;
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
        if (elapsedMs() <= SettleMs)
            return;
        if (!m_submitted) {
            finishLogin();
            return;
        }
        {
            setStep(Step::Judging);
            const quint64 serial = ++m_snapshotSerial;
            QPointer<SiteLogin> self(this);
            m_browser.snapshot([self, serial](const DocumentSnapshot &document) {
                if (self && serial == self->m_snapshotSerial && self->m_step == Step::Judging)
                    self->judge(document);
            });
        }
        return;
    case Step::Judging:
        if (elapsedMs() > PageWaitMs) {
            setStatusText(QStringLiteral("登录结果不明：页面无法读取。"));
            finishLogin();
        }
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
    const QUrl loginUrl = typedAddress(m_address);
    if (!document.present || !sameOrigin(QUrl(document.url), loginUrl)) {
        // The login page did not come (a failed or slow load, a redirect to
        // another site): the account and password are for that site alone.
        const QString shown = document.present ? document.url : QStringLiteral("空白页");
        const QString text = QStringLiteral("未登录：登录页面 %1 没有打开（显示的是 %2），"
                                            "帐号和密码没有填写。")
                                 .arg(loginUrl.toDisplayString(), shown);
        setStatusText(text);
        if (m_showMessages)
            m_prompter.message(text, Prompter::Icon::Warning);
        finishLogin();
        return;
    }
    if (m_mode == Mode::Account) {
        const QString account = m_account.trimmed();
        const QString password = m_password.trimmed();
        int filled = 0;
        for (const InputSnapshot &input : document.inputs) {
            const QString name = input.name.toLower();
            if (AccountFieldNames.contains(name)) {
                m_browser.setInputValue(input.index, account, loginUrl);
                ++filled;
            }
            if (PasswordFieldNames.contains(name)) {
                m_browser.setInputValue(input.index, password, loginUrl);
                ++filled;
            }
            // A submit button before the fields, or a form of one field,
            // sends nothing.
            if (input.type.toLower() == QLatin1String("submit") && filled > 1) {
                m_navigationPending = true;
                m_submitted = true;
                setStep(Step::Submitted);
                m_browser.clickInput(input.index, loginUrl);
                return;
            }
        }
        setStatusText(QStringLiteral("未登录：登录页面上没有可填写并提交的帐号和密码栏。"));
    } else if (document.elementIds.contains(AddressLoginElementId)) {
        m_navigationPending = true;
        m_submitted = true;
        setStep(Step::Submitted);
        m_browser.clickElementById(AddressLoginElementId, loginUrl);
        return;
    } else {
        setStatusText(QStringLiteral("未登录：登录页面上没有IP登录按钮。"));
    }
    settle();
}

void SiteLogin::settle()
{
    setStep(Step::Settling);
}

void SiteLogin::judge(const DocumentSnapshot &document)
{
    // What the page the form brought back says: an error status, or the
    // form asking for the password again, is a failed login.
    const QString title = m_title.isEmpty() ? document.url : m_title;
    const QString said = pageMessage(document.rootOuterHtml);
    QString text;
    if (!document.present)
        text = QStringLiteral("登录结果不明：页面无法读取。");
    else if (document.httpErrorStatus >= 400)
        text = QStringLiteral("登录失败：服务器返回 HTTP %1（%2）。")
                   .arg(document.httpErrorStatus)
                   .arg(said.isEmpty() ? title : said);
    else if (m_mode == Mode::Account && asksForPassword(document))
        text = QStringLiteral("登录失败：%1").arg(said.isEmpty() ? title : said);
    else
        text = QStringLiteral("登录已提交，页面显示：%1").arg(said.isEmpty() ? title : said);
    setStatusText(text);
    finishLogin();
}

void SiteLogin::setStatusText(const QString &text)
{
    m_statusText = text;
    emit statusTextChanged(text);
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
