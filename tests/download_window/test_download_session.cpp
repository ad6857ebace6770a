#include "download_rig.h"
#include "support/record_figures.h"

#include "download_window/disk_checks.h"
#include "engine/naming.h"
#include "engine/type_correction.h"
#include "support/as_nobody.h"

#include <QAbstractItemModelTester>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

Q_DECLARE_METATYPE(DownloadState)

namespace
{
using S = DownloadState;

const QString IdleGuardText = QStringLiteral("停止下载以后，才能执行此操作！");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// "N" for a record named N, by state letter: W waiting, D downloading,
// F finished, X failed.
S stateOf(QChar c)
{
    switch (c.unicode()) {
    case 'D':
        return S::Downloading;
    case 'F':
        return S::Finished;
    case 'X':
        return S::Failed;
    default:
        return S::Waiting;
    }
}
} // namespace

class TestDownloadSession : public QObject
{
    Q_OBJECT

private slots:
    // --- removal -------------------------------------------------------------

    void removeByCondition_data()
    {
        QTest::addColumn<QString>("states"); // one letter per record, named r0, r1, ...
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<int>("removalSignals");

        QTest::newRow("failed from F F W") << "XXW"
                                           << "failed" << QStringList{"r2"} << 1;
        QTest::newRow("failed in three runs") << "XXWXFX"
                                              << "failed" << QStringList{"r2", "r4"} << 3;
        QTest::newRow("finished, none") << "WWX"
                                        << "finished" << QStringList{"r0", "r1", "r2"} << 0;
        QTest::newRow("finished at both ends") << "FWWF"
                                               << "finished" << QStringList{"r1", "r2"} << 2;
        QTest::newRow("every row") << "XXXX"
                                   << "failed" << QStringList{} << 1;
    }
    void removeByCondition()
    {
        QFETCH(QString, states);
        QFETCH(QString, command);
        DownloadRig rig;
        QAbstractItemModelTester tester(&rig.list,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < states.size(); ++i)
            rig.add(QStringLiteral("r%1").arg(i), stateOf(states.at(i)));
        QCoreApplication::sendPostedEvents(); // the count of the appends
        QSignalSpy removed(&rig.list, &QAbstractItemModel::rowsRemoved);
        QSignalSpy count(&rig.session, &DownloadSession::countTextChanged);

        if (command == QLatin1String("failed"))
            rig.session.removeFailed();
        else
            rig.session.removeFinished();

        QTEST(rig.names(), "left");
        QTEST(int(removed.count()), "removalSignals");
        QCOMPARE(rig.session.countText(), QString::number(rig.list.count()) + "条");
        QCOMPARE(count.count(), 0); // told once the change is over
        QCoreApplication::sendPostedEvents();
        QCOMPARE(count.count(), removed.count() ? 1 : 0);
        if (removed.count())
            QCOMPARE(count.last().at(0).toString(), rig.session.countText());
        // The indexes follow: every record is found by URL and id at its row.
        for (qint64 r = 0; r < rig.list.count(); ++r) {
            QCOMPARE(rig.list.rowOfUrl(rig.list.at(r).url), r);
            QCOMPARE(rig.list.rowOfId(rig.list.at(r).id), r);
        }
        const StatusCounts c = rig.list.statusCounts();
        QCOMPARE(c.total, rig.list.count());
        QCOMPARE(c.waiting + c.downloading + c.finished + c.failed, c.total);
    }

    void removeSelectedKeepsSelectionOfOthers()
    {
        DownloadRig rig;
        QList<quint64> ids;
        for (int i = 0; i < 6; ++i)
            ids << rig.add(QStringLiteral("r%1").arg(i));
        QItemSelectionModel selection(&rig.list);
        selection.select(rig.list.index(4, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(rig.session.removeSelected({ids[0], ids[2], ids[3]}), 3);
        QCOMPARE(rig.names(), (QStringList{"r1", "r4", "r5"}));
        // The row that was selected is still selected, at its new place.
        QVERIFY(selection.isRowSelected(1, {}));
        QVERIFY(!selection.isRowSelected(0, {}));
    }

    void guardedCommandsRefuseWhileDownloading_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *c : {"removeSelected", "removeFailed", "removeFinished", "empty",
                              "shuffle", "correctTypes"})
            QTest::newRow(c) << QString::fromLatin1(c);
    }
    void guardedCommandsRefuseWhileDownloading()
    {
        QFETCH(QString, command);
        DownloadRig rig;
        const quint64 a = rig.add("a", S::Failed);
        rig.add("b", S::Finished);
        rig.engine.startDownloading();

        if (command == "removeSelected")
            rig.session.removeSelected({a});
        else if (command == "removeFailed")
            rig.session.removeFailed();
        else if (command == "removeFinished")
            rig.session.removeFinished();
        else if (command == "empty")
            rig.session.emptyList();
        else if (command == "shuffle")
            rig.session.shuffle();
        else
            QCOMPARE(rig.session.correctFileTypes(), -1);

        QCOMPARE(rig.prompter.messages(), QStringList{IdleGuardText});
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Information);
        QCOMPARE(rig.names(), (QStringList{"a", "b"}));
    }

    void emptyListAsksFirst()
    {
        DownloadRig rig;
        rig.add("a");
        rig.add("b");
        rig.prompter.answers.enqueue(Prompter::Answer::No);
        QVERIFY(!rig.session.emptyList());
        QCOMPARE(rig.list.count(), 2);
        QCOMPARE(rig.prompter.shown.last().text, DownloadSession::EmptyListQuestion);
        QCOMPARE(rig.prompter.shown.last().kind, QStringLiteral("question"));

        rig.prompter.answers.enqueue(Prompter::Answer::Yes);
        QVERIFY(rig.session.emptyList());
        QCOMPARE(rig.list.count(), 0);
        QCOMPARE(rig.session.countText(), QStringLiteral("0条"));
    }

    // --- cancel ------------------------------------------------------------------

    void cancelSelectedFailsOnlyWaiting()
    {
        DownloadRig rig;
        const quint64 w = rig.add("w");
        const quint64 d = rig.add("d", S::Downloading);
        const quint64 f = rig.add("f", S::Finished, "pdf", "10");
        const quint64 other = rig.add("other");
        QCOMPARE(rig.session.cancelSelected({w, d, f}), 1);
        QCOMPARE(rig.rec(w).state, S::Failed);
        QCOMPARE(rig.rec(w).outcome, Outcome::Cancelled);
        QVERIFY(!rig.rec(w).reason.isEmpty());
        QCOMPARE(percentColumnText(rig.rec(w)), QString()); // no download to call cancelled
        QCOMPARE(rig.rec(d).state, S::Downloading);
        QCOMPARE(rig.rec(f).state, S::Finished);
        QCOMPARE(rig.rec(other).state, S::Waiting);
        QVERIFY(rig.prompter.shown.isEmpty());
    }

    void cancelRefusedWhileBusy()
    {
        DownloadRig rig;
        const quint64 w = rig.add("w");
        rig.engine.setDownloadMethod(DownloadMethod::MultiConnection);
        rig.engine.startDownloading();
        rig.engine.monitorTick(); // method two: busy while the scheduler runs
        QVERIFY(rig.engine.downloadBusy());
        QCOMPARE(rig.session.cancelSelected({w}), 0);
        QCOMPARE(rig.prompter.messages(), QStringList{DownloadSession::CancelRefusedText});
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(rig.rec(w).state, S::Waiting);
    }

    // --- shuffle -------------------------------------------------------------------

    void shuffleSaysDoneEvenForShortLists_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0;
        QTest::newRow("one row") << 1;
    }
    void shuffleSaysDoneEvenForShortLists()
    {
        QFETCH(int, rows);
        DownloadRig rig;
        for (int i = 0; i < rows; ++i)
            rig.add(QStringLiteral("r%1").arg(i));
        QVERIFY(rig.session.shuffle());
        QCOMPARE(rig.prompter.messages(), QStringList{DownloadSession::ShuffleDoneText});
        QCOMPARE(rig.list.count(), rows);
    }

    void shuffleMovesEveryPartOfALongList()
    {
        // Drawing rows one at a time with a cap on the attempts left the
        // tail of a long list where it was; every stretch must be mixed.
        DownloadRig rig;
        constexpr int n = 50000;
        for (int i = 0; i < n; ++i)
            rig.list.append(QStringLiteral("http://127.0.0.1/%1").arg(i), QString::number(i), "pdf",
                            rig.folder(), QString());
        QSignalSpy layout(&rig.list, &QAbstractItemModel::layoutChanged);
        QVERIFY(rig.session.shuffle());
        QCOMPARE(layout.count(), 1);

        QList<bool> seen(n, false);
        int inPlace = 0;
        int tailInPlace = 0;
        for (int r = 0; r < n; ++r) {
            const int was = rig.list.at(r).name.toInt();
            QVERIFY(!seen[was]);
            seen[was] = true;
            inPlace += was == r;
            tailInPlace += r >= n - 10000 && was == r;
            QCOMPARE(rig.list.rowOfId(rig.list.at(r).id), qint64(r));
        }
        // A uniform permutation keeps about one row in place.
        QVERIFY2(inPlace < 20, qPrintable(QString::number(inPlace)));
        QVERIFY(tailInPlace < 10);
    }

    // --- sort ------------------------------------------------------------------------

    void sortByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("texts"); // column texts of records r0, r1, ...
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QStringList>("order"); // names after the last click

        const int size = DownloadList::SizeColumn;
        const int pct = DownloadList::PercentColumn;
        QTest::newRow("sizes descending as numbers")
            << size << QStringList{"900", "10000"} << 1 << QStringList{"r1", "r0"};
        QTest::newRow("sizes ascending on the second click")
            << size << QStringList{"10000", "900"} << 2 << QStringList{"r1", "r0"};
        QTest::newRow("sizes past twelve digits")
            << size << QStringList{"99", "1234567890123456", "123456789012"} << 2
            << QStringList{"r0", "r2", "r1"};
        QTest::newRow("empty, numbers, then words") << size << QStringList{"未知", "5", "", "40"}
                                                    << 2 << QStringList{"r2", "r1", "r3", "r0"};
        QTest::newRow("percent ascending")
            << pct << QStringList{"40%", "5%"} << 2 << QStringList{"r1", "r0"};
        QTest::newRow("percent with status texts")
            << pct << QStringList{"100%", "下载取消", "7%"} << 1 << QStringList{"r1", "r0", "r2"};
        QTest::newRow("names ignore case")
            << int(DownloadList::NameColumn) << QStringList{} << 2 << QStringList{"a", "B", "c"};
        QTest::newRow("equal keys keep their order")
            << size << QStringList{"5", "5", "1", "5"} << 1 << QStringList{"r0", "r1", "r3", "r2"};
    }
    void sortByColumn()
    {
        QFETCH(int, column);
        QFETCH(QStringList, texts);
        QFETCH(int, clicks);
        DownloadRig rig;
        if (texts.isEmpty()) {
            for (const char *n : {"c", "a", "B"})
                rig.add(QString::fromLatin1(n));
        }
        for (int i = 0; i < texts.size(); ++i) {
            const quint64 id = rig.add(QStringLiteral("r%1").arg(i));
            rig.list.updateById(id, [&](DownloadItem &it) {
                if (column == DownloadList::SizeColumn)
                    test::showFigures(it, texts.at(i));
                else
                    test::showFigures(it, QString(), QString(), texts.at(i));
            });
        }
        for (int i = 0; i < clicks; ++i)
            QVERIFY(rig.session.sortByColumn(column));
        QTEST(rig.names(), "order");
        // Texts are shown as they were, never padded.
        for (const DownloadItem &it : rig.list.items())
            if (!texts.isEmpty())
                QCOMPARE(column == DownloadList::SizeColumn ? sizeColumnText(it)
                                                            : percentColumnText(it),
                         texts.at(it.name.mid(1).toInt()));
    }

    void sortIsOnceAndRefusedWhileDownloading()
    {
        DownloadRig rig;
        rig.add("b");
        rig.add("a");
        QVERIFY(rig.session.sortByColumn(DownloadList::NameColumn)); // descending
        QVERIFY(rig.session.sortByColumn(DownloadList::NameColumn)); // ascending
        rig.add("0");
        QCOMPARE(rig.names(), (QStringList{"a", "b", "0"}));

        rig.engine.startDownloading();
        QVERIFY(!rig.session.sortByColumn(DownloadList::NameColumn));
        QCOMPARE(rig.prompter.messages(), QStringList{DownloadSession::SortRefusedText});
        QCOMPARE(rig.names(), (QStringList{"a", "b", "0"}));
    }

    // --- re-download -----------------------------------------------------------------

    void redownloadFilters_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("records"); // state letter + type, comma separated
        QTest::addColumn<QString>("after");   // state letter + type after the command

        QTest::newRow("failed") << "failed"
                                << "Xpdf,Fpdf,Whtm"
                                << "Wpdf,Fpdf,Whtm";
        QTest::newRow("failed html becomes xxx") << "failed"
                                                 << "XHTML"
                                                 << "Wxxx";
        QTest::newRow("web pages, xml too") << "pages"
                                            << "Fxml,Xhtm,Fpdf,Dhtml"
                                            << "Wxxx,Wxxx,Fpdf,Dhtml";
        QTest::newRow("failed and pages leave xml") << "failedAndPages"
                                                    << "Fxml,Fhtm,Xpdf"
                                                    << "Fxml,Wxxx,Wpdf";
    }
    void redownloadFilters()
    {
        QFETCH(QString, command);
        QFETCH(QString, records);
        QFETCH(QString, after);
        DownloadRig rig;
        for (const QString &r : records.split(','))
            rig.add(r, stateOf(r.at(0)), r.mid(1), r.at(0) == 'W' ? QString() : "100");
        if (command == "failed")
            rig.session.redownloadFailed();
        else if (command == "pages")
            rig.session.redownloadWebPages();
        else
            rig.session.redownloadFailedAndWebPages();
        QStringList got;
        for (const DownloadItem &it : rig.list.items())
            got << QString(QChar("?WDFX"[int(it.state)])) + it.fileType;
        QCOMPARE(got.join(','), after);
        QVERIFY(!rig.engine.isRunning());
    }

    void redownloadSmallFiles_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("requeued");
        QTest::newRow("1000") << "1000" << QStringList{"whole500", "failed1,000"};
        QTest::newRow("blank around") << " 600 " << QStringList{"whole500"};
        QTest::newRow("not a number") << "abc" << QStringList{};
        QTest::newRow("cancelled") << QString() << QStringList{};
    }
    void redownloadSmallFiles()
    {
        QFETCH(QString, answer);
        DownloadRig rig;
        const auto put = [&](const QString &name, S state, const QString &size,
                             const QString &received) {
            const quint64 id = rig.add(name, state, "pdf", size);
            rig.list.updateById(id,
                                [&](DownloadItem &it) { test::showFigures(it, size, received); });
        };
        put("whole500", S::Finished, "500", "500");
        put("part", S::Finished, "500", "400");
        put("unknown", S::Finished, "未知", "未知");
        put("failed1,000", S::Failed, "999", "999");
        put("big", S::Finished, "5000", "5000");
        put("waiting", S::Waiting, "500", "500");
        if (answer.isNull())
            rig.prompter.texts.enqueue(std::nullopt);
        else
            rig.prompter.texts.enqueue(answer);

        rig.session.redownloadSmallFiles();
        QCOMPARE(rig.prompter.shown.first().text, DownloadSession::SmallFilesPrompt);
        QStringList requeued;
        for (const DownloadItem &it : rig.list.items())
            if (it.state == S::Waiting && it.name != "waiting")
                requeued << it.name;
        QTEST(requeued, "requeued");
        QCOMPARE(rig.prompter.shown.size(), 1); // no message in any case
    }

    // --- delete files ------------------------------------------------------------------

    void deleteFilesTouchOnlyWhatTheRecordStored()
    {
        DownloadRig rig;
        const quint64 page = rig.add("page", S::Finished, "htm", "10");
        rig.writeStored(page, "<html>");
        const quint64 failed = rig.add("failed", S::Failed, "pdf", "10");
        rig.writeStored(failed);
        // Skipped because a file of that name was there already: the file is
        // the user's, not this record's.
        const quint64 skipped = rig.add("mine", S::Finished, "xml", "10");
        DownloadRig::writeBytes(rig.path("mine.xml"), "<mine/>");
        const quint64 ok = rig.add("ok", S::Finished, "pdf", "10");
        rig.writeStored(ok);

        QCOMPARE(rig.session.deleteWebPageFiles(), 1);
        QVERIFY(!QFile::exists(rig.path("page.htm")));
        QVERIFY(QFile::exists(rig.path("mine.xml")));
        QCOMPARE(rig.rec(page).state, S::Finished);
        QVERIFY(sizeColumnText(rig.rec(page)).isEmpty() &&
                percentColumnText(rig.rec(page)).isEmpty());
        QVERIFY(percentColumnText(rig.rec(skipped)).isEmpty());

        QCOMPARE(rig.session.deleteFailedFiles(), 1);
        QVERIFY(!QFile::exists(rig.path("failed.pdf")));
        QCOMPARE(rig.rec(failed).state, S::Failed);
        QVERIFY(QFile::exists(rig.path("ok.pdf")));
        QCOMPARE(percentColumnText(rig.rec(ok)), QStringLiteral("100%"));
    }

    // --- double-click --------------------------------------------------------------------

    void activateRecord()
    {
        DownloadRig rig;
        const quint64 done = rig.add("done", S::Finished, "pdf", "9");
        rig.writeStored(done);
        const quint64 gone = rig.add("gone", S::Finished, "pdf", "9");
        const quint64 failed = rig.add("failed", S::Failed, "pdf", "9");
        rig.writeStored(failed, "%PDF-partial");
        const quint64 waiting = rig.add("waiting");

        rig.session.activateRecord(done);
        QCOMPARE(rig.shell.requests, QStringList{"openFile\t" + rig.path("done.pdf")});

        rig.session.activateRecord(gone);
        QCOMPARE(rig.prompter.messages(), QStringList{DownloadSession::FileMissingText});
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(rig.rec(gone).state, S::Finished);

        rig.session.activateRecord(failed);
        QCOMPARE(rig.rec(failed).state, S::Waiting);
        QVERIFY(sizeColumnText(rig.rec(failed)).isEmpty() &&
                receivedColumnText(rig.rec(failed)).isEmpty() &&
                percentColumnText(rig.rec(failed)).isEmpty());
        QVERIFY(!QFile::exists(rig.path("failed.pdf")));
        QCOMPARE(rig.list.countNotDownloaded(), 2);

        rig.session.activateRecord(waiting);
        rig.session.activateRecord(0);
        QCOMPARE(rig.shell.requests.size(), 1);
        QCOMPARE(rig.prompter.shown.size(), 1);
    }

    // --- export ----------------------------------------------------------------------------

    void exportNames_data()
    {
        QTest::addColumn<bool>("unfinishedOnly");
        QTest::addColumn<QString>("states");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("all") << false << "FX" << QByteArray("n0\r\nn1\r\n");
        QTest::newRow("unfinished") << true << "FXWD" << QByteArray("n1\r\nn2\r\nn3\r\n");
        QTest::newRow("unfinished when all finished") << true << "FF" << QByteArray();
    }
    void exportNames()
    {
        QFETCH(bool, unfinishedOnly);
        QFETCH(QString, states);
        DownloadRig rig;
        for (int i = 0; i < states.size(); ++i)
            rig.add(QStringLiteral("n%1").arg(i), stateOf(states.at(i)));
        const QString target = rig.dir.filePath("names.txt");
        DownloadRig::writeBytes(target, "old content that is longer than the new");
        rig.prompter.texts.enqueue(target);
        QVERIFY(unfinishedOnly ? rig.session.exportUnfinishedNames()
                               : rig.session.exportAllNames());
        QTEST(readAll(target), "bytes");
        QCOMPARE(rig.prompter.shown.size(), 1);
        QCOMPARE(rig.prompter.shown.first().kind, QStringLiteral("save"));
    }

    void exportWritesUtf8AndLongNames()
    {
        DownloadRig rig;
        rig.add(QStringLiteral("中文标题"));
        const QString longName(10000, QLatin1Char('x'));
        rig.list.append("http://127.0.0.1/long", longName, "pdf", rig.folder(), QString());
        const QString target = rig.dir.filePath("names.txt");
        rig.prompter.texts.enqueue(target);
        QVERIFY(rig.session.exportAllNames());
        const QByteArray want =
            QStringLiteral("中文标题").toUtf8() + "\r\n" + rig.list.at(1).name.toUtf8() + "\r\n";
        QCOMPARE(readAll(target), want);
    }

    void exportCancelledOrEmptyDoesNothing()
    {
        DownloadRig rig;
        QVERIFY(!rig.session.exportAllNames()); // empty list: no dialog either
        QVERIFY(rig.prompter.shown.isEmpty());
        rig.add("a");
        rig.prompter.texts.enqueue(std::nullopt);
        QVERIFY(!rig.session.exportAllNames());
        QCOMPARE(rig.prompter.shown.size(), 1);
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files), QStringList{});
    }

    void exportFailureShowsTheSystemsText()
    {
        DownloadRig rig;
        rig.add("a");
        const QString target = rig.dir.filePath("no/such/folder/names.txt");
        rig.prompter.texts.enqueue(target);
        QVERIFY(!rig.session.exportAllNames());
        QCOMPARE(rig.prompter.shown.last().kind, QStringLiteral("message"));
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(!rig.prompter.shown.last().text.isEmpty());
        QVERIFY(!QFile::exists(target));
    }

    void exportIntoReadOnlyFolderLeavesNothing()
    {
        LUMEN_RUN_AS_NOBODY_UNDER_ROOT();
        DownloadRig rig;
        rig.add("a");
        const QString folder = rig.dir.filePath("ro");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QString target = folder + "/names.txt";
        QVERIFY(!QFile(folder + "/probe").open(QIODevice::WriteOnly));
        rig.prompter.texts.enqueue(target);
        QVERIFY(!rig.session.exportAllNames());
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Critical);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{});
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    }

    void copyNameIsTheCurrentRecordOnly()
    {
        DownloadRig rig;
        rig.add("a");
        const quint64 b = rig.add("b");
        QCOMPARE(rig.session.nameForClipboard(b), QStringLiteral("b"));
        QCOMPARE(rig.session.nameForClipboard(0), QString());
    }

    // --- disk checks -------------------------------------------------------------------------

    void diskChecks()
    {
        DownloadRig rig;
        const quint64 page = rig.add("page", S::Finished, "pdf", "10");
        rig.writeStored(page, "<html><head><title>login</title></head><body>x</body></html>");
        const quint64 missing = rig.add("missing", S::Finished, "pdf", "10");
        const quint64 waiting = rig.add("waiting");

        QCOMPARE(rig.session.checkFilesExist(), 2);
        QCOMPARE(percentColumnText(rig.rec(missing)), lumen::FileMissingText);
        QCOMPARE(percentColumnText(rig.rec(waiting)), lumen::FileMissingText);
        QCOMPARE(percentColumnText(rig.rec(page)), QStringLiteral("100%"));
        QVERIFY(rig.prompter.shown.isEmpty());

        QCOMPARE(rig.session.correctFileTypes(), 1);
        QCOMPARE(rig.lastMessage(), QStringLiteral("纠正文件类型：1个."));
        QCOMPARE(rig.rec(page).fileType, QStringLiteral("htm"));
        QVERIFY(QFile::exists(rig.path("page.htm")));

        DownloadRig empty;
        QCOMPARE(empty.session.correctFileTypes(), 0);
        QVERIFY(empty.prompter.shown.isEmpty());
    }

    // --- launch actions -------------------------------------------------------------------------

    void textEditorLimit_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("opened");
        QTest::newRow("exactly 2 MB") << 2097152 << true;
        QTest::newRow("one byte more") << 2097153 << false;
    }
    void textEditorLimit()
    {
        QFETCH(int, bytes);
        QFETCH(bool, opened);
        DownloadRig rig;
        const quint64 id = rig.add("t", S::Finished, "txt", QString::number(bytes));
        rig.writeStored(id, QByteArray(bytes, 'a'));
        QCOMPARE(rig.session.openInTextEditor(id), opened);
        if (opened) {
            QCOMPARE(rig.shell.requests, QStringList{"openInTextEditor\t" + rig.path("t.txt")});
            QVERIFY(rig.prompter.shown.isEmpty());
        } else {
            QVERIFY(rig.shell.requests.isEmpty());
            QCOMPARE(rig.lastMessage(), DownloadSession::TooLargeForEditorText);
        }
    }

    void launchActions()
    {
        DownloadRig rig;
        // An empty type: the file has no dot.
        const quint64 bare = rig.add("bare", S::Finished, QString(), "3");
        rig.writeStored(bare, "abc");
        const quint64 gone = rig.add("gone", S::Finished, "pdf", "3");
        const quint64 away = rig.add("away", S::Finished, "pdf", "3");
        rig.list.updateById(
            away, [&](DownloadItem &it) { it.folder = rig.dir.filePath("nowhere") + "/"; });
        DownloadRig::writeBytes(rig.path("away.pdf"), "%PDF"); // same name, other folder

        QVERIFY(rig.session.openFile(bare));
        QVERIFY(rig.session.openFolder(bare));
        QCOMPARE(rig.shell.requests, (QStringList{"openFile\t" + rig.path("bare"),
                                                  "showFileInFolder\t" + rig.path("bare")}));

        rig.shell.requests.clear();
        QVERIFY(!rig.session.openFile(gone));
        QCOMPARE(rig.lastMessage(), DownloadSession::ThisFileMissingText);
        QVERIFY(!rig.session.openInTextEditor(gone));
        QCOMPARE(rig.lastMessage(), DownloadSession::ThisFileMissingText);
        QVERIFY(rig.session.openFolder(gone)); // the folder, as the file is missing
        QCOMPARE(rig.shell.requests, QStringList{"openFolder\t" + rig.folder()});

        QVERIFY(!rig.session.openFolder(away));
        QCOMPARE(rig.lastMessage(), DownloadSession::FolderMissingText);

        rig.shell.result = false;
        QVERIFY(!rig.session.openFolder(bare));
        QCOMPARE(rig.lastMessage(), DownloadSession::OpenFailedText);

        const int shown = rig.prompter.shown.size();
        QVERIFY(!rig.session.openFile(0));
        QVERIFY(!rig.session.openFolder(0));
        QVERIFY(!rig.session.openInTextEditor(0));
        QCOMPARE(rig.prompter.shown.size(), shown);
    }

    void identifyFileType_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("pdf") << QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n")
                             << QStringLiteral("文件类型为：pdf");
        QTest::newRow("unknown") << QByteArray(4000, '\x01') << QStringLiteral("目前还无法判断。");
    }
    void identifyFileType()
    {
        QFETCH(QByteArray, bytes);
        DownloadRig rig;
        const QString p = rig.dir.filePath("some.file");
        DownloadRig::writeBytes(p, bytes);
        rig.prompter.texts.enqueue(p);
        rig.session.identifyFileType();
        QCOMPARE(rig.prompter.shown.first().kind, QStringLiteral("open"));
        QTEST(rig.lastMessage(), "message");
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Information);
        QVERIFY(QFile::exists(p));
    }

    void statusTexts()
    {
        DownloadRig rig;
        const quint64 done = rig.add("done", S::Finished, "pdf", "3");
        rig.writeStored(done);
        const quint64 missing = rig.add("missing");
        QCOMPARE(rig.session.pathTextFor(done), rig.path("done.pdf"));
        QCOMPARE(rig.session.pathTextFor(missing), QString());

        QVERIFY(rig.session.openStatusText(rig.path("done.pdf")));
        QVERIFY(rig.session.openStatusText("http://127.0.0.1/items/5"));
        QVERIFY(!rig.session.openStatusText(QStringLiteral("正在下载:done")));
        QVERIFY(!rig.session.openStatusText("file:///etc/shadow-not-here"));
        QCOMPARE(rig.shell.requests,
                 (QStringList{"openUrl\t" + QUrl::fromLocalFile(rig.path("done.pdf")).toString(),
                              "openUrl\thttp://127.0.0.1/items/5"}));
    }

    // --- URL replacement ------------------------------------------------------------------------

    void replaceInUrls_data()
    {
        QTest::addColumn<QString>("find");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("referer");

        QTest::newRow("any case") << "ABC"
                                  << "xyz" << QStringList{"http://h/xyz/1", "http://h/xyz/2"}
                                  << "http://h/xyz/";
        QTest::newRow("empty replacement deletes")
            << "abc/"
            << "" << QStringList{"http://h/1", "http://h/2"} << "http://h/";
        QTest::newRow("leading space counts")
            << " /1"
            << "X" << QStringList{"http://h/abc/1", "http://h/Abc/2"} << "http://h/ABC/";
    }
    void replaceInUrls()
    {
        QFETCH(QString, find);
        QFETCH(QString, replacement);
        DownloadRig rig;
        rig.list.append("http://h/abc/1", "one", "pdf", rig.folder(), "http://h/ABC/");
        rig.list.append("http://h/Abc/2", "two", "pdf", rig.folder(), "http://h/ABC/");
        QVERIFY(rig.session.replaceInUrls(find, replacement));
        QStringList urls;
        for (const DownloadItem &it : rig.list.items())
            urls << it.url;
        QTEST(urls, "urls");
        QTEST(rig.list.at(0).referer, "referer");
        QCOMPARE(rig.lastMessage(), DownloadSession::ReplaceDoneText);
        for (qint64 r = 0; r < rig.list.count(); ++r)
            QCOMPARE(rig.list.rowOfUrl(rig.list.at(r).url), r);
        QCOMPARE(rig.list.at(0).state, S::Waiting);
    }

    void replaceRefusals()
    {
        DownloadRig rig;
        rig.list.append("http://h/a/1", "one", "pdf", rig.folder(), "r");
        rig.list.append("http://h/b/1", "two", "pdf", rig.folder(), "r");
        rig.list.append("http://h/c/1", "three", "pdf", rig.folder(), "r");

        QVERIFY(!rig.session.replaceInUrls("   ", "x"));
        QCOMPARE(rig.lastMessage(), DownloadSession::EnterFindText);

        // b -> a makes the second record's URL the first one's: nothing changes.
        QVERIFY(!rig.session.replaceInUrls("/b/", "/a/"));
        QCOMPARE(rig.prompter.shown.last().icon, Prompter::Icon::Critical);
        QVERIFY(rig.lastMessage().contains("http://h/a/1"));
        QCOMPARE(rig.list.at(1).url, QStringLiteral("http://h/b/1"));
        QCOMPARE(rig.list.rowOfUrl("http://h/b/1"), 1);

        // A rename through an URL another record gives up in the same pass is fine.
        QVERIFY(rig.session.replaceInUrls("/1", "/1/1"));
        QVERIFY(rig.session.replaceInUrls("h/a/1/1", "h/a/1"));
        QCOMPARE(rig.list.at(0).url, QStringLiteral("http://h/a/1"));
    }

    // --- settings dialog OK ---------------------------------------------------------------------

    void settingsDialogOk_data()
    {
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("proxyOn");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<double>("limit");

        QTest::newRow("method two, no proxy") << 2 << 0 << ""
                                              << ""
                                              << "20" << QStringList{} << 20.0;
        QTest::newRow("malformed port stored")
            << 1 << 1 << "127.0.0.1"
            << "80a"
            << "10" << QStringList{DownloadSession::ProxyMalformedText} << 10.0;
        QTest::newRow("size not a number keeps the old one")
            << 2 << 0 << ""
            << ""
            << "zehn" << QStringList{DownloadSession::SizeRejectedText.arg("15")} << 15.0;
    }
    void settingsDialogOk()
    {
        QFETCH(int, method);
        QFETCH(int, proxyOn);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, size);
        QFETCH(double, limit);
        DownloadRig rig;
        rig.store.write(setting::MaxFileSizeMB, "15");
        rig.store.write(setting::DownloadMethod, "1");
        rig.session.load("1920*1080");
        rig.engine.setThreadCount(4);

        SettingsDialogValues v = rig.session.settingsDialogValues();
        QCOMPARE(v.downloadMethod, DownloadMethod::SingleConnection);
        QCOMPARE(v.maxFileSizeText, QStringLiteral("15"));
        v.downloadMethod = downloadMethodFromNumber(method);
        v.proxyEnabled = proxyOn == 1;
        v.proxyAddress = address;
        v.proxyPort = port;
        v.maxFileSizeText = size;
        rig.session.applySettingsDialog(v);

        QTEST(rig.prompter.messages(), "messages");
        QCOMPARE(rig.engine.downloadMethod(), downloadMethodFromNumber(method));
        QCOMPARE(rig.engine.threadCount(), method == 2 ? 1 : 4);
        QCOMPARE(rig.engine.maxFileSizeMB(), limit);
        QCOMPARE(rig.engine.proxyEnabled(), proxyOn == 1);
        QCOMPARE(rig.store.read(setting::DownloadMethod), QString::number(method));
        QCOMPARE(rig.store.read(setting::ProxyPort), port);
        QCOMPARE(rig.store.read(setting::MaxFileSizeMB), QString::number(limit));
    }

    // --- load and close --------------------------------------------------------------------------

    void loadAppliesStoredSettings()
    {
        DownloadRig rig;
        rig.store.write(setting::DownloadMethod, "1");
        rig.store.write(setting::ThreadIndex, "4");
        rig.store.write(setting::SameNamePolicy, QStringLiteral("覆盖"));
        rig.store.write(setting::MaxFileSizeMB, "3.5");
        const WindowPlacement p = rig.session.load("1920*1080");
        QVERIFY(p.maximised); // never closed on this screen
        QCOMPARE(rig.engine.downloadMethod(), DownloadMethod::SingleConnection);
        QCOMPARE(rig.engine.threadCount(), 1);
        QCOMPARE(rig.engine.sameNamePolicy(), SameNamePolicy::Overwrite);
        QCOMPARE(rig.engine.maxFileSizeMB(), 3.5);

        DownloadRig two;
        two.store.write(setting::ThreadIndex, "4");
        two.store.write(setting::SameNamePolicy, QStringLiteral("别的"));
        two.session.load("1920*1080");
        QCOMPARE(two.engine.downloadMethod(), DownloadMethod::MultiConnection);
        QCOMPARE(two.engine.threadCount(), 5);
        QCOMPARE(two.engine.sameNamePolicy(), SameNamePolicy::Rename);
    }

    void closeSequence_data()
    {
        QTest::addColumn<QString>("states");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<bool>("closes");
        QTest::newRow("empty list") << "" << false << false << true;
        QTest::newRow("all done") << "FX" << false << false << true;
        QTest::newRow("one waiting, no") << "FW" << true << false << false;
        QTest::newRow("one waiting, yes") << "FW" << true << true << true;
    }
    void closeSequence()
    {
        QFETCH(QString, states);
        QFETCH(bool, asks);
        QFETCH(bool, answerYes);
        QFETCH(bool, closes);
        DownloadRig rig;
        for (int i = 0; i < states.size(); ++i)
            rig.add(QStringLiteral("r%1").arg(i), stateOf(states.at(i)));
        rig.session.load("1920*1080");
        rig.engine.setSameNamePolicy(SameNamePolicy::Skip);
        rig.engine.setThreadCount(4);
        rig.prompter.answers.enqueue(answerYes ? Prompter::Answer::Yes : Prompter::Answer::No);

        const WindowGeometryState g{false, 300, 450, 9000, 6000};
        QCOMPARE(rig.session.requestClose(g, "1920*1080"), closes);
        QCOMPARE(!rig.prompter.shown.isEmpty(), asks);
        if (asks)
            QCOMPARE(rig.prompter.shown.first().text, DownloadSession::CloseQuestion);
        // Stored whatever the answer.
        QCOMPARE(rig.store.read(setting::SameNamePolicy), QStringLiteral("跳过"));
        QCOMPARE(rig.store.read(setting::DownloadMethod), QStringLiteral("2"));
        // Stored only when the window closes.
        QCOMPARE(rig.store.read(setting::ThreadIndex), closes ? QStringLiteral("3") : "2");
        QCOMPARE(rig.store.read(QStringLiteral("fFileDownload"), setting::TopKey, "-"),
                 closes ? QStringLiteral("300") : "-");
    }

    void closeWithRunningTransfersStopsThem()
    {
        DownloadRig rig;
        const quint64 w = rig.add("w");
        rig.engine.setDownloadMethod(DownloadMethod::MultiConnection);
        rig.engine.setThreadCount(1);
        rig.engine.startDownloading();
        rig.clock.advanceSeconds(2);
        rig.engine.schedulerTick();
        QCOMPARE(rig.rec(w).state, S::Downloading);
        QVERIFY(rig.session.downloadUnfinished());
        // The user answers the closing question: close anyway.
        rig.prompter.answers.enqueue(Prompter::Answer::Yes);
        QVERIFY(rig.session.requestClose({}, "1920*1080"));
        QCOMPARE(rig.prompter.shown.size(), 1);
        QVERIFY(!rig.engine.isRunning());
        QCOMPARE(rig.engine.countSlotInstances(), 1);
        QCOMPARE(rig.rec(w).state, S::Failed);
        // Nothing under the record's final name.
        QVERIFY(!QFile::exists(rig.path("w.pdf")));
    }

    void contextMenuFollowsDownloading()
    {
        DownloadRig rig;
        rig.add("a");
        auto s = rig.session.contextMenuState();
        QVERIFY(s.selectAll && s.remove && s.empty && !s.stop);
        rig.engine.startDownloading();
        s = rig.session.contextMenuState();
        QVERIFY(!s.selectAll && !s.remove && !s.empty && s.stop);
    }
};

QTEST_GUILESS_MAIN(TestDownloadSession)
#include "test_download_session.moc"
