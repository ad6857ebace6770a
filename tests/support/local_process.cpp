#include "support/local_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace lumen::test
{

quint16 freeLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool waitForLocalPort(quint16 port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

LocalProcess::~LocalProcess()
{
    stop();
}

bool LocalProcess::start(const QString &program, const QString &configName,
                         const std::function<QString(quint16)> &configFor,
                         const QStringList &arguments, const QString &failureLog)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLocalPort();
        QFile f(m_dir.filePath(configName));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            m_error = f.errorString();
            return false;
        }
        f.write(configFor(m_port).toUtf8());
        f.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted(5000)) {
            m_error = m_process.errorString();
            return false;
        }
        if (waitForLocalPort(m_port) && m_process.state() == QProcess::Running)
            return true;
        m_error = QString::fromUtf8(m_process.readAll());
        stop();
        if (!failureLog.isEmpty())
            m_error = lines(failureLog).join('\n');
    }
    return false;
}

void LocalProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QStringList LocalProcess::lines(const QString &name) const
{
    QFile f(m_dir.filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace lumen::test
