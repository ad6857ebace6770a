#include "harvest/harvest_list.h"
#include "harvest/results_parser.h"
#include "support/fake_browser.h"

#include <QTest>

using namespace lumen;
using namespace lumen::test;

class TestResultsParser : public QObject
{
    Q_OBJECT
private slots:
    void entryMarkup_data();
    void entryMarkup();
    void linkText_data();
    void linkText();
    void anchors_data();
    void anchors();
    void rowFieldsAndDuplicates();
    void noDocumentOrNoEntries();
    void manyAnchors();
    void nextMarker_data();
    void nextMarker();
    void serverErrorPage_data();
    void serverErrorPage();
};

void TestResultsParser::entryMarkup_data()
{
    QTest::addColumn<QString>("innerHtml");
    QTest::addColumn<bool>("entry");
    QTest::newRow("double quotes") << R"(<div class="c-clientmarkup">T</div>)" << true;
    QTest::newRow("single quotes") << R"(<div class='c-clientmarkup'>T</div>)" << true;
    QTest::newRow("no quotes") << R"(<div class=c-clientmarkup>T</div>)" << true;
    QTest::newRow("upper-case tag and attribute")
        << R"(<DIV CLASS="C-ClientMarkup">T</DIV>)" << true;
    QTest::newRow("spaces everywhere") << R"(< div  class = " c-clientmarkup " >T</div>)" << true;
    QTest::newRow("after other markup")
        << R"(<span>x</span><div class="c-clientmarkup">T</div>)" << true;
    QTest::newRow("a partial start before the real one")
        << R"(<div class="c-client"></div><div class="c-clientmarkup">T</div>)" << true;
    QTest::newRow("second class") << R"(<div class="c-clientmarkup extra">T</div>)" << false;
    QTest::newRow("class listed second") << R"(<div class="x c-clientmarkup">T</div>)" << false;
    QTest::newRow("tab is not removed") << "<div\tclass=\"c-clientmarkup\">T</div>" << false;
    QTest::newRow("line break is not removed") << "<div\nclass=\"c-clientmarkup\">T</div>" << false;
    QTest::newRow("other element") << R"(<span class="c-clientmarkup">T</span>)" << false;
    QTest::newRow("cut short") << R"(<div class="c-clientmarkup")" << false;
    QTest::newRow("empty") << "" << false;
}

void TestResultsParser::entryMarkup()
{
    QFETCH(QString, innerHtml);
    QFETCH(bool, entry);
    QCOMPARE(isResultEntryMarkup(innerHtml), entry);
    // The matcher steps over quotes and spaces instead of removing them: it
    // must agree with removing them first.
    QString stripped = innerHtml;
    stripped.remove('"').remove('\'').remove(' ');
    QCOMPARE(stripped.contains("<divclass=c-clientmarkup>", Qt::CaseInsensitive), entry);
}

void TestResultsParser::linkText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("line");
    QTest::newRow("one line already") << "Deep sea cores"
                                      << "Deep sea cores";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blanks only") << " \t\n "
                                 << "";
    QTest::newRow("around") << "\n   Deep sea \n"
                            << "Deep sea";
    QTest::newRow("runs of every kind") << "Deep\t\tsea\r\ncores\fand  more"
                                        << "Deep sea cores and more";
    QTest::newRow("one line break alone") << "Deep\nsea"
                                          << "Deep sea";
    QTest::newRow("no-break and ideographic spaces stay")
        << QStringLiteral("Deep\u00a0sea\u3000cores \u00a0")
        << QStringLiteral("Deep\u00a0sea\u3000cores \u00a0");
}

void TestResultsParser::linkText()
{
    QFETCH(QString, text);
    QFETCH(QString, line);
    QCOMPARE(linkTextOf(text), line);
}

void TestResultsParser::anchors_data()
{
    QTest::addColumn<QString>("innerText");
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("title"); // expected row title; empty = no row
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("counted");

    QTest::newRow("plain") << "Deep sea vents"
                           << "http://h/item/abc123"
                           << "Deep sea vents"
                           << "http://h/item/abc123.pdf" << true;
    QTest::newRow("title and link trimmed") << "  Title \n"
                                            << " https://h/item/9 "
                                            << "Title"
                                            << "https://h/item/9.pdf" << true;
    QTest::newRow(".pdf appended once more") << "T"
                                             << "http://h/item/x.pdf"
                                             << "T"
                                             << "http://h/item/x.pdf.pdf" << true;
    QTest::newRow("link ending in a slash") << "T"
                                            << "http://h/item/"
                                            << "T"
                                            << "http://h/item/.pdf" << true;
    QTest::newRow("inner line break kept") << "two\nlines"
                                           << "http://h/2"
                                           << "two\nlines"
                                           << "http://h/2.pdf" << true;
    QTest::newRow("image-only link") << ""
                                     << "http://h/img"
                                     << ""
                                     << "" << false;
    QTest::newRow("blank text") << "   "
                                << "http://h/img"
                                << ""
                                << "" << false;
    QTest::newRow("no link") << "T"
                             << ""
                             << ""
                             << "" << false;
    QTest::newRow("script link") << "T"
                                 << "javascript:void(0)"
                                 << ""
                                 << "" << false;
    QTest::newRow("mail link") << "T"
                               << "mailto:a@b.c"
                               << ""
                               << "" << false;
    QTest::newRow("file link") << "T"
                               << "file:///etc/passwd"
                               << ""
                               << "" << false;
    QTest::newRow("web link without a host") << "T"
                                             << "http:///item/4"
                                             << ""
                                             << "" << false;
    QTest::newRow("scheme in capitals") << "T"
                                        << "HTTP://h/3"
                                        << "T"
                                        << "HTTP://h/3.pdf" << true;
    const QString longTitle(10000, QChar(u'长'));
    QTest::newRow("title of 10 000 characters kept whole")
        << longTitle << "http://h/long" << longTitle << "http://h/long.pdf" << true;
    QTest::newRow("title of forbidden characters only") << R"(\/:*?"<>|)"
                                                        << "http://h/odd"
                                                        << R"(\/:*?"<>|)"
                                                        << "http://h/odd.pdf" << true;
}

void TestResultsParser::anchors()
{
    QFETCH(QString, innerText);
    QFETCH(QString, href);
    QFETCH(QString, title);
    QFETCH(QString, key);
    QFETCH(bool, counted);

    DocumentSnapshot doc;
    doc.present = true;
    doc.url = "http://h/search?q=x";
    doc.anchors << FakeBrowser::resultEntry(innerText, href,
                                            R"(<img src="t.png"><div class="c-clientmarkup">)"
                                            "</div>");
    HarvestList list;
    QCOMPARE(HarvestPage(doc, list, QString()), qint64(counted ? 1 : 0));
    if (title.isEmpty()) {
        QCOMPARE(list.count(), qint64(0));
        return;
    }
    QCOMPARE(list.count(), qint64(1));
    QCOMPARE(list.at(0).title, title);
    QCOMPARE(list.at(0).fullTextLink, key);
}

void TestResultsParser::rowFieldsAndDuplicates()
{
    DocumentSnapshot doc = FakeBrowser::resultsPage(
        "http://h/search?q=x&rows=100&start=0",
        {{"A", "http://h/a"}, {"B", "http://h/b"}, {"A again", "http://h/a"}}, true);
    HarvestList list;
    // The repeated link is counted as accepted though the list keeps one row.
    QCOMPARE(HarvestPage(doc, list, "/save/here/"), qint64(3));
    QCOMPARE(list.count(), qint64(2));
    const HarvestItem &a = list.at(0);
    QCOMPARE(a.title, QString("A"));
    QCOMPARE(a.fileType, QString("pdf"));
    QCOMPARE(a.state, QString());
    QCOMPARE(a.folder, QString("/save/here/"));
    QCOMPARE(a.source, QString("搜索"));
    QCOMPARE(a.pageLink, QString("http://h/search?q=x&rows=100&start=0"));

    // The same page a second time leaves the list as it was.
    list.setState(0, HarvestText::Succeeded);
    QCOMPARE(HarvestPage(doc, list, "/elsewhere/"), qint64(3));
    QCOMPARE(list.count(), qint64(2));
    QCOMPARE(list.at(0).state, HarvestText::Succeeded);
    QCOMPARE(list.at(0).folder, QString("/save/here/"));
}

void TestResultsParser::noDocumentOrNoEntries()
{
    HarvestList list;
    list.add("old", "http://h/old.pdf", "", "pdf", "", "搜索");
    DocumentSnapshot none; // no document loaded
    none.anchors << FakeBrowser::resultEntry("ghost", "http://h/ghost");
    QCOMPARE(HarvestPage(none, list, QString()), qint64(0));
    DocumentSnapshot plain = FakeBrowser::resultsPage("http://h/", {}, false);
    plain.anchors << FakeBrowser::plainAnchor("About", "http://h/about");
    QCOMPARE(HarvestPage(plain, list, QString()), qint64(0));
    DocumentSnapshot empty;
    empty.present = true;
    QCOMPARE(HarvestPage(empty, list, QString()), qint64(0));
    QCOMPARE(list.count(), qint64(1));
}

void TestResultsParser::manyAnchors()
{
    // 50 000 anchors, every tenth a result entry, some of them broken.
    DocumentSnapshot doc;
    doc.present = true;
    doc.url = "http://h/search?q=many";
    for (int i = 0; i < 50000; ++i) {
        if (i % 10 != 0)
            doc.anchors << FakeBrowser::plainAnchor(QString("link %1").arg(i),
                                                    QString("http://h/p/%1").arg(i));
        else if (i % 1000 == 0)
            doc.anchors << FakeBrowser::resultEntry("", QString("http://h/e/%1").arg(i));
        else
            doc.anchors << FakeBrowser::resultEntry(QString("entry %1").arg(i),
                                                    QString("http://h/e/%1").arg(i));
    }
    HarvestList list;
    QCOMPARE(HarvestPage(doc, list, QString()), qint64(4950));
    QCOMPARE(list.count(), qint64(4950));
    QCOMPARE(list.at(0).title, QString("entry 10"));
    QCOMPARE(list.at(4949).fullTextLink, QString("http://h/e/49990.pdf"));
}

void TestResultsParser::nextMarker_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("outerHtml");
    QTest::addColumn<bool>("found");
    QTest::newRow("repository form")
        << "Next"
        << R"x(<a href="#" onclick="gotoNextResultSet()">Next</a>)x" << true;
    QTest::newRow("text padded, any case")
        << " NEXT\n"
        << R"x(<a href="#" onclick="GOTONEXTRESULTSET()"> NEXT</a>)x" << true;
    QTest::newRow("spaces inside the call name")
        << "next"
        << R"x(<a onclick="goto NextResult set()">next</a>)x" << true;
    QTest::newRow("text is not next")
        << "Next page"
        << R"x(<a onclick="gotoNextResultSet()">Next page</a>)x" << false;
    QTest::newRow("no call in the markup") << "Next"
                                           << R"x(<a href="?start=100">Next</a>)x" << false;
}

void TestResultsParser::nextMarker()
{
    QFETCH(QString, text);
    QFETCH(QString, outerHtml);
    QFETCH(bool, found);
    DocumentSnapshot doc =
        FakeBrowser::resultsPage("http://h/search?q=x", {{"A", "http://h/a"}}, false);
    AnchorSnapshot a;
    a.innerText = text;
    a.outerHtml = outerHtml;
    doc.anchors << a;
    QCOMPARE(hasNextPageMarker(doc), found);
}

void TestResultsParser::serverErrorPage_data()
{
    QTest::addColumn<QString>("title");  // of the one result entry
    QTest::addColumn<QString>("around"); // text of the page outside the entry
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("error");
    QTest::newRow("plain results") << "Deep sea"
                                   << "results" << 0 << false;
    QTest::newRow("error text outside") << "Deep sea"
                                        << "internal server error" << 0 << true;
    QTest::newRow("a result titled so") << "Internal Server Error in grids"
                                        << "results" << 0 << false;
    QTest::newRow("titled so, and the page says so")
        << "Internal Server Error in grids"
        << "<h1>Internal Server Error</h1>" << 0 << true;
    QTest::newRow("5xx answer") << "Deep sea"
                                << "results" << 502 << true;
    QTest::newRow("4xx answer is no server error") << "Deep sea"
                                                   << "results" << 404 << false;
}

void TestResultsParser::serverErrorPage()
{
    QFETCH(QString, title);
    QFETCH(QString, around);
    QFETCH(int, status);
    QFETCH(bool, error);
    DocumentSnapshot doc =
        FakeBrowser::resultsPage("http://h/search?q=x", {{title, "http://h/a"}}, true);
    QString body;
    for (const AnchorSnapshot &a : doc.anchors)
        body += a.outerHtml;
    doc.rootOuterHtml = "<html><body>" + around + body + "</body></html>";
    doc.httpErrorStatus = status;
    QCOMPARE(isServerErrorPage(doc), error);
}

QTEST_GUILESS_MAIN(TestResultsParser)
#include "test_results_parser.moc"
