#pragma once

// Starts the local repository site (lumenarc-testsite) on a free port for a
// test, and stops it again. The site's stdin stays a pipe held by this
// object, so the site ends with the test even if the test crashes.

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace lumen::test
{

class TestSite
{
public:
    TestSite() = default;
    ~TestSite();
    TestSite(const TestSite &) = delete;
    TestSite &operator=(const TestSite &) = delete;

    // Runs the site with --port 0 and a request log of its own (unless
    // extraArgs name a --log), and waits up to 10 s for its first line.
    bool start(const QStringList &extraArgs = {});
    void stop();
    bool isRunning() const;

    QUrl baseUrl() const { return m_baseUrl; } // http://127.0.0.1:PORT/
    quint16 port() const { return quint16(m_baseUrl.port(0)); }
    // baseUrl() with the given path and query, e.g. url("/items/5.pdf").
    QUrl url(const QString &pathAndQuery) const;

    // The request log so far, one tab-separated line per request:
    // method, path and query, Referer or -, yes/no (session cookie), status,
    // body bytes sent.
    QStringList requestLog() const;
    QString logPath() const { return m_logPath; }

private:
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_dir;
    QUrl m_baseUrl;
    QString m_logPath;
};

} // namespace lumen::test
