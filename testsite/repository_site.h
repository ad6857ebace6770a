#pragma once

// The local repository site: search pages, item pages, full texts that
// behave as full-text servers do in the field, login pages, the published
// version file, a byte stream for benchmarks, and a help page that tells
// which item does what.

#include "http_server.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace lumen::testsite
{

class RepositorySite
{
public:
    static constexpr int DefaultRows = 10;
    static constexpr int MaxRows = 100;

    RepositorySite(int itemCount, const QString &version);

    HttpResponse handle(const HttpRequest &request);
    bool hasSession(const HttpRequest &request) const;

private:
    HttpResponse homePage() const;
    HttpResponse searchPage(const HttpRequest &request) const;
    HttpResponse itemPage(int id) const;
    HttpResponse fullText(const HttpRequest &request, int id) const;
    HttpResponse plainPdf(int id, const QByteArray &contentType) const;
    HttpResponse loginPage(const HttpRequest &request);
    HttpResponse ipLoginPage(const HttpRequest &request);
    HttpResponse logout(const HttpRequest &request);
    HttpResponse bytes(const QByteArray &count) const;
    HttpResponse aboutPage() const;
    HttpResponse startSession();
    bool refererFromSite(const HttpRequest &request) const;
    int itemId(const QByteArray &digits) const;

    int m_itemCount;
    QString m_version;
    QStringList m_titles; // m_titles[id - 1], made once: searches scan them all
    QSet<QByteArray> m_sessions;
};

} // namespace lumen::testsite
