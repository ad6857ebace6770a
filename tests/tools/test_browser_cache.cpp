// The cache reader over entry files made by hand: every shape the browser
// writes, and the damaged and foreign files it must pass over.

#include "support/files.h"
#include "tools/browser_cache.h"
#include "tools/cache_entry_writer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace lumen;
using lumen::test::BrotliBytes;
using lumen::test::BrotliText;
using lumen::test::cacheEntry;
using lumen::test::CacheEntryBytes;

namespace
{

// The decoded body read in pieces of `piece` bytes.
QByteArray readBody(const CacheEntry &e, qint64 piece, bool *ok)
{
    CacheBodyReader reader;
    *ok = reader.open(e);
    QByteArray out;
    if (!*ok)
        return out;
    QByteArray buf(piece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = reader.read(buf.data(), piece);
        if (n < 0) {
            *ok = false;
            return out;
        }
        if (n == 0)
            break;
        out.append(buf.constData(), n);
    }
    *ok = reader.atEnd();
    return out;
}

} // namespace

class TestBrowserCache : public QObject
{
    Q_OBJECT

private slots:
    // Each encoding the cache may hold comes out decoded, in any read size.
    void bodiesComeOutDecoded_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("decoded");
        QTest::addColumn<qint64>("listedSize");
        const QByteArray text = "<html>plain page</html>";
        QByteArray big;
        for (int i = 0; big.size() < 3 * 1024 * 1024; ++i)
            big += "line " + QByteArray::number(i) + " of a long compressible document\n";
        QTest::newRow("identity") << QByteArray() << text << text << qint64(text.size());
        QTest::newRow("gzip") << QByteArray("gzip") << test::gzipOf(text) << text
                              << qint64(text.size());
        QTest::newRow("gzip, several megabytes")
            << QByteArray("gzip") << test::gzipOf(big) << big << qint64(big.size());
        QTest::newRow("deflate") << QByteArray("deflate") << test::zlibOf(text) << text
                                 << qint64(test::zlibOf(text).size());
        QTest::newRow("br") << QByteArray("br") << BrotliBytes << BrotliText
                            << qint64(BrotliBytes.size());
        QTest::newRow("empty body") << QByteArray() << QByteArray() << QByteArray() << qint64(0);
    }

    void bodiesComeOutDecoded()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, decoded);
        QFETCH(qint64, listedSize);
        QTemporaryDir dir;
        QByteArray head = "HTTP/1.1 200 OK\nContent-Type: text/html; charset=utf-8";
        if (!encoding.isEmpty())
            head += "\nContent-Encoding: " + encoding.toUpper();
        QVERIFY(cacheEntry("http://127.0.0.1:8080/doc/a.html?x=1", stored, head)
                    .writeTo(dir.filePath("0123456789abcdef_0")));

        const QList<CacheEntry> entries = listCacheEntries(dir.path());
        QCOMPARE(entries.size(), 1);
        const CacheEntry &e = entries.first();
        QCOMPARE(e.url, QString("http://127.0.0.1:8080/doc/a.html?x=1"));
        QVERIFY(e.normal);
        QCOMPARE(e.httpStatus, 200);
        QCOMPARE(e.contentType, QByteArray("text/html"));
        QCOMPARE(e.storedSize, qint64(stored.size()));
        QCOMPARE(e.displaySize(), listedSize);
        for (const qint64 piece : {qint64(1), qint64(7), qint64(65536), qint64(1 << 20)}) {
            bool ok = false;
            const QByteArray body = readBody(e, piece, &ok);
            QVERIFY2(ok, qPrintable(QString::number(piece)));
            QCOMPARE(body.size(), decoded.size());
            QVERIFY(body == decoded);
        }
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(writeCacheBody(e, out));
        QVERIFY(out.data() == decoded);
    }

    void damagedBodiesFailToRead_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("stored");
        const QByteArray gz = test::gzipOf("some text that is long enough to matter");
        QTest::newRow("gzip cut short") << QByteArray("gzip") << gz.left(gz.size() / 2);
        QByteArray bent = gz;
        bent[12] = char(bent[12] ^ 0x55);
        bent[14] = char(bent[14] ^ 0x55);
        QTest::newRow("gzip damaged") << QByteArray("gzip") << bent;
        QTest::newRow("not gzip at all") << QByteArray("gzip") << QByteArray("plain text, no gzip");
        QTest::newRow("br cut short") << QByteArray("br") << BrotliBytes.left(10);
        QTest::newRow("unknown encoding") << QByteArray("compress") << QByteArray("xyz");
    }

    void damagedBodiesFailToRead()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, stored);
        QTemporaryDir dir;
        QVERIFY(
            cacheEntry("http://h/x.txt", stored, "HTTP/1.1 200 OK\nContent-Encoding: " + encoding)
                .writeTo(dir.filePath("a_0")));
        const std::optional<CacheEntry> e = readCacheEntry(dir.filePath("a_0"));
        QVERIFY(e);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QString error;
        QVERIFY(!writeCacheBody(*e, out, &error));
        QVERIFY(!error.isEmpty());
    }

    // Whatever the browser left half-written, and whatever else lies in the
    // folder, the listing passes over it without harm.
    void everyCutOffEntryIsPassedOver()
    {
        QTemporaryDir dir;
        const QByteArray whole = cacheEntry("http://h/doc.pdf", "%PDF-1.4 body").bytes();
        for (qsizetype n = 0; n < whole.size(); ++n)
            test::writeFile(dir.filePath(QString("cut%1_0").arg(n, 4, 10, QChar('0'))),
                            whole.left(n));
        test::writeFile(dir.filePath("whole_0"), whole);
        QByteArray grown = whole;
        grown.insert(40, "extra");
        test::writeFile(dir.filePath("grown_0"), grown);
        const QList<CacheEntry> entries = listCacheEntries(dir.path());
        QCOMPARE(entries.size(), 1);
        QCOMPARE(QFileInfo(entries.first().filePath).fileName(), QString("whole_0"));
    }

    void foreignFilesAndKeysArePassedOver_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("url"); // empty: not an entry
        const QByteArray body = "<html></html>";
        auto withKey = [&](const QByteArray &key) {
            CacheEntryBytes e = cacheEntry(QString(), body);
            e.key = key;
            return e.bytes();
        };
        QTest::newRow("plain key")
            << withKey("1/0/http://127.0.0.1:81/a") << "http://127.0.0.1:81/a";
        QTest::newRow("with site parts")
            << withKey("1/0/_dk_http://site.test http://site.test https://cdn.test/b.css")
            << "https://cdn.test/b.css";
        QTest::newRow("other numbers") << withKey("0/12/http://h/c") << "http://h/c";
        QTest::newRow("no prefix") << withKey("http://h/d") << "";
        QTest::newRow("other scheme") << withKey("1/0/chrome://settings/") << "";
        QTest::newRow("empty url") << withKey("1/0/") << "";
        QTest::newRow("site parts without url") << withKey("1/0/_dk_http://h") << "";
        QTest::newRow("space in url") << withKey("1/0/http://h/a b") << "";
        QTest::newRow("nul in key") << withKey(QByteArray("1/0/http://h/\0x", 15)) << "";
        CacheEntryBytes noDigest = cacheEntry("http://h/e", body);
        noDigest.keyDigest = false;
        QTest::newRow("no key digest") << noDigest.bytes() << "http://h/e";
        // The folder's index starts with the entries' own magic.
        QTest::newRow("index file")
            << QByteArray::fromHex("305c72a71b6dfbfc09000000000000000000000000000000") << "";
        QTest::newRow("text") << QByteArray("just some text file\n") << "";
        QByteArray hugeKey = withKey("1/0/http://h/f");
        hugeKey[12] = '\xff';
        hugeKey[15] = '\x7f';
        QTest::newRow("key length past the end") << hugeKey << "";
        QByteArray bigHead = withKey("1/0/http://h/g");
        bigHead[bigHead.size() - 8] = '\x7f';
        QTest::newRow("head size past the start") << bigHead << "";
    }

    void foreignFilesAndKeysArePassedOver()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, url);
        QTemporaryDir dir;
        test::writeFile(dir.filePath("1234_0"), bytes);
        const QList<CacheEntry> entries = listCacheEntries(dir.path());
        QCOMPARE(entries.size(), url.isEmpty() ? 0 : 1);
        if (!url.isEmpty())
            QCOMPARE(entries.first().url, url);
    }

    void normalEntriesAreCompleteSuccesses_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<quint32>("flags");
        QTest::addColumn<bool>("normal");
        QTest::newRow("200") << QByteArray("HTTP/1.1 200 OK") << 0x40003u << true;
        QTest::newRow("206") << QByteArray("HTTP/1.1 206 Partial Content") << 0x40003u << true;
        QTest::newRow("404") << QByteArray("HTTP/1.1 404 Not Found") << 0x40003u << false;
        QTest::newRow("301") << QByteArray("HTTP/1.1 301 Moved\nLocation: /x") << 0x40003u << false;
        QTest::newRow("cut short by the browser")
            << QByteArray("HTTP/1.1 200 OK") << (0x40003u | (1u << 12)) << false;
        QTest::newRow("no head") << QByteArray("garbage") << 0x40003u << false;
    }

    void normalEntriesAreCompleteSuccesses()
    {
        QFETCH(QByteArray, head);
        QFETCH(quint32, flags);
        QFETCH(bool, normal);
        QTemporaryDir dir;
        CacheEntryBytes e = cacheEntry("http://h/p", "body", head);
        e.responseFlags = flags;
        QVERIFY(e.writeTo(dir.filePath("x_0")));
        const std::optional<CacheEntry> read = readCacheEntry(dir.filePath("x_0"));
        QVERIFY(read);
        QCOMPARE(read->normal, normal);
    }

    // A pipe or a folder named like an entry is passed over; a pipe is not
    // even opened, which would wait for a writer forever.
    void pipesAndFoldersArePassedOver()
    {
        QTemporaryDir dir;
        QVERIFY(mkfifo(QFile::encodeName(dir.filePath("pipe_0")).constData(), 0600) == 0);
        QVERIFY(QDir().mkpath(dir.filePath("folder_0")));
        QVERIFY(cacheEntry("http://h/ok", "ok").writeTo(dir.filePath("ok_0")));
        const QList<CacheEntry> entries = listCacheEntries(dir.path());
        QCOMPARE(entries.size(), 1);
        QVERIFY(!readCacheEntry(dir.filePath("pipe_0")));
        QVERIFY(!readCacheEntry(dir.filePath("folder_0")));
    }

    void missingFolderListsNothing()
    {
        QTemporaryDir dir;
        bool ok = true;
        QVERIFY(listCacheEntries(dir.filePath("nowhere"), &ok).isEmpty());
        QVERIFY(!ok);
        QVERIFY(listCacheEntries(dir.path(), &ok).isEmpty());
        QVERIFY(ok);
    }

    // An entry rewritten for another URL after the listing is not copied out
    // as if it were the listed one.
    void replacedEntryIsNotRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("abc_0");
        QVERIFY(cacheEntry("http://h/first.pdf", "first body").writeTo(path));
        const std::optional<CacheEntry> e = readCacheEntry(path);
        QVERIFY(e);
        QVERIFY(cacheEntry("http://h/second.pdf", "second!!!!").writeTo(path));
        CacheBodyReader reader;
        QVERIFY(!reader.open(*e));
        QFile::remove(path);
        QVERIFY(!reader.open(*e));
    }

    void deletingAnEntryRemovesItsFiles()
    {
        QTemporaryDir dir;
        QVERIFY(cacheEntry("http://h/a", "a").writeTo(dir.filePath("aaaa_0")));
        test::writeFile(dir.filePath("aaaa_1"), "code");
        test::writeFile(dir.filePath("aaaa_s"), "sparse");
        QVERIFY(cacheEntry("http://h/b", "b").writeTo(dir.filePath("bbbb_0")));
        QVERIFY(deleteCacheEntry(dir.filePath("aaaa_0")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"bbbb_0"});
        QVERIFY(deleteCacheEntry(dir.filePath("aaaa_0"))); // already gone
    }

    void urlFileExtension_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("ext");
        QTest::newRow("query") << "http://h/a/report.PDF?x=1"
                               << "PDF";
        QTest::newRow("no dot") << "http://h/a/page"
                                << "";
        QTest::newRow("seven characters") << "http://h/f.longext"
                                          << "";
        QTest::newRow("six characters") << "http://h/f.longex"
                                        << "longex";
        QTest::newRow("fragment") << "http://h/a.html#top"
                                  << "html";
        QTest::newRow("dot in host only") << "http://www.h.com/"
                                          << "";
        QTest::newRow("host without path") << "http://www.h.com"
                                           << "com";
        QTest::newRow("second scheme") << "http://h/go?u=http://x/y.pdf"
                                       << "";
        QTest::newRow("two urls") << "http://h/a.gif://x/y.pdf"
                                  << "gif";
        QTest::newRow("path") << "/home/u/cache/abc_0"
                              << "";
        QTest::newRow("text file") << "/home/u/cache/notes.TXT"
                                   << "TXT";
        QTest::newRow("backslashes") << "C:\\a\\b.doc"
                                     << "doc";
        QTest::newRow("empty") << ""
                               << "";
    }

    void urlFileExtension()
    {
        QFETCH(QString, text);
        QFETCH(QString, ext);
        QCOMPARE(UrlFileExtension(text), ext);
    }

    // The name a body is written under is always one safe name in the
    // destination, whatever the URL holds.
    void fileNamesFromUrls_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::newRow("document") << "http://h/items/20.pdf?dl=1"
                                  << "20.pdf";
        QTest::newRow("percent-encoded")
            << "http://h/a/%E4%B8%AD%E6%96%87%20x.pdf" << QString::fromUtf8("中文 x.pdf");
        QTest::newRow("root page") << "http://127.0.0.1:8080/"
                                   << "127.0.0.1";
        QTest::newRow("trailing slash") << "http://h/dir/sub/"
                                        << "sub";
        QTest::newRow("dot dot") << "http://h/a/%2E%2E"
                                 << "h";
        QTest::newRow("encoded separator") << "http://h/a/b%2Fc.pdf"
                                           << "bc.pdf";
        QTest::newRow("reserved characters") << "http://h/a%3F%2A%3C%3E.txt"
                                             << "a.txt";
        QTest::newRow("long name keeps its type")
            << "http://h/" + QString(3000, 'n') + ".pdf" << QString(196, 'n') + ".pdf";
    }

    void fileNamesFromUrls()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        const QString got = cacheEntryFileName(url);
        QCOMPARE(got, name);
        QVERIFY(got.toUtf8().size() <= 255);
    }

    // Clearing deletes pages and documents of this user's cache and of every
    // other home's, and spares cookie-named entries and text files.
    void clearingSparesCookiesAndTextFiles()
    {
        QTemporaryDir root;
        const QString rel = ".local/share/lumenarc/browser/cache/Cache/Cache_Data";
        const QString me = root.filePath("me"), other = root.filePath("other");
        const QString myCache = me + "/" + rel, otherCache = other + "/" + rel;
        QVERIFY(QDir().mkpath(myCache + "/index-dir"));
        QVERIFY(QDir().mkpath(otherCache + "/index-dir/deeper"));
        QVERIFY(QDir().mkpath(root.filePath("nocache/.local")));
        QVERIFY(cacheEntry("http://h/page.html", "p").writeTo(myCache + "/p_0"));
        QVERIFY(cacheEntry("http://h/Set-Cookie/x", "c").writeTo(myCache + "/c_0"));
        QVERIFY(
            cacheEntry("http://h/a.pdf", "a", "HTTP/1.1 404 Not Found").writeTo(myCache + "/n_0"));
        test::writeFile(myCache + "/index-dir/the-real-index", "idx");
        test::writeFile(myCache + "/readme.txt", "keep");
        QVERIFY(cacheEntry("http://h/o.pdf", "o").writeTo(otherCache + "/o_0"));
        QVERIFY(cacheEntry("http://h/cookie.js", "c").writeTo(otherCache + "/k_0"));
        test::writeFile(otherCache + "/index-dir/deeper/x", "x");

        const QStringList homes{me, other, root.filePath("nocache")};
        const QList<UserCacheFolder> users = ListAllUserCaches(myCache, me, homes);
        QCOMPARE(users.size(), 2);
        QCOMPARE(users[0].user, QString("me"));
        QCOMPARE(users[1].folder, otherCache);

        const CacheClearResult r = ClearBrowserCache(myCache, me, homes);
        QCOMPARE(r.failed, 0);
        QCOMPARE(QDir(myCache).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"c_0", "readme.txt"}));
        QCOMPARE(QDir(otherCache).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"k_0"}));
        // The cache folders themselves stay, ready for the browser.
        QVERIFY(QFileInfo(myCache).isDir());
    }

    void cacheOutsideTheHomeHasNoOtherUsers()
    {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath("cache")));
        QVERIFY(ListAllUserCaches(root.filePath("cache"), root.filePath("home"),
                                  {root.filePath("home")})
                    .isEmpty());
    }

    // A walk never follows a link out of the cache, so clearing cannot
    // delete what a link points at.
    void walksStayInsideTheTree()
    {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath("tree/sub")));
        QVERIFY(QDir().mkpath(root.filePath("outside")));
        test::writeFile(root.filePath("tree/sub/f"), "f");
        test::writeFile(root.filePath("outside/precious"), "p");
        QVERIFY(QFile::link(root.filePath("outside"), root.filePath("tree/link")));
        QVERIFY(QFile::link(root.filePath("outside/precious"), root.filePath("tree/flink")));
        QCOMPARE(CollectFiles(root.filePath("tree")), QStringList{root.filePath("tree/sub/f")});
        QCOMPARE(CollectSubFolders(root.filePath("tree")), QStringList{root.filePath("tree/sub")});
    }

    void emptyFoldersGoInsideOut()
    {
        QTemporaryDir root;
        QVERIFY(QDir().mkpath(root.filePath("a/b/c")));
        QVERIFY(QDir().mkpath(root.filePath("a/full")));
        test::writeFile(root.filePath("a/full/f"), "f");
        removeEmptyFolders(CollectSubFolders(root.path()));
        QVERIFY(!QFileInfo::exists(root.filePath("a/b")));
        QVERIFY(QFileInfo::exists(root.filePath("a/full/f")));
    }
};

QTEST_GUILESS_MAIN(TestBrowserCache)
#include "test_browser_cache.moc"
