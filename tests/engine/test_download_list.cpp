#include "engine/download_list.h"
#include "support/record_figures.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;

Q_DECLARE_METATYPE(lumen::Outcome)
Q_DECLARE_METATYPE(lumen::DownloadState)

using Row = std::tuple<QString, DownloadState, QString>;
using Rows = QList<Row>;

class TestDownloadList : public QObject
{
    Q_OBJECT

    static void fill(DownloadList &list, const Rows &rows)
    {
        int n = 0;
        for (const auto &[type, state, size] : rows) {
            const qint64 r =
                list.append(QStringLiteral("http://h/%1").arg(n++), QStringLiteral("n"), type,
                            QStringLiteral("/tmp/"), QString());
            list.update(r, [&](DownloadItem &it) {
                it.state = state;
                test::showFigures(it, size);
            });
        }
    }

private slots:
    void appendKeepsFieldsAndIgnoresDuplicateUrl()
    {
        DownloadList list;
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        QCOMPARE(list.append("http://a/x.pdf", "a/b:c*?d", "pdf", "/f/", "http://a/"), 0);
        QCOMPARE(list.append("http://a/y.pdf", "y", "pdf", "/f/", ""), 1);
        // Same URL again: still "done", nothing changes.
        QCOMPARE(list.append("http://a/x.pdf", "other", "caj", "/g/", ""), 0);
        QCOMPARE(list.count(), 2);
        QCOMPARE(inserted.count(), 2);
        const DownloadItem &it = list.at(0);
        QCOMPARE(it.name, QStringLiteral("abcd"));
        QCOMPARE(it.fileType, QStringLiteral("pdf"));
        QCOMPARE(it.folder, QStringLiteral("/f/"));
        QCOMPARE(it.referer, QStringLiteral("http://a/"));
        QCOMPARE(it.state, DownloadState::Waiting);
        QVERIFY(sizeColumnText(it).isEmpty() && receivedColumnText(it).isEmpty() &&
                percentColumnText(it).isEmpty() && it.baseFlag.isEmpty());
        QVERIFY(list.at(0).id != list.at(1).id);
    }

    void columnsAndCaptions()
    {
        DownloadList list;
        QCOMPARE(list.columnCount(), 8);
        const QStringList captions{"名称",   "类型",     "文件大小", "已下载数",
                                   "百分比", "保存路径", "B",        "原因"};
        for (int c = 0; c < 8; ++c)
            QCOMPARE(list.headerData(c, Qt::Horizontal).toString(), captions.at(c));
        QVERIFY(DownloadList::columnAlignment(DownloadList::SizeColumn) & Qt::AlignRight);
        QVERIFY(DownloadList::columnAlignment(DownloadList::NameColumn) & Qt::AlignLeft);
        list.append("http://a/1", "n", "pdf", "/f/", "");
        QCOMPARE(list.data(list.index(0, DownloadList::TypeColumn)).toString(),
                 QStringLiteral("pdf"));
        QCOMPARE(list.data(list.index(0, 0), DownloadList::StateRole).toInt(), 1);
    }

    void counting_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<qint64>("notDownloaded");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<qint64>("errorOrPage");
        const auto W = DownloadState::Waiting, D = DownloadState::Downloading,
                   F = DownloadState::Finished, X = DownloadState::Failed;
        QTest::newRow("empty list") << Rows{} << qint64(0) << true << qint64(0);
        QTest::newRow("one downloading among finished")
            << Rows{{"pdf", F, "1"}, {"pdf", D, "5"}, {"pdf", F, "1"}} << qint64(0) << false
            << qint64(0);
        QTest::newRow("finished HTM and failed html count once each")
            << Rows{{"HTM", F, "1"}, {"html", X, "1"}, {"pdf", X, "1"}, {"pdf", F, "1"}}
            << qint64(0) << true << qint64(3);
        // A record refused before any byte came ends with empty columns; it is
        // not waiting to be downloaded, or auto-start would restart a finished
        // list every second.
        QTest::newRow("failed and finished rows with empty columns are not waiting")
            << Rows{{"pdf", X, ""}, {"pdf", F, ""}, {"pdf", W, ""}} << qint64(1) << false
            << qint64(1);
        QTest::newRow("re-queued waiting row is not counted as not downloaded")
            << Rows{{"pdf", W, QStringLiteral("等待重新下载")}, {"pdf", W, ""}} << qint64(1)
            << false << qint64(0);
    }
    void counting()
    {
        QFETCH(Rows, rows);
        DownloadList list;
        fill(list, rows);
        QTEST(list.countNotDownloaded(), "notDownloaded");
        QTEST(list.isListFinished(), "finished");
        QTEST(list.countErrorOrPageItems(), "errorOrPage");
    }

    void statusCountsFollowEveryChange()
    {
        DownloadList list;
        for (int i = 0; i < 5; ++i)
            list.append(QStringLiteral("http://a/%1").arg(i), "n", "pdf", "/", "");
        list.setState(0, DownloadState::Finished);
        list.setState(1, DownloadState::Failed);
        list.setState(2, DownloadState::Downloading);
        list.removeRowsAt({0, 4});
        const StatusCounts c = list.statusCounts();
        QCOMPARE(c.total, 3);
        QCOMPARE(c.waiting, 1);
        QCOMPARE(c.downloading, 1);
        QCOMPARE(c.finished, 0);
        QCOMPARE(c.failed, 1);
    }

    // The counts by outcome are kept as records change, never recounted:
    // after every kind of change they must equal a count made from scratch.
    void outcomeCountsFollowEveryChange()
    {
        const auto recount = [](const DownloadList &list) {
            QList<qint64> n(8, 0);
            for (qint64 r = 0; r < list.count(); ++r)
                ++n[int(endedAs(list.at(r)))];
            return n;
        };
        const auto kept = [](const DownloadList &list) {
            const StatusCounts c = list.statusCounts();
            return QList<qint64>{0,
                                 c.documents,
                                 c.webPages,
                                 c.skippedExists,
                                 c.skippedTooLarge,
                                 c.cannotReplace,
                                 c.failures,
                                 c.cancelled};
        };
        const auto same = [&](const DownloadList &list) {
            QList<qint64> fresh = recount(list);
            fresh[0] = 0; // records that have not ended are not counted
            return kept(list) == fresh;
        };
        DownloadList list;
        for (int i = 0; i < 16; ++i)
            list.append(QStringLiteral("http://a/%1").arg(i), "n", "pdf", "/", "");
        QVERIFY(same(list));
        // Every outcome, in both states; an outcome-less end counts by its state.
        for (int i = 0; i < 16; ++i)
            list.update(i, [i](DownloadItem &it) {
                it.state = i % 2 ? DownloadState::Failed : DownloadState::Finished;
                it.outcome = Outcome(i % 8);
            });
        QVERIFY(same(list));
        QCOMPARE(list.statusCounts().documents, 4); // two Documents, two finished without one
        list.update(3, [](DownloadItem &it) { it.outcome = Outcome::WebPage; });
        list.update(4, [](DownloadItem &it) { clearProgress(it); });
        list.update(5, [](DownloadItem &it) { it.state = DownloadState::Waiting; });
        QVERIFY(same(list));
        list.removeRowsAt({0, 1, 2, 9});
        QVERIFY(same(list));
        list.removeIf([](const DownloadItem &it) { return it.outcome == Outcome::Cancelled; });
        QVERIFY(same(list));
        list.sortByColumn(DownloadList::NameColumn, Qt::DescendingOrder);
        QVERIFY(same(list));
        list.clear();
        QVERIFY(same(list));
        QCOMPARE(list.statusCounts().failures, 0);
    }

    // What the name column's tooltip and the reason column say, and which
    // records are problems.
    void outcomesAsTheListShowsThem_data()
    {
        QTest::addColumn<DownloadState>("state");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<bool>("problem");
        const auto F = DownloadState::Finished, X = DownloadState::Failed;
        QTest::newRow("document") << F << Outcome::Document << ""
                                  << "p.pdf\n文献已保存" << false;
        QTest::newRow("finished, no outcome") << F << Outcome::None << ""
                                              << "p.pdf\n文献已保存" << false;
        QTest::newRow("web page") << F << Outcome::WebPage << "HTTP 200 OK"
                                  << "p.pdf\n保存的是网页，不是文献\n原因：HTTP 200 OK" << true;
        QTest::newRow("exists") << F << Outcome::SkippedExists << "/d/p.pdf exists"
                                << "p.pdf\n已存在，跳过\n原因：/d/p.pdf exists" << false;
        QTest::newRow("too large") << F << Outcome::SkippedTooLarge << "12582912 bytes"
                                   << "p.pdf\n大文件，跳过\n原因：12582912 bytes" << true;
        QTest::newRow("cannot replace") << X << Outcome::CannotReplace << "held"
                                        << "p.pdf\n无法替换\n原因：held" << true;
        QTest::newRow("failed") << X << Outcome::Failed << "Connection refused"
                                << "p.pdf\n下载出错\n原因：Connection refused" << true;
        QTest::newRow("failed, no outcome") << X << Outcome::None << ""
                                            << "p.pdf\n下载出错" << true;
        QTest::newRow("cancelled") << X << Outcome::Cancelled << "stopped"
                                   << "p.pdf\n下载取消\n原因：stopped" << true;
        QTest::newRow("waiting") << DownloadState::Waiting << Outcome::None << ""
                                 << "p.pdf" << false;
    }
    void outcomesAsTheListShowsThem()
    {
        QFETCH(DownloadState, state);
        QFETCH(Outcome, outcome);
        QFETCH(QString, reason);
        DownloadList list;
        list.append("http://a/p", "p", "pdf", "/d/", "");
        list.update(0, [&](DownloadItem &it) {
            it.state = state;
            it.outcome = outcome;
            it.reason = reason;
        });
        QTEST(list.data(list.index(0, DownloadList::NameColumn), Qt::ToolTipRole).toString(),
              "tip");
        QCOMPARE(list.data(list.index(0, DownloadList::ReasonColumn)).toString(), reason);
        QTEST(list.data(list.index(0, 0), DownloadList::ProblemRole).toBool(), "problem");
    }

    void indexesSurviveRemoveAndReorder()
    {
        DownloadList list;
        QList<quint64> ids;
        for (int i = 0; i < 6; ++i)
            ids << list.at(list.append(QStringLiteral("http://a/%1").arg(i), "n", "pdf", "/", ""))
                       .id;
        list.removeRowsAt({1, 2, 4});
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.rowOfUrl("http://a/3"), 1);
        QCOMPARE(list.rowOfId(ids[5]), 2);
        QCOMPARE(list.rowOfId(ids[1]), -1);
        list.reorder({2, 0, 1});
        QCOMPARE(list.at(0).url, QStringLiteral("http://a/5"));
        QCOMPARE(list.rowOfId(ids[0]), 1);
        QCOMPARE(list.rowOfUrl("http://a/3"), 2);
        // A record found by id is the one written, whatever its position.
        QVERIFY(list.updateById(ids[3], [](DownloadItem &it) {
            it.size = 100;
            it.received = 50;
        }));
        QCOMPARE(percentColumnText(list.at(2)), QStringLiteral("50%"));
        // A URL change onto another record's URL is refused.
        QVERIFY(!list.update(0, [](DownloadItem &it) { it.url = "http://a/0"; }));
        QVERIFY(list.update(0, [](DownloadItem &it) { it.url = "http://b/5"; }));
        QCOMPARE(list.rowOfUrl("http://b/5"), 0);
        QCOMPARE(list.rowOfUrl("http://a/5"), -1);
    }

    void numbersAsText_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 10.0 << "10";
        QTest::newRow("half") << 0.5 << "0.5";
        QTest::newRow("small: no exponent") << 0.00001 << "0.00001";
        QTest::newRow("large: no exponent") << 1e21 << "1000000000000000000000";
    }
    void numbersAsText()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(plainDecimalText(value), text);
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), value);
        QVERIFY(ok);
    }

    void percentText_data()
    {
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing yet") << qint64(0) << qint64(5016) << "0%";
        QTest::newRow("rounded down") << qint64(3000) << qint64(5016) << "59%";
        QTest::newRow("whole") << qint64(5016) << qint64(5016) << "100%";
        QTest::newRow("past 2 GiB")
            << qint64(3) * 1024 * 1024 * 1024 << qint64(4) * 1024 * 1024 * 1024 << "75%";
    }
    void percentText()
    {
        QFETCH(qint64, received);
        QFETCH(qint64, total);
        QFETCH(QString, text);
        QCOMPARE(lumen::percentText(received, total), text);
    }

    // The three figure columns are derived from the record's numbers,
    // notes and outcome; the list shows them, and a record counts as not
    // yet downloaded exactly when all three are empty.
    void columnTextsFollowTheRecord_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("received");
        QTest::addColumn<SizeNote>("sizeNote");
        QTest::addColumn<PercentNote>("percentNote");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QStringList>("texts"); // size, received, percent
        const auto none = SizeNote::None;
        const auto plain = PercentNote::None;
        QTest::newRow("not started") << qint64(-1) << qint64(-1) << none << plain << Outcome::None
                                     << QStringList{"", "", ""};
        QTest::newRow("under way") << qint64(5016) << qint64(3000) << none << plain << Outcome::None
                                   << QStringList{"5016", "3000", "59%"};
        QTest::newRow("size announced, nothing yet")
            << qint64(5016) << qint64(-1) << none << plain << Outcome::None
            << QStringList{"5016", "", ""};
        QTest::newRow("unannounced size") << qint64(-1) << qint64(-1) << SizeNote::Unannounced
                                          << plain << Outcome::None << QStringList{"未知", "", ""};
        QTest::newRow("unannounced, then stored")
            << qint64(3001) << qint64(3001) << SizeNote::Unannounced << plain << Outcome::Document
            << QStringList{"3001", "3001", "100%"};
        QTest::newRow("waiting again hides the size")
            << qint64(5016) << qint64(-1) << SizeNote::WaitingAgain << plain << Outcome::None
            << QStringList{"等待重新下载", "", ""};
        QTest::newRow("empty body") << qint64(0) << qint64(0) << none << plain << Outcome::Failed
                                    << QStringList{"0", "0", ""};
        QTest::newRow("too large")
            << qint64(12582912) << qint64(-1) << none << plain << Outcome::SkippedTooLarge
            << QStringList{"12582912", "", "大文件，跳过"};
        QTest::newRow("exists") << qint64(16) << qint64(16) << none << plain
                                << Outcome::SkippedExists
                                << QStringList{"16", "16", "已存在，跳过"};
        QTest::newRow("cannot replace")
            << qint64(3) << qint64(3) << none << plain << Outcome::CannotReplace
            << QStringList{"3", "3", "无法替换"};
        QTest::newRow("cancelled while streaming")
            << qint64(5000) << qint64(1000) << none << PercentNote::Cancelled << Outcome::Cancelled
            << QStringList{"5000", "1000", "下载取消"};
        QTest::newRow("cancelled elsewhere keeps its progress")
            << qint64(5000) << qint64(1000) << none << plain << Outcome::Cancelled
            << QStringList{"5000", "1000", "20%"};
        QTest::newRow("file missing over the outcome")
            << qint64(16) << qint64(16) << none << PercentNote::FileMissing
            << Outcome::SkippedExists << QStringList{"16", "16", "不存在"};
        QTest::newRow("proxy unusable")
            << qint64(-1) << qint64(-1) << none << PercentNote::ProxyUnusable << Outcome::Failed
            << QStringList{"", "", "代理服务器设置有误"};
        QTest::newRow("web page") << qint64(120) << qint64(120) << none << plain << Outcome::WebPage
                                  << QStringList{"120", "120", "100%"};
    }
    void columnTextsFollowTheRecord()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, received);
        QFETCH(SizeNote, sizeNote);
        QFETCH(PercentNote, percentNote);
        QFETCH(Outcome, outcome);
        QFETCH(QStringList, texts);
        DownloadList list;
        list.append("http://a/1", "a", "pdf", "/f/", "");
        list.update(0, [&](DownloadItem &it) {
            it.size = size;
            it.received = received;
            it.sizeNote = sizeNote;
            it.percentNote = percentNote;
            it.outcome = outcome;
        });
        const QStringList shown = {
            list.data(list.index(0, DownloadList::SizeColumn)).toString(),
            list.data(list.index(0, DownloadList::ReceivedColumn)).toString(),
            list.data(list.index(0, DownloadList::PercentColumn)).toString()};
        QCOMPARE(shown, texts);
        const bool untouched = texts == QStringList{"", "", ""};
        QCOMPARE(list.countNotDownloaded(), untouched ? 1 : 0);
        // Queued again, the record shows nothing of its last download.
        list.update(0, [](DownloadItem &it) { clearProgress(it); });
        QCOMPARE(list.countNotDownloaded(), 1);
        QCOMPARE(list.at(0).outcome, Outcome::None);
    }
};

QTEST_GUILESS_MAIN(TestDownloadList)
#include "test_download_list.moc"
