// The copy window's run over real files in temporary folders.

#include "download_window/folder_history.h"
#include "settings/settings_store.h"
#include "support/fake_prompter.h"
#include "support/files.h"
#include "tools/cache_entry_writer.h"
#include "tools/copy_session.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lumen;

namespace
{

void setModified(const QString &path, const QDateTime &when)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestCopySession : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    test::FakePrompter m_prompter;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    FolderHistoryLocation history() const { return {path("app"), path("user")}; }

    std::unique_ptr<CopySession> session(const QString &destination, int option = 4)
    {
        auto s = std::make_unique<CopySession>(*m_settings, m_prompter, history());
        s->setDestinationText(destination);
        s->setOpIndex(option);
        return s;
    }

    // Runs to the end; false when the run never finished.
    static bool run(CopySession &s)
    {
        QSignalSpy finished(&s, &CopySession::finished);
        s.execute();
        return finished.wait(20000);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(path("src")));
        QVERIFY(QDir().mkpath(path("dst")));
        QVERIFY(QDir().mkpath(path("app")));
        m_settings = std::make_unique<SettingsStore>(path("settings.ini"));
        m_prompter.shown.clear();
    }

    void cleanup()
    {
        m_settings.reset();
        m_dir.reset();
    }

    // Each option against a same-named target that matches the source in
    // length and time, in length only, or in neither.
    void sameNameOptions_data()
    {
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("outcome"); // skipped, overwritten, numbered
        const QStringList targets{"same length and time", "same length", "different"};
        const QList<QStringList> outcomes{
            {"skipped", "skipped", "skipped"},
            {"overwritten", "overwritten", "overwritten"},
            {"numbered", "numbered", "numbered"},
            {"overwritten", "numbered", "numbered"},
            {"overwritten", "overwritten", "numbered"},
        };
        for (int option = 1; option <= 5; ++option)
            for (int t = 0; t < targets.size(); ++t)
                QTest::addRow("%d, %s", option, qPrintable(targets[t]))
                    << option << targets[t] << outcomes[option - 1][t];
        QTest::newRow("no option chosen") << 0 << "different"
                                          << "skipped";
    }

    void sameNameOptions()
    {
        QFETCH(int, option);
        QFETCH(QString, target);
        QFETCH(QString, outcome);
        const QDateTime t0 = QDateTime::currentDateTime().addDays(-3);
        test::writeFile(path("src/report.pdf"), "NEW-CONTENT");
        setModified(path("src/report.pdf"), t0);
        const QByteArray old = target == "different" ? "old" : "OLD-CONTENT";
        test::writeFile(path("dst/report.pdf"), old);
        setModified(path("dst/report.pdf"),
                    target == "same length and time" ? t0 : t0.addSecs(-60));

        auto s = session(path("dst"), option);
        s->setSources({CopySource::fromFile(path("src/report.pdf"))});
        QVERIFY(run(*s));
        QCOMPARE(m_prompter.messages(), QStringList{copy_text::Finished});

        if (outcome == "skipped") {
            QCOMPARE(filesIn(path("dst")), QStringList{"report.pdf"});
            QCOMPARE(test::readFile(path("dst/report.pdf")), old);
        } else if (outcome == "overwritten") {
            QCOMPARE(filesIn(path("dst")), QStringList{"report.pdf"});
            QCOMPARE(test::readFile(path("dst/report.pdf")), QByteArray("NEW-CONTENT"));
        } else {
            QCOMPARE(filesIn(path("dst")), QStringList({"report.pdf", "report[001].pdf"}));
            QCOMPARE(test::readFile(path("dst/report.pdf")), old);
            QCOMPARE(test::readFile(path("dst/report[001].pdf")), QByteArray("NEW-CONTENT"));
        }
        // Nothing else is left in the destination: no temporary files.
        QCOMPARE(s->failedCount(), 0);
    }

    void numberedNames_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("free");
        QTest::newRow("free already") << QStringList{} << "report.pdf"
                                      << "report.pdf";
        QTest::newRow("first number") << QStringList{"report.pdf"} << "report.pdf"
                                      << "report[001].pdf";
        QTest::newRow("next number") << QStringList{"report.pdf", "report[001].pdf"} << "report.pdf"
                                     << "report[002].pdf";
        QTest::newRow("a numbered name is renumbered")
            << QStringList{"report.pdf", "report[001].pdf"} << "report[001].pdf"
            << "report[002].pdf";
        QTest::newRow("spaces inside the brackets")
            << QStringList{"report[ 7 ].pdf"} << "report[ 7 ].pdf"
            << "report.pdf";
        QTest::newRow("no extension") << QStringList{"data"} << "data"
                                      << "data[001]";
        QTest::newRow("two dots") << QStringList{"archive.tar.gz"} << "archive.tar.gz"
                                  << "archive.tar[001].gz";
        QTest::newRow("long extension") << QStringList{"x.longextension"} << "x.longextension"
                                        << "x.longextension[001]";
        QTest::newRow("brackets are all the name") << QStringList{"[5].pdf"} << "[5].pdf"
                                                   << "[5][001].pdf";
        QTest::newRow("brackets of text") << QStringList{"a[b].pdf"} << "a[b].pdf"
                                          << "a[b][001].pdf";
        QStringList many{"n.txt"};
        for (int i = 1; i <= 999; ++i)
            many << QString("n[%1].txt").arg(i, 3, 10, QChar('0'));
        QTest::newRow("past three digits") << many << "n.txt"
                                           << "n[1000].txt";
    }

    void numberedNames()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, free);
        for (const QString &e : existing)
            test::writeFile(path("dst/" + e), "x");
        QCOMPARE(numberedFreeName(path("dst"), name), free);
    }

    // A copy made with option 4 keeps the source's time, so copying the same
    // files again overwrites them instead of piling up numbered copies.
    void copyingAgainOverwritesWithOptionFour()
    {
        test::writeFile(path("src/a.pdf"), "aaa");
        test::writeFile(path("src/b"), "bbbb");
        setModified(path("src/a.pdf"), QDateTime::currentDateTime().addYears(-1));
        for (int round = 0; round < 2; ++round) {
            auto s = session(path("dst"), 4);
            s->setSources(
                {CopySource::fromFile(path("src/a.pdf")), CopySource::fromFile(path("src/b"))});
            QVERIFY(run(*s));
            QCOMPARE(s->copiedCount(), 2);
        }
        QCOMPARE(filesIn(path("dst")), QStringList({"a.pdf", "b"}));
        QCOMPARE(QFileInfo(path("dst/a.pdf")).lastModified(),
                 QFileInfo(path("src/a.pdf")).lastModified());
    }

    // Stopping in the middle of a large file: the files before it are
    // copied, the one under way leaves nothing, the ones after it are not
    // started, and the run ends with its usual message.
    void stopInTheMiddle()
    {
        test::writeFile(path("src/1-small.txt"), "small");
        test::writeFile(path("src/2-big.bin"), QByteArray(3 * CopySession::StepBytes + 12345, 'b'));
        test::writeFile(path("src/3-after.txt"), "after");
        test::writeFile(path("dst/2-big.bin"), "the old big file");

        auto s = session(path("dst"), 2);
        s->setSources({CopySource::fromFile(path("src/1-small.txt")),
                       CopySource::fromFile(path("src/2-big.bin")),
                       CopySource::fromFile(path("src/3-after.txt"))});
        QSignalSpy running(s.get(), &CopySession::runningChanged);
        QList<qint64> stepsSeen;
        connect(s.get(), &CopySession::fileBytesCopied, this, [&](qint64 bytes) {
            stepsSeen << bytes;
            if (stepsSeen.size() == 1) {
                QCOMPARE(s->currentFile(), QString("2-big.bin"));
                QVERIFY(s->isRunning());
                s->execute(); // the stop click
            }
        });
        QVERIFY(run(*s));
        QCOMPARE(stepsSeen, QList<qint64>{CopySession::StepBytes});
        QCOMPARE(running.size(), 2);
        QVERIFY(!s->isRunning());
        QCOMPARE(s->progress(), 0);
        QCOMPARE(s->currentFile(), QString());
        QCOMPARE(filesIn(path("dst")), QStringList({"1-small.txt", "2-big.bin"}));
        QCOMPARE(test::readFile(path("dst/2-big.bin")), QByteArray("the old big file"));
        QCOMPARE(m_prompter.messages(), QStringList{copy_text::Finished});
    }

    // The stop click stops even when the box names a folder that cannot be
    // made by then: the run copies into the folder it started with.
    void stopWorksWhateverTheBoxHolds()
    {
        test::writeFile(path("src/big.bin"), QByteArray(2 * CopySession::StepBytes + 1, 'b'));
        test::writeFile(path("blocker"), "a file where a folder should be");
        auto s = session(path("dst"), 2);
        s->setSources({CopySource::fromFile(path("src/big.bin"))});
        connect(s.get(), &CopySession::fileBytesCopied, this, [&] {
            if (s->isRunning()) {
                s->setDestinationText(path("blocker/sub"));
                s->execute();
            }
        });
        QVERIFY(run(*s));
        QCOMPARE(m_prompter.messages(), QStringList{copy_text::Finished});
        QCOMPARE(s->destination(), path("dst") + "/");
        QCOMPARE(filesIn(path("dst")), QStringList{});
    }

    // An overwrite whose copy fails half-way keeps the old file: the new
    // one replaces it only once complete. The run goes on with the next file
    // and does not call itself a plain success.
    void failedOverwriteKeepsTheOldFile()
    {
        const QByteArray text(200000, 'q');
        QByteArray gz = test::gzipOf(text + QByteArray::number(qHash(text)));
        gz.truncate(gz.size() * 2 / 3);
        QVERIFY(test::cacheEntry("http://h/doc.txt", gz, "HTTP/1.1 200 OK\nContent-Encoding: gzip")
                    .writeTo(path("src/aaaa_0")));
        test::writeFile(path("src/next.txt"), "next");
        test::writeFile(path("dst/doc.txt"), "precious old version");
        const std::optional<CacheEntry> entry = readCacheEntry(path("src/aaaa_0"));
        QVERIFY(entry);

        auto s = session(path("dst"), 2);
        QSignalSpy failed(s.get(), &CopySession::fileFailed);
        s->setSources(
            {CopySource::fromCacheEntry(*entry), CopySource::fromFile(path("src/next.txt"))});
        QVERIFY(run(*s));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), path("src/aaaa_0"));
        QCOMPARE(filesIn(path("dst")), QStringList({"doc.txt", "next.txt"}));
        QCOMPARE(test::readFile(path("dst/doc.txt")), QByteArray("precious old version"));
        QCOMPARE(m_prompter.shown.size(), 1);
        QCOMPARE(m_prompter.shown[0].text, copy_text::Finished + "\n" + copy_text::failedLine(1));
        QCOMPARE(m_prompter.shown[0].icon, Prompter::Icon::Warning);
    }

    // Cache entries come out decoded, under the names their URLs give.
    void cacheEntriesAreWrittenAsDocuments()
    {
        const QByteArray pdf = "%PDF-1.4 a document\n%%EOF\n";
        QVERIFY(test::cacheEntry("http://h/items/20.pdf?x=1", pdf, "HTTP/1.1 200 OK")
                    .writeTo(path("src/aaaa_0")));
        QVERIFY(test::cacheEntry("http://h/", test::gzipOf("<html>root</html>"),
                                 "HTTP/1.1 200 OK\nContent-Encoding: gzip")
                    .writeTo(path("src/bbbb_0")));
        QList<CopySource> sources;
        for (const CacheEntry &e : listCacheEntries(path("src")))
            sources << CopySource::fromCacheEntry(e);
        auto s = session(path("dst"), 4);
        s->setSources(sources);
        QCOMPARE(s->caption(), QString("复制文件：2 个文件..."));
        QVERIFY(run(*s));
        QCOMPARE(filesIn(path("dst")), QStringList({"20.pdf", "h"}));
        QCOMPARE(test::readFile(path("dst/20.pdf")), pdf);
        QCOMPARE(test::readFile(path("dst/h")), QByteArray("<html>root</html>"));
        // Listed sizes match, so option 4 overwrites on a second copy.
        QVERIFY(run(*s));
        QCOMPARE(filesIn(path("dst")), QStringList({"20.pdf", "h"}));
    }

    void destinationEqualToTheSourceFolder()
    {
        test::writeFile(path("src/a.pdf"), "a");
        test::writeFile(path("src/b.pdf"), "b");
        auto s = session(path("src") + "/", 3);
        s->setSources(
            {CopySource::fromFile(path("src/a.pdf")), CopySource::fromFile(path("src/b.pdf"))});
        QVERIFY(run(*s));
        QCOMPARE(filesIn(path("src")), QStringList({"a.pdf", "b.pdf"}));
        QCOMPARE(s->copiedCount(), 0);
        QCOMPARE(m_prompter.messages(), QStringList{copy_text::Finished});
    }

    // Sources gone before the run are dropped; with none left there is no
    // run and no message.
    void vanishedSourcesAreDropped()
    {
        test::writeFile(path("src/a.pdf"), "a");
        auto s = session(path("dst"));
        s->setSources(
            {CopySource::fromFile(path("src/a.pdf")), CopySource::fromFile(path("src/gone.pdf"))});
        QVERIFY(run(*s));
        QCOMPARE(s->sources().size(), 1);
        QCOMPARE(filesIn(path("dst")), QStringList{"a.pdf"});

        QFile::remove(path("src/a.pdf"));
        m_prompter.shown.clear();
        QSignalSpy running(s.get(), &CopySession::runningChanged);
        s->execute();
        QVERIFY(running.isEmpty());
        QVERIFY(m_prompter.shown.isEmpty());
    }

    // A typed folder that does not exist is made, gets its separator, and
    // joins the history once; destination and option are stored.
    void destinationHistoryAndSettings()
    {
        test::writeFile(path("src/a.pdf"), "a");
        test::writeFile(path("app/SaveList.dat"), "/earlier/\r\n");
        auto s = session(path("new/sub"), 5);
        QCOMPARE(s->folderHistory(), QStringList{"/earlier/"});
        s->setSources({CopySource::fromFile(path("src/a.pdf"))});
        QVERIFY(run(*s));
        QCOMPARE(s->destinationText(), path("new/sub") + "/");
        QVERIFY(QFileInfo::exists(path("new/sub/a.pdf")));
        QCOMPARE(s->folderHistory(), QStringList({"/earlier/", path("new/sub") + "/"}));
        QCOMPARE(*LoadFolderHistory(path("app/SaveList.dat")), s->folderHistory());

        // Again, typed in other letters: the history keeps one.
        s->setDestinationText(path("NEW/sub/"));
        QVERIFY(QDir().mkpath(path("NEW/sub")));
        QVERIFY(run(*s));
        QCOMPARE(s->folderHistory().size(), 2);

        CopySession again(*m_settings, m_prompter, history());
        QCOMPARE(again.destinationText(), path("NEW/sub") + "/");
        QCOMPARE(again.opIndex(), 5);
        QCOMPARE(again.folderHistory().size(), 2);
    }

    void defaultsWithoutStoredSettings()
    {
        CopySession s(*m_settings, m_prompter, history());
        QCOMPARE(s.opIndex(), 4);
        QCOMPARE(s.destinationText(), defaultCopyMoveFolder());
        QCOMPARE(s.caption(), QString("复制文件..."));
        QVERIFY(s.folderHistory().isEmpty());
    }

    // The program's folder is the first destination only where the user's
    // files may go: an installed program's folder (/usr/bin) gives way to
    // the download folder. A destination the user chose stays.
    void firstDestination_data()
    {
        QTest::addColumn<QString>("programFolder"); // "@": this test's folder
        QTest::addColumn<QString>("stored");        // "<none>": never stored
        QTest::addColumn<QString>("expected");
        QTest::newRow("installed, default") << "/usr/bin"
                                            << "<none>"
                                            << "@/Downloads/";
        QTest::newRow("installed, stored as the default was") << "/usr/bin"
                                                              << "/usr/bin/"
                                                              << "@/Downloads/";
        QTest::newRow("installed, chosen elsewhere") << "/usr/bin"
                                                     << "@/chosen/"
                                                     << "@/chosen/";
        QTest::newRow("under /opt") << "/opt/lumenarc/bin"
                                    << "<none>"
                                    << "@/Downloads/";
        QTest::newRow("a folder of the user's") << "@/app"
                                                << "<none>"
                                                << "@/app/";
        QTest::newRow("program folder gone") << "@/gone"
                                             << "<none>"
                                             << "@/Downloads/";
    }
    void firstDestination()
    {
        QFETCH(QString, programFolder);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        const QString root = m_dir->path();
        const CopyPlaces places{programFolder.replace("@", root), path("Downloads")};
        if (stored != "<none>")
            m_settings->write(setting::CopyMoveFolder, stored.replace("@", root));
        const CopySession s(*m_settings, m_prompter, history(), places);
        QCOMPARE(s.destinationText(), expected.replace("@", root));
    }

    void systemFolders_data()
    {
        QTest::addColumn<QString>("folder"); // "@": this test's folder
        QTest::addColumn<bool>("system");
        QTest::newRow("/usr/bin") << "/usr/bin" << true;
        QTest::newRow("/usr/bin/") << "/usr/bin/" << true;
        QTest::newRow("/usr") << "/usr" << true;
        QTest::newRow("/usr/local/bin") << "/usr/local/bin/" << true;
        QTest::newRow("/bin") << "/bin" << true;
        QTest::newRow("/etc/x") << "/etc/x/" << true;
        QTest::newRow("/opt/app") << "/opt/app" << true;
        QTest::newRow("root") << "/" << true;
        QTest::newRow("unclean") << "/home/../usr/./bin" << true;
        QTest::newRow("link into /usr") << "@/link" << true;
        QTest::newRow("/usr2") << "/usr2" << false;
        QTest::newRow("/optional") << "/optional/x" << false;
        QTest::newRow("a folder of the user's") << "@/dst/" << false;
        QTest::newRow("/tmp") << "/tmp/x" << false;
        QTest::newRow("relative") << "usr/bin" << false;
        QTest::newRow("blank") << " " << false;
    }
    void systemFolders()
    {
        QFETCH(QString, folder);
        QFETCH(bool, system);
        QVERIFY(QFile::link("/usr/share", path("link")));
        QCOMPARE(isSystemFolder(folder.replace("@", m_dir->path())), system);
    }

    // A system folder is never offered again by the history, even when the
    // user (root) may copy into it; other folders join it as before.
    void systemFolderStaysOutOfTheHistory()
    {
        test::writeFile(path("app/SaveList.dat"), "/earlier/\r\n");
        auto s = session("/usr/bin/");
        s->execute(); // no files: nothing is copied, but the folder is taken
        QCOMPARE(s->destination(), QString("/usr/bin/"));
        QCOMPARE(s->folderHistory(), QStringList{"/earlier/"});
        QCOMPARE(*LoadFolderHistory(path("app/SaveList.dat")), QStringList{"/earlier/"});
        s->setDestinationText(path("dst"));
        s->execute();
        QCOMPARE(s->folderHistory(), QStringList({"/earlier/", path("dst") + "/"}));
    }

    void uncreatableDestination()
    {
        test::writeFile(path("src/a.pdf"), "a");
        test::writeFile(path("blocker"), "a file where a folder should be");
        auto s = session(path("blocker/sub"));
        s->setSources({CopySource::fromFile(path("src/a.pdf"))});
        QSignalSpy running(s.get(), &CopySession::runningChanged);
        s->execute();
        QVERIFY(running.isEmpty());
        QCOMPARE(m_prompter.messages().last(), copy_text::FolderError);
        QCOMPARE(m_prompter.shown.last().icon, Prompter::Icon::Critical);
    }

    void browseStartsNearTheDestination_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("picked"); // empty: cancelled
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("result");
        QTest::newRow("picked") << "@/dst/"
                                << "@/src"
                                << "@/"
                                << "@/src/";
        QTest::newRow("cancelled") << "@/dst"
                                   << ""
                                   << "@/"
                                   << "@/dst/";
        QTest::newRow("missing start") << "@/none/deeper/"
                                       << ""
                                       << "/"
                                       << "@/none/deeper/";
        QTest::newRow("blank") << "  "
                               << ""
                               << "/"
                               << "  /";
    }

    void browseStartsNearTheDestination()
    {
        QFETCH(QString, text);
        QFETCH(QString, picked);
        QFETCH(QString, start);
        QFETCH(QString, result);
        const QString root = m_dir->path();
        auto s = session(text.replace("@", root));
        if (!picked.isEmpty())
            m_prompter.texts.enqueue(picked.replace("@", root));
        s->browse();
        QCOMPARE(m_prompter.shown.size(), 1);
        QCOMPARE(m_prompter.shown[0].kind, QString("folder"));
        QCOMPARE(m_prompter.shown[0].title, copy_text::BrowsePrompt);
        QCOMPARE(m_prompter.shown[0].text, start.replace("@", root));
        QCOMPARE(s->destinationText(), result.replace("@", root));
    }
};

QTEST_GUILESS_MAIN(TestCopySession)
#include "test_copy_session.moc"
