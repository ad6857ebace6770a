// What the desktop program tells Qt before its first window: no display
// name for Qt to append to every caption, and Qt's own Chinese for the
// standard buttons of every box.
//
// With LUMEN_SCREENSHOT_DIR naming a folder, the question box is kept there
// as message-box-zh.png.

#include "app/application_setup.h"
#include "app/widget_prompter.h"
#include "engine/app_title.h"
#include "shell/usage_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace lumen;

class TestApplicationSetup : public QObject
{
    Q_OBJECT

    // A button's caption without its mnemonic: "是(&Y)" reads 是.
    static QString plain(const QString &caption)
    {
        return QString(caption).remove(QRegularExpression(QStringLiteral("\\(&.\\)|&")));
    }

private slots:
    void initTestCase()
    {
        describeApplication();
        QVERIFY(installQtTranslations(*qApp));
    }

    // Qt appends " — " and the display name to the title of every window
    // once a display name is set; unset, the display name is only the
    // application's name.
    void captionsAreTheWindowsOwn()
    {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("lumenarc"));
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString display = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(QStringLiteral("lumenarc"));
        QCOMPARE(display, QStringLiteral("probe"));
        QCOMPARE(QGuiApplication::desktopFileName(), DesktopFileId);

        UsageWindow usage;
        usage.show();
        QVERIFY(QTest::qWaitForWindowExposed(&usage));
        const QString caption = QStringLiteral("软件使用方法-") + ApplicationTitle;
        QCOMPARE(usage.windowTitle(), caption);
        QCOMPARE(usage.windowHandle()->title(), caption);
    }

    void standardButtonsReadChinese()
    {
        WidgetPrompter prompter;
        QStringList captions;
        QString title;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            for (QAbstractButton *b : box->buttons())
                captions << plain(b->text());
            if (const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
                !folder.isEmpty()) {
                QDir().mkpath(folder);
                box->grab().save(QDir(folder).filePath(QStringLiteral("message-box-zh.png")));
            }
            box->button(QMessageBox::No)->click();
        });
        const Prompter::Answer answer =
            prompter.question(QStringLiteral("文件已存在，是否替换？"),
                              Prompter::Buttons::YesNoCancel, Prompter::Icon::Question, QString());
        QCOMPARE(answer, Prompter::Answer::No);
        QCOMPARE(title, ApplicationTitle);
        captions.sort();
        QStringList wanted{QStringLiteral("是"), QStringLiteral("否"), QStringLiteral("取消")};
        wanted.sort();
        QCOMPARE(captions, wanted);

        QMessageBox ok(QMessageBox::Information, ApplicationTitle, QStringLiteral("完成"),
                       QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(plain(ok.button(QMessageBox::Ok)->text()), QStringLiteral("确定"));
        QCOMPARE(plain(ok.button(QMessageBox::Cancel)->text()), QStringLiteral("取消"));
    }
};

QTEST_MAIN(TestApplicationSetup)
#include "test_application_setup.moc"
