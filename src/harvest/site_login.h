#pragma once

#include "harvest/browser.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

namespace lumen
{

class Clock;
class DownloadEngine;
class Prompter;

// The sign-in helper of the download window's login browser: opens a login
// page, fills in the account and password (or presses the page's address
// login button) and submits, by the user's "测试登录" or by itself after a
// download brought back a web page instead of a document. The sign-in lands
// in the browser profile the downloads share, so the downloads that follow
// carry the session.
//
// The values typed into the panel live in this object only: they are never
// written to the settings, a file or a log, and they are gone when the
// download window closes.
//
// Waiting is a small state machine: tick() reads the clock; a timer calls it
// while a wait runs, the browser's load signals call it at once, tests call
// it after moving a fake clock.
class SiteLogin : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool autoLogin READ autoLogin NOTIFY autoLoginChanged)
    Q_PROPERTY(bool autoRefresh READ autoRefresh WRITE setAutoRefresh NOTIFY autoRefreshChanged)
    Q_PROPERTY(bool browseEnabled READ browseEnabled NOTIFY browseEnabledChanged)
    Q_PROPERTY(bool testLoginEnabled READ testLoginEnabled NOTIFY testLoginEnabledChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)

public:
    enum class Mode {
        Account, // 帐号登录: fill the account and password fields and submit
        Address, // IP登录: press the page's "submitip" element
    };

    // How long a login page (or the page after submitting) may take to load
    // before the login goes on with what the browser shows.
    static constexpr qint64 PageWaitMs = 10000;
    // After the form went off, the signed-in page is left this long to set
    // its cookies and run its scripts before the next login may start.
    static constexpr qint64 SettleMs = 5000;
    // "自动刷新(每分钟)": the login page is reloaded this often.
    static constexpr qint64 RefreshIntervalMs = 60000;
    static constexpr int TickMs = 200;
    static constexpr int RefreshTickMs = 1000;

    static const QString MissingAddressMessage; // 必须先设置登录网址！
    static const QString MissingAccountMessage; // 帐号登录,必须先设置登录帐号和登录密码！
    // The one item of "自动登录条件：".
    static const QString AutoLoginCondition;
    // Input names (compared in lower case) taken for the account and for
    // the password.
    static const QStringList AccountFieldNames;
    static const QStringList PasswordFieldNames;
    // The element an address login presses.
    static const QString AddressLoginElementId;

    SiteLogin(Browser &browser, Prompter &prompter, Clock &clock, QObject *parent = nullptr);
    ~SiteLogin() override;

    Browser &browser() { return m_browser; }

    // The panel's text boxes and options, as typed.
    void setAddress(const QString &address) { m_address = address; }
    QString address() const { return m_address; }
    void setAccount(const QString &account) { m_account = account; }
    void setPassword(const QString &password) { m_password = password; }
    bool hasPassword() const { return !m_password.isEmpty(); }
    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }

    // "自动登录": checking it is refused, with a message, until the address
    // (and for an account login the account and password) are set. Returns
    // whether the box ends up checked; autoLoginChanged follows any change.
    bool setAutoLogin(bool on);
    bool autoLogin() const { return m_autoLogin; }

    // "自动刷新(每分钟)": reloads the login browser every minute while set.
    void setAutoRefresh(bool on);
    bool autoRefresh() const { return m_autoRefresh; }

    // How the last login went, as the page showed it: for the panel's
    // status line. Empty before the first login.
    QString statusText() const { return m_statusText; }

    // "浏览" is disabled while it (or a login) waits for the login page.
    bool browseEnabled() const { return m_browseEnabled; }
    // "测试登录" is disabled exactly while a login runs.
    bool testLoginEnabled() const { return !m_loginRunning; }
    bool isLoginRunning() const { return m_loginRunning; }

    // "网页登录": the panel is shown. When neither automatic box is checked
    // and a download record is selected, its address is opened so the user
    // sees what the server sends for it.
    void panelOpened(const QUrl &selectedRecordUrl);
    // "关闭(隐藏)": the page is left blank unless it is to be kept alive.
    void panelClosed();
    // "浏览": opens the address in the login browser and waits for it.
    void browse();
    // Runs the login once. With showMessages false (the download engine's
    // request) missing values end it silently. Either way missing values
    // switch the automatic login off. A request while a login runs is
    // ignored.
    void login(bool showMessages);

    // After every download that brought back a web page (htm, html): signs
    // in when "自动登录" is checked.
    void watch(DownloadEngine &engine);

public slots:
    void webPageDownloaded();
    void tick();
    // The minute reload; its timer calls it every second, tests after
    // moving the clock.
    void refreshTick();

signals:
    void autoLoginChanged(bool on);
    void autoRefreshChanged(bool on);
    void browseEnabledChanged(bool enabled);
    void testLoginEnabledChanged(bool enabled);
    // The login page's title, for a status panel of the download window
    // (a blank page's title is not shown).
    void titleTextChanged(const QString &title);
    void loginFinished();
    void statusTextChanged(const QString &text);

private:
    enum class Step {
        Idle,
        Browsing,  // 浏览 alone: waiting for the page
        Opening,   // a login waits for the login page
        Reading,   // a login reads the page's fields
        Submitted, // a login waits for the answer to its form
        Settling,  // the last wait of a login
        Judging,   // a login reads the page its form brought back
    };

    bool missingValues(bool showMessages);
    void openPage(Step step);
    bool pageWaitOver() const;
    void afterPageOpened();
    void onDocument(quint64 serial, const DocumentSnapshot &document);
    void submitted();
    void settle();
    void judge(const DocumentSnapshot &document);
    void setStatusText(const QString &text);
    void finishLogin();
    void setStep(Step step);
    void setBrowseEnabled(bool enabled);
    void setLoginRunning(bool running);
    qint64 elapsedMs() const;

    Browser &m_browser;
    Prompter &m_prompter;
    Clock &m_clock;
    QTimer m_timer;
    QTimer m_refreshTimer;

    QString m_address;
    QString m_account;
    QString m_password;
    Mode m_mode = Mode::Account;
    bool m_autoLogin = false;
    bool m_autoRefresh = false;

    Step m_step = Step::Idle;
    qint64 m_stepStartedMs = 0;
    qint64 m_lastRefreshMs = 0;
    bool m_navigationPending = false;
    bool m_browseEnabled = true;
    bool m_loginRunning = false;
    quint64 m_snapshotSerial = 0;
    bool m_showMessages = false;
    bool m_submitted = false; // this login sent its form or pressed its button
    QString m_title;          // of the page shown
    QString m_statusText;
};

} // namespace lumen
