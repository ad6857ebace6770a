#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace lumen::test
{

// Debian's tinyproxy on a free 127.0.0.1 port, with its own configuration
// and log in a temporary folder. Stops with the object.
class LocalProxy
{
public:
    LocalProxy() = default;
    ~LocalProxy();
    LocalProxy(const LocalProxy &) = delete;
    LocalProxy &operator=(const LocalProxy &) = delete;

    bool start();
    void stop();
    quint16 port() const { return m_port; }
    // The proxy's log, one entry a line (requests appear as "Request ...: GET <url> ...").
    QStringList log() const;
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace lumen::test
