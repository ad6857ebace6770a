#pragma once

#include "support/local_process.h"

#include <QStringList>

namespace lumen::test
{

// Debian's tinyproxy on a free 127.0.0.1 port, with its own configuration
// and log in a temporary folder. Stops with the object.
class LocalProxy
{
public:
    bool start();
    void stop() { m_process.stop(); }
    quint16 port() const { return m_process.port(); }
    // The proxy's log, one entry a line (requests appear as "Request ...: GET <url> ...").
    QStringList log() const { return m_process.lines(QStringLiteral("tinyproxy.log")); }
    QString errorString() const { return m_process.errorString(); }

private:
    LocalProcess m_process;
};

} // namespace lumen::test
