#include "repository_site.h"

#include "item_behaviour.h"
#include "payloads.h"
#include "titles.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace lumen::testsite
{

namespace
{

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

QString page(const QString &title, const QString &body, const QString &head = {})
{
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<title>%1</title>\n%3</head>\n<body>\n"
               "<div class=\"nav\"><a href=\"/\">首页</a> | <a href=\"/about\">关于本站</a>"
               " | <a href=\"/login\">登录</a> | <a href=\"/iplogin\">IP登录</a></div>\n"
               "%2\n</body>\n</html>\n")
        .arg(esc(title), body, head);
}

// The first value of key in a form-encoded text ('+' is a space).
QString formValue(const QByteArray &encoded, const QByteArray &key, bool *found = nullptr)
{
    if (found)
        *found = false;
    for (const QByteArray &pair : encoded.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        const QByteArray name = eq < 0 ? pair : pair.left(eq);
        if (QByteArray::fromPercentEncoding(QByteArray(name).replace('+', ' ')) != key)
            continue;
        if (found)
            *found = true;
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        return QString::fromUtf8(QByteArray::fromPercentEncoding(value.replace('+', ' ')));
    }
    return {};
}

int intValue(const QString &text, int fallback)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok ? v : fallback;
}

QString encodeQuery(const QString &q)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(q));
}

QString searchLink(const QString &q, int rows, int start)
{
    return QStringLiteral("/search?q=%1&amp;rows=%2&amp;start=%3")
        .arg(encodeQuery(q))
        .arg(rows)
        .arg(start);
}

QStringList authorsOf(int id)
{
    static const QStringList surnames = {
        QStringLiteral("王"), QStringLiteral("李"), QStringLiteral("张"), QStringLiteral("刘"),
        QStringLiteral("陈"), QStringLiteral("杨"), QStringLiteral("赵"), QStringLiteral("黄")};
    static const QStringList given = {
        QStringLiteral("伟"),   QStringLiteral("芳"),  QStringLiteral("娜"),   QStringLiteral("敏"),
        QStringLiteral("静"),   QStringLiteral("磊"),  QStringLiteral("晓洋"), QStringLiteral("婷"),
        QStringLiteral("建杰"), QStringLiteral("志强")};
    QStringList out;
    const int count = 1 + id % 3;
    for (int i = 0; i < count; ++i)
        out << surnames.at((id + i * 3) % surnames.size()) + given.at((id * 7 + i) % given.size());
    return out;
}

// The markup of a title inside its result entry: a TwoLines title is broken
// where its display shows one space.
QString titleMarkup(int id)
{
    int source = id;
    while (titleKindOf(source) == TitleKind::Duplicate)
        --source;
    const QString title = titleOf(id);
    if (titleKindOf(source) != TitleKind::TwoLines)
        return esc(title);
    const QString second = twoLinesSecondPart(source);
    const QString first = title.left(title.size() - second.size() - 1);
    return esc(first) + QStringLiteral("\n            ") + esc(second);
}

// Result entries are written in several hands, as pages assembled by
// different templates are: quoting, spacing and letter case vary.
QString resultEntry(int id)
{
    const QString t = titleMarkup(id);
    switch (id % 4) {
    case 0:
        return QStringLiteral("<a href=\"/items/%1\"><div class=\"c-clientmarkup\">%2</div></a>")
            .arg(id)
            .arg(t);
    case 1:
        return QStringLiteral(
                   "<a href='/items/%1' target='_blank'><div class='c-clientmarkup'>%2</div></a>")
            .arg(id)
            .arg(t);
    case 2:
        return QStringLiteral("<a href=/items/%1><DIV class = c-clientmarkup >%2</DIV></a>")
            .arg(id)
            .arg(t);
    default:
        return QStringLiteral("<a class=\"title\" href=\"/items/%1\"><div  "
                              "class=\"c-clientmarkup\" >%2</div></a>")
            .arg(id)
            .arg(t);
    }
}

const char TransparentGif[] =
    "data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7";

QString behaviourName(ItemBehaviour b)
{
    switch (b) {
    case ItemBehaviour::Pdf:
        return QStringLiteral("Pdf");
    case ItemBehaviour::Chunked:
        return QStringLiteral("Chunked");
    case ItemBehaviour::OctetStream:
        return QStringLiteral("OctetStream");
    case ItemBehaviour::TextPlain:
        return QStringLiteral("TextPlain");
    case ItemBehaviour::PdfCharset:
        return QStringLiteral("PdfCharset");
    case ItemBehaviour::LoginGated:
        return QStringLiteral("LoginGated");
    case ItemBehaviour::ServerError:
        return QStringLiteral("ServerError");
    case ItemBehaviour::TooLarge:
        return QStringLiteral("TooLarge");
    case ItemBehaviour::SlowBody:
        return QStringLiteral("SlowBody");
    case ItemBehaviour::Stall:
        return QStringLiteral("Stall");
    case ItemBehaviour::DropMidBody:
        return QStringLiteral("DropMidBody");
    case ItemBehaviour::Redirect:
        return QStringLiteral("Redirect");
    case ItemBehaviour::Caj:
        return QStringLiteral("Caj");
    case ItemBehaviour::Kdh:
        return QStringLiteral("Kdh");
    case ItemBehaviour::Nh:
        return QStringLiteral("Nh");
    case ItemBehaviour::NeedsReferer:
        return QStringLiteral("NeedsReferer");
    }
    return {};
}

QString loginForm(const QString &message)
{
    QString html;
    if (!message.isEmpty())
        html += QStringLiteral("<p class=\"error\">%1</p>\n").arg(esc(message));
    html += QStringLiteral("<form method=\"post\" action=\"/login\">\n"
                           "<p>用户名 <input type=\"text\" name=\"userid\"></p>\n"
                           "<p>密码 <input type=\"password\" name=\"password\"></p>\n"
                           "<p><input type=\"submit\" name=\"login\" value=\"登录\"></p>\n"
                           "</form>\n");
    return html;
}

HttpResponse methodNotAllowed(const QByteArray &allow)
{
    HttpResponse r =
        HttpResponse::html(405, page(QStringLiteral("405 Method Not Allowed"),
                                     QStringLiteral("<h1>405 Method Not Allowed</h1>")));
    r.addHeader("Allow", allow);
    return r;
}

HttpResponse notFound()
{
    return HttpResponse::html(404,
                              page(QStringLiteral("404 Not Found"),
                                   QStringLiteral("<h1>404 Not Found</h1><p>页面不存在。</p>")));
}

HttpResponse internalError()
{
    return HttpResponse::html(
        500, QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head><title>500 Internal Server "
                            "Error</title></head>\n<body>\n<h1>Internal Server Error</h1>\n"
                            "<p>The server encountered an internal error and was unable to "
                            "complete your request.</p>\n</body>\n</html>\n"));
}

} // namespace

RepositorySite::RepositorySite(int itemCount, const QString &version)
    : m_itemCount(itemCount), m_version(version)
{
    m_titles.reserve(itemCount);
    for (int id = 1; id <= itemCount; ++id)
        m_titles.append(titleOf(id));
}

bool RepositorySite::hasSession(const HttpRequest &request) const
{
    const QByteArray token = request.cookie(SessionCookieName);
    return !token.isEmpty() && m_sessions.contains(token);
}

int RepositorySite::itemId(const QByteArray &digits) const
{
    if (digits.isEmpty() || digits.size() > 9 || digits.startsWith('0'))
        return -1;
    const int id = digits.toInt();
    return id >= 1 && id <= m_itemCount ? id : -1;
}

HttpResponse RepositorySite::handle(const HttpRequest &request)
{
    const QByteArray path = QByteArray::fromPercentEncoding(request.path);
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";

    if (path == "/login" || path == "/iplogin") {
        if (!get && !post)
            return methodNotAllowed("GET, HEAD, POST");
        return path == "/login" ? loginPage(request) : ipLoginPage(request);
    }

    static const QRegularExpression itemRe(QStringLiteral("^/items/([0-9]+)(\\.pdf)?$"));
    static const QRegularExpression fileRe(QStringLiteral("^/files/([0-9]+)\\.pdf$"));
    static const QRegularExpression bytesRe(QStringLiteral("^/bytes/([0-9]+)$"));
    static const QRegularExpression versionRe(QStringLiteral("^/[^/]+/newver\\.txt$"));
    static const QRegularExpression productRe(QStringLiteral("^/[^/]+/$"));
    const QString p = QString::fromUtf8(path);

    std::function<HttpResponse()> answer;
    if (p == QLatin1String("/")) {
        answer = [this] { return homePage(); };
    } else if (p == QLatin1String("/search")) {
        answer = [this, &request] { return searchPage(request); };
    } else if (p == QLatin1String("/about")) {
        answer = [this] { return aboutPage(); };
    } else if (p == QLatin1String("/logout")) {
        answer = [this, &request] { return logout(request); };
    } else if (const auto m = itemRe.match(p); m.hasMatch()) {
        const int id = itemId(m.captured(1).toLatin1());
        if (id < 0)
            return notFound();
        if (m.capturedLength(2) > 0)
            answer = [this, &request, id] { return fullText(request, id); };
        else
            answer = [this, id] { return itemPage(id); };
    } else if (const auto m = fileRe.match(p); m.hasMatch()) {
        const int id = itemId(m.captured(1).toLatin1());
        if (id < 0)
            return notFound();
        answer = [this, id] { return plainPdf(id, "application/pdf"); };
    } else if (const auto m = bytesRe.match(p); m.hasMatch()) {
        answer = [this, m] { return bytes(m.captured(1).toLatin1()); };
    } else if (versionRe.match(p).hasMatch()) {
        answer = [this] { return HttpResponse::text(200, m_version.toUtf8()); };
    } else if (productRe.match(p).hasMatch()) {
        answer = [] {
            return HttpResponse::html(
                200, page(QStringLiteral("澜图Lumenarc 产品主页"),
                          QStringLiteral("<h1>澜图Lumenarc</h1><p>最新版本的说明与下载。</p>")));
        };
    } else {
        return notFound();
    }
    if (!get)
        return methodNotAllowed("GET, HEAD");
    return answer();
}

HttpResponse RepositorySite::homePage() const
{
    return HttpResponse::html(
        200, page(QStringLiteral("西岭大学文献库"),
                  QStringLiteral("<h1>西岭大学文献库</h1>\n"
                                 "<form action=\"/search\" method=\"get\">\n"
                                 "<input type=\"text\" name=\"q\" value=\"\">\n"
                                 "<input type=\"submit\" value=\"检索\">\n</form>\n"
                                 "<p>试试 <a href=\"/search?q=demo\">demo</a> 或 "
                                 "<a href=\"/search?q=all\">全部 (%1 篇)</a>。</p>\n")
                      .arg(m_itemCount)));
}

HttpResponse RepositorySite::searchPage(const HttpRequest &request) const
{
    const QString q = formValue(request.query, "q");
    if (q == QLatin1String("servererror"))
        return internalError();
    int rows = intValue(formValue(request.query, "rows"), DefaultRows);
    rows = rows < 1 ? DefaultRows : qMin(rows, MaxRows);
    const int start = qMax(0, intValue(formValue(request.query, "start"), 0));

    QList<int> hits;
    for (int id = 1; id <= m_itemCount; ++id)
        if (matchesQuery(id, m_titles.at(id - 1), q))
            hits.append(id);
    const int total = int(hits.size());
    const int end = qMin(total, start + rows);

    QString body =
        QStringLiteral("<form action=\"/search\" method=\"get\">\n"
                       "<input type=\"text\" name=\"q\" value=\"%1\">\n"
                       "<input type=\"submit\" value=\"检索\">\n</form>\n"
                       "<div class=\"tips\">翻页说明见 <a href=\"/about#paging\">next</a></div>\n"
                       "<div class=\"summary\">共找到 <span class=\"total\">%2</span> 条结果")
            .arg(esc(q))
            .arg(total);
    if (start < end)
        body += QStringLiteral("，显示第 %1-%2 条").arg(start + 1).arg(end);
    body += QStringLiteral("</div>\n<ol class=\"results\" start=\"%1\">\n").arg(start + 1);
    for (int i = start; i < end; ++i) {
        const int id = hits.at(i);
        body += QStringLiteral("<li class=\"result\">\n") + resultEntry(id) + QLatin1Char('\n');
        QStringList authorLinks;
        for (const QString &a : authorsOf(id))
            authorLinks << QStringLiteral("<a class=\"author\" href=\"/search?q=%1\">%2</a>")
                               .arg(encodeQuery(a), esc(a));
        body += QStringLiteral("<div class=\"meta\">作者: ") +
                authorLinks.join(QStringLiteral("; ")) + QStringLiteral("</div>\n");
        if (id % 3 == 0)
            body += QStringLiteral("<a class=\"thumb\" href=\"/items/%1\"><div "
                                   "class=\"c-clientmarkup\"><img src=\"%2\" alt=\"\"></div></a>\n")
                        .arg(id)
                        .arg(QLatin1String(TransparentGif));
        if (id % 4 == 1)
            body += QStringLiteral("<a class=\"cited\" href=\"/items/%1#cited\"><div "
                                   "class=\"c-clientmarkup c-citation\">被引 %2 次</div></a>\n")
                        .arg(id)
                        .arg(id % 17);
        body += QStringLiteral("</li>\n");
    }
    body += QStringLiteral("</ol>\n<div class=\"pager\">\n");
    if (start > 0)
        body += QStringLiteral("<a class=\"pager-prev\" href=\"%1\">previous</a>\n")
                    .arg(searchLink(q, rows, qMax(0, start - rows)));
    if (end < total)
        body += QStringLiteral("<a class=\"pager-next\" href=\"%1\" "
                               "onclick=\"gotoNextresultset(); return false;\">next</a>\n")
                    .arg(searchLink(q, rows, end));
    body += QStringLiteral("</div>\n");

    const QString script =
        QStringLiteral("<script>\nfunction gotoNextresultset() {\n"
                       "  var a = document.querySelector('a.pager-next');\n"
                       "  if (a) window.location.href = a.href;\n}\n</script>\n");
    return HttpResponse::html(200, page(QStringLiteral("检索结果 - 西岭大学文献库"), body, script));
}

HttpResponse RepositorySite::itemPage(int id) const
{
    const QString title = titleOf(id);
    const QString body =
        QStringLiteral("<h1 class=\"item-title\">%1</h1>\n<p class=\"authors\">%2</p>\n"
                       "<p class=\"abstract\">摘要：本文讨论%3。</p>\n"
                       "<p><a class=\"fulltext\" href=\"/items/%4.pdf\">下载全文 (PDF)</a></p>\n")
            .arg(esc(title), esc(authorsOf(id).join(QStringLiteral(", "))), esc(title))
            .arg(id);
    return HttpResponse::html(200, page(title, body));
}

HttpResponse RepositorySite::plainPdf(int id, const QByteArray &contentType) const
{
    const PdfLayout pdf = PdfLayout::forItem(id);
    HttpResponse r;
    r.contentType = contentType;
    r.setBody(pdf.bytes());
    return r;
}

bool RepositorySite::refererFromSite(const HttpRequest &request) const
{
    const QUrl referer(QString::fromUtf8(request.header("referer")));
    if (!referer.isValid() || referer.scheme() != QLatin1String("http"))
        return false;
    const QString host = referer.host();
    return (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost")) &&
           referer.port(80) == request.localPort;
}

HttpResponse RepositorySite::fullText(const HttpRequest &request, int id) const
{
    switch (behaviourOf(id)) {
    case ItemBehaviour::Pdf:
        return plainPdf(id, "application/pdf");
    case ItemBehaviour::Chunked: {
        HttpResponse r = plainPdf(id, "application/pdf");
        r.chunked = true;
        r.chunkBytes = ChunkBytes;
        return r;
    }
    case ItemBehaviour::OctetStream:
        return plainPdf(id, "application/octet-stream");
    case ItemBehaviour::TextPlain:
        return plainPdf(id, "text/plain");
    case ItemBehaviour::PdfCharset:
        return plainPdf(id, "application/pdf; charset=UTF-8");
    case ItemBehaviour::LoginGated:
        if (hasSession(request))
            return plainPdf(id, "application/pdf");
        return HttpResponse::html(200, page(QStringLiteral("用户登录"),
                                            QStringLiteral("<h1>请先登录</h1>\n") +
                                                loginForm(QStringLiteral("全文下载需要登录。"))));
    case ItemBehaviour::ServerError:
        return internalError();
    case ItemBehaviour::TooLarge: {
        const PdfLayout pdf = PdfLayout::ofSize(id, TooLargeBytes);
        HttpResponse r;
        r.contentType = "application/pdf";
        r.bodyLength = pdf.size();
        r.body = [pdf](qint64 offset, qint64 max) { return pdf.read(offset, max); };
        return r;
    }
    case ItemBehaviour::SlowBody: {
        HttpResponse r = plainPdf(id, "application/pdf");
        r.bytesPerSecond = SlowBodyBytesPerSecond;
        return r;
    }
    case ItemBehaviour::Stall: {
        HttpResponse r = plainPdf(id, "application/pdf");
        r.cutAfter = StallAfterBytes;
        r.afterCut = HttpResponse::AfterCut::Stall;
        return r;
    }
    case ItemBehaviour::DropMidBody: {
        HttpResponse r = plainPdf(id, "application/pdf");
        r.cutAfter = DropAfterBytes;
        r.afterCut = HttpResponse::AfterCut::Close;
        return r;
    }
    case ItemBehaviour::Redirect: {
        QByteArray host = request.header("host");
        if (host.isEmpty())
            host = "127.0.0.1:" + QByteArray::number(request.localPort);
        const QByteArray location = "http://" + host + "/files/" + QByteArray::number(id) + ".pdf";
        HttpResponse r =
            HttpResponse::html(302, page(QStringLiteral("302 Found"),
                                         QStringLiteral("<p>全文已移至 <a href=\"%1\">%1</a>。</p>")
                                             .arg(QString::fromLatin1(location))));
        r.addHeader("Location", location);
        return r;
    }
    case ItemBehaviour::Caj: {
        HttpResponse r;
        r.contentType = "application/octet-stream";
        r.setBody(signedFile(QByteArray("\xC8\x00\x00\x00", 4), id));
        return r;
    }
    case ItemBehaviour::Kdh: {
        HttpResponse r;
        r.contentType = "application/kdh";
        r.setBody(signedFile(QByteArray("KDH ", 4), id));
        return r;
    }
    case ItemBehaviour::Nh: {
        HttpResponse r;
        r.contentType = "application/nh";
        r.setBody(signedFile(QByteArray("HN\x00\x00", 4), id));
        return r;
    }
    case ItemBehaviour::NeedsReferer:
        if (refererFromSite(request))
            return plainPdf(id, "application/pdf");
        return HttpResponse::html(
            403, page(QStringLiteral("403 Forbidden"),
                      QStringLiteral("<h1>403 Forbidden</h1><p>请从本站页面访问全文。</p>")));
    }
    return notFound();
}

HttpResponse RepositorySite::startSession()
{
    const QByteArray token =
        QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
    m_sessions.insert(token);
    HttpResponse r = HttpResponse::html(
        200, page(QStringLiteral("登录成功"),
                  QStringLiteral("<h1>登录成功</h1><p><a href=\"/\">返回首页</a></p>")));
    r.addHeader("Set-Cookie", QByteArray(SessionCookieName) + '=' + token + "; Path=/; HttpOnly");
    return r;
}

HttpResponse RepositorySite::loginPage(const HttpRequest &request)
{
    if (request.method == "POST") {
        const QString user = formValue(request.body, "userid").trimmed();
        const QString password = formValue(request.body, "password");
        if (!user.isEmpty() && password == QLatin1String(LoginPassword))
            return startSession();
        return HttpResponse::html(200, page(QStringLiteral("用户登录"),
                                            QStringLiteral("<h1>用户登录</h1>\n") +
                                                loginForm(QStringLiteral("用户名或密码错误。"))));
    }
    return HttpResponse::html(200, page(QStringLiteral("用户登录"),
                                        QStringLiteral("<h1>用户登录</h1>\n") + loginForm({})));
}

HttpResponse RepositorySite::ipLoginPage(const HttpRequest &request)
{
    if (request.method == "POST")
        return startSession();
    return HttpResponse::html(
        200, page(QStringLiteral("IP登录"),
                  QStringLiteral("<h1>IP登录</h1>\n<p>本机地址在授权范围内。</p>\n"
                                 "<form method=\"post\" action=\"/iplogin\">\n"
                                 "<input type=\"submit\" id=\"submitip\" value=\"IP登录\">\n"
                                 "</form>\n")));
}

HttpResponse RepositorySite::logout(const HttpRequest &request)
{
    m_sessions.remove(request.cookie(SessionCookieName));
    HttpResponse r = HttpResponse::html(
        200, page(QStringLiteral("已退出"), QStringLiteral("<h1>已退出登录</h1>")));
    r.addHeader("Set-Cookie", QByteArray(SessionCookieName) + "=; Path=/; Max-Age=0");
    return r;
}

HttpResponse RepositorySite::bytes(const QByteArray &count) const
{
    bool ok = false;
    const qint64 n = count.toLongLong(&ok);
    if (!ok || count.size() > 15)
        return notFound();
    HttpResponse r;
    r.contentType = "application/octet-stream";
    r.bodyLength = n;
    r.body = [](qint64 offset, qint64 max) { return patternBytes(offset, max); };
    return r;
}

HttpResponse RepositorySite::aboutPage() const
{
    QString b = QStringLiteral("<h1>About this site</h1>\n");
    b += QStringLiteral(
             "<p>A local stand-in for the Lumenarc repository and the full-text servers behind it, "
             "serving a synthetic corpus of %1 items (ids 1 to %1), version %2.</p>\n")
             .arg(m_itemCount)
             .arg(esc(m_version));

    b += QStringLiteral(
             "<h2 id=\"urls\">Addresses</h2>\n<ul>\n"
             "<li><code>/</code> home page with a search form.</li>\n"
             "<li><code>/search?q=Q[&amp;rows=R][&amp;start=S]</code> result pages. R defaults to "
             "%1 and "
             "is at most %2; S (default 0) is the 0-based index of the first entry. "
             "<code>q=*</code> or <code>q=all</code> gives every item; <code>q=demo</code> the "
             "first "
             "60 items except those that stall; <code>q=servererror</code> answers 500 with a page "
             "holding \"Internal Server Error\"; any other query gives the items whose title "
             "contains it, compared without regard to case.</li>\n"
             "<li><code>/items/ID</code> the item page; <code>/items/ID.pdf</code> its full text "
             "(behaviour below); <code>/files/ID.pdf</code> the plain PDF (the redirect "
             "target).</li>\n"
             "<li><code>/login</code> account form (inputs <code>userid</code>, "
             "<code>password</code>, "
             "then a submit input); a POST with any non-empty userid and password "
             "<code>%3</code> sets the session cookie <code>%4</code>; a wrong password shows the "
             "form "
             "again. <code>/iplogin</code>: the element with id <code>submitip</code> posts a form "
             "that sets the cookie. <code>/logout</code> ends the session.</li>\n"
             "<li><code>/NAME/newver.txt</code> (any single NAME): the published version as plain "
             "text; "
             "<code>/NAME/</code> the product page.</li>\n"
             "<li><code>/bytes/N</code>: N bytes as fast as the client takes them, with "
             "Content-Length; byte p is p mod 251.</li>\n</ul>\n")
             .arg(DefaultRows)
             .arg(MaxRows)
             .arg(QLatin1String(LoginPassword), QLatin1String(SessionCookieName));

    b += QStringLiteral(
        "<h2 id=\"running\">Running</h2>\n<p><code>lumenarc-testsite [--port N] [--items N] "
        "[--version X.Y.Z] [--log FILE]</code>. Port 0 (the default) takes a free port on "
        "127.0.0.1; the first line on standard output is <code>listening on "
        "http://127.0.0.1:PORT/</code>. The site ends on SIGINT, SIGTERM, or when its standard "
        "input, if a pipe or socket, closes. With <code>--log</code> it appends one line per "
        "request, written when it has nothing more to send for it (a stalled full text is "
        "logged when it falls silent): method, path and query, Referer or <code>-</code>, "
        "<code>yes</code> when a valid session cookie came and <code>no</code> otherwise, "
        "status, body bytes sent; separated by tabs. Malformed requests are logged with "
        "<code>-</code> for what could not be read.</p>\n"
        "<p>HTTP/1.1 with keep-alive and pipelining. Refused requests: 400 (malformed), 404, "
        "405 (with Allow), 413 (a body above 1 MiB), 414 (a request line above 8 KiB), 431 "
        "(headers above 32 KiB), 501 (a request body with Transfer-Encoding), 505 (another HTTP "
        "version); each but 404 and 405 closes the connection.</p>\n");
    b += QStringLiteral(
        "<h2 id=\"paging\">Result pages</h2>\n<p>Every link on the site is root-relative "
        "(<code>/items/ID</code>, <code>/search?...</code>). Each result entry is an anchor "
        "<code>&lt;a href=\"/items/ID\"&gt;&lt;div class=\"c-clientmarkup\"&gt;TITLE&lt;/div&gt;"
        "&lt;/a&gt;</code>, written with double, single or no quotes and extra spaces depending "
        "on id mod 4. Decoys: navigation links, author links, an image-only result link "
        "(ids divisible by 3), a citation link whose div has a second class (id mod 4 = 1), and "
        "a \"next\" link without the paging marker. The total count is in "
        "<code>&lt;span class=\"total\"&gt;</code>. Every page but the last ends with an anchor "
        "whose text is <code>next</code> and whose markup holds <code>gotoNextresultset</code>; "
        "it links to the same search with start advanced by the rows.</p>\n");

    b += QStringLiteral("<h2 id=\"behaviours\">Full-text behaviour (by id mod 20)</h2>\n"
                        "<table border=\"1\">\n<tr><th>id mod 20</th><th>behaviour</th><th>what "
                        "a client sees at /items/ID.pdf</th><th>ids</th></tr>\n");
    const QList<QPair<ItemBehaviour, QString>> rows = {
        {ItemBehaviour::Pdf, QStringLiteral("200 application/pdf with Content-Length, 2-5 KiB")},
        {ItemBehaviour::Chunked,
         QStringLiteral("200 application/pdf, chunked (%1-byte chunks), no Content-Length")
             .arg(ChunkBytes)},
        {ItemBehaviour::OctetStream, QStringLiteral("200 application/octet-stream, PDF bytes")},
        {ItemBehaviour::TextPlain, QStringLiteral("200 text/plain, PDF bytes")},
        {ItemBehaviour::PdfCharset, QStringLiteral("200 application/pdf; charset=UTF-8")},
        {ItemBehaviour::LoginGated,
         QStringLiteral("without the session cookie: 200 text/html login page (the form of "
                        "/login); with it: the PDF")},
        {ItemBehaviour::ServerError,
         QStringLiteral("500 text/html page holding \"Internal Server Error\"")},
        {ItemBehaviour::TooLarge,
         QStringLiteral("200 application/pdf, Content-Length %1 (a valid PDF, sent in full)")
             .arg(TooLargeBytes)},
        {ItemBehaviour::SlowBody,
         QStringLiteral("200 application/pdf at %1 bytes per second").arg(SlowBodyBytesPerSecond)},
        {ItemBehaviour::Stall,
         QStringLiteral("200 application/pdf with the full Content-Length; %1 body bytes, then "
                        "silence with the connection open until the client goes")
             .arg(StallAfterBytes)},
        {ItemBehaviour::DropMidBody,
         QStringLiteral("200 application/pdf with the full Content-Length; %1 body bytes, then "
                        "the connection is closed")
             .arg(DropAfterBytes)},
        {ItemBehaviour::Redirect, QStringLiteral("302 to http://HOST/files/ID.pdf (a plain PDF)")},
        {ItemBehaviour::Caj,
         QStringLiteral("200 application/octet-stream, starts C8 00 00 00 (CAJ)")},
        {ItemBehaviour::Kdh, QStringLiteral("200 application/kdh, starts \"KDH \"")},
        {ItemBehaviour::Nh, QStringLiteral("200 application/nh, starts 48 4E 00 00 (HN)")},
        {ItemBehaviour::NeedsReferer,
         QStringLiteral("403 text/html unless the Referer is a page of this site "
                        "(http://127.0.0.1 or localhost with this port); then the PDF")},
    };
    for (const auto &row : rows) {
        QStringList mods, ids;
        for (int m = 0; m < 20; ++m)
            if (behaviourOf(m) == row.first)
                mods << QString::number(m);
        for (int id = 1; id <= m_itemCount && ids.size() < 6; ++id)
            if (behaviourOf(id) == row.first)
                ids << QString::number(id);
        b += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4 ...</td></tr>\n")
                 .arg(mods.join(QStringLiteral(", ")), behaviourName(row.first), esc(row.second),
                      ids.join(QStringLiteral(", ")));
    }
    b += QStringLiteral("</table>\n");

    b += QStringLiteral(
        "<h2 id=\"titles\">Titles (first rule that applies)</h2>\n<table border=\"1\">\n"
        "<tr><th>rule</th><th>kind</th><th>example</th></tr>\n");
    const QList<QPair<QString, TitleKind>> kinds = {
        {QStringLiteral("id mod 20 = 19"), TitleKind::Duplicate},
        {QStringLiteral("id mod 50 = 17"), TitleKind::VeryLong},
        {QStringLiteral("id mod 11 = 3"), TitleKind::TwoLines},
        {QStringLiteral("id mod 9 = 4"), TitleKind::ForbiddenChars},
        {QStringLiteral("id mod 5 = 0"), TitleKind::English},
        {QStringLiteral("other even ids"), TitleKind::Chinese},
        {QStringLiteral("other odd ids"), TitleKind::Mixed},
    };
    for (const auto &k : kinds) {
        int example = 0;
        for (int id = 1; id <= m_itemCount && !example; ++id)
            if (titleKindOf(id) == k.second)
                example = id;
        QString note = titleKindName(k.second);
        if (k.second == TitleKind::Duplicate)
            note += QStringLiteral(" (same title as id - 1)");
        if (k.second == TitleKind::VeryLong)
            note += QStringLiteral(" (more than 125 Chinese characters)");
        if (k.second == TitleKind::TwoLines)
            note += QStringLiteral(" (a line break in the markup; shown with one space)");
        if (k.second == TitleKind::ForbiddenChars)
            note += QStringLiteral(" (\\ / : * ? \" &lt; &gt; |)");
        b += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>\n")
                 .arg(k.first, note,
                      example ? QStringLiteral("%1: %2").arg(example).arg(esc(titleOf(example)))
                              : QString());
    }
    b += QStringLiteral("</table>\n");
    return HttpResponse::html(200, page(QStringLiteral("About this site"), b));
}

} // namespace lumen::testsite
