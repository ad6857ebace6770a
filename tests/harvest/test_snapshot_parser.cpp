// Reading the snapshot script's answer and cutting links out of a
// serialised document, without the engine. The real engine's own reading of
// the same pages is compared in test_web_engine_browser_ui.

#include "harvest/harvest_list.h"
#include "harvest/results_parser.h"
#include "harvest/snapshot_parser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace lumen;

namespace
{

// The answer the snapshot script gives for a document.
QString answer(const QString &url, const QString &root, const QString &mode,
               const QStringList &anchors, const QStringList &inputs = {},
               const QStringList &ids = {})
{
    return QString::fromUtf8(
        QJsonDocument(QJsonArray{url, root, mode, QJsonArray::fromStringList(anchors),
                                 QJsonArray::fromStringList(inputs),
                                 QJsonArray::fromStringList(ids)})
            .toJson(QJsonDocument::Compact));
}

} // namespace

class TestSnapshotParser : public QObject
{
    Q_OBJECT
private slots:
    void wholeSnapshotsOnly_data();
    void wholeSnapshotsOnly();
    void fieldsAndEscapes();
    void linksCutFromTheRoot_data();
    void linksCutFromTheRoot();
    void countsConfirmTheCut();
    void innerMarkupOfOuter_data();
    void innerMarkupOfOuter();
    void xmlDocumentEntriesAreHarvested();
    void textArray();
};

void TestSnapshotParser::wholeSnapshotsOnly_data()
{
    // An answer that is not a whole snapshot (the page went away mid-way)
    // is no document either, never half of one.
    QTest::addColumn<QString>("json");
    QTest::newRow("empty") << "";
    QTest::newRow("cut in the root") << "[\"http://a/\",\"<html>";
    QTest::newRow("cut before the ids") << "[\"http://a/\",\"<html/>\",\"counts\",[],[]";
    QTest::newRow("no closing bracket") << "[\"http://a/\",\"<html/>\",\"counts\",[],[],[]";
    QTest::newRow("bad escape") << "[\"http://a/\\u00g1\",\"\",\"counts\",[],[],[]]";
    QTest::newRow("not texts") << "[\"http://a/\",\"\",\"counts\",[1],[],[]]";
}

void TestSnapshotParser::wholeSnapshotsOnly()
{
    QFETCH(QString, json);
    QVERIFY(!parseSnapshot(json).present);
}

void TestSnapshotParser::fieldsAndEscapes()
{
    const DocumentSnapshot s = parseSnapshot(QStringLiteral(
        "[\"http://a/\",\"<html>\\u00e4\\\"\\n\\t\\\\\\/</html>\",\"counts\",[],"
        "[\"u\",\"userid\",\"text\",\"abc\",\"\",\"\",\"submit\",\"Go\"],[\"x\",\"u\"]]"));
    QVERIFY(s.present);
    QCOMPARE(s.url, QString("http://a/"));
    QCOMPARE(s.rootOuterHtml, QString::fromUtf8("<html>\xc3\xa4\"\n\t\\/</html>"));
    QCOMPARE(s.elementIds, (QStringList{"x", "u"}));
    QCOMPARE(s.inputs.size(), 2);
    QCOMPARE(s.inputs[0].index, 0);
    QCOMPARE(s.inputs[0].name, QString("userid"));
    QCOMPARE(s.inputs[0].value, QString("abc"));
    QCOMPARE(s.inputs[1].index, 1);
    QCOMPARE(s.inputs[1].type, QString("submit"));
    QCOMPARE(s.httpErrorStatus, 0);
}

void TestSnapshotParser::linksCutFromTheRoot_data()
{
    // The root as the engine serialises it, and per link: its attribute
    // count as the page reports it; then the expected inner and outer markup.
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("counts");
    QTest::addColumn<QStringList>("inner");
    QTest::addColumn<QStringList>("outer");
    QTest::newRow("plain") << "<html><body><a href=\"/x\">x <b>y</b></a><a></a></body></html>"
                           << QStringList{"1", "0"} << QStringList{"x <b>y</b>", ""}
                           << QStringList{"<a href=\"/x\">x <b>y</b></a>", "<a></a>"};
    QTest::newRow("attribute values holding > and </a>")
        << "<html><body><a title=\"a > b &quot;c&quot; </a>\" =x=\"\" href=\"/q\">q</a>"
           "</body></html>"
        << QStringList{"3"} << QStringList{"q"}
        << QStringList{"<a title=\"a > b &quot;c&quot; </a>\" =x=\"\" href=\"/q\">q</a>"};
    QTest::newRow("comments, raw text, templates")
        << "<html><head><!-- <a href=\"/c\">c</a> --><script>var s = '<a href=\"/s\">';"
           "</script><style>a</style></head><body><template><a href=\"/t\">t</a></template>"
           "<xmp><a>x</a></xmp><a href=\"/real\">real</a></body></html>"
        << QStringList{"1"} << QStringList{"real"} << QStringList{"<a href=\"/real\">real</a>"};
    QTest::newRow("nested by script")
        << "<html><body><a href=\"/o\">o<a href=\"/i\">i</a></a></body></html>"
        << QStringList{"1", "1"} << QStringList{"o<a href=\"/i\">i</a>", "i"}
        << QStringList{"<a href=\"/o\">o<a href=\"/i\">i</a></a>", "<a href=\"/i\">i</a>"};
    QTest::newRow("self-closing in svg")
        << "<html><body><svg><a href=\"/s\"/></svg></body></html>" << QStringList{"1"}
        << QStringList{""} << QStringList{"<a href=\"/s\"/>"};
}

void TestSnapshotParser::linksCutFromTheRoot()
{
    QFETCH(QString, root);
    QFETCH(QStringList, counts);
    QFETCH(QStringList, inner);
    QFETCH(QStringList, outer);
    QStringList anchors;
    for (const QString &c : counts)
        anchors << "text"
                << "http://a/" << c;
    bool needsMarkup = true;
    const DocumentSnapshot s =
        parseSnapshot(answer("http://a/", root, "counts", anchors), &needsMarkup);
    QVERIFY(s.present);
    QVERIFY(!needsMarkup);
    QCOMPARE(s.anchors.size(), counts.size());
    for (qsizetype i = 0; i < counts.size(); ++i) {
        QCOMPARE(s.anchors[i].innerHtml, inner.at(i));
        QCOMPARE(s.anchors[i].outerHtml, outer.at(i));
        QCOMPARE(s.anchors[i].innerText, QString("text"));
    }
}

void TestSnapshotParser::countsConfirmTheCut()
{
    // Links are cut out of the root's markup only when the page's own count
    // of their attributes (or of the links) confirms the cut.
    const QString root = "<html><body><a href=\"/x\">x</a></body></html>";
    bool needsMarkup = false;
    DocumentSnapshot cut =
        parseSnapshot(answer("http://a/", root, "counts", {"x", "http://a/x", "2"}), &needsMarkup);
    QVERIFY(needsMarkup);
    QCOMPARE(cut.anchors.size(), 1);
    QCOMPARE(cut.anchors[0].innerText, QString("x"));
    QCOMPARE(cut.anchors[0].outerHtml, QString());

    cut = parseSnapshot(
        answer("http://a/", root, "counts", {"x", "http://a/x", "1", "y", "http://a/y", "0"}),
        &needsMarkup);
    QVERIFY(needsMarkup);
    QCOMPARE(cut.anchors.size(), 2);

    // Markup that does not read as the engine writes it.
    cut = parseSnapshot(answer("http://a/", "<html><body><a href=/x>x</a></body></html>", "counts",
                               {"x", "http://a/x", "1"}),
                        &needsMarkup);
    QVERIFY(needsMarkup);
}

void TestSnapshotParser::innerMarkupOfOuter_data()
{
    QTest::addColumn<QString>("outer");
    QTest::addColumn<QString>("inner");
    QTest::newRow("html") << "<a href=\"/x\">x <b>y</b></a>"
                          << "x <b>y</b>";
    QTest::newRow("no attributes") << "<a>x</a>"
                                   << "x";
    QTest::newRow("value with > and </") << "<a title=\"a > </a> b\">x</a>"
                                         << "x";
    QTest::newRow("xml: namespace on the link only")
        << "<a xmlns=\"http://www.w3.org/1999/xhtml\" href=\"/x\"><div class=\"c\">T</div><b/></a>"
        << "<div class=\"c\">T</div><b/>";
    QTest::newRow("self-closing") << "<a href=\"/e\"/>"
                                  << "";
    QTest::newRow("empty") << "<a></a>"
                           << "";
    QTest::newRow("not markup") << "text"
                                << "";
    QTest::newRow("no end tag") << "<a href=\"/x\">x"
                                << "";
    QTest::newRow("unquoted value") << "<a href=/x>x</a>"
                                    << "";
}

void TestSnapshotParser::innerMarkupOfOuter()
{
    QFETCH(QString, outer);
    QFETCH(QString, inner);
    QCOMPARE(innerHtmlOf(outer), inner);
}

void TestSnapshotParser::xmlDocumentEntriesAreHarvested()
{
    // An XHTML results page: the engine serialises a link's content on its
    // own with the namespace added to each child. Taken from the link's
    // outer markup, the result entries are found.
    const QString ns = "xmlns=\"http://www.w3.org/1999/xhtml\" ";
    const QStringList anchors = {
        "Deep sea vents",
        "http://a/items/1",
        "<a " + ns + "href=\"/items/1\"><div class=\"c-clientmarkup\">Deep sea vents</div></a>",
        "Home",
        "http://a/",
        "<a " + ns + "href=\"/\">Home</a>",
    };
    const DocumentSnapshot s =
        parseSnapshot(answer("http://a/search?q=x", "<html " + ns + "/>", "markup", anchors));
    QVERIFY(s.present);
    QCOMPARE(s.anchors.size(), 2);
    QCOMPARE(s.anchors[0].innerHtml, QString("<div class=\"c-clientmarkup\">Deep sea vents</div>"));
    HarvestList list;
    QCOMPARE(HarvestPage(s, list, QString()), qint64(1));
    QCOMPARE(list.at(0).fullTextLink, QString("http://a/items/1.pdf"));
}

void TestSnapshotParser::textArray()
{
    QCOMPARE(parseTextArray(u"[\"a\", \"b\\\"c\"]"), std::optional<QStringList>({"a", "b\"c"}));
    QCOMPARE(parseTextArray(u"[]"), std::optional<QStringList>(QStringList{}));
    QVERIFY(!parseTextArray(u"[\"a\"").has_value());
    QVERIFY(!parseTextArray(u"").has_value());
}

QTEST_GUILESS_MAIN(TestSnapshotParser)
#include "test_snapshot_parser.moc"
