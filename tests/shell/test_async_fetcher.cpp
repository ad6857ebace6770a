#include "shell/async_fetcher.h"
#include "support/files.h"
#include "support/local_process.h"
#include "support/loopback_http_server.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::freeLocalPort;
using lumen::test::LoopbackHttpServer;
using lumen::test::readFile;
using lumen::test::writeFile;
using Route = LoopbackHttpServer::Route;

namespace
{

// Everything a fetcher told its host, in order.
// Runs of polls are written once as "tick".
struct Recorder {
    QStringList events;
    QStringList errors;
    int lastTickState = -1;
    // The ready state the most recent poll announced, for each outcome: the
    // poll that sees the request done must announce itself first.
    QList<int> stateAnnouncedBeforeOutcome;
    explicit Recorder(AsyncFetcher &f)
    {
        QObject::connect(&f, &AsyncFetcher::readyStateChanged, [this, &f] {
            lastTickState = f.readyState();
            if (events.isEmpty() || events.last() != "tick")
                events << "tick";
        });
        QObject::connect(&f, &AsyncFetcher::dataArrived, [this] {
            events << "arrived";
            stateAnnouncedBeforeOutcome << lastTickState;
            lastTickState = -1;
        });
        QObject::connect(&f, &AsyncFetcher::dataError, [this](const QString &text) {
            events << "error";
            errors << text;
            stateAnnouncedBeforeOutcome << lastTickState;
            lastTickState = -1;
        });
    }
    int outcomes() const { return int(events.count("arrived") + events.count("error")); }
};

// A plain answer: no Content-Type unless given among the headers.
Route answer(int status, const QByteArray &reason, const QByteArray &body,
             const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    Route r = LoopbackHttpServer::body(body, QByteArray());
    r.status = status;
    r.reason = reason;
    r.headers = headers;
    return r;
}

} // namespace

class TestAsyncFetcher : public QObject
{
    Q_OBJECT

    LoopbackHttpServer m_server;

private slots:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_server.setRoute("/version.txt",
                          answer(200, "OK", " 2.5.1 \r\n", {{"X-Kind", "version"}}));
        m_server.setRoute("/empty", answer(200, "OK", ""));
        m_server.setRoute("/boom", answer(500, "Internal Server Error", "stack trace"));
        m_server.setRoute("/teapot", answer(418, "I'm a teapot", "short and stout"));
        Route gbk = answer(200, "OK", QByteArray("\xc4\xe3\xba\xc3")); // 你好
        gbk.contentType = "text/plain; charset=GBK";
        m_server.setRoute("/gbk", gbk);
        Route cut = answer(200, "OK", "half of it");
        cut.announcedLength = 1000;
        m_server.setRoute("/cut", cut);
        Route slow = answer(200, "OK", "finally");
        slow.answerOnRelease = true;
        m_server.setRoute("/slow", slow);
        m_server.setRoute("/big",
                          answer(200, "OK", QByteArray(AsyncFetcher::MaxBodyInMemory + 4096, 'b')));
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorText");

        QTest::newRow("200") << "/version.txt"
                             << "arrived" << 200 << "";
        QTest::newRow("404") << "/missing"
                             << "error" << 404 << "没有发现文件?查询或URl";
        QTest::newRow("500") << "/boom"
                             << "error" << 500 << "服务器产生内部错误";
        QTest::newRow("status without a description") << "/teapot"
                                                      << "error" << 418 << "";
    }

    void outcomes()
    {
        QFETCH(QString, path);
        QFETCH(QString, outcome);
        AsyncFetcher f;
        Recorder rec(f);
        QVERIFY(f.open("get", m_server.url(path)));
        QCOMPARE(f.readyState(), int(AsyncFetcher::Opened));
        f.send();
        QVERIFY(f.isPolling());
        QTRY_COMPARE(rec.outcomes(), 1);
        // At least one poll announced itself, and the last one came right
        // before the outcome.
        QCOMPARE(rec.events, (QStringList{"tick", outcome}));
        QCOMPARE(rec.stateAnnouncedBeforeOutcome, QList<int>{AsyncFetcher::Done});
        QTEST(f.status(), "status");
        QVERIFY(f.downOk());
        QVERIFY(!f.isPolling());
        QCOMPARE(f.readyState(), int(AsyncFetcher::Done));
        if (outcome == "error")
            QTEST(rec.errors.value(0), "errorText");
        QCOMPARE(m_server.requests().last().method, QByteArray("GET"));
    }

    void responseIsReadable()
    {
        AsyncFetcher f;
        QSignalSpy arrived(&f, &AsyncFetcher::dataArrived);
        QVERIFY(f.open("GET", m_server.url("/version.txt")));
        f.send();
        QVERIFY(arrived.wait());
        QCOMPARE(f.statusText(), QStringLiteral("OK"));
        QCOMPARE(f.responseText().trimmed(), QStringLiteral("2.5.1"));
        QCOMPARE(f.responseBody(), QByteArray(" 2.5.1 \r\n"));
        QCOMPARE(f.responseHeader("x-kind"), QStringLiteral("version"));
        QVERIFY(f.allResponseHeaders().contains("X-Kind: version\r\n"));

        QVERIFY(f.open("GET", m_server.url("/gbk")));
        f.send();
        QVERIFY(arrived.wait());
        QCOMPARE(f.responseText(), QStringLiteral("你好"));
    }

    void requestCarriesMethodHeadersAndBody()
    {
        AsyncFetcher f;
        QSignalSpy done(&f, &AsyncFetcher::dataError);
        QVERIFY(f.open("post", m_server.url("/form")));
        f.setRequestHeader("Referer", "http://127.0.0.1/list");
        f.setRequestHeader("X-Note", "a\r\nX-Injected: 1");
        f.send("a=1&b=2");
        QVERIFY(done.wait());
        const auto &req = m_server.requests().last();
        QCOMPARE(req.method, QByteArray("POST"));
        QCOMPARE(req.headers.value("referer"), QByteArray("http://127.0.0.1/list"));
        QCOMPARE(req.body, QByteArray("a=1&b=2"));
        QVERIFY(!req.headers.contains("x-injected") && !req.headers.contains("x-note"));
    }

    void saving_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("asFileUrl");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("fileAfter");

        const QByteArray old("old contents");
        QTest::newRow("200 replaces the file")
            << "/version.txt" << false << "arrived" << QByteArray(" 2.5.1 \r\n");
        QTest::newRow("save path as a file URL")
            << "/version.txt" << true << "arrived" << QByteArray(" 2.5.1 \r\n");
        QTest::newRow("200 with no body keeps the file") << "/empty" << false << "arrived" << old;
        QTest::newRow("404 keeps the file") << "/missing" << false << "error" << old;
        QTest::newRow("cut transfer keeps the file") << "/cut" << false << "error" << old;
        QTest::newRow("long body goes to the file only")
            << "/big" << false << "arrived"
            << QByteArray(AsyncFetcher::MaxBodyInMemory + 4096, 'b');
    }

    void saving()
    {
        QFETCH(QString, path);
        QFETCH(bool, asFileUrl);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const QString target = dir.filePath("notice.txt");
        writeFile(target, "old contents");
        AsyncFetcher f;
        Recorder rec(f);
        const QString savePath = asFileUrl ? QUrl::fromLocalFile(target).toString() : target;
        QVERIFY(f.open("GET", m_server.url(path), savePath));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events.last(), outcome);
        QTEST(readFile(target), "fileAfter");
        // Nothing else is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"notice.txt"});
        if (path == "/big")
            QVERIFY(f.responseBody().isEmpty());
    }

    void longBodyWithoutSavePathIsRefused()
    {
        AsyncFetcher f;
        Recorder rec(f);
        QVERIFY(f.open("GET", m_server.url("/big")));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events.last(), QStringLiteral("error"));
        QVERIFY(!rec.errors.value(0).isEmpty());
        QVERIFY(f.responseBody().isEmpty());
    }

    void unwritableSaveFolder()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("plain"), "x");
        // The folder of the target is a plain file: nothing can be created there.
        const QString target = dir.filePath("plain/notice.txt");
        AsyncFetcher f;
        Recorder rec(f);
        QVERIFY(f.open("GET", m_server.url("/version.txt"), target));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events.last(), QStringLiteral("error"));
        QVERIFY(rec.errors.value(0).contains(target));
        QVERIFY(f.downOk());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"plain"});
        // The answer itself is still there for the host.
        QCOMPARE(f.status(), 200);
        QCOMPARE(f.responseBody(), QByteArray(" 2.5.1 \r\n"));
    }

    void connectionRefused()
    {
        AsyncFetcher f;
        Recorder rec(f);
        QVERIFY(f.open("GET", QStringLiteral("http://127.0.0.1:%1/x").arg(freeLocalPort())));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events, (QStringList{"tick", "error"}));
        QCOMPARE(f.status(), 0);
        QVERIFY(f.downOk());
        QVERIFY(!rec.errors.value(0).isEmpty());
        QCOMPARE(rec.errors.value(0), f.errorString());
    }

    void abortBeforeTheAnswer()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("slow.txt");
        AsyncFetcher f;
        Recorder rec(f);
        QSignalSpy received(&m_server, &LoopbackHttpServer::requestReceived);
        QVERIFY(f.open("GET", m_server.url("/slow"), target));
        f.send();
        QVERIFY(received.wait());
        f.abort();
        QVERIFY(!f.isPolling());
        QCOMPARE(f.readyState(), int(AsyncFetcher::Unsent));
        m_server.release("/slow");
        // A stray tick after the abort finds nothing to report.
        f.pollTick();
        QCOMPARE(rec.outcomes(), 0);
        QVERIFY(!f.downOk());
        QVERIFY(!QFile::exists(target));

        // The same fetcher serves the next request.
        QVERIFY(f.open("GET", m_server.url("/version.txt")));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events.last(), QStringLiteral("arrived"));
    }

    void secondSendWhileBusy()
    {
        AsyncFetcher f;
        Recorder rec(f);
        QSignalSpy received(&m_server, &LoopbackHttpServer::requestReceived);
        const qsizetype before = m_server.requests().size();
        QVERIFY(f.open("GET", m_server.url("/slow")));
        f.send();
        QVERIFY(received.wait());
        f.send("again");
        QVERIFY(f.isPolling());
        m_server.release("/slow");
        QTRY_COMPARE(rec.outcomes(), 1);
        QCOMPARE(rec.events.last(), QStringLiteral("arrived"));
        QCOMPARE(f.responseText(), QStringLiteral("finally"));
        QCOMPARE(m_server.requests().size(), before + 1);
        // A send after the outcome, without a new open, repeats nothing.
        f.send();
        QVERIFY(!f.isPolling());
        f.pollTick();
        QCOMPARE(rec.outcomes(), 1);
    }

    void refusedAddresses_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("url");
        QTest::newRow("local file") << "GET"
                                    << "file:///etc/hostname";
        QTest::newRow("ftp") << "GET"
                             << "ftp://127.0.0.1/x";
        QTest::newRow("data") << "GET"
                              << "data:text/plain,hello";
        QTest::newRow("no scheme") << "GET"
                                   << "127.0.0.1/x";
        QTest::newRow("empty method") << " "
                                      << "http://127.0.0.1/x";
    }

    void refusedAddresses()
    {
        QFETCH(QString, method);
        QFETCH(QString, url);
        AsyncFetcher f;
        Recorder rec(f);
        QVERIFY(!f.open(method, url));
        QVERIFY(!f.errorString().isEmpty());
        QVERIFY(!f.errorString().contains("secret"));
        f.send();
        QVERIFY(!f.isPolling());
        QCOMPARE(f.readyState(), int(AsyncFetcher::Unsent));
        QCOMPARE(rec.outcomes(), 0);
    }

    void sendWithoutOpenStartsNothing()
    {
        AsyncFetcher f;
        Recorder rec(f);
        f.send();
        QVERIFY(!f.isPolling());
        QVERIFY(rec.events.isEmpty());
    }

    // The host may start its next request from within the outcome handler.
    void nextRequestFromTheOutcomeHandler()
    {
        AsyncFetcher f;
        Recorder rec(f);
        bool chained = false;
        connect(&f, &AsyncFetcher::dataError, this, [&] {
            if (chained)
                return;
            chained = true;
            QVERIFY(f.open("GET", m_server.url("/version.txt")));
            f.send();
        });
        QVERIFY(f.open("GET", m_server.url("/boom")));
        f.send();
        QTRY_COMPARE(rec.outcomes(), 2);
        QCOMPARE(rec.events.filter(QRegularExpression("^(arrived|error)$")),
                 (QStringList{"error", "arrived"}));
        QCOMPARE(f.responseText(), QStringLiteral(" 2.5.1 \r\n"));
    }

    void statusDescriptions()
    {
        QCOMPARE(AsyncFetcher::statusDescription(100), QStringLiteral("客户必须继续发出请求"));
        QCOMPARE(AsyncFetcher::statusDescription(505),
                 QStringLiteral("服务器不支持或拒绝支请求头中指定的HTTP版本"));
        for (int code : {0, 199, 308, 418, 600, -1, 601, 12029})
            QVERIFY2(AsyncFetcher::statusDescription(code).isEmpty(),
                     qPrintable(QString::number(code)));
    }
};

QTEST_GUILESS_MAIN(TestAsyncFetcher)
#include "test_async_fetcher.moc"
