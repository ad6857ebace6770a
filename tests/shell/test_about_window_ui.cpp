// The about window over its session, the usage window and the two help
// windows: their texts by control name, their buttons and links.

#include "shell/about_session.h"
#include "shell/about_window.h"
#include "shell/component_help_window.h"
#include "shell/maker.h"
#include "shell/program_version.h"
#include "shell/usage_window.h"
#include "support/fake_prompter.h"
#include "support/fake_shell.h"

#include "engine/app_title.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace lumen;
using lumen::test::FakePrompter;
using lumen::test::FakeShell;

namespace
{

const QString Description =
    QStringLiteral("Debian GNU/Linux 12 (bookworm) 版本:12 (内部版本:6.1.0)[64位]");
const QUrl ProductPage(QStringLiteral("http://127.0.0.1:9/lumenarc/"));
const QUrl Repository(QStringLiteral("http://127.0.0.1:8/"));

struct AboutRig {
    FakeShell shell;
    FakePrompter prompter;
    AboutSession session;
    AboutWindow window;
    explicit AboutRig(const QUrl &productPage = ProductPage)
        : session(shell, prompter, Description, productPage, Repository), window(session)
    {
    }
    template <typename T> T *child(const char *name)
    {
        T *w = window.findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no %s", name);
        return w;
    }
    QString text(const char *name) { return child<QLabel>(name)->text(); }
};

void hover(QWidget *w, bool inside)
{
    if (inside) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
        QCoreApplication::sendEvent(w, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(w, &leave);
    }
}

void allControlsNamed(QWidget *window)
{
    for (QWidget *w : window->findChildren<QWidget *>()) {
        // The scroll areas and viewports inside a text box are its own parts.
        if (qobject_cast<QPlainTextEdit *>(w->parentWidget()) ||
            qobject_cast<QPlainTextEdit *>(w->parentWidget() ? w->parentWidget()->parentWidget()
                                                             : nullptr))
            continue;
        QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
    }
}

} // namespace

class TestAboutWindow : public QObject
{
    Q_OBJECT

private slots:
    void aboutTexts()
    {
        AboutRig rig;
        QCOMPARE(rig.window.objectName(), QStringLiteral("frmAbout"));
        QCOMPARE(rig.window.windowTitle(),
                 QStringLiteral("关于『澜图Lumenarc西岭大学文献检索下载』 "));
        QVERIFY(!rig.window.windowIcon().isNull());
        QCOMPARE(rig.text("lsoftname"), ApplicationTitle);
        QCOMPARE(rig.text("lblVersion"), QStringLiteral("版本 ") + programVersionText());
        QCOMPARE(rig.child<QPushButton>("Command1")->text(), QStringLiteral("复制信息"));
        QCOMPARE(rig.child<QPushButton>("cmdSysInfo")->text(), QStringLiteral("系统信息(&S)..."));
        QCOMPARE(rig.child<QPushButton>("cmdOK")->text(), QStringLiteral("确定"));
        QVERIFY(rig.text("Label7").contains(SupportMailbox));
        for (const char *name : {"Label1", "Label2", "Label4", "Label5"})
            QVERIFY2(!rig.text(name).isEmpty(), name);
        allControlsNamed(&rig.window);
    }

    // The system information appears 100 ms after the window; a copy taken
    // before that copies the loading text.
    void systemInformationAndCopy()
    {
        AboutRig rig;
        auto *text = rig.child<QPlainTextEdit>("Text1");
        QCOMPARE(rig.session.systemInformation(), QStringLiteral("正在加载信息，请稍候...\r\n"));
        rig.window.show();
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("正在加载信息，请稍候...\r\n"));
        QTRY_COMPARE(text->toPlainText(), QStringLiteral("OP:") + Description);
        QTest::mouseClick(rig.child<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("OP:") + Description);
    }

    void systemInformationProgram_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("installed") << true;
        QTest::newRow("none installed") << false;
    }
    void systemInformationProgram()
    {
        QFETCH(bool, installed);
        AboutRig rig;
        rig.shell.hasSystemInformation = installed;
        QTest::mouseClick(rig.child<QPushButton>("cmdSysInfo"), Qt::LeftButton);
        QCOMPARE(rig.shell.requests, QStringList{QStringLiteral("startSystemInformation\t")});
        QCOMPARE(rig.prompter.messages(),
                 installed ? QStringList() : QStringList{QStringLiteral("此时系统信息不可用")});
    }

    void linksOpenThroughTheDesktop()
    {
        AboutRig rig;
        rig.window.show();
        QTest::mouseClick(rig.child<QLabel>("Label2"), Qt::LeftButton);
        QTest::mouseClick(rig.child<QLabel>("Label4"), Qt::LeftButton);
        QTest::mouseClick(rig.child<QLabel>("Label7"), Qt::LeftButton);
        QCOMPARE(rig.shell.requests.size(), 3);
        QCOMPARE(rig.shell.requests[0], QStringLiteral("openUrl\t") + ProductPage.toString());
        QCOMPARE(rig.shell.requests[1], QStringLiteral("openUrl\t") + Repository.toString());
        QVERIFY(rig.shell.requests[2].startsWith(QStringLiteral("composeMail\t") + SupportMailbox +
                                                 QStringLiteral("\t我要对[") + ApplicationTitle +
                                                 QStringLiteral("]提建议\t软件名称：")));
    }

    void noProductSiteNoProductLink()
    {
        AboutRig rig{QUrl()};
        rig.window.show();
        QVERIFY(rig.child<QLabel>("Label2")->isHidden());
        rig.session.openProductPage();
        QVERIFY(rig.shell.requests.isEmpty());
    }

    // The line under a link follows the mouse onto a link and goes away
    // when it leaves.
    void hoverUnderline()
    {
        AboutRig rig;
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        auto *line = rig.child<QFrame>("Line2");
        QVERIFY(line->isHidden());
        for (const char *name : {"Label2", "Label4", "Label7"}) {
            QLabel *link = rig.child<QLabel>(name);
            hover(link, true);
            QVERIFY2(line->isVisible(), name);
            QCOMPARE(line->x(), link->x());
            QCOMPARE(line->geometry().bottom(), link->geometry().bottom());
            QVERIFY(line->width() > 0 && line->width() <= link->width());
            hover(link, false);
            QVERIFY(line->isHidden());
        }
    }

    // Its end is what tells the start-up window to check again.
    void closingFinishes_data()
    {
        QTest::addColumn<bool>("okButton");
        QTest::newRow("确定") << true;
        QTest::newRow("close box") << false;
    }
    void closingFinishes()
    {
        QFETCH(bool, okButton);
        AboutRig rig;
        QSignalSpy finished(&rig.window, &QDialog::finished);
        rig.window.show();
        if (okButton)
            QTest::mouseClick(rig.child<QPushButton>("cmdOK"), Qt::LeftButton);
        else
            rig.window.close();
        QCOMPARE(finished.size(), 1);
        QVERIFY(rig.window.isHidden());
    }

    void suggestionMail()
    {
        const QString body = suggestionBody(QDate(2024, 3, 9));
        QCOMPARE(body, QStringLiteral("软件名称：") + ApplicationTitle +
                           QStringLiteral(" 姓名：          "
                                          " Email：           "
                                          " 联系地址：           "
                                          " 邮编：              "
                                          " 电话：                    "
                                          " 日期：2024-03-09"));
    }

    void usageWindow()
    {
        UsageWindow window;
        QCOMPARE(window.objectName(), QStringLiteral("use"));
        QCOMPARE(window.windowTitle(), QStringLiteral("软件使用方法-") + ApplicationTitle);
        QVERIFY(!window.windowIcon().isNull());
        auto *text = window.findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
        QVERIFY(text->isReadOnly());
        const QStringList lines = text->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.last(), QString());
        QCOMPARE(
            lines[0],
            QStringLiteral("1、在Lumenarc数据分析检索窗口，点击菜单：浏览=>打开Lumenarc首页；"));
        QCOMPARE(lines[5],
                 QStringLiteral(
                     "6、到下载窗口，点击开始下载按钮，如果下载出错，切换下载方式，重新下载。"));
        for (int i = 0; i < 6; ++i)
            QVERIFY(lines[i].startsWith(QString::number(i + 1) + QStringLiteral("、")));
    }

    void componentHelpWindow()
    {
        ComponentHelpWindow window(Description);
        QCOMPARE(window.objectName(), QStringLiteral("Net35"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(),
                 QStringLiteral("您的操作系统是：") + Description);
        const QString packages =
            window.findChild<QPlainTextEdit *>(QStringLiteral("Text1"))->toPlainText();
        for (const char *p : {"libqt6webenginecore6", "libqt6widgets6", "qt6-qpa-plugins"})
            QVERIFY2(packages.split(u'\n').contains(QLatin1String(p)), p);
        allControlsNamed(&window);

        QSignalSpy finished(&window, &QDialog::finished);
        window.show();
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("Command3")),
                          Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("sudo apt-get install ") + packages.split(u'\n').join(u' '));
        QCOMPARE(finished.size(), 1);
    }

    // The rights of the program's own files and folders as they stand.
    void permissionHelpWindow()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("lumenarc"));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner |
                                                   QFile::ExeOwner | QFile::ReadGroup |
                                                   QFile::ReadOther | QFile::ExeOther));
        const auto entries =
            programPermissionEntries(program, dir.path(), dir.filePath(QStringLiteral("missing")));
        PermissionHelpWindow window(QStringLiteral("lumenarc"), Description, entries);
        QCOMPARE(window.objectName(), QStringLiteral("Net352"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label1"))->text(),
                 QStringLiteral("lumenarc"));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("Label5"))
                    ->text()
                    .contains(QStringLiteral("确认lumenarc文件可以执行")));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("Label4"))->text(),
                 QStringLiteral("您的操作系统是：") + Description);
        const QStringList report =
            window.findChild<QPlainTextEdit *>(QStringLiteral("Text1"))->toPlainText().split(u'\n');
        QCOMPARE(report.size(), 4);
        QCOMPARE(report[0],
                 QStringLiteral("程序文件：") + program + QStringLiteral(" rwxr--r-x 正常"));
        QVERIFY(report[1].startsWith(QStringLiteral("程序文件夹：") + dir.path() + u' '));
        QVERIFY(report[1].endsWith(QStringLiteral(" 正常")));
        QCOMPARE(report[3], QStringLiteral("下载文件夹：") +
                                dir.filePath(QStringLiteral("missing")) +
                                QStringLiteral(" --------- 不存在"));
        allControlsNamed(&window);
    }

    // A program file that cannot be run, a folder given where a file is
    // wanted, and the reverse.
    void permissionReportStates()
    {
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("plain"));
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner));
        const QStringList report =
            permissionReport({{QStringLiteral("a"), plain, PermissionNeed::Run},
                              {QStringLiteral("b"), dir.path(), PermissionNeed::Run},
                              {QStringLiteral("c"), plain, PermissionNeed::ReadWrite},
                              {QStringLiteral("d"), QString(), PermissionNeed::ReadWrite}});
        QCOMPARE(report[0], QStringLiteral("a：") + plain + QStringLiteral(" rw------- 不可执行"));
        QVERIFY(report[1].endsWith(QStringLiteral(" 不是文件")));
        QVERIFY(report[2].endsWith(QStringLiteral(" 不是文件夹")));
        QCOMPARE(report[3], QStringLiteral("d：") + QStringLiteral(" --------- 不存在"));
    }

    // Each need asks for its own rights and no more: a folder the program
    // only reads is fine without the right to write.
    void permissionStates_data()
    {
        QTest::addColumn<int>("need");
        QTest::addColumn<QString>("facts"); // e: exists, d: folder, r, w, x
        QTest::addColumn<QString>("state");
        const int run = int(PermissionNeed::Run), read = int(PermissionNeed::Read),
                  write = int(PermissionNeed::ReadWrite);
        QTest::newRow("program r-x") << run << "e r x"
                                     << "正常";
        QTest::newRow("program rw-") << run << "e r w"
                                     << "不可执行";
        QTest::newRow("program ---") << run << "e"
                                     << "不可读，不可执行";
        QTest::newRow("program is a folder") << run << "e d r w x"
                                             << "不是文件";
        QTest::newRow("read folder r-x") << read << "e d r x"
                                         << "正常";
        QTest::newRow("read folder rwx") << read << "e d r w x"
                                         << "正常";
        QTest::newRow("read folder r--") << read << "e d r"
                                         << "不可进入";
        QTest::newRow("read folder --x") << read << "e d x"
                                         << "不可读";
        QTest::newRow("read folder is a file") << read << "e r x"
                                               << "不是文件夹";
        QTest::newRow("write folder r-x") << write << "e d r x"
                                          << "不可写";
        QTest::newRow("write folder rwx") << write << "e d r w x"
                                          << "正常";
        QTest::newRow("write folder ---") << write << "e d"
                                          << "不可读，不可写，不可进入";
        QTest::newRow("missing") << write << ""
                                 << "不存在";
    }
    void permissionStates()
    {
        QFETCH(int, need);
        QFETCH(QString, facts);
        QFETCH(QString, state);
        const QStringList f = facts.split(u' ', Qt::SkipEmptyParts);
        const PermissionFacts given{f.contains("e"), f.contains("d"), f.contains("r"),
                                    f.contains("w"), f.contains("x")};
        QCOMPARE(permissionState(PermissionNeed(need), given), state);
    }

    // An ordinary user who may read and enter the program's folder but not
    // write into it: the program's places are judged by what the window
    // asks of them. The report is made in a child that runs as nobody, as
    // an installed program's user would; as root every place is writable.
    void permissionReportOfAnOrdinaryUser()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("bin/lumenarc"));
        const QString settings = dir.filePath(QStringLiteral("settings"));
        const QString download = dir.filePath(QStringLiteral("download"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("bin"))));
        QVERIFY(QDir().mkpath(settings));
        QVERIFY(QDir().mkpath(download));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const auto rx = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        for (const QString &p :
             {dir.path(), dir.filePath(QStringLiteral("bin")), program, download})
            QVERIFY(QFile::setPermissions(p, rx));
        QVERIFY(QFile::setPermissions(settings, rx | QFile::WriteGroup | QFile::WriteOther));

        QProcess child;
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                     QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                     QStringLiteral("--permission-report"), program, settings, download});
        QVERIFY(child.waitForFinished(30000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAllStandardError().constData());
        const QStringList report =
            QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(
            report,
            QStringList(
                {QStringLiteral("程序文件：") + program + QStringLiteral(" rwxr-xr-x 正常"),
                 QStringLiteral("程序文件夹：") + dir.filePath(QStringLiteral("bin")) +
                     QStringLiteral(" rwxr-xr-x 正常"),
                 QStringLiteral("设置文件夹：") + settings + QStringLiteral(" rwxrwxrwx 正常"),
                 QStringLiteral("下载文件夹：") + download + QStringLiteral(" rwxr-xr-x 不可写")}));
    }
};

int main(int argc, char **argv)
{
    // The child of permissionReportOfAnOrdinaryUser: the report of the
    // program's places as the user it runs as sees them.
    if (argc == 5 && qstrcmp(argv[1], "--permission-report") == 0) {
        QCoreApplication app(argc, argv);
        const QStringList lines = permissionReport(programPermissionEntries(
            QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            QString::fromLocal8Bit(argv[4])));
        for (const QString &line : lines)
            std::fputs((line + u'\n').toUtf8().constData(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    TestAboutWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_about_window_ui.moc"
