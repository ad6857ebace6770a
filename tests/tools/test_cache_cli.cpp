// lumenarc-get cache as scripts run it: a real process over cache folders of
// hand-made entries.

#include "engine/app_title.h"
#include "support/cli_process.h"
#include "support/files.h"
#include "tools/cache_entry_writer.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::CliResult;

namespace
{

const QByteArray Pdf = "%PDF-1.4 the document\n%%EOF\n";
const QByteArray Page = "<html><body>a page of the site</body></html>";

} // namespace

class TestCacheCli : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Where the shared browser profile keeps its cache under the test's home.
    QString defaultCache() const
    {
        return path("home/.local/share/" + ApplicationTitle + "/browser/cache/Cache/Cache_Data");
    }

    CliResult run(const QStringList &args)
    {
        QProcess p;
        p.setProcessEnvironment(test::isolatedEnvironment(path("home")));
        p.start(QStringLiteral(LUMEN_CLI_PATH), QStringList{"cache"} + args);
        return test::finishCli(p, 60000);
    }

    void fill(const QString &folder)
    {
        QVERIFY(QDir().mkpath(folder + "/index-dir"));
        QVERIFY(test::cacheEntry("http://127.0.0.1:8080/items/20.pdf", Pdf, "HTTP/1.1 200 OK")
                    .writeTo(folder + "/1111_0"));
        QVERIFY(test::cacheEntry("http://127.0.0.1:8080/search?q=demo", test::gzipOf(Page),
                                 "HTTP/1.1 200 OK\nContent-Encoding: gzip")
                    .writeTo(folder + "/2222_0"));
        QVERIFY(
            test::cacheEntry("http://127.0.0.1:8080/missing.css", "nope", "HTTP/1.1 404 Not Found")
                .writeTo(folder + "/3333_0"));
        QVERIFY(test::cacheEntry("http://127.0.0.1:8080/cookie-policy.html", Page)
                    .writeTo(folder + "/4444_0"));
        test::writeFile(folder + "/5555_0",
                        test::cacheEntry("http://127.0.0.1:8080/half.pdf", Pdf).bytes().left(60));
        test::writeFile(folder + "/index", "not an entry");
        test::writeFile(folder + "/index-dir/the-real-index", "index");
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void listsPagesAndDocuments()
    {
        fill(defaultCache());
        // Without --cache-dir the desktop program's cache is read.
        for (const QStringList &args :
             {QStringList{"list"}, QStringList{"--cache-dir", defaultCache(), "list"}}) {
            const CliResult r = run(args);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
            QCOMPARE(r.lines,
                     QStringList({
                         "http://127.0.0.1:8080/items/20.pdf\tpdf\t" + QString::number(Pdf.size()),
                         "http://127.0.0.1:8080/search?q=demo\t\t" + QString::number(Page.size()),
                         "http://127.0.0.1:8080/cookie-policy.html\thtml\t" +
                             QString::number(Page.size()),
                     }));
        }
    }

    void copiesDocumentsWithTheSameNameOption()
    {
        fill(path("cache"));
        CliResult r = run({"--cache-dir", path("cache"), "copy", path("out")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines.size(), 3);
        QVERIFY(r.lines.contains("http://127.0.0.1:8080/items/20.pdf\t" + path("out/20.pdf")));
        QCOMPARE(test::readFile(path("out/20.pdf")), Pdf);
        QCOMPARE(test::readFile(path("out/search")), Page);
        QCOMPARE(test::readFile(path("out/cookie-policy.html")), Page);

        r = run({"--cache-dir", path("cache"), "copy", path("out"), "--same-name", "1"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.lines.isEmpty());
        r = run({"--cache-dir", path("cache"), "copy", "--same-name", "3", path("out")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QDir(path("out")).entryList(QDir::Files),
                 QStringList({"20.pdf", "20[001].pdf", "cookie-policy.html",
                              "cookie-policy[001].html", "search", "search[001]"}));
    }

    // A body that does not decode fails alone: the others are copied, no
    // partial file is left, and the exit status says something failed.
    void damagedEntryFailsAlone()
    {
        fill(path("cache"));
        const QByteArray gz = test::gzipOf(QByteArray(100000, 'x') + "tail");
        QVERIFY(test::cacheEntry("http://h/broken.txt", gz.left(gz.size() / 2),
                                 "HTTP/1.1 200 OK\nContent-Encoding: gzip")
                    .writeTo(path("cache/0000_0")));
        const CliResult r = run({"--cache-dir", path("cache"), "copy", path("out")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("http://h/broken.txt"));
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"20.pdf", "cookie-policy.html", "search"}));
    }

    void clearSparesCookies()
    {
        fill(path("cache"));
        const CliResult r = run({"--cache-dir", path("cache"), "clear"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines, QStringList({"deleted\t2", "spared\t1", "failed\t0"}));
        QCOMPARE(QDir(path("cache")).entryList(QDir::Files),
                 QStringList({"3333_0", "4444_0", "5555_0", "index"}));
        QCOMPARE(run({"--cache-dir", path("cache"), "list"}).lines,
                 QStringList{"http://127.0.0.1:8080/cookie-policy.html\thtml\t" +
                             QString::number(Page.size())});
    }

    // Under a home, the clearing also takes the files the listing does not
    // show (the index, error pages, cut-off entries) and empty folders.
    void clearUnderTheHomeTakesEveryFile()
    {
        fill(defaultCache());
        test::writeFile(defaultCache() + "/notes.txt", "kept");
        const CliResult r = run({"clear"});
        QCOMPARE(r.exitCode, 0);
        // Two entries and the index, the error page, the cut-off entry by
        // file; the cookie entry and the .txt file spared, each counted once
        // although both passes meet the cookie entry.
        QCOMPARE(r.lines, QStringList({"deleted\t6", "spared\t2", "failed\t0"}));
        QCOMPARE(QDir(defaultCache()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"4444_0", "notes.txt"}));
    }

    void failuresAndUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no action") << QStringList{} << 2;
        QTest::newRow("unknown action") << QStringList{"show"} << 2;
        QTest::newRow("unknown option") << QStringList{"list", "--all"} << 2;
        QTest::newRow("copy without folder") << QStringList{"copy"} << 2;
        QTest::newRow("copy into two folders") << QStringList{"copy", "a", "b"} << 2;
        QTest::newRow("option out of range")
            << QStringList{"copy", "@/out", "--same-name", "6"} << 2;
        QTest::newRow("option not a number")
            << QStringList{"copy", "@/out", "--same-name", "x"} << 2;
        QTest::newRow("option for list") << QStringList{"list", "--same-name", "2"} << 2;
        QTest::newRow("folder without value") << QStringList{"list", "--cache-dir"} << 2;
        QTest::newRow("missing cache folder") << QStringList{"--cache-dir", "@/none", "list"} << 1;
        QTest::newRow("missing folder, clear")
            << QStringList{"--cache-dir", "@/none", "clear"} << 1;
        QTest::newRow("destination under a file")
            << QStringList{"--cache-dir", "@/cache", "copy", "@/blocker/out"} << 1;
        QTest::newRow("help") << QStringList{"--help"} << 0;
    }

    void failuresAndUsage()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        fill(path("cache"));
        test::writeFile(path("blocker"), "a file");
        for (QString &a : args)
            a.replace("@", m_dir->path());
        const CliResult r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        if (exitCode != 0)
            QVERIFY(!r.err.isEmpty());
        QVERIFY(!QFileInfo::exists(path("out")));
    }

    // The tool reads the cache by its place on disk and never loads the
    // browser engine.
    void linksNoBrowserEngine()
    {
        QProcess ldd;
        ldd.start("ldd", {QStringLiteral(LUMEN_CLI_PATH)});
        QVERIFY(ldd.waitForFinished(30000));
        const QByteArray libs = ldd.readAllStandardOutput();
        QVERIFY(libs.contains("libQt6Core"));
        QVERIFY(!libs.contains("WebEngine"));
        QVERIFY(!libs.contains("libQt6Widgets"));
    }
};

QTEST_GUILESS_MAIN(TestCacheCli)
#include "test_cache_cli.moc"
