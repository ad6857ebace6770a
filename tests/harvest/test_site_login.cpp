// The sign-in helper over a scripted browser and a fake clock: which fields
// it fills, when it submits, the address login, the waits, one login at a
// time, the automatic boxes and their refusals.

#include "harvest/site_login.h"
#include "support/fake_browser.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

namespace
{

const QString LoginUrl = QStringLiteral("http://127.0.0.1:9/login");
const QString WelcomeUrl = QStringLiteral("http://127.0.0.1:9/welcome");

// Inputs written as "name:type" ("name" alone is a text field).
DocumentSnapshot formPage(const QStringList &inputs, const QStringList &ids = {})
{
    DocumentSnapshot d;
    d.present = true;
    d.url = LoginUrl;
    for (int i = 0; i < inputs.size(); ++i) {
        const QStringList parts = inputs.at(i).split(u':');
        d.inputs.append(
            {i, QString(), parts.value(0), parts.value(1, QStringLiteral("text")), QString()});
    }
    d.elementIds = ids;
    return d;
}

struct Rig {
    FakeBrowser browser;
    FakePrompter prompter;
    FakeClock clock;
    SiteLogin login{browser, prompter, clock};

    Rig()
    {
        login.setAddress(QStringLiteral("  ") + LoginUrl + QStringLiteral(" "));
        login.setAccount(QStringLiteral(" reader "));
        login.setPassword(QStringLiteral("secret"));
        browser.setPage(WelcomeUrl, formPage({}));
        // Pressing a submit button sends the form, as a real page would.
        browser.onClick = [this](const QString &) { browser.navigate(QUrl(WelcomeUrl)); };
    }

    // Lets the login page load, then passes the settle wait.
    void loadAndSettle()
    {
        browser.completeLoad();
        passSettle();
    }
    void passSettle()
    {
        clock.advanceMs(SiteLogin::SettleMs + 1);
        login.tick();
    }
    QStringList fills() const
    {
        QStringList out;
        for (const QString &a : browser.actions)
            if (a.startsWith(QLatin1String("set:")) || a.startsWith(QLatin1String("click")))
                out << a;
        return out;
    }
};

} // namespace

class TestSiteLogin : public QObject
{
    Q_OBJECT

private slots:
    // Which fields an account login fills and whether it submits: the
    // account and password names in any letter case, a submit input only
    // after two filled fields, the first such submit only.
    void accountLogin_data()
    {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("the site's form")
            << QStringList{"userid", "password:password", "login:submit"}
            << QStringList{"set:0:reader", "set:1:secret", "click:2"};
        QTest::newRow("names in capitals")
            << QStringList{"UserName", "PassWord:password", ":SUBMIT"}
            << QStringList{"set:0:reader", "set:1:secret", "click:2"};
        QTest::newRow("every account and password name")
            << QStringList{"user", "useruid", "pass", "passwd", ":submit"}
            << QStringList{"set:0:reader", "set:1:reader", "set:2:secret", "set:3:secret",
                           "click:4"};
        QTest::newRow("button before the fields: filled, not sent")
            << QStringList{":submit", "UserName", "PassWord:password"}
            << QStringList{"set:1:reader", "set:2:secret"};
        QTest::newRow("only an email field") << QStringList{"email", ":submit"} << QStringList{};
        QTest::newRow("one field is not enough")
            << QStringList{"username", ":submit"} << QStringList{"set:0:reader"};
        QTest::newRow("first submit after the fields only")
            << QStringList{"userid", "password:password", "a:submit", "b:submit"}
            << QStringList{"set:0:reader", "set:1:secret", "click:2"};
        QTest::newRow("no inputs at all") << QStringList{} << QStringList{};
    }

    void accountLogin()
    {
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, expected);
        Rig rig;
        rig.browser.setPage(LoginUrl, formPage(inputs));
        QSignalSpy finished(&rig.login, &SiteLogin::loginFinished);

        rig.login.login(true);
        QCOMPARE(rig.browser.navigations, QStringList{LoginUrl});
        QVERIFY(!rig.login.testLoginEnabled());
        QVERIFY(!rig.login.browseEnabled());
        rig.browser.completeLoad();
        QVERIFY(rig.login.browseEnabled());
        QCOMPARE(rig.fills(), expected);
        if (expected.value(expected.size() - 1).startsWith("click"))
            rig.browser.completeLoad(); // the form's answer

        // The settle wait runs its full five seconds before the next login
        // may start.
        rig.clock.advanceMs(SiteLogin::SettleMs);
        rig.login.tick();
        QCOMPARE(finished.size(), 0);
        QVERIFY(!rig.login.testLoginEnabled());
        rig.passSettle();
        QCOMPARE(finished.size(), 1);
        QVERIFY(rig.login.testLoginEnabled());
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    // The address login presses the page's "submitip" element; the account
    // fields are neither needed nor filled.
    void addressLogin_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("button present")
            << QStringList{"head", "submitip"} << QStringList{"clickId:submitip"};
        QTest::newRow("no such button") << QStringList{"head", "SubmitIP"} << QStringList{};
    }

    void addressLogin()
    {
        QFETCH(QStringList, ids);
        QFETCH(QStringList, expected);
        Rig rig;
        rig.login.setMode(SiteLogin::Mode::Address);
        rig.login.setAccount(QString());
        rig.login.setPassword(QString());
        rig.browser.setPage(LoginUrl, formPage({"userid", "password", ":submit"}, ids));
        QSignalSpy finished(&rig.login, &SiteLogin::loginFinished);
        rig.login.login(true);
        rig.browser.completeLoad();
        QCOMPARE(rig.fills(), expected);
        rig.passSettle();
        // Without an answer to the press the login waits for it first.
        if (!expected.isEmpty()) {
            QCOMPARE(finished.size(), 0);
            rig.browser.completeLoad();
            rig.passSettle();
        }
        QCOMPARE(finished.size(), 1);
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    // Missing values end the login before anything is opened and switch
    // the automatic login off; only the user's own request is told why.
    void missingValues_data()
    {
        QTest::addColumn<bool>("address");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ipLogin");
        QTest::addColumn<QString>("message");

        QTest::newRow("no address") << false << "reader"
                                    << "secret" << false << SiteLogin::MissingAddressMessage;
        QTest::newRow("no address, ip login") << false << ""
                                              << "" << true << SiteLogin::MissingAddressMessage;
        QTest::newRow("blank account") << true << "  "
                                       << "secret" << false << SiteLogin::MissingAccountMessage;
        QTest::newRow("no password") << true << "reader"
                                     << "" << false << SiteLogin::MissingAccountMessage;
        QTest::newRow("ip login needs no account") << true << ""
                                                   << "" << true << QString();
    }

    void missingValues()
    {
        QFETCH(bool, address);
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(bool, ipLogin);
        QFETCH(QString, message);

        for (const bool byUser : {true, false}) {
            Rig rig;
            // Checked while the values were complete, then emptied.
            QVERIFY(rig.login.setAutoLogin(true));
            rig.login.setMode(ipLogin ? SiteLogin::Mode::Address : SiteLogin::Mode::Account);
            rig.login.setAccount(account);
            rig.login.setPassword(password);
            if (!address)
                rig.login.setAddress(QStringLiteral("   "));
            QSignalSpy autoLogin(&rig.login, &SiteLogin::autoLoginChanged);

            rig.login.login(byUser);
            if (message.isEmpty()) {
                QCOMPARE(rig.browser.navigations.size(), 1);
                QVERIFY(rig.login.autoLogin());
                continue;
            }
            QVERIFY(rig.browser.navigations.isEmpty());
            QVERIFY(!rig.login.autoLogin());
            QCOMPARE(autoLogin.size(), 1);
            QVERIFY(rig.login.testLoginEnabled());
            if (byUser) {
                QCOMPARE(rig.prompter.messages(), QStringList{message});
                QCOMPARE(rig.prompter.shown.at(0).icon, Prompter::Icon::Critical);
            } else {
                QVERIFY(rig.prompter.shown.isEmpty());
            }
        }
    }

    // Ticking "自动登录" is refused with the reason until the values are
    // there; the box is told to untick again.
    void checkingAutoLogin()
    {
        Rig rig;
        rig.login.setAddress(QString());
        QSignalSpy changed(&rig.login, &SiteLogin::autoLoginChanged);
        QVERIFY(!rig.login.setAutoLogin(true));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), false);
        QCOMPARE(rig.prompter.messages(), QStringList{SiteLogin::MissingAddressMessage});

        rig.login.setAddress(LoginUrl);
        rig.login.setPassword(QStringLiteral(" "));
        QVERIFY(!rig.login.setAutoLogin(true));
        QCOMPARE(rig.prompter.messages().last(), SiteLogin::MissingAccountMessage);

        rig.login.setMode(SiteLogin::Mode::Address);
        QVERIFY(rig.login.setAutoLogin(true));
        QVERIFY(rig.login.autoLogin());
        QVERIFY(!rig.login.setAutoLogin(false));
        QCOMPARE(rig.prompter.shown.size(), 2);
        QVERIFY(rig.browser.navigations.isEmpty());
    }

    // "测试登录" pressed twice, or an engine request during a login: one
    // login runs; the next may start once it has settled.
    void oneLoginAtATime()
    {
        Rig rig;
        rig.browser.setPage(LoginUrl, formPage({"userid", "password", ":submit"}));
        QSignalSpy enabled(&rig.login, &SiteLogin::testLoginEnabledChanged);
        rig.login.login(true);
        rig.login.login(true);
        QVERIFY(rig.login.setAutoLogin(true));
        rig.login.webPageDownloaded();
        QCOMPARE(rig.browser.navigations, QStringList{LoginUrl});
        rig.browser.completeLoad();
        rig.browser.completeLoad();
        rig.login.webPageDownloaded();
        QCOMPARE(rig.browser.navigations.count(LoginUrl), 1);
        QCOMPARE(rig.fills().count(QStringLiteral("click:2")), 1);
        rig.passSettle();
        QCOMPARE(enabled.size(), 2); // disabled once, enabled once

        rig.login.webPageDownloaded();
        QCOMPARE(rig.browser.navigations.count(LoginUrl), 2);
        // Without "自动登录" a web page download starts nothing.
        rig.loadAndSettle();
        rig.browser.completeLoad();
        rig.passSettle();
        rig.login.setAutoLogin(false);
        rig.login.webPageDownloaded();
        QCOMPARE(rig.browser.navigations.count(LoginUrl), 2);
    }

    // A login page that never finishes loading: after ten seconds the
    // login goes on with what the browser shows; a press that leads
    // nowhere is waited for ten seconds too; a document that never answers
    // ends in the settle wait.
    void waitsEndByTheClock()
    {
        Rig rig;
        rig.login.setMode(SiteLogin::Mode::Address);
        rig.browser.onClick = nullptr;
        rig.browser.setPage(LoginUrl, formPage({}, {"submitip"}));
        rig.browser.show(LoginUrl);
        QSignalSpy finished(&rig.login, &SiteLogin::loginFinished);
        rig.login.login(false);
        QVERIFY(rig.browser.isBusy());
        rig.clock.advanceMs(SiteLogin::PageWaitMs);
        rig.login.tick();
        QVERIFY(!rig.login.browseEnabled()); // ten seconds exactly still wait
        rig.clock.advanceMs(1);
        rig.login.tick();
        QVERIFY(rig.login.browseEnabled());
        QCOMPARE(rig.fills(), QStringList{"clickId:submitip"});

        // The press leads nowhere: ten seconds, then the five-second settle.
        rig.clock.advanceMs(SiteLogin::PageWaitMs + 1);
        rig.login.tick();
        QCOMPARE(finished.size(), 0);
        rig.passSettle();
        QCOMPARE(finished.size(), 1);

        rig.browser.deferSnapshots = true;
        rig.login.login(false);
        rig.browser.completeLoad();
        QCOMPARE(rig.browser.pendingSnapshots(), 1);
        rig.clock.advanceMs(SiteLogin::PageWaitMs + 1);
        rig.login.tick();
        rig.passSettle();
        QCOMPARE(finished.size(), 2);
        // The late answer presses nothing.
        rig.browser.deliverSnapshots();
        QCOMPARE(rig.fills().size(), 1);
    }

    // A load that fails ends its wait at once instead of after ten seconds.
    void failedLoadEndsTheWait()
    {
        Rig rig;
        rig.login.login(false);
        rig.browser.failLoad();
        QVERIFY(rig.login.browseEnabled());
        rig.passSettle();
        QVERIFY(rig.login.testLoginEnabled());
    }

    // "浏览": nothing for a blank address; otherwise the button stays off
    // until the page has loaded.
    void browse()
    {
        Rig rig;
        rig.login.setAddress(QStringLiteral("  "));
        rig.login.browse();
        QVERIFY(rig.browser.navigations.isEmpty());

        rig.login.setAddress(QStringLiteral(" 127.0.0.1:9/login "));
        QSignalSpy enabled(&rig.login, &SiteLogin::browseEnabledChanged);
        rig.login.browse();
        QCOMPARE(rig.browser.navigations, QStringList{"http://127.0.0.1:9/login"});
        QVERIFY(!rig.login.browseEnabled());
        rig.login.browse(); // disabled: ignored
        QCOMPARE(rig.browser.navigations.size(), 1);
        rig.browser.completeLoad();
        QVERIFY(rig.login.browseEnabled());
        QCOMPARE(enabled.size(), 2);
        QVERIFY(rig.login.testLoginEnabled());
    }

    // Opening and closing the panel, and the minute reload that keeps a
    // sign-in alive even while the panel is hidden.
    void panelAndRefresh()
    {
        Rig rig;
        const QUrl record(QStringLiteral("http://127.0.0.1:9/items/5.pdf"));
        rig.login.panelOpened(record);
        rig.login.panelOpened(QUrl());
        QCOMPARE(rig.browser.navigations, QStringList{record.toString()});
        rig.browser.completeLoad();
        rig.login.panelClosed();
        QCOMPARE(rig.browser.navigations.last(), QStringLiteral("about:blank"));
        rig.browser.completeLoad();

        rig.browser.navigate(QUrl(LoginUrl));
        rig.browser.completeLoad();
        rig.login.setAutoRefresh(true);
        rig.login.panelOpened(record); // the kept page stays
        rig.login.panelClosed();
        QCOMPARE(rig.browser.navigations.last(), LoginUrl);
        rig.clock.advanceMs(SiteLogin::RefreshIntervalMs - 1);
        rig.login.refreshTick();
        QVERIFY(!rig.browser.actions.contains("refresh"));
        rig.clock.advanceMs(1);
        rig.login.refreshTick();
        QCOMPARE(rig.browser.actions.count("refresh"), 1);
        rig.clock.advanceMs(SiteLogin::RefreshIntervalMs);
        rig.login.refreshTick();
        QCOMPARE(rig.browser.actions.count("refresh"), 2);
        rig.login.setAutoRefresh(false);
        rig.clock.advanceMs(SiteLogin::RefreshIntervalMs * 3);
        rig.login.refreshTick();
        QCOMPARE(rig.browser.actions.count("refresh"), 2);

        rig.login.setMode(SiteLogin::Mode::Address);
        rig.login.setAutoLogin(true);
        rig.login.panelOpened(record);
        QCOMPARE(rig.browser.navigations.last(), LoginUrl);
    }

    // The login page did not come, and another page is on show: nothing of
    // the account reaches it, and the login ends saying so (in a box only
    // for the user's own "测试登录").
    void otherSitesPageIsNeverFilled_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::addColumn<bool>("showMessages");
        QTest::newRow("wait runs out over another site") << "slow" << true;
        QTest::newRow("same host, another port") << "port" << true;
        QTest::newRow("sent on to another site") << "redirect" << false;
        QTest::newRow("no answer: the engine's error page") << "fail" << true;
        QTest::newRow("https instead of http") << "scheme" << false;
    }

    void otherSitesPageIsNeverFilled()
    {
        QFETCH(QString, trouble);
        QFETCH(bool, showMessages);
        Rig rig;
        const QString other = trouble == "port"     ? QStringLiteral("http://127.0.0.1:10/login")
                              : trouble == "scheme" ? QStringLiteral("https://127.0.0.1:9/login")
                                                    : QStringLiteral("http://other.example/login");
        DocumentSnapshot form = formPage({"userid", "password:password", ":submit"});
        rig.browser.setPage(other, form);
        rig.browser.setPage(LoginUrl, form);
        QSignalSpy finished(&rig.login, &SiteLogin::loginFinished);
        if (trouble == "redirect")
            rig.browser.setRedirect(LoginUrl, other);
        else if (trouble != "fail")
            rig.browser.show(other);

        rig.login.login(showMessages);
        if (trouble == "fail") {
            rig.browser.failLoad();
        } else if (trouble == "redirect") {
            rig.browser.completeLoad();
        } else {
            rig.clock.advanceMs(SiteLogin::PageWaitMs + 1);
            rig.login.tick();
        }
        QVERIFY(rig.fills().isEmpty());
        QCOMPARE(finished.size(), 1);
        QVERIFY(rig.login.testLoginEnabled());
        QVERIFY(rig.login.statusText().startsWith(QStringLiteral("未登录：登录页面")));
        QCOMPARE(rig.prompter.messages(),
                 showMessages ? QStringList{rig.login.statusText()} : QStringList{});
    }

    // What the page the form brought back says ends in the panel's status.
    void outcomeInTheStatus_data()
    {
        QTest::addColumn<QString>("answer"); // the page after the form, as markup
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("wrong password: the form again")
            << "<html><body><p class=\"error\">用户名或密码错误。</p><form></form></body></html>"
            << QStringList{"userid", "password:password", ":submit"} << 200
            << "登录失败：用户名或密码错误。";
        QTest::newRow("form again without a word")
            << "<html><body><form></form></body></html>"
            << QStringList{"userid", "password:password", ":submit"} << 200
            << "登录失败：" + WelcomeUrl;
        QTest::newRow("server error") << "<html><body><h1>Oops</h1></body></html>" << QStringList{}
                                      << 500 << "登录失败：服务器返回 HTTP 500";
        QTest::newRow("signed in")
            << "<html><body><div id=\"welcome-message\">欢迎 <b>reader</b></div></body></html>"
            << QStringList{} << 200 << "登录已提交，页面显示：欢迎 reader";
    }

    void outcomeInTheStatus()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, inputs);
        QFETCH(int, status);
        QFETCH(QString, says);
        Rig rig;
        rig.browser.setPage(LoginUrl, formPage({"userid", "password:password", ":submit"}));
        DocumentSnapshot page = formPage(inputs);
        page.rootOuterHtml = answer;
        page.httpErrorStatus = status == 200 ? 0 : status;
        rig.browser.setPage(WelcomeUrl, page);
        QSignalSpy changed(&rig.login, &SiteLogin::statusTextChanged);
        rig.login.login(true);
        rig.browser.completeLoad();
        rig.browser.completeLoad(); // the form's answer
        rig.passSettle();
        QVERIFY(rig.login.testLoginEnabled());
        QVERIFY2(rig.login.statusText().startsWith(says), qPrintable(rig.login.statusText()));
        QCOMPARE(changed.size(), 1);
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    // The minute reload never sends a sign-in form again: the answer to a
    // form is replaced by the login page; any other page is reloaded.
    void refreshNeverResendsTheForm()
    {
        Rig rig;
        rig.browser.setPage(LoginUrl, formPage({"userid", "password:password", ":submit"}));
        rig.browser.onClick = [&rig](const QString &) {
            rig.browser.sendsForm();
            rig.browser.navigate(QUrl(WelcomeUrl));
        };
        rig.login.login(false);
        rig.browser.completeLoad();
        rig.browser.completeLoad();
        rig.passSettle();
        QVERIFY(rig.browser.showsFormAnswer());
        rig.login.setAutoRefresh(true);
        rig.clock.advanceMs(SiteLogin::RefreshIntervalMs);
        rig.login.refreshTick();
        QVERIFY(!rig.browser.actions.contains("refresh"));
        QCOMPARE(rig.browser.navigations.last(), LoginUrl);
        rig.browser.completeLoad();
        QVERIFY(!rig.browser.showsFormAnswer());
        // The login page itself is simply reloaded.
        rig.clock.advanceMs(SiteLogin::RefreshIntervalMs);
        rig.login.refreshTick();
        QCOMPARE(rig.browser.actions.count("refresh"), 1);
    }

    // The login page's title goes to the download window's status bar,
    // except a blank page's.
    void titleText()
    {
        Rig rig;
        QSignalSpy titles(&rig.login, &SiteLogin::titleTextChanged);
        emit rig.browser.titleChanged(QStringLiteral(" About:Blank "));
        emit rig.browser.titleChanged(QStringLiteral("用户登录"));
        QCOMPARE(titles.size(), 1);
        QCOMPARE(titles.at(0).at(0).toString(), QStringLiteral("用户登录"));
    }
};

QTEST_GUILESS_MAIN(TestSiteLogin)
#include "test_site_login.moc"
