// The copy window driven by object name over a session on temporary folders.

#include "settings/settings_store.h"
#include "support/fake_prompter.h"
#include "support/files.h"
#include "tools/copy_session.h"
#include "tools/copy_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lumen;

class TestCopyWindowUi : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    test::FakePrompter m_prompter;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    template <typename T> static T *child(QWidget &w, const QString &name)
    {
        T *c = w.findChild<T *>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }

    std::unique_ptr<CopySession> session()
    {
        return std::make_unique<CopySession>(*m_settings, m_prompter,
                                             FolderHistoryLocation{path("app"), path("user")});
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(path("app")));
        QVERIFY(QDir().mkpath(path("src")));
        m_settings = std::make_unique<SettingsStore>(path("settings.ini"));
        m_prompter.shown.clear();
        test::writeFile(path("app/SaveList.dat"), (path("earlier") + "/\r\n").toUtf8());
        m_settings->write(setting::CopyMoveFolder, path("out") + "/");
        m_settings->write(setting::CopyMoveOption, "3");
    }

    void showsTheStoredChoices()
    {
        auto s = session();
        s->setSources({CopySource::fromFile(path("src/a.pdf"))});
        CopyWindow w(*s);
        w.show();
        QCOMPARE(w.windowTitle(), QString("复制文件：1 个文件..."));
        auto *combo = child<QComboBox>(w, "Combo1");
        QCOMPARE(combo->currentText(), path("out") + "/");
        QCOMPARE(combo->count(), 1);
        QCOMPARE(combo->itemText(0), path("earlier") + "/");
        QVERIFY(child<QRadioButton>(w, "Option1_3")->isChecked());
        QCOMPARE(child<QRadioButton>(w, "Option1_4")->text(),
                 QString("文件大小和修改时间均相同：覆盖；否则：自动重命名"));
        QCOMPARE(child<QPushButton>(w, "Command1")->text(), QString("开始"));

        auto *option5 = child<QRadioButton>(w, "Option1_5");
        QTest::mouseClick(option5, Qt::LeftButton, {}, QPoint(6, option5->height() / 2));
        QCOMPARE(s->opIndex(), 5);
        combo->setEditText(path("typed"));
        QCOMPARE(s->destinationText(), path("typed"));

        // The picker starts near the text and its choice fills the box.
        m_prompter.texts.enqueue(path("picked"));
        QTest::mouseClick(child<QPushButton>(w, "Command3"), Qt::LeftButton);
        QCOMPARE(m_prompter.shown.last().kind, QString("folder"));
        QCOMPARE(combo->currentText(), path("picked") + "/");
    }

    // An installed program lives in a system folder: the window opens on
    // the user's download folder instead, and that is what the history
    // keeps.
    void installedProgramOpensOnTheDownloadFolder()
    {
        test::writeFile(path("src/a.pdf"), "a");
        SettingsStore fresh(path("fresh.ini"));
        CopySession s(fresh, m_prompter, FolderHistoryLocation{path("app"), path("user")},
                      CopyPlaces{QStringLiteral("/usr/bin"), path("Downloads")});
        s.setSources({CopySource::fromFile(path("src/a.pdf"))});
        CopyWindow w(s);
        w.show();
        auto *combo = child<QComboBox>(w, "Combo1");
        QCOMPARE(combo->currentText(), path("Downloads") + "/");
        QSignalSpy finished(&s, &CopySession::finished);
        QTest::mouseClick(child<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QCOMPARE(test::readFile(path("Downloads/a.pdf")), QByteArray("a"));
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, QStringList({path("earlier") + "/", path("Downloads") + "/"}));
        QCOMPARE(fresh.read(setting::CopyMoveFolder), path("Downloads") + "/");
    }

    // Start: the button turns into stop, the bar and the current file follow
    // the run, and the new folder joins the history list.
    void runsFromTheStartButton()
    {
        for (const char *name : {"a.pdf", "b.pdf", "c.pdf"})
            test::writeFile(path("src/") + name, name);
        auto s = session();
        s->setSources({CopySource::fromFile(path("src/a.pdf")),
                       CopySource::fromFile(path("src/b.pdf")),
                       CopySource::fromFile(path("src/c.pdf"))});
        CopyWindow w(*s);
        w.show();
        auto *start = child<QPushButton>(w, "Command1");
        auto *bar = child<QProgressBar>(w, "ProgressBar1");
        auto *current = child<QLabel>(w, "Label3");
        QStringList seen;
        connect(s.get(), &CopySession::currentFileChanged, this, [&](const QString &name) {
            if (!name.isEmpty()) {
                seen << name;
                QCOMPARE(current->text(), name);
                QCOMPARE(start->text(), QString("停止"));
                QCOMPARE(bar->maximum(), 4);
                QCOMPARE(bar->value(), int(seen.size()));
            }
        });
        QSignalSpy finished(s.get(), &CopySession::finished);
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(start->text(), QString("停止"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(seen, QStringList({"a.pdf", "b.pdf", "c.pdf"}));
        QCOMPARE(start->text(), QString("开始"));
        QCOMPARE(bar->value(), 0);
        QCOMPARE(current->text(), QString());
        QCOMPARE(QDir(path("out")).entryList(QDir::Files),
                 QStringList({"a.pdf", "b.pdf", "c.pdf"}));
        QCOMPARE(m_prompter.messages(), QStringList{"复制文件完成！"});
        auto *combo = child<QComboBox>(w, "Combo1");
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), path("out") + "/");
        QCOMPARE(combo->currentText(), path("out") + "/");
    }

    // Closing during a run stops it: no message after the window is gone,
    // no file half-written.
    void closingStopsTheRun()
    {
        test::writeFile(path("src/big.bin"), QByteArray(2 * CopySession::StepBytes + 1, 'b'));
        auto s = session();
        s->setSources({CopySource::fromFile(path("src/big.bin"))});
        CopyWindow w(*s);
        w.show();
        QSignalSpy finished(s.get(), &CopySession::finished);
        connect(s.get(), &CopySession::fileBytesCopied, &w,
                [&] { QTest::mouseClick(child<QPushButton>(w, "Command2"), Qt::LeftButton); });
        QTest::mouseClick(child<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QVERIFY(!w.isVisible());
        QVERIFY(m_prompter.shown.isEmpty());
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // The window in the middle of a run. Saved as copy-window.png when
    // LUMEN_SCREENSHOT_DIR names a folder.
    void picture()
    {
        for (int i = 0; i < 5; ++i)
            test::writeFile(path(QString("src/论文%1.pdf").arg(i)),
                            QByteArray(CopySession::StepBytes + 1, 'p'));
        auto s = session();
        QList<CopySource> sources;
        for (int i = 0; i < 5; ++i)
            sources << CopySource::fromFile(path(QString("src/论文%1.pdf").arg(i)));
        s->setSources(sources);
        s->setOpIndex(4);
        CopyWindow w(*s);
        w.resize(640, 330);
        w.show();
        QImage image;
        connect(s.get(), &CopySession::fileBytesCopied, &w, [&] {
            if (image.isNull() && s->progress() == 3)
                image = w.grab().toImage();
        });
        QSignalSpy finished(s.get(), &CopySession::finished);
        QTest::mouseClick(child<QPushButton>(w, "Command1"), Qt::LeftButton);
        QVERIFY(finished.wait(20000));
        QVERIFY(!image.isNull());
        const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(image.save(folder + "/copy-window.png"));
    }
};

QTEST_MAIN(TestCopyWindowUi)
#include "test_copy_window_ui.moc"
