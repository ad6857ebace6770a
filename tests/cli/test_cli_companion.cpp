// Where `lumenarc-get harvest` finds the program it hands over to: beside
// itself (the build), else in ../libexec/lumenarc/ (an installation).

#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCliCompanion : public QObject
{
    Q_OBJECT

    // A stand-in companion that says where it is and what it was given.
    static void writeCompanion(const QString &path)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        lumen::test::writeFile(path, "#!/bin/sh\necho \"$0 $*\"\nexit 7\n");
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner));
    }

private slots:
    void findsTheCompanion_data()
    {
        QTest::addColumn<bool>("beside");
        QTest::addColumn<bool>("libexec");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("started"); // relative to the root; empty: none
        QTest::newRow("beside the program") << true << false << 7 << "bin/lumenarc-get-harvest";
        QTest::newRow("installed in libexec")
            << false << true << 7 << "bin/../libexec/lumenarc/lumenarc-get-harvest";
        QTest::newRow("beside wins over libexec")
            << true << true << 7 << "bin/lumenarc-get-harvest";
        QTest::newRow("neither") << false << false << 1 << "";
    }

    void findsTheCompanion()
    {
        QFETCH(bool, beside);
        QFETCH(bool, libexec);
        QFETCH(int, exitCode);
        QFETCH(QString, started);
        QTemporaryDir root;
        const QString program = root.filePath("bin/lumenarc-get");
        QVERIFY(QDir().mkpath(root.filePath("bin")));
        QVERIFY(QFile::copy(LUMEN_CLI_PATH, program));
        if (beside)
            writeCompanion(root.filePath("bin/lumenarc-get-harvest"));
        if (libexec)
            writeCompanion(root.filePath("libexec/lumenarc/lumenarc-get-harvest"));

        QProcess p;
        p.start(program, {"harvest", "--all", "http://127.0.0.1:1/"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), exitCode);
        const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (started.isEmpty()) {
            QCOMPARE(out, QString());
            QVERIFY2(err.contains("cannot start " + root.filePath("bin/lumenarc-get-harvest")),
                     qPrintable(err));
        } else {
            QCOMPARE(out, QDir::cleanPath(root.filePath(started)) + " --all http://127.0.0.1:1/");
        }
    }
};

QTEST_GUILESS_MAIN(TestCliCompanion)
#include "test_cli_companion.moc"
