#include "app/widget_prompter.h"
#include "engine/app_title.h"

#include <QTest>

using namespace lumen;
using Buttons = Prompter::Buttons;
using Answer = Prompter::Answer;

// The boxes themselves are modal and stay out of the tests; what they are
// titled and what a click on them means is checked here.
class TestWidgetPrompter : public QObject
{
    Q_OBJECT

private slots:
    void boxTitle()
    {
        QCOMPARE(WidgetPrompter::boxTitle(QString()), ApplicationTitle);
        QCOMPARE(WidgetPrompter::boxTitle("提示"), QString("提示"));
    }

    void answerFor_data()
    {
        QTest::addColumn<Buttons>("buttons");
        QTest::addColumn<QMessageBox::StandardButton>("clicked");
        QTest::addColumn<Answer>("answer");

        QTest::newRow("yes") << Buttons::YesNo << QMessageBox::Yes << Answer::Yes;
        QTest::newRow("no") << Buttons::YesNo << QMessageBox::No << Answer::No;
        QTest::newRow("yes/no closed without a button")
            << Buttons::YesNo << QMessageBox::NoButton << Answer::No;
        QTest::newRow("cancel of three")
            << Buttons::YesNoCancel << QMessageBox::Cancel << Answer::Cancel;
        QTest::newRow("no of three") << Buttons::YesNoCancel << QMessageBox::No << Answer::No;
        QTest::newRow("three closed without a button")
            << Buttons::YesNoCancel << QMessageBox::NoButton << Answer::Cancel;
        QTest::newRow("ok") << Buttons::OkCancel << QMessageBox::Ok << Answer::Ok;
        QTest::newRow("ok/cancel closed without a button")
            << Buttons::OkCancel << QMessageBox::NoButton << Answer::Cancel;
        // A button the box never offered cannot count as consent.
        QTest::newRow("yes on an ok/cancel box")
            << Buttons::OkCancel << QMessageBox::Yes << Answer::Cancel;
        QTest::newRow("ok on a yes/no box") << Buttons::YesNo << QMessageBox::Ok << Answer::No;
    }
    void answerFor()
    {
        QFETCH(Buttons, buttons);
        QFETCH(QMessageBox::StandardButton, clicked);
        QFETCH(Answer, answer);
        QCOMPARE(WidgetPrompter::answerFor(buttons, clicked), answer);
        // Whatever the answer, it is one of the box's own buttons.
        const QMessageBox::StandardButtons offered = WidgetPrompter::boxButtons(buttons);
        const QMessageBox::StandardButton asButton = answer == Answer::Yes  ? QMessageBox::Yes
                                                     : answer == Answer::No ? QMessageBox::No
                                                     : answer == Answer::Ok ? QMessageBox::Ok
                                                                            : QMessageBox::Cancel;
        QVERIFY(offered.testFlag(asButton));
    }
};

QTEST_GUILESS_MAIN(TestWidgetPrompter)
#include "test_widget_prompter.moc"
