#include "support/local_proxy.h"

#include <unistd.h>

namespace lumen::test
{

bool LocalProxy::start()
{
    const QString d = m_process.folder();
    const auto config = [&d](quint16 port) {
        QString conf = QStringLiteral("Port %1\n"
                                      "Listen 127.0.0.1\n"
                                      "Timeout 600\n"
                                      "MaxClients 64\n"
                                      "Allow 127.0.0.1\n"
                                      "LogFile \"%2/tinyproxy.log\"\n"
                                      "LogLevel Info\n"
                                      "PidFile \"%2/tinyproxy.pid\"\n")
                           .arg(port)
                           .arg(d);
        // Run as whoever runs the test; as the superuser it would otherwise
        // switch to an account that cannot write the log here.
        if (::geteuid() == 0)
            conf += QStringLiteral("User root\nGroup root\n");
        return conf;
    };
    return m_process.start(QStringLiteral("tinyproxy"), QStringLiteral("tinyproxy.conf"), config,
                           {"-d", "-c", d + "/tinyproxy.conf"});
}

} // namespace lumen::test
