// The search window's own commands without the window: export, page
// source, the open-address rule, the close, and the maker's pages.

#include "engine/app_title.h"
#include "settings/product_site.h"
#include "support/fake_shell.h"
#include "support/harvest_rig.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

class TestSearchCommands : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void kilobytes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << qint64(0) << "0.0";
        QTest::newRow("below half a tenth") << qint64(51) << "0.0";
        QTest::newRow("rounds up") << qint64(52) << "0.1";
        QTest::newRow("one kilobyte") << qint64(1024) << "1.0";
        QTest::newRow("a half") << qint64(1536) << "1.5";
        QTest::newRow("thousands") << qint64(1264128) << "1,234.5";
        QTest::newRow("millions") << qint64(1024) * 1000000 << "1,000,000.0";
        QTest::newRow("999.96 rounds to a thousand") << qint64(1023959) << "1,000.0";
    }

    void kilobytes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(HarvestSession::kilobytesText(bytes), text);
    }

    // Every row, in list order, as title-【type】state CR LF, in UTF-8; the
    // saved size follows. No name, an empty list or an unwritable place:
    // nothing is written and nothing said.
    void exportList()
    {
        QTemporaryDir dir;
        HarvestRig rig;
        QVERIFY(!rig.session.exportList());
        QVERIFY(rig.prompter.shown.isEmpty()); // an empty list asks nothing

        rig.addRow(QStringLiteral("A"));
        rig.addRow(QStringLiteral("中文标题 B"), HarvestText::Succeeded);
        rig.addRow(QStringLiteral("C"), HarvestText::Failed);
        const QByteArray expected = QStringLiteral("A-【pdf】\r\n中文标题 B-【pdf】成功\r\n"
                                                   "C-【pdf】分析失败\r\n")
                                        .toUtf8();
        QCOMPARE(HarvestSession::exportText(rig.list()), expected);

        rig.prompter.texts.enqueue(std::nullopt);
        QVERIFY(!rig.session.exportList());
        rig.prompter.texts.enqueue(dir.filePath("missing/list.txt"));
        QVERIFY(!rig.session.exportList());
        QCOMPARE(rig.prompter.shown.size(), 2); // the two dialogs, no message

        rig.prompter.texts.enqueue(dir.filePath("list")); // no extension: .txt
        QVERIFY(rig.session.exportList());
        QCOMPARE(read(dir.filePath("list.txt")), expected);
        QCOMPARE(rig.prompter.shown.last().kind, QStringLiteral("message"));
        QCOMPARE(rig.prompter.shown.last().text, QStringLiteral("保存文件完毕：0.1KB"));
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Information);

        // An existing file is replaced whole.
        QFile old(dir.filePath("old.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5000, 'x'));
        old.close();
        rig.prompter.texts.enqueue(dir.filePath("old.txt"));
        QVERIFY(rig.session.exportList());
        QCOMPARE(read(dir.filePath("old.txt")), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void pageSource()
    {
        QTemporaryDir dir;
        HarvestRig rig;
        DocumentSnapshot page;
        page.rootOuterHtml = QStringLiteral("<html><body>页 &amp; x</body></html>");
        rig.browser.setPage("http://127.0.0.1:9/p", page);
        rig.browser.show("http://127.0.0.1:9/p");
        QSignalSpy saved(&rig.session, &HarvestSession::pageSourceSaved);
        rig.prompter.texts.enqueue(dir.filePath("page"));
        rig.session.savePageSource();
        QCOMPARE(saved.size(), 1);
        QCOMPARE(read(dir.filePath("page.htm")), page.rootOuterHtml.toUtf8());

        rig.browser.showNothing();
        rig.prompter.texts.enqueue(dir.filePath("none.htm"));
        rig.session.savePageSource();
        QVERIFY(!QFile::exists(dir.filePath("none.htm")));
        rig.session.savePageSource(); // cancelled
        QCOMPARE(saved.size(), 1);
        for (const auto &shown : rig.prompter.shown)
            QCOMPARE(shown.kind, QStringLiteral("save"));
    }

    // Silent mode follows what the user typed: off for an https address in
    // any letter case, on for anything else (a cancelled prompt too).
    void openAddress_data()
    {
        QTest::addColumn<std::optional<QString>>("typed");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("navigated");
        QTest::newRow("https in capitals") << std::optional<QString>("  HTTPS://127.0.0.1:9/a ")
                                           << false << "https://127.0.0.1:9/a";
        QTest::newRow("http") << std::optional<QString>("http://127.0.0.1:9/b") << true
                              << "http://127.0.0.1:9/b";
        QTest::newRow("no scheme")
            << std::optional<QString>("127.0.0.1:9/c") << true << "http://127.0.0.1:9/c";
        QTest::newRow("blank") << std::optional<QString>("   ") << true << "";
        QTest::newRow("cancelled") << std::optional<QString>() << true << "";
    }

    void openAddress()
    {
        QFETCH(std::optional<QString>, typed);
        QFETCH(bool, silent);
        QFETCH(QString, navigated);
        HarvestRig rig;
        rig.session.setSilentMode(!silent);
        rig.prompter.texts.enqueue(typed);
        rig.session.openAddress();
        QCOMPARE(rig.browser.isSilent(), silent);
        QCOMPARE(rig.prompter.shown.at(0).text, HarvestSession::OpenAddressPrompt);
        QCOMPARE(rig.prompter.shown.at(0).title, HarvestSession::OpenAddressTitle);
        QCOMPARE(rig.browser.navigations,
                 navigated.isEmpty() ? QStringList() : QStringList{navigated});
    }

    // The close goes ahead only while nothing works; the start-up window
    // comes back only when the download window is not open.
    void closing()
    {
        HarvestRig rig;
        QSignalSpy startup(&rig.session, &HarvestSession::startupWindowRequested);
        bool downloadOpen = true;
        rig.session.setDownloadWindowOpenQuery([&] { return downloadOpen; });
        QVERIFY(rig.session.windowClosing());
        QCOMPARE(startup.size(), 0);
        downloadOpen = false;
        QVERIFY(rig.session.windowClosing());
        QCOMPARE(startup.size(), 1);

        rig.addRow("A");
        rig.analysis().run(AnalysisKind::All);
        QVERIFY(!rig.session.windowClosing());
        QCOMPARE(startup.size(), 1);
        QCOMPARE(rig.prompter.messages().last(), HarvestSession::WorkingMessage);
        rig.finishAnalysis();
        QVERIFY(rig.session.windowClosing());
    }

    void makerPages()
    {
        qputenv(ProductSiteVariable, "http://127.0.0.1:8123");
        QCOMPARE(makerHomePage(), QUrl("http://127.0.0.1:8123/"));
        QCOMPARE(programPage(), QUrl("http://127.0.0.1:8123/lumenarc/"));
        QCOMPARE(customSoftwarePage(), QUrl("http://127.0.0.1:8123/softmake.htm"));
        // A set variable wins even when it names no usable site: that run
        // has no product site, and no page opens for it.
        for (const char *none : {"file:///etc/", "", "not an address"}) {
            qputenv(ProductSiteVariable, none);
            QVERIFY2(productSiteRoot().isEmpty(), none);
            QVERIFY(programPage().isEmpty());
            FakeShell quiet;
            QVERIFY(!openUrlInBrowser(quiet, makerHomePage(), true));
            QVERIFY(quiet.requests.isEmpty());
        }
        qunsetenv(ProductSiteVariable);
        QCOMPARE(productSiteRoot(), defaultProductSiteRoot());

        qputenv(ProductSiteVariable, "http://127.0.0.1:8123/site");
        FakeShell shell;
        QVERIFY(openUrlInBrowser(shell, programPage(), false));
        QVERIFY(!openUrlInBrowser(shell, QUrl("file:///etc/passwd"), true));
        QVERIFY(mailSuggestion(shell, QDate(2024, 5, 3)));
        QCOMPARE(shell.requests.size(), 2);
        QCOMPARE(shell.requests.at(0), "openUrl\thttp://127.0.0.1:8123/site/lumenarc/");
        const QStringList mail = shell.requests.at(1).split(u'\t');
        QCOMPARE(mail.at(1), supportMailbox());
        QCOMPARE(mail.at(2), "我要对[" + ApplicationTitle + "]提建议");
        QCOMPARE(mail.at(3), "软件名称：" + ApplicationTitle + " 姓名：" + QString(10, ' ') +
                                 " Email：" + QString(11, ' ') + " 联系地址：" + QString(11, ' ') +
                                 " 邮编：" + QString(14, ' ') + " 电话：" + QString(20, ' ') +
                                 " 日期：2024-05-03");
        shell.result = false;
        QVERIFY(!openUrlInBrowser(shell, makerHomePage(), true));
        qunsetenv(ProductSiteVariable);
    }
};

QTEST_GUILESS_MAIN(TestSearchCommands)
#include "test_search_commands.moc"
