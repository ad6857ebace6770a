#pragma once

#include <QUrl>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWebEngineView;

namespace lumen
{

class SiteLogin;
class WebEngineBrowser;

// The login panel of the download window (PicWebBK): its own browser on the
// shared profile and the controls of the sign-in helper. It binds each
// control to the SiteLogin it is given and decides nothing itself.
//
// The panel is made hidden and handed to the download window, which lays
// it over its list and keeps it there; the application calls open() on the
// window's "网页登录" request with the selected record's address. The
// helper and the browser must outlive the panel.
class LoginPanel : public QWidget
{
    Q_OBJECT
public:
    LoginPanel(SiteLogin &login, WebEngineBrowser &browser, QWidget *parent = nullptr);
    ~LoginPanel() override;

    // "网页登录": shows the panel in front; without automatic login or
    // refresh the selected record's address (may be empty) is opened.
    void open(const QUrl &selectedRecordUrl = QUrl());
    // "关闭(隐藏)".
    void closePanel();

    SiteLogin &siteLogin() { return m_login; }

private:
    SiteLogin &m_login;
    QWebEngineView *m_view = nullptr;
    QLineEdit *m_address = nullptr;
    QLineEdit *m_account = nullptr;
    QLineEdit *m_password = nullptr;
    QRadioButton *m_accountLogin = nullptr;
    QRadioButton *m_addressLogin = nullptr;
    QPushButton *m_browse = nullptr;
    QPushButton *m_testLogin = nullptr;
    QPushButton *m_close = nullptr;
    QCheckBox *m_autoLogin = nullptr;
    QCheckBox *m_autoRefresh = nullptr;
    QComboBox *m_condition = nullptr;
};

} // namespace lumen
