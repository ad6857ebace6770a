// A server that answers 429 or 503 asks to be left alone for a while: the
// record waits that long while records of other hosts go on, then asks
// again; five such answers in a row fail it. Both methods, real servers on
// 127.0.0.1, the scheduler's time from a fake clock.

#include "engine/download_engine.h"
#include "engine/retry_after.h"
#include "support/engine_fixture.h"
#include "support/loopback_http_server.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QTest>
#include <QTime>

using namespace lumen;
using namespace lumen::test;
using Route = LoopbackHttpServer::Route;

namespace
{

QByteArray httpDate(const QDateTime &utc)
{
    return QLocale::c().toString(utc, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")).toLatin1();
}

Route busy(int status, const QByteArray &retryAfter)
{
    Route r = LoopbackHttpServer::body("<html><body>come back later</body></html>", "text/html");
    r.status = status;
    if (!retryAfter.isNull())
        r.headers << qMakePair(QByteArray("Retry-After"), retryAfter);
    return r;
}

QString clockText(double secondsSinceMidnight)
{
    return QTime::fromMSecsSinceStartOfDay(int(secondsSinceMidnight * 1000))
        .toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

class TestRetryScheduler : public QObject
{
    Q_OBJECT

private slots:
    void retryWaitIsRead_data()
    {
        const QDateTime now(QDate(2026, 12, 11), QTime(12, 0, 0), Qt::UTC);
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<qint64>("waitMs");
        QTest::newRow("seconds") << QByteArray("120") << now << qint64(120000);
        QTest::newRow("zero") << QByteArray("0") << now << qint64(0);
        QTest::newRow("over the cap") << QByteArray("86400") << now << qint64(600000);
        QTest::newRow("missing") << QByteArray() << now << qint64(30000);
        QTest::newRow("unreadable") << QByteArray("soon") << now << qint64(30000);
        QTest::newRow("negative") << QByteArray("-5") << now << qint64(30000);
        QTest::newRow("date") << QByteArray("Fri, 11 Dec 2026 12:01:30 GMT") << now
                              << qint64(90000);
        QTest::newRow("date past")
            << QByteArray("Fri, 11 Dec 2026 11:00:00 GMT") << now << qint64(0);
        QTest::newRow("date far ahead")
            << QByteArray("Sat, 12 Dec 2026 12:00:00 GMT") << now << qint64(600000);
        QTest::newRow("obsolete date")
            << QByteArray("Friday, 11-Dec-26 12:00:10 GMT") << now << qint64(10000);
        QTest::newRow("asctime date")
            << QByteArray("Fri Dec 11 12:00:20 2026") << now << qint64(20000);
    }
    void retryWaitIsRead()
    {
        QFETCH(QByteArray, value);
        QFETCH(QDateTime, now);
        QTEST(retryWaitMs(value, now), "waitMs");
    }

    // The record waits, not stored as a page, while a record of another
    // host goes on; once the wait is over it is asked for again and stored.
    void busyServerIsWaitedOut_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("retryAfter"); // "date": two seconds from now
        QTest::addColumn<qint64>("waitMs");         // what the fake clock must pass
        for (int m : {1, 2}) {
            QTest::addRow("429 in seconds, method %d", m)
                << m << 429 << QByteArray("1") << qint64(1000);
            QTest::addRow("503 in seconds, method %d", m)
                << m << 503 << QByteArray("3") << qint64(3000);
            QTest::addRow("503 with a date, method %d", m)
                << m << 503 << QByteArray("date") << qint64(2000);
            QTest::addRow("503 without a wait, method %d", m)
                << m << 503 << QByteArray() << qint64(30000);
        }
    }
    void busyServerIsWaitedOut()
    {
        QFETCH(int, method);
        QFETCH(int, status);
        QFETCH(QByteArray, retryAfter);
        QFETCH(qint64, waitMs);
        EngineFixture f;
        LoopbackHttpServer busyHost;
        LoopbackHttpServer otherHost;
        QVERIFY(busyHost.listen());
        QVERIFY(otherHost.listen());
        if (retryAfter == "date")
            retryAfter = httpDate(QDateTime::currentDateTimeUtc().addSecs(2));
        busyHost.queueRoutes("/a.pdf", {busy(status, retryAfter)});
        busyHost.setRoute("/a.pdf", LoopbackHttpServer::body(pdfBytes(4000)));
        otherHost.setRoute("/b.pdf", LoopbackHttpServer::body(pdfBytes(5000)));
        const quint64 a = f.add(busyHost.url("/a.pdf"), "a");
        const quint64 b = f.add(otherHost.url("/b.pdf"), "b");

        f.startRun(method);
        const double answeredAt = f.clock.secondsSinceMidnight();
        QTRY_COMPARE(f.state(b), DownloadState::Finished); // the other host went on
        QCOMPARE(f.state(a), DownloadState::Waiting);
        QCOMPARE(f.rec(a).outcome, Outcome::None);
        const QString phrase = status == 429 ? "HTTP 429 Too Many Requests, retry at "
                                             : "HTTP 503 Service Unavailable, retry at ";
        QVERIFY2(f.rec(a).reason.startsWith(phrase), qPrintable(f.rec(a).reason));
        if (retryAfter.size() <= 2)
            QCOMPARE(f.rec(a).reason, phrase + clockText(answeredAt + waitMs / 1000.0));
        QCOMPARE(f.files(), QStringList{"b.pdf"}); // nothing of the answer was kept

        // Before the wait is over the record stays where it is.
        f.tickAfter(0.5);
        QCOMPARE(f.state(a), DownloadState::Waiting);
        QCOMPARE(busyHost.requestCount("/a.pdf"), 1);

        f.clock.advanceMs(waitMs);
        f.engine->schedulerTick();
        QTRY_COMPARE(f.state(a), DownloadState::Finished);
        QTRY_VERIFY(!f.engine->methodOneActive() && f.engine->countSlotInstances() == 1);
        QCOMPARE(f.rec(a).outcome, Outcome::Document);
        QCOMPARE(f.readFile("a.pdf"), pdfBytes(4000));
        QCOMPARE(busyHost.requestCount("/a.pdf"), 2);
        QCOMPARE(f.files(), (QStringList{"a.pdf", "b.pdf"}));
    }

    // A server that keeps asking for later fails the record at the fifth
    // answer in a row, with the reason, and nothing stored.
    void fifthAnswerInARowFails_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("method 1") << 1;
        QTest::newRow("method 2") << 2;
    }
    void fifthAnswerInARowFails()
    {
        QFETCH(int, method);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/a.pdf", busy(503, "1"));
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        f.startRun(method);
        for (int answer = 1; answer < MaxRetryAnswers; ++answer) {
            QTRY_COMPARE(server.requestCount("/a.pdf"), answer);
            QTRY_COMPARE(f.state(a), DownloadState::Waiting);
            QCOMPARE(f.rec(a).retryAnswers, answer);
            f.tickAfter(1.5);
        }
        QTRY_COMPARE(f.state(a), DownloadState::Failed);
        QCOMPARE(server.requestCount("/a.pdf"), MaxRetryAnswers);
        QCOMPARE(f.rec(a).outcome, Outcome::Failed);
        QCOMPARE(f.rec(a).reason,
                 QString("HTTP 503 Service Unavailable, asked 5 times in a row to retry later"));
        QCOMPARE(f.files(), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestRetryScheduler)
#include "test_retry_scheduler.moc"
