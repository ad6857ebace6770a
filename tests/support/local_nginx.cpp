#include "support/local_nginx.h"

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

bool makeLocalCertificate(const QString &folder)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                   "-keyout", folder + "/key.pem", "-out", folder + "/cert.pem"});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
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

LocalNginx::LocalNginx(const QString &folder) : m_folder(folder) {}

LocalNginx::~LocalNginx()
{
    stop();
}

void LocalNginx::useTls(const QString &certFile, const QString &keyFile)
{
    m_cert = certFile;
    m_key = keyFile;
}

QString LocalNginx::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_cert.isEmpty() ? "http" : "https")
        .arg(m_port)
        .arg(path);
}

bool LocalNginx::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString d = m_dir.path();
    QString root = m_folder;
    if (!root.endsWith('/'))
        root += '/';
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freeLocalPort();
        const QString listen =
            QStringLiteral("127.0.0.1:%1%2").arg(m_port).arg(m_cert.isEmpty() ? "" : " ssl");
        QString tls;
        if (!m_cert.isEmpty())
            tls = QStringLiteral("    ssl_certificate %1;\n    ssl_certificate_key %2;\n")
                      .arg(m_cert, m_key);
        const QString conf =
            QStringLiteral("daemon off;\n"
                           "master_process off;\n"
                           "worker_processes 1;\n"
                           "pid %1/nginx.pid;\n"
                           "error_log %1/error.log warn;\n"
                           "events { worker_connections 256; }\n"
                           "http {\n"
                           "  access_log %1/access.log;\n"
                           "  client_body_temp_path %1/body;\n"
                           "  proxy_temp_path %1/proxy;\n"
                           "  fastcgi_temp_path %1/fastcgi;\n"
                           "  uwsgi_temp_path %1/uwsgi;\n"
                           "  scgi_temp_path %1/scgi;\n"
                           "  types { application/pdf pdf; text/html html htm; text/plain txt; }\n"
                           "  default_type application/octet-stream;\n"
                           "  sendfile on;\n"
                           "  server {\n"
                           "    listen %2;\n"
                           "%3"
                           "    root %4;\n"
                           "    location / { }\n"
                           "    location /nolength/ { alias %4; ssi on; ssi_types *; }\n"
                           "  }\n"
                           "}\n")
                .arg(d, listen, tls, root);
        QFile f(d + "/nginx.conf");
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.write(conf.toUtf8());
        f.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("nginx"),
                        {"-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"});
        if (!m_process.waitForStarted(5000)) {
            m_error = m_process.errorString();
            return false;
        }
        if (waitForLocalPort(m_port) && m_process.state() == QProcess::Running)
            return true;
        stop();
        QFile err(d + "/error.log");
        if (err.open(QIODevice::ReadOnly))
            m_error = QString::fromUtf8(err.readAll());
    }
    return false;
}

void LocalNginx::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QStringList LocalNginx::log() const
{
    QFile f(m_dir.path() + "/access.log");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace lumen::test
