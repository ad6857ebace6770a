#include "engine/downloader.h"
#include "support/as_nobody.h"
#include "support/fake_clock.h"
#include "support/file_size_limit.h"
#include "support/files.h"
#include "support/local_nginx.h"
#include "support/loopback_http_server.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <optional>

#include <memory>

using namespace lumen;
using lumen::test::FakeClock;
using lumen::test::FileSizeLimit;
using lumen::test::LoopbackHttpServer;
using lumen::test::readFile;
using lumen::test::writeFile;
using Route = LoopbackHttpServer::Route;

namespace
{

QByteArray pattern(qint64 size, int seed = 0)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        b[i] = char((i * 131 + seed * 7 + (i >> 12)) & 0xff);
    return b;
}

// Sends the headers and, when holdAfter is given, only that many body bytes
// until the test lets more through.
Route body(const QByteArray &bytes, bool withLength = true, qint64 holdAfter = -1)
{
    Route r = LoopbackHttpServer::body(bytes, "application/octet-stream");
    r.announceLength = withLength;
    if (holdAfter >= 0) {
        r.sendFirst = holdAfter;
        r.then = Route::Then::Hold;
    }
    return r;
}

// One slot with its signals recorded.
struct Slot {
    Slot(QNetworkAccessManager &nam, Clock &clock)
        : d(std::make_unique<Downloader>(nam, clock)),
          progress(d.get(), &Downloader::downloadProgress),
          complete(d.get(), &Downloader::downloadComplete),
          error(d.get(), &Downloader::downloadError)
    {
    }
    bool ended() const { return complete.size() + error.size() > 0; }
    qint64 lastReceived() const
    {
        return progress.isEmpty() ? -1 : progress.last().at(0).toLongLong();
    }
    std::unique_ptr<Downloader> d;
    QSignalSpy progress;
    QSignalSpy complete;
    QSignalSpy error;
};

} // namespace

class TestDownloader : public QObject
{
    Q_OBJECT

    QNetworkAccessManager m_nam;
    FakeClock m_clock;
    LoopbackHttpServer m_server;

private slots:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void completesWithAnnouncedSize()
    {
        QTemporaryDir dir;
        const QByteArray bytes = pattern(3 * 1024 * 1024 + 7);
        m_server.setRoute("/sized.pdf", body(bytes));
        const QString target = dir.filePath("sized.pdf");

        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/sized.pdf"), target, "http://referer.example/page");
        QCOMPARE(s.d->saveFilePath(), target);
        QTRY_VERIFY(s.ended());

        QCOMPARE(s.error.size(), 0);
        QCOMPARE(s.complete.size(), 1);
        const QList<QVariant> done = s.complete.first();
        QCOMPARE(done[0].toLongLong(), bytes.size());
        QCOMPARE(done[1].toLongLong(), bytes.size());
        QCOMPARE(done[2].toString(), target);
        QCOMPARE(readFile(target), bytes);
        QVERIFY(!QFile::exists(target + ".part"));

        // Progress is throttled, yet its last figures are exact.
        QVERIFY(!s.progress.isEmpty());
        QVERIFY2(s.progress.size() < 40, qPrintable(QString::number(s.progress.size())));
        QCOMPARE(s.lastReceived(), bytes.size());
        QCOMPARE(s.progress.last()[1].toLongLong(), bytes.size());

        // No Referer, and nothing from a cache.
        const auto request = m_server.requests().last();
        QVERIFY(!request.headers.contains("referer"));
    }

    // Bodies that fall back to a second, one-piece fetch.
    void oneSecondAttempt_data()
    {
        QTest::addColumn<Route>("response");
        QTest::addColumn<QString>("missCode"); // empty: completes
        QTest::addColumn<int>("requests");

        // A body without a size that ended cleanly is complete: no second fetch.
        QTest::newRow("no size, odd count") << body("%PDF-1.4 odd", false) << QString() << 1;
        QTest::newRow("no size, two bytes") << body("ab", false) << QString() << 1;
        QTest::newRow("no size, one byte") << body("a", false) << QStringLiteral("无法下载") << 2;
        QTest::newRow("no size, empty") << body("", false) << QStringLiteral("无法下载") << 2;
        QTest::newRow("size zero") << body("", true) << QStringLiteral("无法下载") << 2;
    }
    void oneSecondAttempt()
    {
        QFETCH(Route, response);
        QFETCH(QString, missCode);
        QFETCH(int, requests);
        static int n = 0;
        const QByteArray path = "/fallback" + QByteArray::number(++n);
        m_server.setRoute(path, response);
        QTemporaryDir dir;
        const QString target = dir.filePath("f.pdf");

        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url(path), target, QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(m_server.requestCount(path), requests);
        QCOMPARE(s.progress.size(), 0); // no size, nothing to show a share of
        if (missCode.isEmpty()) {
            QCOMPARE(s.error.size(), 0);
            const qint64 size = response.body.size();
            QCOMPARE(s.complete.first()[0].toLongLong(), size); // the real count
            QCOMPARE(s.complete.first()[1].toLongLong(), size);
            QCOMPARE(readFile(target), response.body);
        } else {
            QCOMPARE(s.complete.size(), 0);
            QCOMPARE(s.error.first()[0].toString(), missCode);
            QVERIFY(!QFile::exists(target));
        }
        QVERIFY(!QFile::exists(target + ".part"));
    }

    // What ends in an error or short of its size: nothing may stand under
    // the final name, and a file that was there before keeps its content.
    void failuresLeaveNothingUnderTheFinalName_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<QString>("missCode");
        QTest::addColumn<bool>("reachesServer");

        for (bool existing : {false, true}) {
            const char *tag = existing ? " over old file" : "";
            QTest::addRow("refused%s", tag)
                << "http://127.0.0.1:1/x.pdf" << existing << QStringLiteral("无法下载") << false;
            // Reported as a completion short of its size (the owner shows how
            // far it got), with nothing stored.
            QTest::addRow("cut short%s", tag) << "/cut.pdf" << existing << QString() << true;
            QTest::addRow("file scheme%s", tag)
                << "file:///etc/hostname" << existing << QStringLiteral("无法下载") << false;
        }
        QTest::newRow("ftp") << "ftp://127.0.0.1/x.pdf" << false << QStringLiteral("无法下载")
                             << false;
        QTest::newRow("javascript")
            << "javascript:alert(1)" << false << QStringLiteral("无法下载") << false;
        QTest::newRow("empty") << "" << false << QStringLiteral("无法下载") << false;
    }
    void failuresLeaveNothingUnderTheFinalName()
    {
        QFETCH(QString, url);
        QFETCH(bool, existing);
        QFETCH(QString, missCode);
        QFETCH(bool, reachesServer);
        // Announces 4000 bytes, sends 100, then the connection closes.
        m_server.setRoute("/cut.pdf", body(pattern(4000), true, 100));
        if (url.startsWith('/'))
            url = m_server.url(url);
        QTemporaryDir dir;
        const QString target = dir.filePath("t.pdf");
        if (existing)
            writeFile(target, "old content");
        const int before = m_server.requests().size();

        Slot s(m_nam, m_clock);
        s.d->beginDownload(url, target, QString());
        // Never reported from inside beginDownload.
        QCOMPARE(s.error.size(), 0);
        if (url.contains("/cut.pdf")) {
            QTRY_COMPARE(s.lastReceived(), 100);
            m_server.dropAll();
        }
        QTRY_VERIFY(s.ended());
        if (missCode.isEmpty()) {
            QCOMPARE(s.error.size(), 0);
            QCOMPARE(s.complete.first()[0].toLongLong(), 100);
            QCOMPARE(s.complete.first()[1].toLongLong(), 4000);
        } else {
            QCOMPARE(s.complete.size(), 0);
            QCOMPARE(s.error.first()[0].toString(), missCode);
            QCOMPARE(s.error.first()[1].toString(), target);
        }
        QCOMPARE(m_server.requests().size() > before, reachesServer);
        if (existing)
            QCOMPARE(readFile(target), QByteArray("old content"));
        else
            QVERIFY(!QFile::exists(target));
        QVERIFY(!QFile::exists(target + ".part"));
    }

    void writeFailuresAreErrors_data()
    {
        QTest::addColumn<QString>("relativeTarget");
        QTest::addColumn<QString>("blocker"); // a file or folder that makes writing fail
        QTest::addColumn<bool>("readOnlyFolder");

        // A folder path running through a plain file fails for any user.
        QTest::newRow("folder is a file") << "plain/t.pdf"
                                          << "plain" << false;
        QTest::newRow("folder missing") << "no/such/t.pdf"
                                        << "" << false;
        // The final name is a folder: the body arrives but cannot take the name.
        QTest::newRow("name taken by a folder") << "t.pdf"
                                                << "t.pdf/" << false;
        QTest::newRow("read-only folder") << "ro/t.pdf"
                                          << "ro/" << true;
        // Writes fail part-way, as on a full disk (a file size limit on the
        // process makes them fail the same way).
        QTest::newRow("disk full while streaming") << "t.pdf"
                                                   << "@size limit" << false;
    }
    void writeFailuresAreErrors()
    {
        QFETCH(QString, relativeTarget);
        QFETCH(QString, blocker);
        QFETCH(bool, readOnlyFolder);
        if (readOnlyFolder)
            LUMEN_RUN_AS_NOBODY_UNDER_ROOT();
        m_server.setRoute("/w.pdf", body(pattern(100000)));
        std::optional<FileSizeLimit> limitFileSize;
        QTemporaryDir dir;
        if (blocker.endsWith('/')) {
            QVERIFY(QDir(dir.path()).mkpath(blocker + "inner"));
            if (readOnlyFolder) {
                QVERIFY(QDir(dir.path()).rmdir(blocker + "inner"));
                QFile::setPermissions(dir.filePath(blocker), QFile::ReadOwner | QFile::ExeOwner);
            }
        } else if (blocker == "@size limit") {
            limitFileSize.emplace(50000);
        } else if (!blocker.isEmpty()) {
            writeFile(dir.filePath(blocker), "x");
        }
        const QString target = dir.filePath(relativeTarget);

        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/w.pdf"), target, QString());
        QTRY_VERIFY(s.ended());
        limitFileSize.reset();
        QCOMPARE(s.complete.size(), 0);
        QCOMPARE(s.error.first()[0].toString(), QStringLiteral("无法写入"));
        QVERIFY(!QFileInfo(target).isFile());
        QVERIFY(!QFileInfo(target + ".part").isFile());
        if (readOnlyFolder)
            QFile::setPermissions(dir.filePath(blocker),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The watchdog ends a transfer only after 300 s without a byte arriving,
    // whether or not the server announced a size.
    void watchdogEndsStalledTransfer_data()
    {
        QTest::addColumn<bool>("withLength");
        QTest::newRow("announced size") << true;
        QTest::newRow("no size") << false;
    }
    void watchdogEndsStalledTransfer()
    {
        QFETCH(bool, withLength);
        // Batches larger than any write buffer, so the .part file on disk
        // shows that a batch has arrived: more than `batch` bytes on disk
        // means the second one is in.
        constexpr qint64 batch = 40000;
        const QByteArray bytes = pattern(5 * batch);
        m_server.setRoute("/stall.pdf", body(bytes, withLength, batch));
        QTemporaryDir dir;
        const QString target = dir.filePath("s.pdf");

        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/stall.pdf"), target, QString());
        QTRY_VERIFY(QFileInfo(target + ".part").size() > 0);
        if (withLength)
            QTRY_COMPARE(s.lastReceived(), batch);
        s.d->watchdogTick(); // sees the first bytes
        m_clock.advanceSeconds(299);
        s.d->watchdogTick();
        QVERIFY(!s.ended());

        // More bytes restart the count.
        m_server.releaseBytes(batch);
        QTRY_VERIFY(QFileInfo(target + ".part").size() > batch);
        m_clock.advanceSeconds(2);
        s.d->watchdogTick();
        m_clock.advanceSeconds(299);
        s.d->watchdogTick();
        QVERIFY(!s.ended());
        m_clock.advanceSeconds(1);
        s.d->watchdogTick();

        QCOMPARE(s.complete.size(), 0);
        QCOMPARE(s.error.size(), 1);
        QCOMPARE(s.error.first()[0].toString(), QStringLiteral("超时"));
        QVERIFY(!QFile::exists(target));
        // The partial body may stay beside it, never under the final name.
        QCOMPARE(readFile(target + ".part"), bytes.left(2 * batch));
        // The transfer hung up when it timed out: a late cut of the
        // connection reaches nobody.
        QTRY_COMPARE(m_server.openConnections(), 0);
        m_server.dropAll();
        QCOMPARE(s.error.size(), 1);
        QCOMPARE(s.complete.size(), 0);
    }

    void watchdogEndsReadThatNeverStarts()
    {
        // The server takes the connection and never answers.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QTemporaryDir dir;
        const QString target = dir.filePath("n.pdf");
        Slot s(m_nam, m_clock);
        s.d->beginDownload(QString("http://127.0.0.1:%1/n.pdf").arg(silent.serverPort()), target,
                           QString());
        QTRY_VERIFY(silent.hasPendingConnections());
        m_clock.advanceSeconds(300);
        s.d->watchdogTick();
        QCOMPARE(s.error.size(), 1);
        QCOMPARE(s.error.first()[0].toString(), QStringLiteral("超时"));
        QVERIFY(!QFile::exists(target));
    }

    // The name is held while the body streams, and given back when the
    // transfer is cancelled or the slot goes away.
    void stopLeavesNothingUnderTheFinalName_data()
    {
        QTest::addColumn<bool>("deleteSlot");
        QTest::newRow("cancel") << false;
        QTest::newRow("slot deleted") << true;
    }
    void stopLeavesNothingUnderTheFinalName()
    {
        QFETCH(bool, deleteSlot);
        m_server.setRoute("/long.pdf", body(pattern(100000), true, 1000));
        QTemporaryDir dir;
        const QString target = dir.filePath("l.pdf");

        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/long.pdf"), target, QString());
        // Nothing but a complete file ever stands under the final name; the
        // name is held in memory by the owner, not by a placeholder file.
        QVERIFY(!QFile::exists(target));
        QTRY_COMPARE(s.lastReceived(), 1000);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(s.progress.last()[1].toLongLong(), 100000);

        if (deleteSlot)
            s.d.reset();
        else
            s.d->cancelAsyncRead();
        QVERIFY(!QFile::exists(target));
        QVERIFY(!QFile::exists(target + ".part"));
        // The transfer has hung up: the rest of the body has nowhere to go.
        QTRY_COMPARE(m_server.openConnections(), 0);
        m_server.releaseAll();
        QCOMPARE(s.complete.size(), 0);
        QCOMPARE(s.error.size(), 0);
        m_server.dropAll();
    }

    void cancelKeepsAnOlderFileIntact()
    {
        m_server.setRoute("/again.pdf", body(pattern(100000), true, 1000));
        QTemporaryDir dir;
        const QString target = dir.filePath("a.pdf");
        writeFile(target, "the copy from last week");
        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/again.pdf"), target, QString());
        QTRY_COMPARE(s.lastReceived(), 1000);
        s.d->cancelAsyncRead();
        QCOMPARE(readFile(target), QByteArray("the copy from last week"));
        QVERIFY(!QFile::exists(target + ".part"));
        m_server.dropAll();
    }

    // The window ends a slot from its progress handler when the announced size
    // is over the limit; the slot must take that from inside its own signal.
    void stoppedFromItsOwnProgressHandler_data()
    {
        QTest::addColumn<bool>("deleteSlot");
        QTest::newRow("cancel") << false;
        QTest::newRow("delete") << true;
    }
    void stoppedFromItsOwnProgressHandler()
    {
        QFETCH(bool, deleteSlot);
        // Half the body at once, far more than one progress report covers:
        // bytes are still unread when the handler ends the slot. The rest is
        // held, so the server sees whether the slot hung up.
        m_server.setRoute("/big.pdf", body(pattern(2 * 1024 * 1024), true, 1024 * 1024));
        QTemporaryDir dir;
        const QString target = dir.filePath("big.pdf");
        Slot s(m_nam, m_clock);
        connect(s.d.get(), &Downloader::downloadProgress, this, [&] {
            if (deleteSlot)
                s.d.reset();
            else
                s.d->cancelAsyncRead();
        });
        s.d->beginDownload(m_server.url("/big.pdf"), target, QString());
        QTRY_COMPARE(s.progress.size(), 1);
        // The slot hangs up: what had arrived and what was still coming
        // reports nothing more.
        QTRY_COMPARE(m_server.openConnections(), 0);
        QCOMPARE(s.progress.size(), 1);
        QCOMPARE(s.complete.size() + s.error.size(), 0);
        QVERIFY(!QFile::exists(target));
        QVERIFY(!QFile::exists(target + ".part"));
    }

    void followsRedirects()
    {
        Route moved = body("");
        moved.status = 302;
        moved.headers = {{"Location", "/moved/here.pdf"}};
        m_server.setRoute("/moved.pdf", moved);
        m_server.setRoute("/moved/here.pdf", body("%PDF-here"));
        QTemporaryDir dir;
        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/moved.pdf"), dir.filePath("m.pdf"), QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.complete.size(), 1);
        QCOMPARE(s.complete.first()[1].toLongLong(), 9);
        QCOMPARE(readFile(dir.filePath("m.pdf")), QByteArray("%PDF-here"));
    }

    void redirectsThatLeaveTheWebOrLoopAreRefused_data()
    {
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QString>("reason");
        QTest::newRow("ftp") << QByteArray("ftp://127.0.0.1/a.pdf")
                             << QStringLiteral(
                                    "redirected to an address that is not http or https");
        QTest::newRow("loop") << QByteArray("/loop.pdf")
                              << QStringLiteral("more than 20 redirects");
    }
    void redirectsThatLeaveTheWebOrLoopAreRefused()
    {
        QFETCH(QByteArray, location);
        QFETCH(QString, reason);
        m_server.setRoute("/loop.pdf", LoopbackHttpServer::redirect(location));
        QTemporaryDir dir;
        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/loop.pdf"), dir.filePath("l.pdf"), QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.error.size(), 1);
        QCOMPARE(s.d->failureReason(), reason);
        QVERIFY(!QFile::exists(dir.filePath("l.pdf")));
        QVERIFY(!QFile::exists(dir.filePath("l.pdf.part")));
    }

    void ampersandEntitiesAreDecoded()
    {
        m_server.setRoute("/get?a=1&b=2&c=3", body("%PDF-amp"));
        QTemporaryDir dir;
        Slot s(m_nam, m_clock);
        s.d->beginDownload("  " + m_server.url("/get?a=1&amp;b=2&AMP;c=3") + " \t",
                           dir.filePath("amp.pdf"), QString());
        QCOMPARE(s.d->sourceUrl(), m_server.url("/get?a=1&b=2&c=3"));
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.complete.size(), 1);
        QCOMPARE(m_server.requestCount("/get?a=1&b=2&c=3"), 1);
        QCOMPARE(readFile(dir.filePath("amp.pdf")), QByteArray("%PDF-amp"));
    }

    void errorPagesAreStoredLikeAnyBody()
    {
        // A server that answers with a page (a login form, a refusal) hands
        // that page over; the type check names it afterwards.
        Route page = body("<html><form>login</form></html>");
        page.status = 403;
        page.contentType = "text/html";
        m_server.setRoute("/denied.pdf", page);
        QTemporaryDir dir;
        Slot s(m_nam, m_clock);
        s.d->beginDownload(m_server.url("/denied.pdf"), dir.filePath("d.pdf"), QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.complete.size(), 1);
        QCOMPARE(readFile(dir.filePath("d.pdf")), page.body);
    }

    void ignoresTheProxyOfTheOtherMethod()
    {
        // Nothing listens on port 1: a request through that proxy would fail.
        QNetworkAccessManager proxied;
        proxied.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", 1));
        m_server.setRoute("/direct.pdf", body("%PDF-direct"));
        QTemporaryDir dir;
        Slot s(proxied, m_clock);
        s.d->beginDownload(m_server.url("/direct.pdf"), dir.filePath("p.pdf"), QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.error.size(), 0);
        QCOMPARE(readFile(dir.filePath("p.pdf")), QByteArray("%PDF-direct"));
    }

    // Certificates are checked: a server the machine does not trust gets no
    // file stored, the same server with its certificate trusted does.
    void verifiesCertificates()
    {
        QTemporaryDir site, keys;
        QVERIFY(lumen::test::makeLocalCertificate(keys.path()));
        writeFile(site.filePath("tls.pdf"), "%PDF-over-tls");
        lumen::test::LocalNginx nginx(site.path());
        nginx.useTls(keys.filePath("cert.pem"), keys.filePath("key.pem"));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        QTemporaryDir dir;
        const QString target = dir.filePath("tls.pdf");
        {
            QNetworkAccessManager nam;
            Slot s(nam, m_clock);
            s.d->beginDownload(nginx.url("/tls.pdf"), target, QString());
            QTRY_VERIFY(s.ended());
            QCOMPARE(s.complete.size(), 0);
            QCOMPARE(s.error.first()[0].toString(), QStringLiteral("无法下载"));
            QVERIFY(!QFile::exists(target));
        }
        const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = saved;
        trusting.addCaCertificates(QSslCertificate::fromPath(keys.filePath("cert.pem")));
        QSslConfiguration::setDefaultConfiguration(trusting);
        {
            QNetworkAccessManager nam;
            Slot s(nam, m_clock);
            s.d->beginDownload(nginx.url("/tls.pdf"), target, QString());
            QTRY_VERIFY(s.ended());
            QSslConfiguration::setDefaultConfiguration(saved);
            QCOMPARE(s.error.size(), 0);
            QCOMPARE(readFile(target), QByteArray("%PDF-over-tls"));
        }
    }

    void neverServedFromTheCache()
    {
        QTemporaryDir cacheDir, dir;
        QNetworkAccessManager nam;
        auto *cache = new QNetworkDiskCache(&nam);
        cache->setCacheDirectory(cacheDir.path());
        nam.setCache(cache);
        Route fresh = body("%PDF-first");
        fresh.headers = {{"Cache-Control", "max-age=3600"}};
        m_server.setRoute("/cached.pdf", fresh);
        QNetworkRequest request{QUrl(m_server.url("/cached.pdf"))};
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::PreferCache);
        QNetworkReply *warm = nam.get(request);
        QTRY_VERIFY(warm->isFinished());
        QCOMPARE(warm->readAll(), QByteArray("%PDF-first"));
        warm->deleteLater();
        QVERIFY(cache->cacheSize() > 0);

        fresh.body = "%PDF-second";
        m_server.setRoute("/cached.pdf", fresh);
        Slot s(nam, m_clock);
        s.d->beginDownload(m_server.url("/cached.pdf"), dir.filePath("c.pdf"), QString());
        QTRY_VERIFY(s.ended());
        QCOMPARE(m_server.requestCount("/cached.pdf"), 2);
        QCOMPARE(readFile(dir.filePath("c.pdf")), QByteArray("%PDF-second"));
    }

    void sixSlotsRunAtOnce()
    {
        constexpr int SlotCount = 6;
        QTemporaryDir dir;
        std::vector<std::unique_ptr<Slot>> running;
        QList<QByteArray> bodies;
        for (int i = 0; i < SlotCount; ++i) {
            bodies.append(pattern(400000 + i * 1001, i));
            const QByteArray path = "/six" + QByteArray::number(i) + ".pdf";
            m_server.setRoute(path, body(bodies[i], true, 5000));
            running.push_back(std::make_unique<Slot>(m_nam, m_clock));
            running.back()->d->beginDownload(m_server.url(path),
                                             dir.filePath(QString("six%1.pdf").arg(i)), QString());
        }
        // All six hold an open transfer at the same moment.
        QTRY_COMPARE(m_server.openConnections(), SlotCount);
        for (auto &s : running)
            QTRY_COMPARE(s->lastReceived(), 5000);
        m_server.releaseAll();
        for (int i = 0; i < SlotCount; ++i) {
            Slot &s = *running[i];
            const QString target = dir.filePath(QString("six%1.pdf").arg(i));
            QTRY_VERIFY(s.ended());
            QCOMPARE(s.error.size(), 0);
            QCOMPARE(s.complete.first()[0].toLongLong(), bodies[i].size());
            QCOMPARE(s.complete.first()[2].toString(), target);
            for (const QList<QVariant> &p : s.progress)
                QCOMPARE(p[2].toString(), target);
            QCOMPARE(readFile(target), bodies[i]);
        }
    }
};

QTEST_GUILESS_MAIN(TestDownloader)
#include "test_downloader.moc"
