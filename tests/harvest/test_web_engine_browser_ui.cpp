// The embedded browser against real pages served on 127.0.0.1.

#include "engine/app_title.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "harvest/harvest_list.h"
#include "harvest/results_parser.h"
#include "harvest/results_reader.h"
#include "harvest/shared_cookie_jar.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "support/fake_browser.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_sound_player.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"
#include "testsite/titles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace lumen;
using lumen::test::FakeBrowser;

namespace
{

const QByteArray PdfBytes = "%PDF-1.4\n1 0 obj << >> endobj\ntrailer << >>\n%%EOF\n";

// A small HTTP/1.1 server: one request per connection, answered by a route
// table, every request kept with its headers and body.
class PageServer : public QObject
{
public:
    struct Request {
        QByteArray method;
        QString path; // with query
        QByteArray cookie;
        QByteArray body;
    };
    struct Response {
        int status = 200;
        QByteArray contentType = "text/html; charset=utf-8";
        QList<QByteArray> extraHeaders;
        QByteArray body;
    };
    using Handler = std::function<Response(const Request &)>;

    QList<Request> log;

    bool start() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void route(const QString &path, Handler handler) { m_routes.insert(path, std::move(handler)); }
    void page(const QString &path, const QByteArray &html)
    {
        route(path, [html](const Request &) {
            return Response{200, "text/html; charset=utf-8", {}, html};
        });
    }

    PageServer()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { onData(s); });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }

private:
    void onData(QTcpSocket *s)
    {
        QByteArray &buf = m_buffers[s];
        buf += s->readAll();
        const int headEnd = buf.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = buf.left(headEnd).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        Request req{first.value(0), QString::fromUtf8(first.value(1)), {}, {}};
        qsizetype length = 0;
        for (const QByteArray &line : lines.mid(1)) {
            const int colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length")
                length = value.toLongLong();
            else if (name == "cookie")
                req.cookie = value;
        }
        if (buf.size() < headEnd + 4 + length)
            return;
        req.body = buf.mid(headEnd + 4, length);
        m_buffers.remove(s);
        log.append(req);

        const QString path = QUrl(req.path).path();
        Response r = m_routes.contains(path)
                         ? m_routes.value(path)(req)
                         : Response{404, "text/html", {}, "<html><body>not here</body></html>"};
        QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\n";
        out += "Content-Type: " + r.contentType + "\r\n";
        out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        out += "Cache-Control: no-store\r\nConnection: close\r\n";
        for (const QByteArray &h : r.extraHeaders)
            out += h + "\r\n";
        s->write(out + "\r\n" + r.body);
        s->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QString, Handler> m_routes;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// The site a sign-in is made on: a login form, and a full text that is a
// login page until the session cookie comes along.
void addLoginSite(PageServer &server, const QByteArray &cookieAttributes = "Path=/")
{
    server.route("/login", [cookieAttributes](const PageServer::Request &r) {
        if (r.method != "POST")
            return PageServer::Response{200,
                                        "text/html",
                                        {},
                                        "<html><body><form method=post action=/login>"
                                        "<input name=userid><input name=password type=password>"
                                        "<input type=submit value=Login></form></body></html>"};
        const QUrlQuery form(QString::fromUtf8(r.body));
        if (form.queryItemValue("password") != "secret")
            return PageServer::Response{200, "text/html", {}, "<html><body>wrong</body></html>"};
        return PageServer::Response{
            302,
            "text/html",
            {"Location: /welcome", "Set-Cookie: session=s3cr3t; " + cookieAttributes},
            {}};
    });
    server.page("/welcome", "<html><head><title>Welcome</title></head><body>in</body></html>");
    server.route("/fulltext/5.pdf", [](const PageServer::Request &r) {
        if (r.cookie.contains("session=s3cr3t"))
            return PageServer::Response{200, "application/pdf", {}, PdfBytes};
        return PageServer::Response{
            200,
            "text/html",
            {},
            "<html><body>please sign in <a href=/login>here</a></body></html>"};
    });
}

QByteArray fetch(QNetworkAccessManager &nam, const QUrl &url)
{
    QNetworkReply *reply = nam.get(QNetworkRequest(url));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(10000))
        return "<timeout>";
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

} // namespace

class TestWebEngineBrowserUi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<WebEngineProfile> m_profile;
    PageServer m_server;

    // Navigates and waits for the document; false when none came.
    static bool load(WebEngineBrowser &browser, const QUrl &url)
    {
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.navigate(url);
        return complete.wait(20000);
    }

    static DocumentSnapshot snapshotOf(WebEngineBrowser &browser)
    {
        DocumentSnapshot result;
        bool done = false;
        browser.snapshot([&](const DocumentSnapshot &s) {
            result = s;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 20000))
            qWarning("snapshot never answered");
        return result;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_profile = std::make_unique<WebEngineProfile>(m_dir.filePath("profile"));
        QVERIFY(m_server.start());
        addLoginSite(m_server);
    }

    void cleanupTestCase() { m_profile.reset(); }

    void frameDocumentsRaiseNoCompletion()
    {
        m_server.page("/frames", "<html><body><a href=/x>x</a>"
                                 "<iframe src=/inner></iframe><iframe src=/inner?b></iframe>"
                                 "</body></html>");
        m_server.page("/inner", "<html><body>inner <a href=/y>y</a></body></html>");
        WebEngineBrowser browser(m_profile.get());
        QSignalSpy complete(&browser, &Browser::documentComplete);
        QSignalSpy failed(&browser, &Browser::loadFailed);
        QVERIFY(!browser.isBusy());
        browser.navigate(m_server.url("/frames"));
        QVERIFY(browser.isBusy());
        QVERIFY(complete.wait(20000));
        QVERIFY(!browser.isBusy());
        // Both frames have loaded by now (the top document's load waits for
        // them). A snapshot is a round trip through the page's renderer that
        // ends after anything the frames' loads raised.
        QTRY_COMPARE(std::count_if(m_server.log.cbegin(), m_server.log.cend(),
                                   [](const auto &r) { return r.path.startsWith("/inner"); }),
                     2);
        // The document is the top-level one: the frames' anchors are not in it.
        QCOMPARE(snapshotOf(browser).anchors.size(), 1);
        QCOMPARE(complete.size(), 1);
        QCOMPARE(complete.at(0).at(0).toUrl(), m_server.url("/frames"));
        QCOMPARE(failed.size(), 0);
    }

    void snapshotReadsTheRenderedDocument()
    {
        m_server.page(
            "/dir/results",
            "<html><head><title>Results</title></head><body>"
            "<a href=\"/item/1\"><div class=\"c-clientmarkup\">First title</div></a>"
            "<a href='item/2'><DIV CLASS='c-clientmarkup'>Second</DIV></a>"
            "<a href=../item/3><div class=c-clientmarkup>  Third  </div></a>"
            "<a name=anchor-only>no link</a>"
            "<a href=\"/p?a=1&amp;b=2\">amp</a>"
            "<a title='a > b \"c\" </a>' foo\"bar=1 =x href=/q>x <b>y</b><br></a>"
            "<svg><a href=/svg><text>in svg</text></a></svg>"
            "<a href='/\xe4\xb8\xad?q=a b&amp;c=\xe2\x80\xa8'>\xe4\xb8\xad\xe6\x96\x87\t\\ \"q\""
            " \xf0\x9f\x98\x80<br>line\x01</a>"
            "<div id=submitip>ip</div><span id=\"note\"></span>"
            "<input id=u name=userid value=abc><input name=password type=password>"
            "<input type=SUBMIT value=Go><input>"
            "<script>document.body.insertAdjacentHTML('beforeend',"
            " '<a href=\"/made\">made by script</a>');"
            "document.getElementsByName('password')[0].value = 'typed';</script>"
            "</body></html>");
        WebEngineBrowser browser(m_profile.get());
        QSignalSpy titles(&browser, &Browser::titleChanged);
        QVERIFY(load(browser, m_server.url("/dir/results")));
        QCOMPARE(browser.currentUrl(), m_server.url("/dir/results"));
        const DocumentSnapshot s = snapshotOf(browser);
        QVERIFY(s.present);
        QCOMPARE(s.url, m_server.url("/dir/results").toString());

        QCOMPARE(s.anchors.size(), 9);
        // Every way of writing the entry markup comes back in the engine's one form.
        QCOMPARE(s.anchors[0].innerHtml,
                 QString("<div class=\"c-clientmarkup\">First title</div>"));
        QCOMPARE(s.anchors[1].innerHtml, QString("<div class=\"c-clientmarkup\">Second</div>"));
        QCOMPARE(s.anchors[2].innerHtml, QString("<div class=\"c-clientmarkup\">  Third  </div>"));
        QCOMPARE(s.anchors[0].innerText, QString("First title"));
        // Links come resolved against the document's address.
        QCOMPARE(s.anchors[0].href, m_server.url("/item/1").toString());
        QCOMPARE(s.anchors[1].href, m_server.url("/dir/item/2").toString());
        QCOMPARE(s.anchors[2].href, m_server.url("/item/3").toString());
        QCOMPARE(s.anchors[3].href, QString());
        QCOMPARE(s.anchors[3].outerHtml, QString("<a name=\"anchor-only\">no link</a>"));
        QCOMPARE(s.anchors[4].href, m_server.url("/p?a=1&b=2").toString());
        QCOMPARE(s.anchors[5].innerHtml, QString("x <b>y</b><br>"));
        QCOMPARE(s.anchors[5].href, m_server.url("/q").toString());
        QCOMPARE(s.anchors[6].innerHtml, QString("<text>in svg</text>"));
        QCOMPARE(s.anchors[7].innerText,
                 QString::fromUtf8("\xe4\xb8\xad\xe6\x96\x87 \\ \"q\" \xf0\x9f\x98\x80\nline\x01"));
        QCOMPARE(s.anchors[8].innerText, QString("made by script"));
        QCOMPARE(s.anchors[8].href, m_server.url("/made").toString());
        // Every field matches what the engine itself says of each anchor,
        // whatever the attributes and texts hold.
        QVariantList own;
        bool done = false;
        browser.page()->runJavaScript(
            "Array.from(document.getElementsByTagName('a'))"
            ".map(a => [a.innerHTML, a.innerText, a.href || '', a.outerHTML])",
            0, [&](const QVariant &v) {
                own = v.toList();
                done = true;
            });
        QTRY_VERIFY(done);
        QCOMPARE(own.size(), s.anchors.size());
        for (int i = 0; i < own.size(); ++i) {
            const QStringList a = own[i].toStringList();
            QCOMPARE(s.anchors[i].innerHtml, a[0]);
            if (i != 6) // an svg link's target is no text
                QCOMPARE(s.anchors[i].href, a[2]);
            QCOMPARE(s.anchors[i].innerText, a[1]);
            QCOMPARE(s.anchors[i].outerHtml, a[3]);
        }

        QCOMPARE(s.inputs.size(), 4);
        QCOMPARE(s.inputs[0].index, 0);
        QCOMPARE(s.inputs[0].id, QString("u"));
        QCOMPARE(s.inputs[0].name, QString("userid"));
        QCOMPARE(s.inputs[0].type, QString("text"));
        QCOMPARE(s.inputs[0].value, QString("abc"));
        QCOMPARE(s.inputs[1].value, QString("typed"));
        QCOMPARE(s.inputs[2].type, QString("submit"));
        QCOMPARE(s.inputs[3].index, 3);
        QCOMPARE(s.inputs[3].type, QString("text"));

        QCOMPARE(s.elementIds, QStringList({"submitip", "note", "u"}));
        QVERIFY(s.rootOuterHtml.startsWith("<html><head><title>Results</title></head>"));
        QVERIFY(s.rootOuterHtml.contains("made by script"));
        QVERIFY(s.rootOuterHtml.endsWith("</html>"));
        QTRY_VERIFY(titles.contains(QVariantList{QString("Results")}));
    }

    // Whatever a page holds, each link's markup, text and target in the
    // snapshot are exactly what the engine says of that link itself.
    void linksMatchTheEnginesOwnReading_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("links");
        const QByteArray html = "text/html; charset=utf-8";
        QTest::newRow("attributes") << html
                                    << QByteArray("<a title='a > b \"c\" </a>' foo\"bar=1 =x "
                                                  "href=/q>x <b>y</b><br></a><a></a><a href=/e>"
                                                  "&lt;a&gt; &amp; &nbsp;</a>")
                                    << 3;
        QTest::newRow("comments and raw text")
            << html
            << QByteArray("<!-- <a href=\"/c\">c</a> --><script>var s = '<a href=\"/s\">s</a>';"
                          "</script><style>/* <a href=\"/st\"> */</style><textarea><a href=/t>"
                          "</textarea><xmp><a href=\"/x\">x</a></xmp><noscript><a href=/n>n</a>"
                          "</noscript><iframe srcdoc='<a href=/f>f</a>'></iframe>"
                          "<title>&lt;a&gt;</title><a href=/real>real</a>")
            << 1;
        QTest::newRow("template") << html
                                  << QByteArray("<template><a href=/in>t</a><template><a>u</a>"
                                                "</template></template><a href=/after>after</a>")
                                  << 1;
        QTest::newRow("nested by script")
            << html
            << QByteArray("<a id=outer href=/o>o</a><a href=/next>next</a><script>"
                          "var i = document.createElement('a'); i.href = '/i';"
                          " i.textContent = 'inner';"
                          " document.getElementById('outer').appendChild(i);</script>")
            << 3;
        QTest::newRow("svg") << html
                             << QByteArray("<svg><a href=/svg><text>in svg</text></a>"
                                           "<A>upper</A></svg><a href=/html>html</a>")
                             << 3;
        // Script text that closes its own element early: the root's markup
        // no longer reads as the document, and each link is asked for its own.
        QTest::newRow("raw text closed early")
            << html
            << QByteArray("<a href=/one>one</a><script>var t = document.createElement('script');"
                          " t.type = 'text/plain';"
                          " t.textContent = '</scr' + 'ipt><a href=\"/fake\">fake</a>';"
                          " document.body.appendChild(t);</script><a href=/two>two</a>")
            << 2;
        QTest::newRow("xml document")
            << QByteArray("application/xhtml+xml")
            << QByteArray("<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
                          "<a href=\"/x\">x<b/></a><a href=\"/e\"/></body></html>")
            << 2;
        QTest::newRow("xml results page")
            << QByteArray("application/xhtml+xml")
            << QByteArray("<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
                          "<a title=\"a &gt; b\" href=\"/items/1\"><div class=\"c-clientmarkup\">"
                          "Deep sea</div></a></body></html>")
            << 1;
        QTest::newRow("no links") << html << QByteArray("<p>none</p>") << 0;
    }

    void linksMatchTheEnginesOwnReading()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(int, links);
        const QString path = QStringLiteral("/links/%1").arg(QTest::currentDataTag());
        m_server.route(path, [contentType, body](const PageServer::Request &) {
            return PageServer::Response{200, contentType, {}, body};
        });
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url(path)));
        const DocumentSnapshot s = snapshotOf(browser);
        QVERIFY(s.present);

        QVariantList own;
        bool done = false;
        // In an XML document a link's content serialised on its own carries
        // a namespace it does not have inside the link; the snapshot's inner
        // markup is the content as the link's own markup holds it.
        browser.page()->runJavaScript(
            "(function () { var xml = document.contentType != 'text/html';"
            " var cut = function (o) { var e = o.indexOf('>');"
            "  return o[e - 1] == '/' ? '' : o.slice(e + 1, o.lastIndexOf('</')); };"
            " return Array.from(document.getElementsByTagName('a'))"
            ".map(a => [xml ? cut(a.outerHTML) : a.innerHTML, a.innerText || '',"
            " typeof a.href == 'string' ? a.href : '', a.outerHTML]); })()",
            0, [&](const QVariant &v) {
                own = v.toList();
                done = true;
            });
        QTRY_VERIFY(done);
        QCOMPARE(own.size(), links);
        QCOMPARE(s.anchors.size(), links);
        for (int i = 0; i < own.size(); ++i) {
            const QStringList a = own[i].toStringList();
            QCOMPARE(s.anchors[i].innerHtml, a[0]);
            QCOMPARE(s.anchors[i].innerText, a[1]);
            QCOMPARE(s.anchors[i].href, a[2]);
            QCOMPARE(s.anchors[i].outerHtml, a[3]);
        }
        // Result entries are found in XML documents as in HTML ones.
        if (QByteArray(QTest::currentDataTag()) == "xml results page") {
            HarvestList list;
            QCOMPARE(HarvestPage(s, list, QString()), qint64(1));
            QCOMPARE(list.at(0).title, QString("Deep sea"));
        }
    }

    void snapshotWithoutDocumentIsAbsent()
    {
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(!snapshotOf(browser).present);

        // A browser closed while a snapshot is under way calls no one back.
        {
            m_server.page("/closing", "<html><body><a href=/x>x</a></body></html>");
            auto closing = std::make_unique<WebEngineBrowser>(m_profile.get());
            QVERIFY(load(*closing, m_server.url("/closing")));
            bool called = false;
            closing->snapshot([&](const DocumentSnapshot &) { called = true; });
            closing.reset();
            QVERIFY(!called);
            // Another page's snapshot goes through the engine after the
            // closed one's would have; the closed page's answer never comes.
            WebEngineBrowser other(m_profile.get());
            QVERIFY(load(other, m_server.url("/closing")));
            QVERIFY(snapshotOf(other).present);
            QVERIFY(!called);
        }
        // How a partial or odd answer reads is checked in
        // test_snapshot_parser, apart from the engine.
    }

    void snapshotOfFiftyThousandAnchorsIsQuick()
    {
        QByteArray html = "<html><body>";
        for (int i = 0; i < 50000; ++i)
            html += "<a href=\"/item/" + QByteArray::number(i) +
                    "\"><div class=\"c-clientmarkup\">Title " + QByteArray::number(i) +
                    "</div></a>\n";
        html += "</body></html>";
        m_server.page("/many", html);
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/many")));
        // The first snapshot also lays out the page (inner texts need it).
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(snapshotOf(browser).anchors.size(), 50000);
        qInfo("first snapshot of 50000 anchors, with layout: %lld ms", timer.elapsed());

        timer.start();
        const DocumentSnapshot s = snapshotOf(browser);
        const qint64 ms = timer.elapsed();
        qInfo("snapshot of 50000 anchors: %lld ms", ms);
        QCOMPARE(s.anchors.size(), 50000);
        QCOMPARE(s.anchors.last().innerText, QString("Title 49999"));
        QCOMPARE(s.anchors.last().innerHtml,
                 QString("<div class=\"c-clientmarkup\">Title 49999</div>"));
        QCOMPARE(s.anchors.last().href, m_server.url("/item/49999").toString());
        // Not a timing test (the machine may be busy): a guard against a
        // snapshot that reads element by element, which takes minutes here.
        QVERIFY2(ms < 20000, qPrintable(QString::number(ms)));
    }

    // The harvest's reading of a page, piece by piece, as the engine gives
    // it and as the fake gives it from the engine's own snapshot of the same
    // page: the same links taken, with the same texts and markup, the same
    // steps, the same mentions of a server error; and both name a new
    // document as another one.
    void resultsPiecesAsTheFakeReadsThem()
    {
        m_server.page("/pieces",
                      "<html><head><title>Results</title></head><body>"
                      "<a href=/home>Home</a>"
                      "<a href=\"/item/1\"><div class=\"c-clientmarkup\">Internal Server Error in"
                      " turbines</div></a>"
                      "<a href='item/2'><DIV CLASS='c-clientmarkup'>Second</DIV></a>"
                      "<a href=/about#paging>next</a>"
                      "<a href=/item/3><div class=c-client markup>Third</div></a>"
                      "<a href=/plain>plain</a><a href=/img><img alt=x></a>"
                      "<a href=# onclick=\"gotoNextResultSet(); return false;\"> Next </a>"
                      "<p>The server said: internal server error</p>"
                      "</body></html>");
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/pieces")));
        FakeBrowser fake;
        const QString url = m_server.url("/pieces").toString();
        fake.setPage(url, snapshotOf(browser));
        fake.show(url);

        auto pieceOf = [](Browser &b, qsizetype from, qsizetype max) {
            ResultsPiece out;
            bool done = false;
            b.readResults(from, max, [&](const ResultsPiece &p) {
                out = p;
                done = true;
            });
            if (!QTest::qWaitFor([&] { return done; }, 20000))
                qWarning("no piece came");
            return out;
        };
        QList<ResultsPiece> real, faked;
        for (qsizetype from = 0; from < 8;) {
            real << pieceOf(browser, from, 3);
            faked << pieceOf(fake, from, 3);
            QVERIFY(real.last().next > from);
            from = real.last().next;
        }
        QCOMPARE(real.size(), 3);
        QCOMPARE(faked.size(), real.size());
        int taken = 0;
        for (int n = 0; n < real.size(); ++n) {
            const ResultsPiece &r = real.at(n);
            const ResultsPiece &f = faked.at(n);
            QVERIFY(r.present && f.present);
            QCOMPARE(r.url, url);
            QCOMPARE(f.url, r.url);
            QCOMPARE(r.anchorCount, qsizetype(8));
            QCOMPARE(f.anchorCount, r.anchorCount);
            QCOMPARE(f.next, r.next);
            QCOMPARE(r.document, real.first().document);
            QCOMPARE(f.serverErrorMentions, r.serverErrorMentions);
            QCOMPARE(f.anchors.size(), r.anchors.size());
            for (int a = 0; a < r.anchors.size(); ++a) {
                QCOMPARE(f.anchors[a].innerText, r.anchors[a].innerText);
                QCOMPARE(f.anchors[a].href, r.anchors[a].href);
                QCOMPARE(f.anchors[a].outerHtml, r.anchors[a].outerHtml);
                QCOMPARE(f.anchors[a].innerHtml, r.anchors[a].innerHtml);
            }
            taken += int(r.anchors.size());
        }
        // Three links that may be entries, two "next" texts; home, plain and
        // the image link stay in the engine.
        QCOMPARE(taken, 5);
        // The entry's title and the paragraph; the entry's own words are
        // counted against it when the page is judged.
        QCOMPARE(real.first().serverErrorMentions, 2);

        // Both harvest the same and judge the page alike.
        HarvestList fromReal, fromFake;
        ResultsReader realReader(browser), fakeReader(fake);
        realReader.setPieceAnchors(2);
        fakeReader.setPieceAnchors(2);
        QSignalSpy realDone(&realReader, &ResultsReader::finished);
        QSignalSpy fakeDone(&fakeReader, &ResultsReader::finished);
        realReader.start(fromReal, QString());
        fakeReader.start(fromFake, QString());
        QVERIFY(realDone.wait(20000));
        QCOMPARE(fakeDone.size(), 1);
        const PageReading r = realDone.at(0).at(0).value<PageReading>();
        const PageReading f = fakeDone.at(0).at(0).value<PageReading>();
        // "c-client markup" unquoted is a class and an attribute: no entry.
        QCOMPARE(r.accepted, qint64(2));
        QCOMPARE(f.accepted, r.accepted);
        QVERIFY(r.nextMarker && f.nextMarker);
        QVERIFY(r.serverError && f.serverError);
        QCOMPARE(f.entriesKey, r.entriesKey);
        QCOMPARE(fromReal.count(), qint64(2));
        for (qint64 row = 0; row < fromReal.count(); ++row)
            QCOMPARE(fromFake.at(row).title, fromReal.at(row).title);

        // The engine reads the piece after an answered one ahead of the
        // asking; a piece asked from elsewhere is still the one asked for.
        const ResultsPiece zero = pieceOf(browser, 0, 3);
        const ResultsPiece one = pieceOf(browser, 1, 3);
        QCOMPARE(one.next, pieceOf(fake, 1, 3).next);
        QCOMPARE(one.anchors.size(), pieceOf(fake, 1, 3).anchors.size());
        // A larger piece asked where a smaller one was read ahead gets that
        // one: fewer links than asked, as a piece of large links would.
        const ResultsPiece ahead = pieceOf(browser, one.next, 8);
        QCOMPARE(ahead.next, one.next + 3);
        QCOMPARE(pieceOf(browser, ahead.next, 8).next, qsizetype(8));

        // A new document is another one, for both, even when a piece of the
        // old one was read ahead.
        QCOMPARE(pieceOf(browser, 0, 3).document, zero.document);
        QVERIFY(load(browser, m_server.url("/pieces")));
        fake.navigate(QUrl(url));
        fake.completeLoad();
        QVERIFY(pieceOf(browser, 3, 3).document != real.first().document);
        QVERIFY(pieceOf(fake, 3, 3).document != faked.first().document);
    }

    // Reads the page shown with the harvest's reader into a fresh list.
    static PageReading readInto(WebEngineBrowser &browser, HarvestList &list)
    {
        ResultsReader reader(browser);
        QSignalSpy done(&reader, &ResultsReader::finished);
        reader.start(list, QString());
        if (!done.wait(20000))
            return PageReading();
        return done.at(0).at(0).value<PageReading>();
    }

    // The title of an entry is the text its reader sees, as one line, read
    // from the document without laying the page out: words parted by a line
    // break, a block's edge or a run of spaces keep one space between them;
    // what scripts, styles, templates and hidden elements hold is left out.
    // Styles are not consulted: a title shown in capitals keeps the
    // document's own letters.
    void linkTextsAsTheReaderReadsThem_data()
    {
        QTest::addColumn<QByteArray>("content"); // of the entry's link
        QTest::addColumn<QString>("title");      // empty: no row
        const QByteArray div = "<div class=\"c-clientmarkup\">";
        QTest::newRow("plain") << div + "Deep sea cores</div>"
                               << "Deep sea cores";
        QTest::newRow("written over two lines") << div + "Deep sea\n            cores</div>"
                                                << "Deep sea cores";
        QTest::newRow("spaces and tabs around") << " \t" + div + "  Deep sea cores \n</div>\n"
                                                << "Deep sea cores";
        QTest::newRow("line break element") << div + "Deep sea<br>cores</div>"
                                            << "Deep sea cores";
        QTest::newRow("two blocks") << div + "Deep sea</div><div>cores</div>"
                                    << "Deep sea cores";
        QTest::newRow("paragraph inside") << div + "Deep sea<p>cores</p></div>"
                                          << "Deep sea cores";
        QTest::newRow("text beside the block") << "Review:" + div + "Deep sea cores</div>"
                                               << "Review: Deep sea cores";
        QTest::newRow("inline markup runs on")
            << div + "Deep <b>sea</b>-bed<sup>2</sup> <i>cores</i></div>"
            << "Deep sea-bed2 cores";
        QTest::newRow("script, style and template left out")
            << div + "Deep <script>var x = 1;</script><style>b{}</style>sea"
                     "<template>t</template> cores</div>"
            << "Deep sea cores";
        QTest::newRow("hidden element left out")
            << div + "Deep sea <span hidden>(draft)</span>cores</div>"
            << "Deep sea cores";
        QTest::newRow("comment left out") << div + "Deep <!-- note -->sea cores</div>"
                                          << "Deep sea cores";
        QTest::newRow("characters written as entities")
            << div + "Fish &amp; chips &lt;2&gt; &quot;ok&quot;</div>"
            << "Fish & chips <2> \"ok\"";
        QTest::newRow("no-break space kept")
            << div + "Deep&nbsp;sea cores</div>" << QStringLiteral("Deep\u00a0sea cores");
        QTest::newRow("styled capitals keep the document's letters")
            << "<style>.c-clientmarkup { text-transform: uppercase }</style>" + div +
                   "Deep sea cores</div>"
            << "Deep sea cores";
        QTest::newRow("image only") << div + "<img alt=\"Deep sea\" src=\"data:,\"></div>"
                                    << "";
        QTest::newRow("Chinese title over two lines")
            << div + "深海沉积\n  ——兼论气候</div>" << QStringLiteral("深海沉积 ——兼论气候");
    }

    void linkTextsAsTheReaderReadsThem()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, title);
        const QString path =
            QStringLiteral("/text/") +
            QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-').remove(u',');
        m_server.page(path, "<html><head><meta charset=\"utf-8\"></head><body>"
                            "<a href=/home>Home</a><a href=/item/1>" +
                                content + "</a></body></html>");
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url(path)));
        HarvestList list;
        const PageReading reading = readInto(browser, list);
        QVERIFY(reading.present);
        if (title.isEmpty()) {
            QCOMPARE(list.count(), qint64(0));
            return;
        }
        QCOMPARE(list.count(), qint64(1));
        QCOMPARE(list.at(0).title, title);
        QCOMPARE(list.at(0).fullTextLink, m_server.url("/item/1.pdf").toString());
    }

    // The local site's results pages, written in every hand its templates
    // use, give each entry the title a reader sees, the one the engine's
    // rendered text gives too.
    void siteResultsTitlesAsRendered()
    {
        test::TestSite site;
        QVERIFY(site.start());
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, site.url("/search?q=all&rows=100")));
        const DocumentSnapshot rendered = snapshotOf(browser);
        QVERIFY(rendered.present);
        HarvestList list;
        const PageReading reading = readInto(browser, list);
        QVERIFY(reading.present);
        QVERIFY(reading.nextMarker);
        QCOMPARE(list.count(), qint64(100));
        QHash<QString, QString> renderedTitles; // full-text link -> rendered title
        for (const AnchorSnapshot &a : rendered.anchors)
            if (isResultEntryMarkup(a.innerHtml) && !a.innerText.trimmed().isEmpty())
                renderedTitles.insert(a.href + QStringLiteral(".pdf"), a.innerText.trimmed());
        QCOMPARE(qsizetype(renderedTitles.size()), qsizetype(list.count()));
        for (qint64 row = 0; row < list.count(); ++row) {
            const HarvestItem &item = list.at(row);
            const int id =
                QUrl(item.fullTextLink).path().section(u'/', -1).section(u'.', 0, 0).toInt();
            QCOMPARE(item.title, testsite::titleOf(id));
            QCOMPARE(item.title, renderedTitles.value(item.fullTextLink));
        }
    }

    // Writes and clicks given an origin touch only a document of that
    // origin; the answer to a form sent is known as such.
    void writesOnlyOnTheOriginGiven()
    {
        // A profile of its own: the sign-in made here is no one else's.
        WebEngineProfile profile(m_dir.filePath("origin"));
        WebEngineBrowser browser(&profile);
        m_server.page("/origin/form", "<html><body><form method=post action=/origin/sent>"
                                      "<input name=userid><input name=password type=password>"
                                      "<input type=submit value=Login></form></body></html>");
        m_server.route("/origin/sent", [](const PageServer::Request &) {
            return PageServer::Response{200, "text/html", {}, "<html><body>sent</body></html>"};
        });
        QVERIFY(load(browser, m_server.url("/origin/form")));
        QVERIFY(!browser.showsFormAnswer());
        const QUrl here = m_server.url("/elsewhere");
        QUrl otherHost = here;
        otherHost.setHost("localhost");
        QUrl otherPort = here;
        otherPort.setPort(here.port() + 1);
        QUrl otherScheme = here;
        otherScheme.setScheme("https");
        for (const QUrl &other : {otherHost, otherPort, otherScheme})
            browser.setInputValue(0, "stranger", other);
        browser.setInputValue(1, "secret", here);
        const qsizetype posts = std::count_if(m_server.log.cbegin(), m_server.log.cend(),
                                              [](const auto &r) { return r.method == "POST"; });
        browser.clickInput(2, otherPort);
        const DocumentSnapshot form = snapshotOf(browser); // after the calls before it
        QCOMPARE(form.inputs.at(0).value, QString());
        QCOMPARE(form.inputs.at(1).value, QString("secret"));
        QCOMPARE(browser.currentUrl(), m_server.url("/origin/form"));
        QCOMPARE(std::count_if(m_server.log.cbegin(), m_server.log.cend(),
                               [](const auto &r) { return r.method == "POST"; }),
                 posts);

        browser.setInputValue(0, "reader", here);
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.clickInput(2, here);
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.currentUrl(), m_server.url("/origin/sent"));
        QVERIFY(browser.showsFormAnswer());
        QVERIFY(load(browser, m_server.url("/origin/form")));
        QVERIFY(!browser.showsFormAnswer());
    }

    void scriptDialogs_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("title");
        QTest::newRow("silent") << true << QStringList() << "no";
        QTest::newRow("not silent") << false << QStringList({"hello", "sure?"}) << "yes";
    }

    void scriptDialogs()
    {
        QFETCH(bool, silent);
        QFETCH(QStringList, shown);
        QFETCH(QString, title);
        m_server.page("/dialogs", "<html><body><script>alert('hello');"
                                  "document.title = confirm('sure?') ? 'yes' : 'no';"
                                  "</script></body></html>");
        test::FakePrompter prompter;
        prompter.answers.enqueue(Prompter::Answer::Ok);
        WebEngineBrowser browser(m_profile.get());
        browser.setPrompter(&prompter);
        browser.setSilent(silent);
        QCOMPARE(browser.isSilent(), silent);
        QVERIFY(load(browser, m_server.url("/dialogs")));
        QTRY_COMPARE(browser.page()->title(), title);
        QCOMPARE(prompter.messages(), shown);
    }

    void newWindowOpensInTheSamePage_data()
    {
        QTest::addColumn<QString>("clickId");
        QTest::addColumn<QString>("target");
        QTest::newRow("target=_blank") << "blank"
                                       << "/target";
        QTest::newRow("window.open") << "opener"
                                     << "/opened?x=1";
    }

    void newWindowOpensInTheSamePage()
    {
        QFETCH(QString, clickId);
        QFETCH(QString, target);
        m_server.page("/popups", "<html><body>"
                                 "<a id=blank href=/target target=_blank>new</a>"
                                 "<input type=button id=opener value=open"
                                 " onclick=\"window.open('/opened?x=1', 'w', 'width=200')\">"
                                 "</body></html>");
        m_server.page("/target", "<html><body>target</body></html>");
        m_server.page("/opened", "<html><body>opened</body></html>");
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/popups")));

        QSignalSpy requested(&browser, &Browser::newWindowRequested);
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.clickElementById(clickId);
        QVERIFY(complete.wait(20000));
        QCOMPARE(complete.at(0).at(0).toUrl(), m_server.url(target));
        QCOMPARE(requested.size(), 1);
        QCOMPARE(requested.at(0).at(0).toUrl(), m_server.url(target));
        QCOMPARE(browser.currentUrl(), m_server.url(target));
    }

    void pageScriptCannotCloseTheBrowser()
    {
        m_server.page("/closer", "<html><body><input type=button id=closer value=close"
                                 " onclick=\"window.close()\"><a href=/x>x</a></body></html>");
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/closer")));
        QPointer<QWebEnginePage> page = browser.page();
        QSignalSpy closeRequested(page, &QWebEnginePage::windowCloseRequested);
        browser.clickElementById("closer");
        QVERIFY(closeRequested.wait(10000));
        // A deletion the request set off, at once or deferred, has happened
        // by now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(page);
        const DocumentSnapshot s = snapshotOf(browser);
        QVERIFY(s.present);
        QCOMPARE(s.url, m_server.url("/closer").toString());
        QCOMPARE(s.anchors.size(), 1);
    }

    void busyAndFailures()
    {
        m_server.route("/broken", [](const PageServer::Request &) {
            return PageServer::Response{
                500, "text/html", {}, "<html><body><h1>Internal Server Error</h1></body></html>"};
        });
        WebEngineBrowser browser(m_profile.get());
        // A server error page is still a document the paging reads.
        QVERIFY(load(browser, m_server.url("/broken")));
        QVERIFY(snapshotOf(browser).rootOuterHtml.contains("Internal Server Error"));

        // Nothing listens there: the load fails and busy ends.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QUrl dead(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
        closed.close();
        QSignalSpy failed(&browser, &Browser::loadFailed);
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.navigate(dead);
        QVERIFY(browser.isBusy());
        QVERIFY(failed.wait(20000));
        QCOMPARE(failed.at(0).at(0).toUrl(), dead);
        QVERIFY(!browser.isBusy());
        QCOMPARE(complete.size(), 0);

        // An address the engine cannot load at all fails too, instead of
        // leaving the browser busy for ever.
        failed.clear();
        browser.navigate(QUrl());
        QVERIFY(!browser.isBusy());
        QVERIFY(failed.wait(5000));
    }

    // The fake browser of the paging tests shows what the engine shows when
    // a load goes wrong; each case is played on both and compared.
    void failuresAsTheFakeShowsThem()
    {
        m_server.page("/before", "<html><body><a href=/x>x</a></body></html>");
        m_server.route("/gone", [](const PageServer::Request &) {
            return PageServer::Response{
                404, "text/html", {}, "<html><body>Not Found</body></html>"};
        });
        m_server.route("/nothing", [](const PageServer::Request &) {
            return PageServer::Response{204, "text/html", {}, {}};
        });
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QUrl dead(QStringLiteral("http://127.0.0.1:%1/next").arg(closed.serverPort()));
        closed.close();

        WebEngineBrowser browser(m_profile.get());
        FakeBrowser fake;
        const QUrl before = m_server.url("/before");
        fake.setPage(before.toString(), FakeBrowser::resultsPage(before.toString(), {}, false));

        // No answer at all: the engine's own error page replaces the old one.
        QVERIFY(load(browser, before));
        fake.show(before.toString());
        QSignalSpy failed(&browser, &Browser::loadFailed);
        browser.navigate(dead);
        QVERIFY(failed.wait(20000));
        fake.navigate(dead);
        fake.failLoad();
        DocumentSnapshot real = snapshotOf(browser);
        DocumentSnapshot faked = fake.current();
        QVERIFY(real.present);
        QCOMPARE(real.url, FakeBrowser::ErrorPageUrl);
        QCOMPARE(faked.url, real.url);
        // Neither offers an entry or a next page (the engine's page has
        // links of its own, for its details and the like).
        HarvestList entries;
        QCOMPARE(HarvestPage(real, entries, QString()), qint64(0));
        QCOMPARE(HarvestPage(faked, entries, QString()), qint64(0));
        QVERIFY(!hasNextPageMarker(real) && !hasNextPageMarker(faked));
        QCOMPARE(fake.currentUrl(), browser.currentUrl());
        QVERIFY(!browser.isBusy() && !fake.isBusy());

        // An error status: the server's page, with its status.
        QVERIFY(load(browser, m_server.url("/gone")));
        fake.navigate(m_server.url("/gone"));
        fake.completeLoad();
        real = snapshotOf(browser);
        QCOMPARE(real.url, m_server.url("/gone").toString());
        QCOMPARE(real.httpErrorStatus, 404);
        QCOMPARE(fake.current().httpErrorStatus, real.httpErrorStatus);
        QCOMPARE(browser.httpErrorStatus(), 404);

        // No content: the load ends, nothing is reported, the old page stays.
        QVERIFY(load(browser, before));
        fake.show(before.toString());
        QSignalSpy complete(&browser, &Browser::documentComplete);
        failed.clear();
        browser.navigate(m_server.url("/nothing"));
        QTRY_VERIFY_WITH_TIMEOUT(!browser.isBusy(), 20000);
        fake.navigate(m_server.url("/nothing"));
        fake.abandonLoad();
        real = snapshotOf(browser);
        QCOMPARE(real.url, before.toString());
        QCOMPARE(real.httpErrorStatus, 0);
        QCOMPARE(fake.current().url, real.url);
        QCOMPARE(complete.size(), 0);
        QCOMPARE(failed.size(), 0);
        QVERIFY(!fake.isBusy());
    }

    void jumpWithinDocumentAndStatusText()
    {
        m_server.page("/long", "<html><body><a id=l href=/elsewhere>link</a>"
                               "<p id=x>x</p></body></html>");
        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/long")));
        const auto requests = m_server.log.size();
        // A jump to a fragment loads nothing; it must not leave the browser
        // busy for ever.
        browser.navigate(m_server.url("/long#x"));
        QVERIFY(!browser.isBusy());
        QTRY_COMPARE(browser.currentUrl(), m_server.url("/long#x"));
        QCOMPARE(m_server.log.size(), requests);

        // The status text names the link under focus or pointer.
        QSignalSpy status(&browser, &Browser::statusTextChanged);
        browser.page()->runJavaScript("document.getElementById('l').focus()");
        QTRY_VERIFY(status.contains(QVariantList{m_server.url("/elsewhere").toString()}));
    }

    // A window shows the same browser by handing its page to a view; the
    // browser behaves the same and outlives the view.
    void shownInAView()
    {
        m_server.page("/shown", "<html><head><title>Shown</title></head><body>"
                                "<a id=blank href=/target target=_blank>new</a></body></html>");
        m_server.page("/target", "<html><body>target</body></html>");
        WebEngineBrowser browser(m_profile.get());
        QSignalSpy complete(&browser, &Browser::documentComplete);
        {
            QWebEngineView view;
            view.setPage(browser.page());
            view.resize(640, 480);
            view.show();
            browser.navigate(m_server.url("/shown"));
            QVERIFY(complete.wait(20000));
            QTRY_COMPARE(view.title(), QString("Shown"));
            browser.clickElementById("blank");
            QVERIFY(complete.wait(20000));
            QCOMPARE(view.url(), m_server.url("/target"));
            QCOMPARE(QApplication::topLevelWidgets().size(), 1);
        }
        QCOMPARE(complete.size(), 2);
        QVERIFY(load(browser, m_server.url("/shown")));
        QCOMPARE(snapshotOf(browser).anchors.size(), 1);
    }

    void historyAndRefresh()
    {
        m_server.page("/one", "<html><body>one</body></html>");
        m_server.page("/two", "<html><body>two</body></html>");
        WebEngineBrowser browser(m_profile.get());
        browser.goBack(); // no history yet: ignored
        browser.goForward();
        QVERIFY(!browser.isBusy());
        QVERIFY(load(browser, m_server.url("/one")));
        QVERIFY(load(browser, m_server.url("/two")));

        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.goBack();
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.currentUrl(), m_server.url("/one"));
        browser.goForward();
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.currentUrl(), m_server.url("/two"));

        const auto requestsForTwo = [this] {
            return std::count_if(m_server.log.cbegin(), m_server.log.cend(),
                                 [](const auto &r) { return r.path == "/two"; });
        };
        const auto before = requestsForTwo();
        browser.refresh();
        QVERIFY(complete.wait(20000));
        QCOMPARE(requestsForTwo(), before + 1);
    }

    // The key promise of the shared profile: a sign-in made in a browser is
    // seen by later downloads from the same server.
    void signInInBrowserReachesDownloads()
    {
        QNetworkAccessManager nam;
        m_profile->cookieJar()->attachTo(&nam);
        const QUrl fullText = m_server.url("/fulltext/5.pdf");
        QVERIFY(fetch(nam, fullText).contains("please sign in"));

        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/login")));
        const DocumentSnapshot form = snapshotOf(browser);
        QCOMPARE(form.inputs.size(), 3);
        browser.setInputValue(0, "reader \"quoted\" \\ %1");
        browser.setInputValue(1, "secret");
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.clickInput(2);
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.currentUrl(), m_server.url("/welcome"));
        const auto post =
            std::find_if(m_server.log.cbegin(), m_server.log.cend(),
                         [](const auto &r) { return r.method == "POST" && r.path == "/login"; });
        QVERIFY(post != m_server.log.cend());
        const QUrlQuery sent(QString::fromUtf8(post->body).replace('+', ' '));
        QCOMPARE(sent.queryItemValue("userid", QUrl::FullyDecoded), "reader \"quoted\" \\ %1");

        QTRY_VERIFY(!m_profile->cookieJar()->cookiesForUrl(fullText).isEmpty());
        QCOMPARE(fetch(nam, fullText), PdfBytes);
        // The manager only borrowed the jar.
        QCOMPARE(m_profile->cookieJar()->parent(), m_profile.get());
    }

    // The same against the local repository site, whose login-gated full
    // texts deliver a login page until the session cookie comes along: by
    // the account form (values written, submit clicked) and by the
    // address-based login button.
    void signInOnTheSiteUnlocksGatedFullTexts_data()
    {
        QTest::addColumn<bool>("account");
        QTest::newRow("account login") << true;
        QTest::newRow("address login") << false;
    }

    void signInOnTheSiteUnlocksGatedFullTexts()
    {
        QFETCH(bool, account);
        test::TestSite site;
        QVERIFY(site.start());
        QTemporaryDir dir;
        WebEngineProfile profile(dir.path());
        QNetworkAccessManager nam;
        profile.cookieJar()->attachTo(&nam);
        const int gated = testsite::firstItemWith(testsite::ItemBehaviour::LoginGated);
        const QUrl fullText = site.url(QStringLiteral("/items/%1.pdf").arg(gated));
        const QByteArray before = fetch(nam, fullText);
        QVERIFY(!before.startsWith("%PDF"));
        QVERIFY(before.contains("<form"));

        WebEngineBrowser browser(&profile);
        browser.setSilent(true);
        QSignalSpy complete(&browser, &Browser::documentComplete);
        if (account) {
            QVERIFY(load(browser, site.url("/login")));
            const DocumentSnapshot form = snapshotOf(browser);
            int submit = -1;
            for (const InputSnapshot &in : form.inputs) {
                if (in.name == "userid")
                    browser.setInputValue(in.index, "reader");
                else if (in.name == "password")
                    browser.setInputValue(in.index, QString::fromLatin1(testsite::LoginPassword));
                else if (in.type == "submit")
                    submit = in.index;
            }
            QVERIFY(submit >= 0);
            complete.clear();
            browser.clickInput(submit);
        } else {
            QVERIFY(load(browser, site.url("/iplogin")));
            QVERIFY(snapshotOf(browser).elementIds.contains("submitip"));
            complete.clear();
            browser.clickElementById("submitip");
        }
        QVERIFY(complete.wait(20000));
        QVERIFY(snapshotOf(browser).rootOuterHtml.contains(QString::fromUtf8("登录成功")));

        QTRY_VERIFY(!profile.cookieJar()->cookiesForUrl(fullText).isEmpty());
        const QByteArray after = fetch(nam, fullText);
        QVERIFY2(after.startsWith("%PDF"), after.left(200).constData());
        // The site saw the session on that request.
        QVERIFY(site.requestLog().last().contains("\tyes\t"));
    }

    // And the other way round: a session a download received is the
    // browser's too.
    void cookieSetOnDownloadReachesBrowser()
    {
        m_server.route("/grant", [](const PageServer::Request &) {
            return PageServer::Response{
                200, "text/plain", {"Set-Cookie: granted=yes; Path=/"}, "ok"};
        });
        m_server.route("/echo", [](const PageServer::Request &r) {
            return PageServer::Response{
                200, "text/html", {}, "<html><body>cookies:" + r.cookie + "</body></html>"};
        });
        QNetworkAccessManager nam;
        m_profile->cookieJar()->attachTo(&nam);
        QCOMPARE(fetch(nam, m_server.url("/grant")), QByteArray("ok"));

        WebEngineBrowser browser(m_profile.get());
        QVERIFY(load(browser, m_server.url("/echo")));
        QVERIFY(snapshotOf(browser).rootOuterHtml.contains("granted=yes"));
    }

    // The desktop program and the command-line tool run under different
    // program names; both must find the one profile, and nobody else may
    // look into it.
    void profileFiledUnderTheApplication()
    {
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName("lumenarc");
        const QString desktop = WebEngineProfile::defaultStorageFolder();
        QCoreApplication::setApplicationName("lumenarc-get-harvest");
        const QString tool = WebEngineProfile::defaultStorageFolder();
        QCoreApplication::setApplicationName(name);
        QCOMPARE(desktop, tool);
        QCOMPARE(WebEngineProfile::defaultStorageFolder(), desktop);
        QVERIFY2(desktop.endsWith(ApplicationTitle + "/browser"), qPrintable(desktop));

        const QString folder = m_dir.filePath("closed");
        WebEngineProfile profile(folder);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700);

        // Downloads of an engine go with the profile's cookies, and the jar
        // stays the profile's when the engine goes.
        {
            DownloadList list;
            test::FakeClock clock;
            test::FakeSoundPlayer sound;
            test::FakePrompter prompter;
            DownloadEngine engine(list, clock, sound, prompter);
            profile.shareSessionsWith(engine);
            for (QNetworkAccessManager *manager : engine.networkManagers())
                QCOMPARE(manager->cookieJar(), profile.cookieJar());
        }
        QVERIFY(profile.cookieJar()->insertCookie(QNetworkCookie("k", "v")));
    }

    // A sign-in the user made in an earlier run is still there.
    void persistentCookiesSurviveTheProfile()
    {
        PageServer server;
        QVERIFY(server.start());
        addLoginSite(server, "Path=/; Max-Age=3600");
        const QString folder = m_dir.filePath("persistent");
        {
            WebEngineProfile profile(folder);
            WebEngineBrowser browser(&profile);
            QVERIFY(load(browser, server.url("/login")));
            browser.setInputValue(1, "secret");
            QSignalSpy complete(&browser, &Browser::documentComplete);
            browser.clickInput(2);
            QVERIFY(complete.wait(20000));
            QTRY_VERIFY(!profile.cookieJar()->cookiesForUrl(server.url("/")).isEmpty());
        }
        WebEngineProfile again(folder);
        QTRY_VERIFY_WITH_TIMEOUT(!again.cookieJar()->cookiesForUrl(server.url("/")).isEmpty(),
                                 10000);
        QNetworkAccessManager nam;
        again.cookieJar()->attachTo(&nam);
        QCOMPARE(fetch(nam, server.url("/fulltext/5.pdf")), PdfBytes);
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestWebEngineBrowserUi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_web_engine_browser_ui.moc"
