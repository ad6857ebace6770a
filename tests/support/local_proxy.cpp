#include "support/local_proxy.h"

#include "support/local_nginx.h"

#include <QFile>

#include <unistd.h>

namespace lumen::test
{

LocalProxy::~LocalProxy()
{
    stop();
}

bool LocalProxy::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString d = m_dir.path();
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLocalPort();
        QString conf = QStringLiteral("Port %1\n"
                                      "Listen 127.0.0.1\n"
                                      "Timeout 600\n"
                                      "MaxClients 64\n"
                                      "Allow 127.0.0.1\n"
                                      "LogFile \"%2/tinyproxy.log\"\n"
                                      "LogLevel Info\n"
                                      "PidFile \"%2/tinyproxy.pid\"\n")
                           .arg(m_port)
                           .arg(d);
        // Run as whoever runs the test; as the superuser it would otherwise
        // switch to an account that cannot write the log here.
        if (::geteuid() == 0)
            conf += QStringLiteral("User root\nGroup root\n");
        QFile f(d + "/tinyproxy.conf");
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write(conf.toUtf8());
        f.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("tinyproxy"), {"-d", "-c", d + "/tinyproxy.conf"});
        if (!m_process.waitForStarted(5000)) {
            m_error = m_process.errorString();
            return false;
        }
        if (waitForLocalPort(m_port) && m_process.state() == QProcess::Running)
            return true;
        m_error = QString::fromUtf8(m_process.readAll());
        stop();
    }
    return false;
}

void LocalProxy::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QStringList LocalProxy::log() const
{
    QFile f(m_dir.path() + "/tinyproxy.log");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace lumen::test
