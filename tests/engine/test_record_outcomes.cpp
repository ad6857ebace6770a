// How a record ends, and why, as both download methods report it: each row
// meets a real server on 127.0.0.1 or a real file system and checks the
// record's state, its outcome and the reason the system gave.

#include "engine/download_engine.h"
#include "engine/requeue.h"
#include "support/as_nobody.h"
#include "support/engine_fixture.h"
#include "support/file_size_limit.h"
#include "support/loopback_http_server.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTest>

#include <optional>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumen;
using namespace lumen::test;
using Route = LoopbackHttpServer::Route;

namespace
{

const QByteArray ErrorPage = "<html><head><title>Error</title></head><body>no such paper</body>"
                             "</html>";

enum class Folder {
    Plain,    // the fixture's own folder
    Full,     // a file system of 64 KiB, too small for the body
    ReadOnly, // a folder its user may not write in
};

// A port on 127.0.0.1 that nothing listens on.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// A tmpfs of the given size mounted on a folder of its own, unmounted when
// it goes.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const QString &where) : m_path(where)
    {
        QDir().mkpath(m_path);
        const QByteArray path = QFile::encodeName(m_path);
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    QString m_path;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

Q_DECLARE_METATYPE(Folder)
Q_DECLARE_METATYPE(Route)

class TestRecordOutcomes : public QObject
{
    Q_OBJECT

private slots:
    void outcomeAndReason_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<Route>("route"); // status -1: no server on the port
        QTest::addColumn<Folder>("folder");
        QTest::addColumn<DownloadState>("state");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("reason"); // contained in the record's reason
        QTest::addColumn<bool>("requested"); // a request reached the server

        Route document = LoopbackHttpServer::body(pdfBytes(5016));
        Route refused;
        refused.status = -1;
        Route cut = LoopbackHttpServer::body(pdfBytes(100000));
        cut.sendFirst = 30000;
        cut.then = Route::Then::Drop;
        Route notFound = LoopbackHttpServer::body(ErrorPage, "text/html");
        notFound.status = 404;
        Route serverError = notFound;
        serverError.status = 500;
        Route signIn = LoopbackHttpServer::body(ErrorPage, "text/html");
        Route large = LoopbackHttpServer::body(pdfBytes(200000));
        Route tooLarge = LoopbackHttpServer::body(pdfBytes(2 * 1024 * 1024));
        Route untyped = LoopbackHttpServer::body(pdfBytes(5016), "application/octet-stream");

        const auto S = [](DownloadState s) { return s; };
        for (int method : {1, 2}) {
            const auto row = [&](const char *what) -> QTestData & {
                return QTest::addRow("%s, method %d", what, method) << method;
            };
            row("document") << "paper"
                            << "pdf" << document << Folder::Plain << S(DownloadState::Finished)
                            << Outcome::Document << QString() << true;
            row("closed port") << "paper"
                               << "pdf" << refused << Folder::Plain << S(DownloadState::Failed)
                               << Outcome::Failed << "Connection refused" << false;
            row("cut body") << "paper"
                            << "pdf" << cut << Folder::Plain << S(DownloadState::Failed)
                            << Outcome::Failed << "body ended at 30000 of 100000 bytes" << true;
            row("404 page") << "paper"
                            << "pdf" << notFound << Folder::Plain << S(DownloadState::Finished)
                            << Outcome::WebPage << "HTTP 404 Not Found" << true;
            row("500 page") << "paper"
                            << "pdf" << serverError << Folder::Plain << S(DownloadState::Finished)
                            << Outcome::WebPage << "HTTP 500 Internal Server Error" << true;
            row("sign-in page") << "paper"
                                << "pdf" << signIn << Folder::Plain << S(DownloadState::Finished)
                                << Outcome::WebPage << "HTTP 200 OK" << true;
            row("full disk") << "paper"
                             << "pdf" << large << Folder::Full << S(DownloadState::Failed)
                             << Outcome::Failed << "No space left on device" << true;
            row("read-only folder")
                << "paper"
                << "pdf" << document << Folder::ReadOnly << S(DownloadState::Failed)
                << Outcome::Failed << "Permission denied" << (method == 1);
            row("name empty once cleaned")
                << "?*:|"
                << "pdf" << document << Folder::Plain << S(DownloadState::Failed) << Outcome::Failed
                << "the name is empty" << false;
            // Method one asks first: the answer's type could still name one.
            row("type that is no extension")
                << "paper"
                << "a/b" << untyped << Folder::Plain << S(DownloadState::Failed) << Outcome::Failed
                << "the type \"a/b\" cannot be a file extension" << (method == 1);
            row("over the size limit")
                << "paper"
                << "pdf" << tooLarge << Folder::Plain << S(DownloadState::Finished)
                << Outcome::SkippedTooLarge << "over the size limit of 1 MB" << true;
        }
    }
    void outcomeAndReason()
    {
        QFETCH(int, method);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(Route, route);
        QFETCH(Folder, folder);
        QFETCH(DownloadState, state);
        QFETCH(Outcome, outcome);
        QFETCH(QString, reason);
        QFETCH(bool, requested);
        if (folder == Folder::ReadOnly)
            LUMEN_RUN_AS_NOBODY_UNDER_ROOT();

        EngineFixture f;
        QString saveFolder = f.folder();
        std::unique_ptr<SmallFileSystem> small;
        std::optional<lumen::test::FileSizeLimit> fileSizeLimit;
        if (folder == Folder::Full && permissionsBindUs()) {
            // Only root mounts the small file system; anyone else meets the
            // same refused write through a file-size limit.
            fileSizeLimit.emplace(64 * 1024);
            reason = QStringLiteral("File too large");
        } else if (folder == Folder::Full) {
            small = std::make_unique<SmallFileSystem>(f.path("small"));
            QVERIFY2(small->mounted(), qPrintable(small->error()));
            saveFolder = f.path("small") + QLatin1Char('/');
        } else if (folder == Folder::ReadOnly) {
            QVERIFY(QDir().mkpath(f.path("locked")));
            QVERIFY(::chmod(QFile::encodeName(f.path("locked")).constData(), 0555) == 0);
            saveFolder = f.path("locked") + QLatin1Char('/');
        }

        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/a", route);
        const QString url = route.status < 0
                                ? QStringLiteral("http://127.0.0.1:%1/a").arg(closedPort())
                                : server.url("/a");
        const quint64 id = f.list.at(f.list.append(url, name, type, saveFolder, QString())).id;

        f.engine->setDownloadMethod(downloadMethodFromNumber(method));
        f.engine->setThreadCount(1);
        f.engine->setMaxFileSizeMB(1);
        f.engine->startDownloading();
        f.tickAfter();
        QTRY_VERIFY_WITH_TIMEOUT(f.state(id) != DownloadState::Downloading, 20000);
        QTRY_COMPARE(f.engine->countSlotInstances(), 1);
        QTRY_VERIFY(!f.engine->methodOneActive());

        const DownloadItem &it = f.rec(id);
        QCOMPARE(it.state, state);
        QCOMPARE(it.outcome, outcome);
        if (reason.isEmpty())
            QVERIFY2(it.reason.isEmpty(), qPrintable(it.reason));
        else
            QVERIFY2(it.reason.contains(reason), qPrintable(it.reason));
        QCOMPARE(server.requestCount("/a") > 0, requested);
        // A failure leaves nothing under a final name, nor a partial file.
        if (state == DownloadState::Failed || outcome == Outcome::SkippedTooLarge)
            QCOMPARE(QDir(saveFolder).entryList(QDir::Files | QDir::Hidden), QStringList{});
    }

    // Queued again, a record carries nothing of how it ended before.
    void requeueForgetsTheEnd()
    {
        EngineFixture f;
        const quint64 id = f.add(QStringLiteral("http://127.0.0.1:%1/a").arg(closedPort()), "a");
        f.engine->setDownloadMethod(DownloadMethod::SingleConnection);
        f.engine->startDownloading();
        f.tickAfter();
        QTRY_COMPARE(f.state(id), DownloadState::Failed);
        QCOMPARE(f.rec(id).outcome, Outcome::Failed);
        QVERIFY(!f.rec(id).reason.isEmpty());
        f.engine->stopDownloading();
        RequeueRecord(f.list, f.list.rowOfId(id));
        QCOMPARE(f.state(id), DownloadState::Waiting);
        QCOMPARE(f.rec(id).outcome, Outcome::None);
        QVERIFY(f.rec(id).reason.isEmpty());
    }

    // A running download stopped by the user ends as cancelled, with either
    // method; only method one writes "下载取消" into the percent column.
    void stoppingCancels_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<QString>("percent");
        QTest::newRow("method 1") << 1 << RecordText::Cancelled;
        QTest::newRow("method 2") << 2 << "1%";
    }
    void stoppingCancels()
    {
        QFETCH(int, method);
        QFETCH(QString, percent);
        EngineFixture f;
        LoopbackHttpServer server;
        QVERIFY(server.listen());
        server.setRoute("/a", LoopbackHttpServer::held(pdfBytes(100000), 1000));
        const quint64 id = f.add(server.url("/a"), "a");
        f.engine->setDownloadMethod(downloadMethodFromNumber(method));
        f.engine->setThreadCount(1);
        f.engine->startDownloading();
        f.tickAfter();
        QTRY_COMPARE(receivedColumnText(f.rec(id)), QString("1000"));
        f.engine->stopDownloading();
        QCOMPARE(f.state(id), DownloadState::Failed);
        QCOMPARE(f.rec(id).outcome, Outcome::Cancelled);
        QCOMPARE(percentColumnText(f.rec(id)), percent);
        QVERIFY(!f.rec(id).reason.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRecordOutcomes)
#include "test_record_outcomes.moc"
