// The desktop program's options are answered before any window system is
// asked for: with no display at all and no platform named, --help and
// --version print and succeed, and a wrong option fails with a message,
// instead of the program aborting because it cannot open a window.

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

class TestDesktopOptions : public QObject
{
    Q_OBJECT

private slots:
    void answeredWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // a text stdout must hold; empty: stdout empty
        QTest::addColumn<QString>("err"); // a text stderr must hold; empty: no check
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "--download-list <FILE>"
                                << "";
        QTest::newRow("-h") << QStringList{"-h"} << 0 << "--version"
                            << "";
        QTest::newRow("--version")
            << QStringList{"--version"} << 0 << "lumenarc " LUMEN_VERSION << "";
        QTest::newRow("unknown option") << QStringList{"--no-such-option"} << 1 << ""
                                        << "Unknown option 'no-such-option'";
        QTest::newRow("option without its value") << QStringList{"--download-list"} << 1 << ""
                                                  << "Missing value after '--download-list'";
        QTest::newRow("stray argument") << QStringList{"papers.txt"} << 1 << ""
                                        << "lumenarc: Unexpected argument 'papers.txt'.";
        // Qt's own window-system options are let through to it: what stops
        // the program here is the missing display, not the option.
        QTest::newRow("help with a Qt option")
            << QStringList{"-platform", "xcb", "--help"} << 0 << "--download-list"
            << "";
    }

    void answeredWithoutADisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        env.insert("XDG_DATA_HOME", home.filePath(".local/share"));
        env.insert("XDG_RUNTIME_DIR", home.path());

        QProcess p;
        p.setProcessEnvironment(env);
        p.start(LUMEN_APP_PATH, args);
        QVERIFY(p.waitForFinished(60000));
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(p.exitStatus() == QProcess::NormalExit, qPrintable(stdErr));
        QCOMPARE(p.exitCode(), exitCode);
        if (out.isEmpty())
            QCOMPARE(stdOut, QString());
        else
            QVERIFY2(stdOut.contains(out), qPrintable(stdOut));
        if (!err.isEmpty())
            QVERIFY2(stdErr.contains(err), qPrintable(stdErr));
        // Nothing was set up for windows: no settings or profile were made.
        QVERIFY(!QFileInfo::exists(home.filePath(".config")));
        QVERIFY(!QFileInfo::exists(home.filePath(".local/share")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopOptions)
#include "test_desktop_options.moc"
