// The cache reader against the cache the embedded browser really writes:
// pages and a PDF of the local repository site, a gzip-encoded text and a
// cookie-named page from a loopback server, and a sign-in that must survive
// the clearing.

#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/settings_store.h"
#include "support/fake_prompter.h"
#include "support/files.h"
#include "support/loopback_http_server.h"
#include "support/test_site.h"
#include "tools/browser_cache.h"
#include "tools/cache_entry_writer.h"
#include "tools/copy_session.h"

#include <QApplication>
#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <memory>

using namespace lumen;

namespace
{

const QByteArray GzipText = "test world\n" + QByteArray(200, 'z') + "\n";

QByteArray fetch(const QUrl &url)
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(10000))
        return "<timeout>";
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

class TestBrowserCacheUi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    test::TestSite m_site;
    test::LoopbackHttpServer m_server;
    std::unique_ptr<WebEngineProfile> m_profile;
    std::unique_ptr<WebEngineBrowser> m_browser;

    QString home() const { return m_dir.filePath("me"); }
    QString cacheFolder() const { return browserCacheFolder(home() + "/profile"); }

    bool load(const QUrl &url)
    {
        QSignalSpy complete(m_browser.get(), &Browser::documentComplete);
        QSignalSpy failed(m_browser.get(), &Browser::loadFailed);
        m_browser->navigate(url);
        // A PDF raises no document of its own; its request reaching the
        // cache is what the test waits for below.
        return QTest::qWaitFor([&] { return !complete.isEmpty() || !failed.isEmpty(); }, 20000);
    }

    std::optional<CacheEntry> entryFor(const QString &url) const
    {
        for (const CacheEntry &e : listCacheEntries(cacheFolder()))
            if (e.url == url)
                return e;
        return std::nullopt;
    }

    bool cached(const QUrl &url) const { return entryFor(url.toString()).has_value(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start());
        QVERIFY(m_server.listen());
        m_server.setRoute(
            "/Cookie-notice.html",
            test::LoopbackHttpServer::body("<html><body>cookies</body></html>", "text/html"));
        // The body goes over the wire compressed, as most servers send text.
        test::LoopbackHttpServer::Route gz =
            test::LoopbackHttpServer::body(test::gzipOf(GzipText), "text/plain");
        gz.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        m_server.setRoute("/gz.txt", gz);
        // The engine asks for br even over plain http.
        test::LoopbackHttpServer::Route br =
            test::LoopbackHttpServer::body(test::BrotliBytes, "text/plain; charset=utf-8");
        br.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("br")));
        m_server.setRoute("/br.txt", br);

        m_profile = std::make_unique<WebEngineProfile>(home() + "/profile");
        m_browser = std::make_unique<WebEngineBrowser>(m_profile.get());
        QCOMPARE(QDir::cleanPath(m_profile->profile()->cachePath() + "/Cache/Cache_Data"),
                 cacheFolder());

        // Sign in first, so the session cookie is in the browser.
        QVERIFY(load(m_site.url("/login")));
        bool submitted = false;
        QSignalSpy complete(m_browser.get(), &Browser::documentComplete);
        m_browser->page()->runJavaScript(
            "document.getElementsByName('userid')[0].value = 'reader';"
            "document.getElementsByName('password')[0].value = 'secret';"
            "document.forms[0].submit(); true",
            0, [&](const QVariant &) { submitted = true; });
        QTRY_VERIFY(submitted);
        // The answer page may have come while the script's reply was awaited.
        QTRY_VERIFY_WITH_TIMEOUT(!complete.isEmpty(), 20000);

        for (const QUrl &url :
             {m_site.url("/"), m_site.url("/search?q=demo"), m_site.url("/items/20.pdf"),
              QUrl(m_server.url("/Cookie-notice.html")), QUrl(m_server.url("/gz.txt")),
              QUrl(m_server.url("/br.txt"))}) {
            // A PDF raises no document of its own: the entry the engine
            // writes shortly after each load is what tells the load is done.
            m_browser->navigate(url);
            QTRY_VERIFY_WITH_TIMEOUT(cached(url), 20000);
        }
    }

    void cleanupTestCase()
    {
        m_browser.reset();
        m_profile.reset();
    }

    // The command-line tool finds the shared profile's cache by its place,
    // without the engine: that place must be where the profile keeps it.
    void defaultCacheIsTheSharedProfiles()
    {
        QCOMPARE(defaultBrowserStorageFolder(), WebEngineProfile::defaultStorageFolder());
    }

    void listsPagesAndDocumentsWithTheirSizes()
    {
        const QList<CacheEntry> entries = listCacheEntries(cacheFolder());
        QStringList urls;
        for (const CacheEntry &e : entries)
            urls << e.url;
        for (const QString &url :
             {m_site.url("/").toString(), m_site.url("/search?q=demo").toString(),
              m_site.url("/items/20.pdf").toString(), m_server.url("/gz.txt")})
            QVERIFY2(urls.contains(url), qPrintable(url + " not in " + urls.join(' ')));

        const std::optional<CacheEntry> pdf = entryFor(m_site.url("/items/20.pdf").toString());
        QVERIFY(pdf->normal);
        QCOMPARE(pdf->contentType, QByteArray("application/pdf"));
        QCOMPARE(pdf->displaySize(), fetch(m_site.url("/items/20.pdf")).size());
        QCOMPARE(UrlFileExtension(pdf->url), QString("pdf"));

        const std::optional<CacheEntry> root = entryFor(m_site.url("/").toString());
        QVERIFY(root->normal);
        QCOMPARE(root->displaySize(), fetch(m_site.url("/")).size());

        // The browser keeps the compressed bytes; the size shown is the
        // document's own.
        const std::optional<CacheEntry> gz = entryFor(m_server.url("/gz.txt"));
        QCOMPARE(gz->contentEncoding, QByteArray("gzip"));
        QCOMPARE(gz->storedSize, test::gzipOf(GzipText).size());
        QCOMPARE(gz->displaySize(), GzipText.size());
    }

    void documentsComeOutByteIdentical()
    {
        const std::optional<CacheEntry> pdf = entryFor(m_site.url("/items/20.pdf").toString());
        QVERIFY(pdf);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(writeCacheBody(*pdf, out));
        const QByteArray site = fetch(m_site.url("/items/20.pdf"));
        QVERIFY(site.startsWith("%PDF"));
        QVERIFY(out.data() == site);

        // The copy window writes it out as the document it is.
        SettingsStore settings(m_dir.filePath("settings.ini"));
        test::FakePrompter prompter;
        CopySession copy(settings, prompter, {m_dir.filePath("app"), m_dir.filePath("user")});
        copy.setDestinationText(m_dir.filePath("copied"));
        copy.setSources({CopySource::fromCacheEntry(*pdf)});
        QSignalSpy finished(&copy, &CopySession::finished);
        copy.execute();
        QVERIFY(finished.wait(20000));
        QVERIFY(test::readFile(m_dir.filePath("copied/20.pdf")) == site);

        const std::optional<CacheEntry> gz = entryFor(m_server.url("/gz.txt"));
        QBuffer text;
        text.open(QIODevice::WriteOnly);
        QVERIFY(writeCacheBody(*gz, text));
        QCOMPARE(text.data(), GzipText);

        const std::optional<CacheEntry> br = entryFor(m_server.url("/br.txt"));
        QCOMPARE(br->contentEncoding, QByteArray("br"));
        QCOMPARE(br->storedSize, test::BrotliBytes.size());
        QBuffer brText;
        brText.open(QIODevice::WriteOnly);
        QVERIFY(writeCacheBody(*br, brText));
        QCOMPARE(brText.data(), test::BrotliText);
    }

    void deletingAnEntryRemovesItAndItsFile()
    {
        const std::optional<CacheEntry> page = entryFor(m_site.url("/search?q=demo").toString());
        QVERIFY(page);
        const int before = listCacheEntries(cacheFolder()).size();
        QVERIFY(deleteCacheEntry(page->filePath));
        QVERIFY(!QFileInfo::exists(page->filePath));
        QVERIFY(!cached(m_site.url("/search?q=demo")));
        QCOMPARE(listCacheEntries(cacheFolder()).size(), before - 1);
    }

    // Clearing empties the cache but for the cookie-named entry, and the
    // sign-in made before it still opens the login-gated full text.
    void clearingKeepsCookiesAndTheSignIn()
    {
        const CacheClearResult r = ClearBrowserCache(cacheFolder(), home(), {home()});
        QCOMPARE(r.failed, 0);
        const QList<CacheEntry> left = listCacheEntries(cacheFolder());
        QCOMPARE(left.size(), 1);
        QCOMPARE(left.first().url, m_server.url("/Cookie-notice.html"));

        // A page loaded again comes from the site, not from a stale entry.
        const int requestsBefore = m_site.requestLog().size();
        QVERIFY(load(m_site.url("/")));
        QTRY_VERIFY_WITH_TIMEOUT(cached(m_site.url("/")), 20000);
        QVERIFY(m_site.requestLog().size() > requestsBefore);

        // Item 25 is a login page unless the session cookie comes along.
        const QUrl gated = m_site.url("/items/25.pdf");
        m_browser->navigate(gated);
        QTRY_VERIFY_WITH_TIMEOUT(cached(gated), 20000);
        const std::optional<CacheEntry> e = entryFor(gated.toString());
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        QVERIFY(writeCacheBody(*e, body));
        QVERIFY2(body.data().startsWith("%PDF"), body.data().left(200).constData());
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestBrowserCacheUi test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_browser_cache_ui.moc"
