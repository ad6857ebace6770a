#include "harvest/login_panel_window.h"

#include "harvest/site_login.h"
#include "harvest/web_engine_browser.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace lumen
{

namespace
{

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

LoginPanel::LoginPanel(SiteLogin &login, WebEngineBrowser &browser, QWidget *parent)
    : QWidget(parent), m_login(login)
{
    setObjectName(QStringLiteral("PicWebBK"));
    setAutoFillBackground(true);

    m_view = named(new QWebEngineView(this), "Web1");
    m_view->setPage(browser.page());

    m_address = named(new QLineEdit(this), "Text1");
    m_browse = named(new QPushButton(QStringLiteral("浏览"), this), "Command2");
    m_accountLogin = named(new QRadioButton(QStringLiteral("帐号登录："), this), "Option4");
    m_account = named(new QLineEdit(this), "Text2");
    m_password = named(new QLineEdit(this), "Text3");
    // Masked, and kept out of input-method history and predictions.
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                    Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    m_addressLogin = named(new QRadioButton(QStringLiteral("IP登录"), this), "Option5");
    m_testLogin = named(new QPushButton(QStringLiteral("测试登录"), this), "Command5");
    m_autoLogin = named(new QCheckBox(QStringLiteral("自动登录"), this), "Check2");
    m_condition = named(new QComboBox(this), "Combo3");
    m_condition->addItem(SiteLogin::AutoLoginCondition);
    m_condition->setCurrentIndex(0);
    m_autoRefresh = named(new QCheckBox(QStringLiteral("自动刷新(每分钟)"), this), "Check1");
    m_close = named(new QPushButton(QStringLiteral("关闭(隐藏)"), this), "Command3");

    auto *modes = new QButtonGroup(this);
    modes->addButton(m_accountLogin);
    modes->addButton(m_addressLogin);
    m_accountLogin->setChecked(true);

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(named(new QLabel(QStringLiteral("网址："), this), "Label6"));
    addressRow->addWidget(m_address, 1);
    addressRow->addWidget(m_browse);

    auto *accountRow = new QHBoxLayout;
    accountRow->addWidget(m_accountLogin);
    accountRow->addWidget(m_account, 1);
    accountRow->addWidget(named(new QLabel(QStringLiteral("密码："), this), "Label10"));
    accountRow->addWidget(m_password, 1);
    accountRow->addWidget(m_addressLogin);
    accountRow->addWidget(m_testLogin);

    auto *autoRow = new QHBoxLayout;
    autoRow->addWidget(m_autoLogin);
    autoRow->addWidget(named(new QLabel(QStringLiteral("自动登录条件："), this), "Label11"));
    autoRow->addWidget(m_condition, 1);
    autoRow->addWidget(m_autoRefresh);
    autoRow->addStretch();
    autoRow->addWidget(m_close);

    // How the last login went, in the page's own words.
    auto *status = named(new QLabel(m_login.statusText(), this), "LoginStatus");
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(&m_login, &SiteLogin::statusTextChanged, status, &QLabel::setText);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(addressRow);
    layout->addLayout(accountRow);
    layout->addLayout(autoRow);
    layout->addWidget(status);
    layout->addWidget(m_view, 1);

    connect(m_address, &QLineEdit::textChanged, &m_login, &SiteLogin::setAddress);
    connect(m_account, &QLineEdit::textChanged, &m_login, &SiteLogin::setAccount);
    connect(m_password, &QLineEdit::textChanged, &m_login, &SiteLogin::setPassword);
    connect(m_accountLogin, &QRadioButton::toggled, this, [this](bool on) {
        m_login.setMode(on ? SiteLogin::Mode::Account : SiteLogin::Mode::Address);
    });
    connect(m_browse, &QPushButton::clicked, &m_login, &SiteLogin::browse);
    connect(m_testLogin, &QPushButton::clicked, this, [this] { m_login.login(true); });
    connect(m_close, &QPushButton::clicked, this, &LoginPanel::closePanel);
    connect(m_autoLogin, &QCheckBox::clicked, this,
            [this](bool checked) { m_login.setAutoLogin(checked); });
    connect(m_autoRefresh, &QCheckBox::toggled, &m_login, &SiteLogin::setAutoRefresh);

    connect(&m_login, &SiteLogin::autoLoginChanged, this, [this](bool on) {
        const QSignalBlocker block(m_autoLogin);
        m_autoLogin->setChecked(on);
    });
    connect(&m_login, &SiteLogin::autoRefreshChanged, this, [this](bool on) {
        const QSignalBlocker block(m_autoRefresh);
        m_autoRefresh->setChecked(on);
    });
    connect(&m_login, &SiteLogin::browseEnabledChanged, m_browse, &QPushButton::setEnabled);
    connect(&m_login, &SiteLogin::testLoginEnabledChanged, m_testLogin, &QPushButton::setEnabled);

    // The panel starts from what the helper holds (empty when new).
    m_address->setText(m_login.address());
    m_addressLogin->setChecked(m_login.mode() == SiteLogin::Mode::Address);
    m_autoLogin->setChecked(m_login.autoLogin());
    m_autoRefresh->setChecked(m_login.autoRefresh());
    m_browse->setEnabled(m_login.browseEnabled());
    m_testLogin->setEnabled(m_login.testLoginEnabled());

    hide();
}

// The view leaves the page alone: it belongs to the browser.
LoginPanel::~LoginPanel() = default;

void LoginPanel::open(const QUrl &selectedRecordUrl)
{
    show();
    raise();
    m_login.panelOpened(selectedRecordUrl);
}

void LoginPanel::closePanel()
{
    hide();
    m_login.panelClosed();
}

} // namespace lumen
