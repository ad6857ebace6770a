// The local repository site as a client sees it: pages, full texts and
// their faults, login and Referer gating, the request log, and an HTTP layer
// that survives malformed requests, vanishing clients and many connections.

#include "lumen_build_info.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"
#include "testsite/titles.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace lumen::testsite;
using lumen::test::TestSite;

namespace
{

// ---- a client of our own for the bytes on the wire --------------------------

struct RawResponse {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QByteArray body;
    bool complete = false;     // the whole body as framed arrived
    bool serverClosed = false; // the server closed the connection

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first == name)
                return h.second;
        return {};
    }
    bool hasHeader(const QByteArray &name) const
    {
        for (const auto &h : headers)
            if (h.first == name)
                return true;
        return false;
    }
};

class RawClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    QTcpSocket &socket() { return m_socket; }
    QByteArray &buffer() { return m_buffer; }

    // Waits for more bytes; false on timeout or when the server closed.
    bool more(const QDeadlineTimer &deadline)
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState) {
            m_buffer += m_socket.readAll();
            return false;
        }
        const bool got = m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_buffer += m_socket.readAll();
        return got;
    }
    bool serverClosed() const { return m_socket.state() != QAbstractSocket::ConnectedState; }

    // Reads one response; a HEAD answer has no body. bodyLimit stops early
    // (for stalled or endless bodies).
    RawResponse read(bool head = false, int timeoutMs = 5000, qint64 bodyLimit = -1)
    {
        RawResponse r;
        const QDeadlineTimer deadline(timeoutMs);
        qsizetype end;
        while ((end = m_buffer.indexOf("\r\n\r\n")) < 0)
            if (!more(deadline) && m_buffer.indexOf("\r\n\r\n") < 0) {
                r.serverClosed = serverClosed();
                return r;
            }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);
        r.status = lines.value(0).split(' ').value(1).toInt();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray l = lines[i].trimmed();
            const qsizetype colon = l.indexOf(':');
            r.headers.append({l.left(colon).toLower(), l.mid(colon + 1).trimmed()});
        }
        if (head || r.status == 100) {
            r.complete = true;
            return r;
        }
        if (r.header("transfer-encoding") == "chunked") {
            for (;;) {
                qsizetype lineEnd;
                while ((lineEnd = m_buffer.indexOf("\r\n")) < 0)
                    if (!more(deadline) && m_buffer.indexOf("\r\n") < 0)
                        return finish(r);
                bool ok = false;
                const qint64 size = m_buffer.left(lineEnd).toLongLong(&ok, 16);
                if (!ok)
                    return finish(r);
                while (m_buffer.size() < lineEnd + 2 + size + 2)
                    if (!more(deadline) && m_buffer.size() < lineEnd + 2 + size + 2)
                        return finish(r);
                r.body += m_buffer.mid(lineEnd + 2, size);
                m_buffer.remove(0, lineEnd + 2 + size + 2);
                if (size == 0) {
                    r.complete = true;
                    return finish(r);
                }
            }
        }
        const bool haveLength = r.hasHeader("content-length");
        const qint64 length = r.header("content-length").toLongLong();
        qint64 want = haveLength ? length : std::numeric_limits<qint64>::max();
        if (bodyLimit >= 0)
            want = qMin(want, bodyLimit);
        while (m_buffer.size() < want)
            if (!more(deadline))
                break;
        r.body = m_buffer.left(want);
        m_buffer.remove(0, r.body.size());
        r.complete = haveLength && r.body.size() == length;
        return finish(r);
    }

private:
    RawResponse &finish(RawResponse &r)
    {
        r.serverClosed = serverClosed();
        return r;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

QByteArray getRequest(const QByteArray &target, const QByteArray &extra = {})
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

// ---- a client as the harvester is one ---------------------------------------

struct Fetched {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QByteArray contentType;
    QUrl finalUrl;
    QList<QNetworkReply::RawHeaderPair> headers;
};

Fetched fetch(QNetworkAccessManager &nam, const QNetworkRequest &request,
              const QByteArray *postBody = nullptr)
{
    QNetworkReply *reply = postBody ? nam.post(request, *postBody) : nam.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    Fetched f;
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.error = reply->error();
    f.body = reply->readAll();
    f.contentType = reply->rawHeader("Content-Type");
    f.finalUrl = reply->url();
    f.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return f;
}

QNetworkRequest formPost(const QUrl &url)
{
    QNetworkRequest r(url);
    r.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    return r;
}

// The harvest rule applied to page source: an anchor counts when its inner
// markup, stripped of quotes, apostrophes and spaces, holds the result-entry
// element; its title is its visible text.
struct Entry {
    int id = 0;
    QString title;
};

QString visibleText(QString html)
{
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    static const QRegularExpression ws(QStringLiteral("\\s+"));
    html.remove(tags);
    html.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
    return html.replace(ws, QStringLiteral(" ")).trimmed();
}

QString hrefOf(const QString &attributes)
{
    static const QRegularExpression re(
        QStringLiteral("href\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(attributes);
    QString h = m.captured(1) + m.captured(2) + m.captured(3);
    return h.replace(QLatin1String("&amp;"), QLatin1String("&"));
}

const QRegularExpression &anchorRe()
{
    static const QRegularExpression re(QStringLiteral("<a\\b([^>]*)>(.*?)</a>"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
    return re;
}

QList<Entry> harvest(const QString &html)
{
    QList<Entry> out;
    static const QRegularExpression idRe(QStringLiteral("^/items/(\\d+)$"));
    for (auto it = anchorRe().globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString inner = m.captured(2);
        inner.remove(QLatin1Char('"')).remove(QLatin1Char('\'')).remove(QLatin1Char(' '));
        if (!inner.contains(QLatin1String("<divclass=c-clientmarkup>"), Qt::CaseInsensitive))
            continue;
        const QString title = visibleText(m.captured(2));
        if (title.isEmpty())
            continue;
        const auto id = idRe.match(hrefOf(m.captured(1)));
        out.append({id.hasMatch() ? id.captured(1).toInt() : -1, title});
    }
    return out;
}

// The href of the "next" anchor that carries the paging marker, or empty.
QString nextPageLink(const QString &html)
{
    for (auto it = anchorRe().globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString outer = m.captured(0);
        outer.remove(QLatin1Char(' '));
        if (visibleText(m.captured(2)).toLower() == QLatin1String("next") &&
            outer.contains(QLatin1String("gotoNextresultset"), Qt::CaseInsensitive))
            return hrefOf(m.captured(1));
    }
    return {};
}

int totalCount(const QString &html)
{
    static const QRegularExpression re(QStringLiteral("class=\"total\">(\\d+)<"));
    const auto m = re.match(html);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

bool isCjk(QChar c)
{
    return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF;
}

// Checks the cross-reference table of a one-file PDF against its bytes.
bool pdfIsWellFormed(const QByteArray &pdf)
{
    if (!pdf.startsWith("%PDF-") || !pdf.endsWith("%%EOF\n"))
        return false;
    const qsizetype sx = pdf.lastIndexOf("startxref\n");
    const qint64 xref = pdf.mid(sx + 10, pdf.indexOf('\n', sx + 10) - sx - 10).toLongLong();
    if (pdf.mid(xref, 5) != "xref\n")
        return false;
    const QList<QByteArray> lines = pdf.mid(xref).split('\n');
    const int count = lines.value(1).split(' ').value(1).toInt();
    for (int obj = 1; obj < count; ++obj) {
        const qint64 at = lines.value(2 + obj).left(10).toLongLong();
        if (!pdf.mid(at).startsWith(QByteArray::number(obj) + " 0 obj"))
            return false;
    }
    return count > 1;
}

QByteArray logField(const QString &line, int i)
{
    return line.split(QLatin1Char('\t')).value(i).toUtf8();
}

} // namespace

class TestTestsite : public QObject
{
    Q_OBJECT

private:
    TestSite m_site;
    QString fetchPage(const QString &pathAndQuery)
    {
        QNetworkAccessManager nam;
        return QString::fromUtf8(fetch(nam, QNetworkRequest(m_site.url(pathAndQuery))).body);
    }
    // The log lines whose path and query is target.
    QStringList logFor(const QString &target) const
    {
        QStringList out;
        for (const QString &l : m_site.requestLog())
            if (l.section(QLatin1Char('\t'), 1, 1) == target)
                out << l;
        return out;
    }

private slots:
    void initTestCase() { QVERIFY(m_site.start()); }

    void searchPages_data();
    void searchPages();
    void allPagesWalkedByAddressAndByLink();
    void serverErrorSearch();
    void titlesOnThePage();
    void homeAndItemPages();
    void fullText_data();
    void fullText();
    void fullTextsAreWellFormedPdfs();
    void redirectIsFollowed();
    void slowBodyKeepsItsRate();
    void stallSendsNothingMoreAndKeepsTheConnection();
    void dropClosesMidBody();
    void loginGatedByAccount();
    void loginGatedByAddress();
    void refererGating_data();
    void refererGating();
    void versionFile();
    void bytesStream();
    void malformedRequests_data();
    void malformedRequests();
    void keepAlivePipeliningAndHead();
    void clientVanishingMidResponse();
    void sixteenConcurrentTransfers();
    void requestLogLines();
    void aboutDocumentsTheTable();
    void siteEndsWhenStdinClosesOrOnSignal();
};

void TestTestsite::searchPages_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("firstIndex"); // index into the matching ids
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("hasNext");

    QTest::newRow("default rows") << "q=all" << 237 << 0 << 10 << true;
    QTest::newRow("star") << "q=*&start=230" << 237 << 230 << 7 << false;
    QTest::newRow("rows=100 first") << "q=all&rows=100&start=0" << 237 << 0 << 100 << true;
    QTest::newRow("rows=100 middle") << "q=all&rows=100&start=100" << 237 << 100 << 100 << true;
    QTest::newRow("rows=100 last") << "q=all&rows=100&start=200" << 237 << 200 << 37 << false;
    QTest::newRow("rows=25 start=50") << "q=all&rows=25&start=50" << 237 << 50 << 25 << true;
    QTest::newRow("rows above 100 capped") << "q=all&rows=500" << 237 << 0 << 100 << true;
    QTest::newRow("start beyond") << "q=all&start=900" << 237 << 900 << 0 << false;
    QTest::newRow("demo") << "q=demo&rows=100" << 57 << 0 << 57 << false;
    QTest::newRow("title words") << "q=%E9%87%8F%E5%AD%90%E8%AE%A1%E7%AE%97" << -2 << 0 << -2
                                 << false;
    QTest::newRow("no match") << "q=nothing-like-this" << 0 << 0 << 0 << false;
    QTest::newRow("no query") << "" << 0 << 0 << 0 << false;
}

void TestTestsite::searchPages()
{
    QFETCH(QString, query);
    QFETCH(int, total);
    QFETCH(int, firstIndex);
    QFETCH(int, entries);
    QFETCH(bool, hasNext);

    const QString q =
        QUrl::fromPercentEncoding(query.section(QLatin1Char('&'), 0, 0).mid(2).toUtf8());
    QList<int> matching;
    for (int id = 1; id <= DefaultItemCount; ++id)
        if (matchesQuery(id, titleOf(id), q))
            matching << id;
    if (total == -2) { // a title search: whatever the corpus holds, at least one
        QVERIFY(!matching.isEmpty());
        total = int(matching.size());
        entries = qMin(10, total);
        hasNext = total > 10;
    }
    QCOMPARE(matching.size(), total);

    const QString html = fetchPage(QStringLiteral("/search?") + query);
    QCOMPARE(totalCount(html), total);
    const QList<Entry> got = harvest(html);
    QCOMPARE(got.size(), entries);
    for (int i = 0; i < entries; ++i) {
        QCOMPARE(got.at(i).id, matching.at(firstIndex + i));
        QCOMPARE(got.at(i).title, titleOf(got.at(i).id));
    }
    QCOMPARE(!nextPageLink(html).isEmpty(), hasNext);
    // The decoy "next" without the marker is on every page, also the last.
    QVERIFY(html.contains(QLatin1String("<a href=\"/about#paging\">next</a>")));
}

void TestTestsite::allPagesWalkedByAddressAndByLink()
{
    // As the harvester walks: rebuild the address with rows=100 and start + 100.
    QList<int> seen;
    int start = 0, pages = 0;
    for (;;) {
        const QString html =
            fetchPage(QStringLiteral("/search?q=all&rows=100&start=%1").arg(start));
        for (const Entry &e : harvest(html))
            seen << e.id;
        ++pages;
        if (nextPageLink(html).isEmpty() || pages > 10)
            break;
        start += 100;
    }
    QCOMPARE(pages, 3);
    QList<int> expected;
    for (int id = 1; id <= DefaultItemCount; ++id)
        expected << id;
    QCOMPARE(seen, expected);

    // And by the page's own next links, 10 rows at a time, for the demo query.
    seen.clear();
    QString link = QStringLiteral("/search?q=demo");
    pages = 0;
    while (!link.isEmpty() && pages < 20) {
        const QString html = fetchPage(link);
        for (const Entry &e : harvest(html))
            seen << e.id;
        link = nextPageLink(html);
        ++pages;
    }
    QCOMPARE(pages, 6);
    QCOMPARE(seen.size(), 57);
    for (int id : seen)
        QVERIFY(id <= 60 && behaviourOf(id) != ItemBehaviour::Stall);
    QCOMPARE(logFor(QStringLiteral("/search?q=demo&rows=10&start=50")).size(), 1);
}

void TestTestsite::serverErrorSearch()
{
    QNetworkAccessManager nam;
    const Fetched f =
        fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/search?q=servererror"))));
    QCOMPARE(f.status, 500);
    QVERIFY(f.body.contains("Internal Server Error"));
    QVERIFY(harvest(QString::fromUtf8(f.body)).isEmpty());
}

void TestTestsite::titlesOnThePage()
{
    const QString raw = fetchPage(QStringLiteral("/search?q=all&rows=100&start=0"));

    // Two-line titles: a line break inside the div, one space once shown.
    const int twoLines = 3;
    QCOMPARE(titleKindOf(twoLines), TitleKind::TwoLines);
    const QString second = twoLinesSecondPart(twoLines);
    QVERIFY(raw.contains(QStringLiteral("\n            ") + second));
    QVERIFY(titleOf(twoLines).endsWith(QLatin1Char(' ') + second));

    // Identical pairs.
    for (int id = 19; id <= DefaultItemCount; id += 20)
        QCOMPARE(titleOf(id), titleOf(id - 1));

    // Long Chinese titles.
    int longOnes = 0;
    for (int id = 1; id <= DefaultItemCount; ++id) {
        if (titleKindOf(id) != TitleKind::VeryLong)
            continue;
        ++longOnes;
        const QString t = titleOf(id);
        QVERIFY(std::all_of(t.begin(), t.end(), isCjk));
        QVERIFY2(t.size() > 125, qPrintable(QString::number(t.size())));
    }
    QCOMPARE(longOnes, 5);

    // Every character that a file name may not hold occurs in some title, and
    // the markup escapes what HTML needs escaped.
    QString forbidden;
    QSet<QString> distinct;
    for (int id = 1; id <= DefaultItemCount; ++id) {
        if (titleKindOf(id) == TitleKind::ForbiddenChars)
            forbidden += titleOf(id);
        if (titleKindOf(id) != TitleKind::Duplicate)
            distinct.insert(titleOf(id));
    }
    for (QChar c : QStringLiteral("\\/:*?\"<>|"))
        QVERIFY2(forbidden.contains(c), qPrintable(QString(c)));
    QCOMPARE(distinct.size(), DefaultItemCount - DefaultItemCount / 20);
    QVERIFY(raw.contains(QStringLiteral("&lt;综述&gt; &quot;A Review&quot;")));

    // Chinese, mixed and English titles all occur on one page.
    QSet<TitleKind> kinds;
    for (const Entry &e : harvest(raw))
        kinds.insert(titleKindOf(e.id));
    QCOMPARE(kinds.size(), 7);
}

void TestTestsite::homeAndItemPages()
{
    QNetworkAccessManager nam;
    const Fetched home = fetch(nam, QNetworkRequest(m_site.baseUrl()));
    QCOMPARE(home.status, 200);
    QVERIFY(home.body.contains("action=\"/search\""));
    QVERIFY(home.body.contains("name=\"q\""));

    const Fetched item = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/4"))));
    QCOMPARE(item.status, 200);
    QVERIFY(item.contentType.startsWith("text/html"));
    QVERIFY(QString::fromUtf8(item.body).contains(titleOf(4).toHtmlEscaped()));
    QVERIFY(item.body.contains("href=\"/items/4.pdf\""));

    for (const char *missing : {"/items/0", "/items/238", "/items/238.pdf", "/items/007",
                                "/files/999.pdf", "/nothing/here", "/items/5.PDF"}) {
        const Fetched f = fetch(nam, QNetworkRequest(m_site.url(QString::fromLatin1(missing))));
        QVERIFY2(f.status == 404, missing);
    }
}

void TestTestsite::fullText_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<QByteArray>("startsWith");

    const QByteArray pdf = "%PDF-1.4";
    auto row = [](ItemBehaviour b, int status, const QByteArray &type, bool chunked,
                  const QByteArray &start) {
        const int id = firstItemWith(b);
        QTest::addRow("%d", id) << id << status << type << chunked << start;
    };
    row(ItemBehaviour::Pdf, 200, "application/pdf", false, pdf);
    row(ItemBehaviour::Chunked, 200, "application/pdf", true, pdf);
    row(ItemBehaviour::OctetStream, 200, "application/octet-stream", false, pdf);
    row(ItemBehaviour::TextPlain, 200, "text/plain", false, pdf);
    row(ItemBehaviour::PdfCharset, 200, "application/pdf; charset=UTF-8", false, pdf);
    row(ItemBehaviour::LoginGated, 200, "text/html; charset=utf-8", false, "<!DOCTYPE html>");
    row(ItemBehaviour::ServerError, 500, "text/html; charset=utf-8", false, "<!DOCTYPE html>");
    row(ItemBehaviour::TooLarge, 200, "application/pdf", false, pdf);
    row(ItemBehaviour::Redirect, 302, "text/html; charset=utf-8", false, "<!DOCTYPE html>");
    row(ItemBehaviour::Caj, 200, "application/octet-stream", false, QByteArray("\xC8\0\0\0", 4));
    row(ItemBehaviour::Kdh, 200, "application/kdh", false, "KDH ");
    row(ItemBehaviour::Nh, 200, "application/nh", false, QByteArray("HN\0\0", 4));
    row(ItemBehaviour::NeedsReferer, 403, "text/html; charset=utf-8", false, "<!DOCTYPE html>");
    // Later ids behave as the first ones.
    QTest::addRow("105") << 105 << 200 << QByteArray("text/html; charset=utf-8") << false
                         << QByteArray("<!DOCTYPE html>");
    QTest::addRow("236") << 236 << 200 << QByteArray("application/pdf") << false << pdf;
}

void TestTestsite::fullText()
{
    QFETCH(int, id);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, chunked);
    QFETCH(QByteArray, startsWith);

    RawClient c;
    QVERIFY(c.connectTo(m_site.port()));
    c.send(getRequest("/items/" + QByteArray::number(id) + ".pdf"));
    const RawResponse r = c.read(false, 10000);
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("content-type"), contentType);
    QVERIFY(r.complete);
    QVERIFY(r.body.startsWith(startsWith));
    QCOMPARE(r.hasHeader("content-length"), !chunked);
    QCOMPARE(r.header("transfer-encoding") == "chunked", chunked);

    switch (behaviourOf(id)) {
    case ItemBehaviour::LoginGated:
        QVERIFY(r.body.contains("name=\"userid\""));
        QVERIFY(r.body.contains("name=\"password\""));
        QVERIFY(r.body.contains("type=\"submit\""));
        break;
    case ItemBehaviour::ServerError:
        QVERIFY(r.body.contains("Internal Server Error"));
        break;
    case ItemBehaviour::TooLarge:
        QCOMPARE(r.header("content-length").toLongLong(), TooLargeBytes);
        QVERIFY(TooLargeBytes > 10 * 1024 * 1024);
        QVERIFY(pdfIsWellFormed(r.body));
        break;
    case ItemBehaviour::Redirect:
        QCOMPARE(r.header("location"), "http://127.0.0.1/files/" + QByteArray::number(id) + ".pdf");
        break;
    default:
        break;
    }
    // The connection stays usable for the next request.
    QVERIFY(!r.serverClosed);
    c.send(getRequest("/PROGRAM/newver.txt"));
    QCOMPARE(c.read().status, 200);
}

void TestTestsite::fullTextsAreWellFormedPdfs()
{
    QNetworkAccessManager nam;
    QSet<qsizetype> sizes;
    for (int id : {16, 20, 36, 100, 237}) {
        const Fetched f =
            fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/%1.pdf").arg(id))));
        QCOMPARE(f.status, 200);
        QVERIFY2(pdfIsWellFormed(f.body), qPrintable(QString::number(id)));
        QVERIFY(f.body.contains("(Lumenarc item " + QByteArray::number(id) + ")"));
        QVERIFY(f.body.size() >= 2048 && f.body.size() <= 5 * 1024);
        sizes.insert(f.body.size());
    }
    QVERIFY(sizes.size() > 1);
    // The chunked body reassembles into the same file as the plain one.
    const Fetched chunked = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/1.pdf"))));
    const Fetched plain = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/files/1.pdf"))));
    QCOMPARE(chunked.body, plain.body);
    QVERIFY(pdfIsWellFormed(chunked.body));
}

void TestTestsite::redirectIsFollowed()
{
    const int id = firstItemWith(ItemBehaviour::Redirect);
    QNetworkAccessManager nam;
    const Fetched f =
        fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/%1.pdf").arg(id))));
    QCOMPARE(f.status, 200);
    QCOMPARE(f.finalUrl.path(), QStringLiteral("/files/%1.pdf").arg(id));
    QVERIFY(pdfIsWellFormed(f.body));
    QCOMPARE(logField(logFor(QStringLiteral("/items/%1.pdf").arg(id)).last(), 4), "302");
    QCOMPARE(logField(logFor(QStringLiteral("/files/%1.pdf").arg(id)).last(), 4), "200");
}

void TestTestsite::slowBodyKeepsItsRate()
{
    const int id = firstItemWith(ItemBehaviour::SlowBody);
    QNetworkAccessManager nam;
    QElapsedTimer t;
    t.start();
    const Fetched f =
        fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/%1.pdf").arg(id))));
    const qint64 ms = t.elapsed();
    QCOMPARE(f.status, 200);
    QVERIFY(pdfIsWellFormed(f.body));
    const qint64 expectedMs = f.body.size() * 1000 / SlowBodyBytesPerSecond;
    QVERIFY2(ms >= expectedMs * 8 / 10 && ms <= expectedMs + 1500,
             qPrintable(QStringLiteral("%1 ms for %2 bytes").arg(ms).arg(f.body.size())));
    QVERIFY(expectedMs < 2500); // tests that use it stay quick
}

void TestTestsite::stallSendsNothingMoreAndKeepsTheConnection()
{
    const int id = firstItemWith(ItemBehaviour::Stall);
    const QString target = QStringLiteral("/items/%1.pdf").arg(id);
    RawClient c;
    QVERIFY(c.connectTo(m_site.port()));
    c.send(getRequest(target.toLatin1()));
    const RawResponse r = c.read(false, 5000, StallAfterBytes);
    QCOMPARE(r.status, 200);
    QVERIFY(r.header("content-length").toLongLong() > StallAfterBytes);
    QCOMPARE(r.body.size(), StallAfterBytes);
    QVERIFY(r.body.startsWith("%PDF-"));

    // The log has the line as soon as the server falls silent.
    QTRY_COMPARE(logFor(target).size(), 1);
    QCOMPARE(logField(logFor(target).first(), 5), QByteArray::number(StallAfterBytes));

    QVERIFY(!c.socket().waitForReadyRead(1500));
    QVERIFY(c.buffer().isEmpty());
    QCOMPARE(c.socket().state(), QAbstractSocket::ConnectedState);
    c.socket().abort();

    // The site goes on serving.
    QNetworkAccessManager nam;
    QCOMPARE(fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/16.pdf")))).status, 200);
}

void TestTestsite::dropClosesMidBody()
{
    const int id = firstItemWith(ItemBehaviour::DropMidBody);
    RawClient c;
    QVERIFY(c.connectTo(m_site.port()));
    c.send(getRequest("/items/" + QByteArray::number(id) + ".pdf"));
    const RawResponse r = c.read(false, 5000);
    QCOMPARE(r.status, 200);
    QVERIFY(r.header("content-length").toLongLong() > DropAfterBytes);
    QCOMPARE(r.body.size(), DropAfterBytes);
    QVERIFY(!r.complete);
    QVERIFY(r.serverClosed);

    // A client library sees a failed transfer, not a short success.
    QNetworkAccessManager nam;
    const Fetched f =
        fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/%1.pdf").arg(id))));
    QVERIFY(f.error != QNetworkReply::NoError);
}

void TestTestsite::loginGatedByAccount()
{
    const QUrl gated =
        m_site.url(QStringLiteral("/items/%1.pdf").arg(firstItemWith(ItemBehaviour::LoginGated)));
    QNetworkAccessManager nam;
    Fetched f = fetch(nam, QNetworkRequest(gated));
    QCOMPARE(f.status, 200);
    QVERIFY(f.contentType.startsWith("text/html"));
    QVERIFY(f.body.contains("action=\"/login\""));

    // The form: userid and password, then the submit input.
    const Fetched form = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/login"))));
    const qsizetype user = form.body.indexOf("name=\"userid\"");
    const qsizetype pass = form.body.indexOf("name=\"password\"");
    const qsizetype submit = form.body.indexOf("type=\"submit\"");
    QVERIFY(user > 0 && user < pass && pass < submit);

    QByteArray wrong = "userid=reader&password=guess";
    f = fetch(nam, formPost(m_site.url(QStringLiteral("/login"))), &wrong);
    QCOMPARE(f.status, 200);
    QVERIFY(f.body.contains("name=\"password\""));
    QVERIFY(nam.cookieJar()->cookiesForUrl(m_site.baseUrl()).isEmpty());
    QByteArray noUser = "userid=&password=secret";
    fetch(nam, formPost(m_site.url(QStringLiteral("/login"))), &noUser);
    QVERIFY(nam.cookieJar()->cookiesForUrl(m_site.baseUrl()).isEmpty());
    QVERIFY(fetch(nam, QNetworkRequest(gated)).contentType.startsWith("text/html"));

    QByteArray right = "userid=reader&password=secret";
    f = fetch(nam, formPost(m_site.url(QStringLiteral("/login"))), &right);
    QCOMPARE(f.status, 200);
    const auto cookies = nam.cookieJar()->cookiesForUrl(gated);
    QCOMPARE(cookies.size(), 1);
    QCOMPARE(cookies.first().name(), QByteArray(SessionCookieName));

    f = fetch(nam, QNetworkRequest(gated));
    QCOMPARE(f.contentType, "application/pdf");
    QVERIFY(pdfIsWellFormed(f.body));
    const QStringList lines = logFor(gated.path());
    QCOMPARE(logField(lines.first(), 3), "no");
    QCOMPARE(logField(lines.last(), 3), "yes");

    // A cookie the site never issued opens nothing; logging out ends the session.
    QNetworkRequest forged(gated);
    forged.setRawHeader("Cookie", QByteArray(SessionCookieName) + "=0123456789abcdef");
    QNetworkAccessManager other;
    QVERIFY(fetch(other, forged).contentType.startsWith("text/html"));
    fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/logout"))));
    QVERIFY(fetch(nam, QNetworkRequest(gated)).contentType.startsWith("text/html"));
}

void TestTestsite::loginGatedByAddress()
{
    const QUrl gated = m_site.url(
        QStringLiteral("/items/%1.pdf").arg(firstItemWith(ItemBehaviour::LoginGated) + 20));
    QNetworkAccessManager nam;
    const Fetched pageF = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/iplogin"))));
    const QString page = QString::fromUtf8(pageF.body);
    static const QRegularExpression formRe(
        QStringLiteral("<form method=\"post\" action=\"([^\"]+)\">\\s*<input type=\"submit\" "
                       "id=\"submitip\""));
    const auto m = formRe.match(page);
    QVERIFY2(m.hasMatch(), qPrintable(page));

    QByteArray empty;
    const Fetched posted = fetch(nam, formPost(m_site.url(m.captured(1))), &empty);
    QCOMPARE(posted.status, 200);
    const Fetched f = fetch(nam, QNetworkRequest(gated));
    QCOMPARE(f.contentType, "application/pdf");
}

void TestTestsite::refererGating_data()
{
    QTest::addColumn<QString>("referer"); // PORT stands for the site's port
    QTest::addColumn<int>("status");
    QTest::newRow("none") << QString() << 403;
    QTest::newRow("search page") << "http://127.0.0.1:PORT/search?q=all" << 200;
    QTest::newRow("localhost") << "http://localhost:PORT/items/15" << 200;
    QTest::newRow("other port") << "http://127.0.0.1:1/search?q=all" << 403;
    QTest::newRow("other host") << "http://example.org:PORT/" << 403;
    QTest::newRow("not a url") << "PORT" << 403;
}

void TestTestsite::refererGating()
{
    QFETCH(QString, referer);
    QFETCH(int, status);
    const int id = firstItemWith(ItemBehaviour::NeedsReferer);
    referer.replace(QLatin1String("PORT"), QString::number(m_site.port()));
    QNetworkRequest request(m_site.url(QStringLiteral("/items/%1.pdf").arg(id)));
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer.toUtf8());
    QNetworkAccessManager nam;
    const Fetched f = fetch(nam, request);
    QCOMPARE(f.status, status);
    if (status == 200)
        QVERIFY(pdfIsWellFormed(f.body));
    else
        QVERIFY(f.contentType.startsWith("text/html"));
    const QString line = logFor(QStringLiteral("/items/%1.pdf").arg(id)).last();
    QCOMPARE(logField(line, 2), referer.isEmpty() ? QByteArray("-") : referer.toUtf8());
}

void TestTestsite::versionFile()
{
    QNetworkAccessManager nam;
    Fetched f = fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/PROGRAM/newver.txt"))));
    QCOMPARE(f.status, 200);
    // By default the site publishes the program's own version.
    QCOMPARE(f.body, LUMEN_VERSION_TEXT);
    QVERIFY(f.contentType.startsWith("text/plain"));
    QCOMPARE(fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/lumenarc/")))).status, 200);

    TestSite newer;
    QVERIFY(newer.start({QStringLiteral("--version"), QStringLiteral("2.0.2"),
                         QStringLiteral("--items"), QStringLiteral("12")}));
    QVERIFY(newer.port() != m_site.port());
    f = fetch(nam, QNetworkRequest(newer.url(QStringLiteral("/lumenarc/newver.txt"))));
    QCOMPARE(f.body, "2.0.2");
    QCOMPARE(totalCount(QString::fromUtf8(
                 fetch(nam, QNetworkRequest(newer.url(QStringLiteral("/search?q=all")))).body)),
             12);
    QCOMPARE(fetch(nam, QNetworkRequest(newer.url(QStringLiteral("/items/13")))).status, 404);
}

void TestTestsite::bytesStream()
{
    for (qint64 n : {qint64(0), qint64(1), qint64(251 * 256 + 7), qint64(3'000'017)}) {
        RawClient c;
        QVERIFY(c.connectTo(m_site.port()));
        c.send(getRequest("/bytes/" + QByteArray::number(n)));
        const RawResponse r = c.read(false, 10000);
        QCOMPARE(r.status, 200);
        QCOMPARE(r.header("content-length").toLongLong(), n);
        QCOMPARE(r.header("content-type"), "application/octet-stream");
        QCOMPARE(r.body.size(), n);
        for (qint64 p = 0; p < n; ++p)
            if (uchar(r.body[p]) != p % 251)
                QFAIL(qPrintable(QStringLiteral("byte %1 of %2").arg(p).arg(n)));
    }
}

void TestTestsite::malformedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("closes");

    QTest::newRow("garbage") << QByteArray("HELLO\r\n\r\n") << 400 << true;
    QTest::newRow("no host") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << true;
    QTest::newRow("header without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nBroken\r\n\r\n") << 400 << true;
    QTest::newRow("folded header")
        << QByteArray("GET / HTTP/1.1\r\nHost: a\r\nX: 1\r\n  2\r\n\r\n") << 400 << true;
    QTest::newRow("bad length")
        << QByteArray("POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: x\r\n\r\n") << 400
        << true;
    QTest::newRow("two lengths") << QByteArray("POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: "
                                               "1\r\nContent-Length: 2\r\n\r\nab")
                                 << 400 << true;
    QTest::newRow("relative target")
        << QByteArray("GET items/1 HTTP/1.1\r\nHost: a\r\n\r\n") << 400 << true;
    QTest::newRow("version 2") << QByteArray("GET / HTTP/2.0\r\nHost: a\r\n\r\n") << 505 << true;
    QTest::newRow("delete") << QByteArray("DELETE /items/1.pdf HTTP/1.1\r\nHost: a\r\n\r\n") << 405
                            << false;
    QTest::newRow("post to search") << QByteArray("POST /search?q=all HTTP/1.1\r\nHost: a\r\n"
                                                  "Content-Length: 0\r\n\r\n")
                                    << 405 << false;
    QTest::newRow("unknown path") << getRequest("/no/such/page") << 404 << false;
    QTest::newRow("huge header") << "GET / HTTP/1.1\r\nHost: a\r\nX-Big: " +
                                        QByteArray(40000, 'x') + "\r\n\r\n"
                                 << 431 << true;
    QTest::newRow("many headers") << "GET / HTTP/1.1\r\nHost: a\r\n" +
                                         QByteArray("X-A: 0123456789\r\n").repeated(3000) + "\r\n"
                                  << 431 << true;
    QTest::newRow("long target") << "GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n\r\n"
                                 << 414 << true;
    QTest::newRow("big body") << QByteArray("POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: "
                                            "50000000\r\n\r\n")
                              << 413 << true;
    QTest::newRow("chunked upload") << QByteArray("POST /login HTTP/1.1\r\nHost: a\r\n"
                                                  "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                                    << 501 << true;
}

void TestTestsite::malformedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(bool, closes);

    RawClient c;
    QVERIFY(c.connectTo(m_site.port()));
    c.send(request);
    const RawResponse r = c.read();
    QCOMPARE(r.status, status);
    QVERIFY(r.complete);
    if (status == 405)
        QVERIFY(r.header("allow").contains("GET"));
    QCOMPARE(r.header("connection"), closes ? QByteArray("close") : QByteArray("keep-alive"));
    if (closes) {
        const QDeadlineTimer deadline(3000);
        while (c.more(deadline)) {
        }
        QVERIFY(c.serverClosed());
    } else {
        c.send(getRequest("/PROGRAM/newver.txt"));
        QCOMPARE(c.read().body, LUMEN_VERSION_TEXT);
    }
}

void TestTestsite::keepAlivePipeliningAndHead()
{
    // Three requests in one write come back in order on one connection.
    RawClient c;
    QVERIFY(c.connectTo(m_site.port()));
    c.send(getRequest("/PROGRAM/newver.txt") + "HEAD /items/16.pdf HTTP/1.1\r\nHost: a\r\n\r\n" +
           getRequest("/items/1.pdf"));
    RawResponse r = c.read();
    QCOMPARE(r.body, LUMEN_VERSION_TEXT);
    r = c.read(true);
    QCOMPARE(r.status, 200);
    QVERIFY(r.header("content-length").toLongLong() > 2000);
    r = c.read();
    QVERIFY(r.complete);
    QVERIFY(pdfIsWellFormed(r.body));
    QVERIFY(c.buffer().isEmpty()); // the HEAD answer carried no body
    QVERIFY(!r.serverClosed);

    // HTTP/1.0 without keep-alive: the server closes after the answer, and
    // a chunked full text is sent unframed up to the close.
    RawClient old;
    QVERIFY(old.connectTo(m_site.port()));
    old.send("GET /items/1.pdf HTTP/1.0\r\n\r\n");
    r = old.read();
    QCOMPARE(r.status, 200);
    QVERIFY(!r.hasHeader("transfer-encoding"));
    QVERIFY(pdfIsWellFormed(r.body));
    QVERIFY(r.serverClosed);

    // Connection: close is honoured.
    RawClient closing;
    QVERIFY(closing.connectTo(m_site.port()));
    closing.send(getRequest("/", "Connection: close\r\n"));
    r = closing.read();
    QCOMPARE(r.status, 200);
    QCOMPARE(r.header("connection"), "close");
    const QDeadlineTimer deadline(3000);
    while (closing.more(deadline)) {
    }
    QVERIFY(closing.serverClosed());
}

void TestTestsite::clientVanishingMidResponse()
{
    const QString big = QStringLiteral("/bytes/4000000000");
    const QString slow =
        QStringLiteral("/items/%1.pdf").arg(firstItemWith(ItemBehaviour::SlowBody) + 20);
    for (const QString &target : {big, slow}) {
        RawClient c;
        QVERIFY(c.connectTo(m_site.port()));
        c.send(getRequest(target.toLatin1()));
        const RawResponse r = c.read(false, 5000, 200);
        QCOMPARE(r.status, 200);
        c.socket().abort();
    }
    // Both are logged with what really left, less than the whole body.
    QTRY_COMPARE(logFor(big).size(), 1);
    QTRY_COMPARE(logFor(slow).size(), 1);
    QVERIFY(logField(logFor(big).first(), 5).toLongLong() < 4000000000LL);
    QVERIFY(logField(logFor(slow).first(), 5).toLongLong() < 2048);

    // A client that sends half a request and goes.
    {
        RawClient c;
        QVERIFY(c.connectTo(m_site.port()));
        c.send("GET /items/1.pdf HTTP/1.1\r\nHo");
        c.socket().abort();
    }
    QNetworkAccessManager nam;
    QCOMPARE(fetch(nam, QNetworkRequest(m_site.url(QStringLiteral("/items/16.pdf")))).status, 200);
}

void TestTestsite::sixteenConcurrentTransfers()
{
    // Eight slow full texts and eight large streams at once: if the server
    // served one connection at a time, the slow ones alone would take over
    // ten seconds.
    struct Transfer {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray head;
        qint64 length = -1;
        qint64 received = 0;
        bool patternOk = true;
        bool pattern = false;
        qint64 doneAtMs = -1;
    };
    const qint64 streamBytes = 4 * 1024 * 1024;
    std::vector<Transfer> transfers(16);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 16; ++i) {
        Transfer &t = transfers[i];
        t.pattern = i % 2 == 1;
        t.socket = std::make_unique<QTcpSocket>();
        const QByteArray target =
            t.pattern
                ? "/bytes/" + QByteArray::number(streamBytes)
                : "/items/" +
                      QByteArray::number(firstItemWith(ItemBehaviour::SlowBody) + 20 * (i / 2)) +
                      ".pdf";
        QTcpSocket *s = t.socket.get();
        QObject::connect(s, &QTcpSocket::readyRead, s, [&t, s, &timer] {
            QByteArray data = s->readAll();
            if (t.length < 0) {
                t.head += data;
                const qsizetype end = t.head.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                static const QRegularExpression re(QStringLiteral("Content-Length: (\\d+)"));
                t.length = re.match(QString::fromLatin1(t.head.left(end))).captured(1).toLongLong();
                data = t.head.mid(end + 4);
            }
            if (t.pattern)
                for (qsizetype k = 0; k < data.size(); ++k)
                    if (uchar(data[k]) != (t.received + k) % 251)
                        t.patternOk = false;
            t.received += data.size();
            if (t.received == t.length)
                t.doneAtMs = timer.elapsed();
        });
        s->connectToHost(QHostAddress::LocalHost, m_site.port());
        s->write(getRequest(target));
    }
    auto allDone = [&] {
        return std::all_of(transfers.begin(), transfers.end(), [](const Transfer &t) {
            return t.length > 0 && t.received == t.length;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allDone(), 30000);
    for (const Transfer &t : transfers) {
        QVERIFY(t.patternOk);
        if (t.pattern)
            QCOMPARE(t.length, streamBytes);
        else
            QVERIFY2(t.doneAtMs < 6000, qPrintable(QString::number(t.doneAtMs)));
    }
}

void TestTestsite::requestLogLines()
{
    QNetworkAccessManager nam;
    QNetworkRequest request(m_site.url(QStringLiteral("/items/16?from=log")));
    request.setRawHeader("Referer", "http://127.0.0.1/search?q=all");
    const Fetched f = fetch(nam, request);
    const QStringList lines = logFor(QStringLiteral("/items/16?from=log"));
    QCOMPARE(lines.size(), 1);
    const QStringList fields = lines.first().split(QLatin1Char('\t'));
    QCOMPARE(fields,
             (QStringList{QStringLiteral("GET"), QStringLiteral("/items/16?from=log"),
                          QStringLiteral("http://127.0.0.1/search?q=all"), QStringLiteral("no"),
                          QStringLiteral("200"), QString::number(f.body.size())}));
    // Malformed requests are logged too.
    for (const QString &l : m_site.requestLog())
        QCOMPARE(l.split(QLatin1Char('\t')).size(), 6);
    QVERIFY(!logFor(QStringLiteral("-")).isEmpty());
}

void TestTestsite::aboutDocumentsTheTable()
{
    const QString about = fetchPage(QStringLiteral("/about"));
    for (const char *word : {"Chunked",    "OctetStream", "TextPlain",      "PdfCharset",
                             "LoginGated", "ServerError", "TooLarge",       "SlowBody",
                             "Stall",      "DropMidBody", "Redirect",       "Caj",
                             "Kdh",        "Nh",          "NeedsReferer",   "gotoNextresultset",
                             "VeryLong",   "TwoLines",    "ForbiddenChars", "Duplicate",
                             "submitip",   "newver.txt",  "/bytes/N"})
        QVERIFY2(about.contains(QLatin1String(word)), word);
}

void TestTestsite::siteEndsWhenStdinClosesOrOnSignal()
{
    for (bool bySignal : {false, true}) {
        QProcess p;
        p.start(QStringLiteral(LUMEN_TESTSITE_PATH), {});
        QVERIFY(p.waitForReadyRead(5000));
        QVERIFY(p.readLine().startsWith("listening on http://127.0.0.1:"));
        if (bySignal)
            p.terminate();
        else
            p.closeWriteChannel();
        QVERIFY(p.waitForFinished(3000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    }
    TestSite s;
    QVERIFY(s.start());
    QVERIFY(s.isRunning());
    s.stop();
    QVERIFY(!s.isRunning());
    QVERIFY(s.baseUrl().isEmpty());
}

QTEST_GUILESS_MAIN(TestTestsite)
#include "test_testsite.moc"
