#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The command-line tool as users run it: a real process, real files.
class TestCliDetect : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

    struct Result {
        int exitCode = -1;
        QString out;
        QString err;
    };

    static Result run(const QStringList &args, const QString &dir = QString())
    {
        QProcess p;
        if (!dir.isEmpty())
            p.setWorkingDirectory(dir);
        p.start(QStringLiteral(LUMEN_CLI_PATH), args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
        }
        Result r;
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    QString write(const QString &name, const QByteArray &content)
    {
        const QString path = m_tmp.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(content);
        return path;
    }

private slots:
    void detectsEachFileInOrder()
    {
        const QString pdf = write("a.caj", "%PDF-1.4\n" + QByteArray(100, 'x'));
        const QString htm = write("login.pdf", "<HTML><TITLE>登录</TITLE>" + QByteArray(500, ' '));
        const QString kdh = write("k", QByteArray("KDH ") + QByteArray(100, '\0'));
        const QString empty = write("empty.pdf", QByteArray());
        const QString shortMz = write("mz", "MZ\x90");
        const QString odd = write("odd\tna\r\nme\\x.bin", "%PDF");
        const QString missing = m_tmp.filePath("missing.pdf");

        const Result r = run({"detect", pdf, htm, kdh, empty, shortMz, odd, missing, m_tmp.path()});
        // What cannot be read is said on stderr and fails the run; its line
        // keeps its place with no type.
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, "lumenarc-get: detect: cannot read " + missing + ": no such file\n" +
                            "lumenarc-get: detect: cannot read " + m_tmp.path() +
                            ": is a folder\n");
        const QStringList expected = {
            "pdf\t" + pdf,
            "htm\t" + htm,
            "kdh\t" + kdh,
            "\t" + empty,
            "\t" + shortMz,
            // Tab, CR, LF and backslash inside a field are escaped: one line, two fields.
            "pdf\t" + m_tmp.filePath("odd\\tna\\r\\nme\\\\x.bin"),
            "\t" + missing,
            "\t" + m_tmp.path(),
        };
        QCOMPARE(r.out, expected.join('\n') + '\n');
    }

    void fileNamedLikeAnOption()
    {
        write("-x", "%PDF");
        const Result r = run({"detect", "--", "-x"}, m_tmp.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QStringLiteral("pdf\t-x\n"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"fetch"} << "unknown command fetch";
        QTest::newRow("no files") << QStringList{"detect"} << "detect: no file given";
        QTest::newRow("only the separator")
            << QStringList{"detect", "--"} << "detect: no file given";
        QTest::newRow("unknown option")
            << QStringList{"detect", "--all", "x"} << "detect: unknown option --all";
    }
    void usageErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = run(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith("lumenarc-get: " + message + "\n"), qPrintable(r.err));
        QVERIFY(r.err.contains("usage: lumenarc-get"));
    }

    void help()
    {
        const Result r = run({"--help"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("detect FILE..."));
        // Every command lists its own options.
        const Result own = run({"detect", "--help"});
        QCOMPARE(own.exitCode, 0);
        QVERIFY2(own.out.startsWith("usage: lumenarc-get detect"), qPrintable(own.out));
    }
};

QTEST_GUILESS_MAIN(TestCliDetect)
#include "test_cli_detect.moc"
