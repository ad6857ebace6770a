// A transfer that was cut, stopped or killed goes on from its partial file
// at the next attempt, by method one and method two alike, against real
// servers on 127.0.0.1 and a real folder; and never joins two versions of a
// document into one file.

#include "engine/download_engine.h"
#include "engine/part_file.h"
#include "engine/requeue.h"
#include "engine/resume_state.h"
#include "support/engine_fixture.h"
#include "support/local_nginx.h"
#include "support/loopback_http_server.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

using namespace lumen;
using namespace lumen::test;
using Route = LoopbackHttpServer::Route;

namespace
{

constexpr int BodyBytes = 100000;
constexpr int CutAt = 30000;

const QByteArray ETag = "\"5f1e-v1\"";
const QByteArray LastModified = "Wed, 09 Dec 2026 10:00:00 GMT";

// A document whose every line names its version and offset, so that bytes
// of one version joined to bytes of another can never pass for either.
QByteArray versionBytes(const QByteArray &version, int size = BodyBytes)
{
    QByteArray b = "%PDF-1.4\n";
    while (b.size() < size)
        b += version + ':' + QByteArray::number(b.size()) + '\n';
    b.truncate(size);
    return b;
}

Route document(const QByteArray &bytes, const QByteArray &header, const QByteArray &value)
{
    Route r = LoopbackHttpServer::body(bytes);
    r.headers << qMakePair(header, value);
    r.ranges = true;
    return r;
}

bool settled(EngineFixture &f, quint64 id)
{
    return f.state(id) != DownloadState::Downloading && f.engine->countSlotInstances() == 1 &&
           !f.engine->methodOneActive();
}

} // namespace

class TestPartResume : public QObject
{
    Q_OBJECT

    // The record's first attempt ends after CutAt bytes of the document
    // (the connection cut, or the user's stop); what came stays beside the
    // target with its version, and nothing under the final name.
    static void interrupt(EngineFixture &f, LoopbackHttpServer &server, quint64 id, int method,
                          const QString &how, Route route)
    {
        route.sendFirst = CutAt;
        route.then = how == "stop" ? Route::Then::Hold : Route::Then::Drop;
        server.setRoute("/a.pdf", route);
        f.startRun(method);
        if (how == "stop") {
            QTRY_COMPARE(f.rec(id).received, qint64(CutAt));
            f.engine->stopDownloading();
            server.dropAll();
        }
        QTRY_VERIFY(settled(f, id));
        QCOMPARE(f.state(id), DownloadState::Failed);
        QCOMPARE(QFileInfo(f.path("a.pdf.part")).size(), qint64(CutAt));
        QVERIFY(f.exists("a.pdf.part.meta"));
        QVERIFY(!f.exists("a.pdf"));
    }

private slots:
    void interruptedTransferGoesOn_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("how");       // cut or stop
        QTest::addColumn<QByteArray>("header"); // the validator the server sends
        QTest::addColumn<QString>("then");      // what the server does at the next attempt
        QTest::addColumn<int>("requests");      // at the next attempt
        for (int m : {1, 2}) {
            QTest::addRow("cut, same version by ETag, method %d", m)
                << m << "cut" << QByteArray("ETag") << "same" << 1;
            QTest::addRow("stopped, same version by date, method %d", m)
                << m << "stop" << QByteArray("Last-Modified") << "same" << 1;
            QTest::addRow("document changed, method %d", m)
                << m << "cut" << QByteArray("ETag") << "changed" << 1;
            QTest::addRow("server ignores ranges, method %d", m)
                << m << "cut" << QByteArray("ETag") << "ignores ranges" << 1;
            QTest::addRow("range that does not join, method %d", m)
                << m << "cut" << QByteArray("ETag") << "bad range" << 2;
        }
    }
    void interruptedTransferGoesOn()
    {
        QFETCH(int, method);
        QFETCH(QString, how);
        QFETCH(QByteArray, header);
        QFETCH(QString, then);
        QFETCH(int, requests);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QByteArray validator = header == "ETag" ? ETag : LastModified;
        const QByteArray v1 = versionBytes("v1");
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        interrupt(f, server, a, method, how, document(v1, header, validator));

        QByteArray expected = v1;
        if (then == "changed") {
            expected = versionBytes("v2");
            server.setRoute("/a.pdf", document(expected, "ETag", "\"5f1e-v2\""));
        } else if (then == "ignores ranges") {
            Route whole = document(v1, header, validator);
            whole.ranges = false;
            server.setRoute("/a.pdf", whole);
        } else {
            server.setRoute("/a.pdf", document(v1, header, validator));
        }
        if (then == "bad range") {
            // A 206 that starts elsewhere than where the file ends.
            Route bogus = LoopbackHttpServer::body(v1.mid(CutAt - 10));
            bogus.status = 206;
            bogus.headers << qMakePair(QByteArray("Content-Range"),
                                       QByteArray("bytes 29990-99999/100000"))
                          << qMakePair(header, validator);
            server.queueRoutes("/a.pdf", {bogus});
        }
        const int before = server.requestCount("/a.pdf");
        RequeueRecord(f.list, f.list.rowOfId(a));
        f.startRun(method);
        QTRY_VERIFY(settled(f, a));

        QCOMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(f.rec(a).outcome, Outcome::Document);
        QCOMPARE(f.readFile("a.pdf"), expected);
        QCOMPARE(f.files(), QStringList{"a.pdf"}); // no partial file, no sidecar
        QCOMPARE(f.rec(a).received, qint64(expected.size()));
        QCOMPARE(server.requestCount("/a.pdf") - before, requests);
        const auto &asked = server.requests().at(before).headers;
        QCOMPARE(asked.value("range"), QByteArray("bytes=30000-"));
        QCOMPARE(asked.value("if-range"), validator);
        if (requests > 1)
            QVERIFY(!server.requests().last().headers.contains("range"));
    }

    // What stands beside the target at the start decides whether the
    // transfer may go on from it: only its own partial file, of a version
    // it can name, is continued; its own file of no known version is
    // started over in place; anyone else's is left alone.
    void leftoversAtTheStart_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("leftover");
        QTest::addColumn<bool>("survives");
        for (int m : {1, 2}) {
            QTest::addRow("own, no validator, method %d", m) << m << "own, no validator" << false;
            QTest::addRow("another URL's, method %d", m) << m << "another URL's" << true;
            QTest::addRow("no sidecar, method %d", m) << m << "no sidecar" << true;
        }
    }
    void leftoversAtTheStart()
    {
        QFETCH(int, method);
        QFETCH(QString, leftover);
        QFETCH(bool, survives);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const QByteArray v1 = versionBytes("v1");
        server.setRoute("/a.pdf", document(v1, "ETag", ETag));
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        const QByteArray junk = versionBytes("old", CutAt);
        f.writeFile("a.pdf.part", junk);
        ResumeMeta meta;
        meta.url = leftover == "another URL's" ? server.url("/b.pdf") : server.url("/a.pdf");
        meta.length = BodyBytes;
        if (leftover == "another URL's")
            meta.etag = ETag;
        if (leftover != "no sidecar")
            QVERIFY(writeResumeMeta(f.path("a.pdf.part"), meta));

        f.startRun(method);
        QTRY_VERIFY(settled(f, a));
        QCOMPARE(f.state(a), DownloadState::Finished);
        QCOMPARE(f.readFile("a.pdf"), v1);
        QVERIFY(!server.requests().first().headers.contains("range"));
        QCOMPARE(f.exists("a.pdf.part"), survives);
        if (survives)
            QCOMPARE(f.readFile("a.pdf.part"), junk);
        QCOMPARE(f.exists("a.pdf.part.meta"), leftover == "another URL's");
        QVERIFY(!f.exists("a.pdf.1.part"));
        QVERIFY(!f.exists("a.pdf.1.part.meta"));
    }

    // A record that leaves the list takes the partial file it left with it;
    // a partial file of anyone else stays.
    void leftoversGoWithTheirRecord_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("how");
        QTest::newRow("record removed, method 1") << 1 << "remove";
        QTest::newRow("list cleared, method 2") << 2 << "clear";
    }
    void leftoversGoWithTheirRecord()
    {
        QFETCH(int, method);
        QFETCH(QString, how);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        const quint64 a = f.add(server.url("/a.pdf"), "a");
        f.writeFile("b.pdf.part", "someone else's");
        interrupt(f, server, a, method, "cut", document(versionBytes("v1"), "ETag", ETag));
        if (how == "remove")
            QCOMPARE(f.list.removeIf([&](const DownloadItem &it) { return it.id == a; }), 1);
        else
            f.list.clear();
        QCOMPARE(f.files(), QStringList{"b.pdf.part"});
    }

    // A stock server as the witness: it continues the same version from
    // where the file ends (the bytes there are kept, so a prefix of our own
    // shows that only the rest came), and sends a changed one whole.
    void stockServerJoinsOnlyTheSameVersion_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<bool>("changed");
        for (int m : {1, 2}) {
            QTest::addRow("same version, method %d", m) << m << false;
            QTest::addRow("changed on the server, method %d", m) << m << true;
        }
    }
    void stockServerJoinsOnlyTheSameVersion()
    {
        QFETCH(int, method);
        QFETCH(bool, changed);
        QTemporaryDir site;
        const QString served = site.filePath("paper.pdf");
        const QByteArray v1 = versionBytes("v1");
        {
            QFile file(served);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(v1);
        }
        LocalNginx nginx(site.path());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const QString url = nginx.url("/paper.pdf");

        QNetworkAccessManager nam;
        QNetworkReply *head = nam.head(QNetworkRequest(QUrl(url)));
        QTRY_VERIFY(head->isFinished());
        ResumeMeta meta;
        meta.url = url;
        meta.etag = head->rawHeader("ETag");
        meta.lastModified = head->rawHeader("Last-Modified");
        meta.length = BodyBytes;
        head->deleteLater();
        QVERIFY(!meta.validator().isEmpty());

        EngineFixture f;
        const quint64 a = f.add(url, "a");
        const QByteArray ours = versionBytes("ours", CutAt);
        f.writeFile("a.pdf.part", ours);
        QVERIFY(writeResumeMeta(f.path("a.pdf.part"), meta));
        QByteArray expected = ours + v1.mid(CutAt);
        if (changed) {
            expected = versionBytes("v2");
            QFile file(served);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(expected);
            QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(60),
                                     QFileDevice::FileModificationTime));
        }

        f.startRun(method);
        QTRY_VERIFY(settled(f, a));
        QCOMPARE(f.state(a), DownloadState::Finished);
        QVERIFY(f.readFile("a.pdf") == expected);
        QCOMPARE(f.files(), QStringList{"a.pdf"});
        QTRY_COMPARE(nginx.log().size(), 2); // the HEAD and the transfer
        QVERIFY2(nginx.log().last().contains(changed ? "\" 200 " : "\" 206 "),
                 qPrintable(nginx.log().last()));
    }

    void contentRangeIsRead_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        QTest::addColumn<qint64>("complete");
        QTest::newRow("rest") << QByteArray("bytes 30000-99999/100000") << true << qint64(30000)
                              << qint64(99999) << qint64(100000);
        QTest::newRow("unknown length")
            << QByteArray("bytes 5-9/*") << true << qint64(5) << qint64(9) << qint64(-1);
        QTest::newRow("end past the length")
            << QByteArray("bytes 0-100/100") << false << qint64(0) << qint64(0) << qint64(0);
        QTest::newRow("unsatisfied")
            << QByteArray("bytes */100") << false << qint64(0) << qint64(0) << qint64(0);
        QTest::newRow("other unit")
            << QByteArray("items 0-1/2") << false << qint64(0) << qint64(0) << qint64(0);
    }
    void contentRangeIsRead()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, ok);
        qint64 first = 0;
        qint64 last = 0;
        qint64 complete = 0;
        QCOMPARE(parseContentRange(value, &first, &last, &complete), ok);
        if (ok) {
            QTEST(first, "first");
            QTEST(last, "last");
            QTEST(complete, "complete");
        }
    }
};

QTEST_GUILESS_MAIN(TestPartResume)
#include "test_part_resume.moc"
