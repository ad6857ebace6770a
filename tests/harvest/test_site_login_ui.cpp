// The sign-in helper in the real web engine against the local repository
// site: the account form and the address login set the site's session in the
// shared profile, the downloads then fetch the gated full text as a PDF, and
// a web page brought back by a download signs in by itself. Only page loads
// take real time; the settle wait is passed by moving a fake clock.

#include "harvest/login_panel_window.h"
#include "harvest/shared_cookie_jar.h"
#include "harvest/site_login.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "support/engine_fixture.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <memory>
#include <optional>

using namespace lumen;
using namespace lumen::test;

namespace
{

QStringList g_logged;

void keepMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_logged << text;
}

struct Rig {
    WebEngineProfile profile;
    WebEngineBrowser browser{&profile};
    FakePrompter prompter;
    FakeClock clock;
    SiteLogin login{browser, prompter, clock};

    explicit Rig(const QString &folder) : profile(folder) { browser.setSilent(true); }

    bool signedIn(const QUrl &site) const
    {
        for (const QNetworkCookie &c : profile.cookieJar()->cookiesForUrl(site))
            if (c.name() == testsite::SessionCookieName)
                return true;
        return false;
    }

    // The login has sent its form (or found nothing to send) and waits out
    // its settle: pass it.
    // (Called again until true: it must stay true once the login ended.)
    bool settle()
    {
        if (login.testLoginEnabled())
            return true;
        clock.advanceMs(SiteLogin::SettleMs + 1);
        login.tick();
        return login.testLoginEnabled();
    }
};

} // namespace

class TestSiteLoginUi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    TestSite m_site;
    int m_profiles = 0;

    std::unique_ptr<Rig> makeRig()
    {
        return std::make_unique<Rig>(m_dir.filePath(QStringLiteral("profile%1").arg(++m_profiles)));
    }

    QUrl gatedFullText() const
    {
        const int gated = testsite::firstItemWith(testsite::ItemBehaviour::LoginGated);
        return m_site.url(QStringLiteral("/items/%1.pdf").arg(gated));
    }

    // Downloads the gated full text once through a real engine that shares
    // the rig's cookies; its type and body.
    std::pair<QString, QByteArray> download(Rig &rig, EngineFixture &f)
    {
        const quint64 id = f.add(gatedFullText().toString(), QStringLiteral("gated"), "pdf",
                                 m_site.url("/search?q=demo").toString());
        f.engine->startDownloading();
        f.tickAfter();
        QDeadlineTimer deadline(30000);
        while (f.state(id) != DownloadState::Finished && f.state(id) != DownloadState::Failed &&
               !deadline.hasExpired())
            QTest::qWait(20);
        Q_UNUSED(rig);
        const QString type = f.rec(id).fileType;
        return {type, f.readFile(QStringLiteral("gated.") + type)};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start());
    }

    // The unit tests' form is the site's form as the engine reads it.
    void siteFormAsTheEngineReadsIt()
    {
        auto rig = makeRig();
        QSignalSpy complete(&rig->browser, &Browser::documentComplete);
        rig->browser.navigate(m_site.url("/login"));
        QVERIFY(complete.wait(30000));
        std::optional<DocumentSnapshot> page;
        rig->browser.snapshot([&page](const DocumentSnapshot &d) { page = d; });
        QTRY_VERIFY(page.has_value());
        QStringList inputs;
        for (const InputSnapshot &in : page->inputs)
            inputs << in.name + QLatin1Char(':') + in.type;
        QCOMPARE(inputs, QStringList({"userid:text", "password:password", "login:submit"}));

        complete.clear();
        rig->browser.navigate(m_site.url("/iplogin"));
        QVERIFY(complete.wait(30000));
        page.reset();
        rig->browser.snapshot([&page](const DocumentSnapshot &d) { page = d; });
        QTRY_VERIFY(page.has_value());
        QVERIFY(page->elementIds.contains(SiteLogin::AddressLoginElementId));
    }

    // "测试登录" with each kind of login: the session lands in the shared
    // profile and the gated full text then downloads as a PDF. Neither the
    // password nor the account reaches a log or a file of the profile.
    void loginUnlocksDownloads_data()
    {
        QTest::addColumn<bool>("ipLogin");
        QTest::addColumn<QString>("page");
        QTest::newRow("account") << false << "/login";
        QTest::newRow("address") << true << "/iplogin";
    }

    void loginUnlocksDownloads()
    {
        QFETCH(bool, ipLogin);
        QFETCH(QString, page);
        auto rig = makeRig();
        rig->login.setAddress(m_site.url(page).toString());
        rig->login.setMode(ipLogin ? SiteLogin::Mode::Address : SiteLogin::Mode::Account);
        const QString account = QStringLiteral("reader-7f3a");
        if (!ipLogin) {
            rig->login.setAccount(account);
            rig->login.setPassword(QString::fromLatin1(testsite::LoginPassword));
        }
        g_logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
        rig->login.login(true);
        QVERIFY(!rig->login.testLoginEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig->signedIn(m_site.baseUrl()), 30000);
        // The answer page has loaded; only the settle is left.
        QTRY_VERIFY_WITH_TIMEOUT(rig->settle(), 30000);
        qInstallMessageHandler(previous);
        QVERIFY(rig->prompter.shown.isEmpty());
        QVERIFY(rig->login.testLoginEnabled());

        EngineFixture f;
        for (QNetworkAccessManager *manager : f.engine->networkManagers())
            rig->profile.cookieJar()->attachTo(manager);
        const auto [type, body] = download(*rig, f);
        QCOMPARE(type, QStringLiteral("pdf"));
        QVERIFY(body.startsWith("%PDF"));

        if (ipLogin)
            return;
        for (const QString &line : std::as_const(g_logged))
            QVERIFY2(!line.contains(account), qPrintable(line));
        rig->profile.cookieJar()->save();
        QDirIterator files(rig->profile.storageFolder(), QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (file.open(QIODevice::ReadOnly))
                QVERIFY2(!file.readAll().contains(account.toUtf8()), qPrintable(file.fileName()));
        }
    }

    // A download that brings back the site's login page instead of the
    // full text signs in by itself when "自动登录" is on; the automatic
    // re-download then fetches the PDF.
    void automaticLoginAfterWebPage()
    {
        auto rig = makeRig();
        rig->login.setAddress(m_site.url("/login").toString());
        rig->login.setAccount(QStringLiteral("reader"));
        rig->login.setPassword(QString::fromLatin1(testsite::LoginPassword));
        QVERIFY(rig->login.setAutoLogin(true));

        EngineFixture f;
        for (QNetworkAccessManager *manager : f.engine->networkManagers())
            rig->profile.cookieJar()->attachTo(manager);
        rig->login.watch(*f.engine);
        QSignalSpy pages(f.engine.get(), &DownloadEngine::webPageDownloaded);
        const auto before = download(*rig, f);
        QCOMPARE(before.first, QStringLiteral("htm"));
        QCOMPARE(pages.size(), 1);
        QVERIFY(!rig->login.testLoginEnabled()); // the login started by itself
        QTRY_VERIFY_WITH_TIMEOUT(rig->signedIn(m_site.baseUrl()), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rig->settle(), 30000);
        QVERIFY(rig->prompter.shown.isEmpty());

        EngineFixture again;
        for (QNetworkAccessManager *manager : again.engine->networkManagers())
            rig->profile.cookieJar()->attachTo(manager);
        const auto after = download(*rig, again);
        QCOMPARE(after.first, QStringLiteral("pdf"));
        QVERIFY(after.second.startsWith("%PDF"));
    }

    // A page without matching fields sends nothing: no session, and the
    // login ends after its settle.
    void pageWithoutFields()
    {
        auto rig = makeRig();
        const qsizetype logged = m_site.requestLog().size();
        rig->login.setAddress(m_site.url("/about").toString());
        rig->login.setAccount(QStringLiteral("reader"));
        rig->login.setPassword(QString::fromLatin1(testsite::LoginPassword));
        rig->login.login(true);
        QTRY_VERIFY_WITH_TIMEOUT(rig->login.browseEnabled(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rig->settle(), 30000);
        QVERIFY(!rig->signedIn(m_site.baseUrl()));
        const QStringList posts = m_site.requestLog().mid(logged).filter(QStringLiteral("POST"));
        QVERIFY2(posts.isEmpty(), qPrintable(posts.join('\n')));
    }

    // A wrong password shows the site's own words in the panel's status;
    // a login page that never comes leaves the page on show (the site's
    // form, of another origin) unfilled and says so.
    void outcomeAndAnotherSitesPage()
    {
        auto rig = makeRig();
        QWidget window;
        auto *panel = new LoginPanel(rig->login, rig->browser, &window);
        window.show();
        QSignalSpy complete(&rig->browser, &Browser::documentComplete);
        panel->open(m_site.url("/about"));
        QVERIFY(complete.wait(30000));
        auto *status = panel->findChild<QLabel *>("LoginStatus");
        QVERIFY(status);
        QCOMPARE(status->text(), QString());
        rig->login.setAddress(m_site.url("/login").toString());
        rig->login.setAccount(QStringLiteral("reader"));
        rig->login.setPassword(QStringLiteral("wrong"));
        const qsizetype before = m_site.requestLog().size();
        rig->login.login(true);
        // The form's answer has loaded; only the settle is left.
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_site.requestLog().mid(before).filter(QStringLiteral("POST\t/login")).isEmpty(),
            30000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig->browser.isBusy(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rig->settle(), 30000);
        QCOMPARE(status->text(), QStringLiteral("登录失败：用户名或密码错误。"));
        QVERIFY(!rig->signedIn(m_site.baseUrl()));
        QVERIFY(rig->prompter.shown.isEmpty());

        // A login address whose server takes the connection and never
        // answers; the site's login form stays on show.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        const QUrl hanging(QStringLiteral("http://127.0.0.1:%1/login").arg(silent.serverPort()));
        const qsizetype logged = m_site.requestLog().size();
        rig->login.setAddress(hanging.toString());
        rig->login.setPassword(QString::fromLatin1(testsite::LoginPassword));
        rig->login.login(true);
        QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 20000);
        rig->clock.advanceMs(SiteLogin::PageWaitMs + 1);
        rig->login.tick();
        QTRY_VERIFY_WITH_TIMEOUT(rig->login.testLoginEnabled(), 30000);
        QVERIFY(status->text().startsWith(QStringLiteral("未登录：登录页面")));
        QCOMPARE(rig->prompter.messages(), QStringList{status->text()});
        // A read of the page runs after any write sent to it before: the
        // site's form is still there, untouched.
        DocumentSnapshot shown;
        bool read = false;
        rig->browser.snapshot([&](const DocumentSnapshot &d) {
            shown = d;
            read = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(read, 20000);
        QCOMPARE(QUrl(shown.url).path(), QStringLiteral("/login"));
        QCOMPARE(shown.inputs.size(), 3);
        for (const InputSnapshot &in : std::as_const(shown.inputs))
            if (in.type != QLatin1String("submit"))
                QCOMPARE(in.value, QString());
        const QStringList posts = m_site.requestLog().mid(logged).filter(QStringLiteral("POST"));
        QVERIFY2(posts.isEmpty(), qPrintable(posts.join('\n')));
    }

    // The panel drives the helper: typed values reach it, the password box
    // is masked, a refused "自动登录" unticks, "测试登录" is off while the
    // login runs, "关闭(隐藏)" hides the panel and blanks its page.
    void panelDrivesTheLogin()
    {
        auto rig = makeRig();
        QWidget window;
        window.resize(900, 600);
        auto *panel = new LoginPanel(rig->login, rig->browser, &window);
        panel->setGeometry(0, 0, 900, 600);
        window.show();
        QVERIFY(!panel->isVisible());
        auto *address = panel->findChild<QLineEdit *>("Text1");
        auto *account = panel->findChild<QLineEdit *>("Text2");
        auto *password = panel->findChild<QLineEdit *>("Text3");
        auto *autoLogin = panel->findChild<QCheckBox *>("Check2");
        auto *testLogin = panel->findChild<QPushButton *>("Command5");
        auto *ipLogin = panel->findChild<QRadioButton *>("Option5");
        QVERIFY(address && account && password && autoLogin && testLogin && ipLogin);
        QVERIFY(panel->findChild<QWebEngineView *>("Web1"));
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QVERIFY(panel->findChild<QRadioButton *>("Option4")->isChecked());

        QSignalSpy complete(&rig->browser, &Browser::documentComplete);
        panel->open(m_site.url("/about"));
        QVERIFY(panel->isVisible());
        QVERIFY(complete.wait(30000));
        QCOMPARE(rig->browser.currentUrl(), m_site.url("/about"));

        // Refused until the address, account and password are there.
        QTest::mouseClick(autoLogin, Qt::LeftButton);
        QVERIFY(!autoLogin->isChecked());
        QCOMPARE(rig->prompter.messages(), QStringList{SiteLogin::MissingAddressMessage});
        QTest::keyClicks(address, m_site.url("/login").toString());
        QTest::keyClicks(account, "reader");
        QTest::mouseClick(autoLogin, Qt::LeftButton);
        QVERIFY(!autoLogin->isChecked());
        QCOMPARE(rig->prompter.messages().last(), SiteLogin::MissingAccountMessage);
        QTest::keyClicks(password, QString::fromLatin1(testsite::LoginPassword));
        QTest::mouseClick(autoLogin, Qt::LeftButton);
        QVERIFY(autoLogin->isChecked());
        QVERIFY(rig->login.autoLogin());
        QCOMPARE(rig->prompter.shown.size(), 2);

        const qsizetype logged = m_site.requestLog().size();
        QTest::mouseClick(testLogin, Qt::LeftButton);
        QVERIFY(!testLogin->isEnabled());
        QTest::mouseClick(testLogin, Qt::LeftButton); // ignored while it runs
        QTRY_VERIFY_WITH_TIMEOUT(rig->signedIn(m_site.baseUrl()), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(rig->settle(), 30000);
        QVERIFY(testLogin->isEnabled());
        const QStringList posts =
            m_site.requestLog().mid(logged).filter(QStringLiteral("POST\t/login"));
        QCOMPARE(posts.size(), 1);

        complete.clear();
        QTest::mouseClick(panel->findChild<QPushButton *>("Command3"), Qt::LeftButton);
        QVERIFY(!panel->isVisible());
        QVERIFY(complete.wait(30000));
        QCOMPARE(rig->browser.currentUrl(), QUrl("about:blank"));
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestSiteLoginUi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_site_login_ui.moc"
