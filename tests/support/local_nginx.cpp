#include "support/local_nginx.h"

#include <QProcess>

namespace lumen::test
{

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

LocalNginx::LocalNginx(const QString &folder) : m_folder(folder) {}

void LocalNginx::useTls(const QString &certFile, const QString &keyFile)
{
    m_cert = certFile;
    m_key = keyFile;
}

QString LocalNginx::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_cert.isEmpty() ? "http" : "https")
        .arg(port())
        .arg(path);
}

bool LocalNginx::start()
{
    const QString d = m_process.folder();
    QString root = m_folder;
    if (!root.endsWith('/'))
        root += '/';
    const auto config = [&](quint16 port) {
        const QString listen =
            QStringLiteral("127.0.0.1:%1%2").arg(port).arg(m_cert.isEmpty() ? "" : " ssl");
        QString tls;
        if (!m_cert.isEmpty())
            tls = QStringLiteral("    ssl_certificate %1;\n    ssl_certificate_key %2;\n")
                      .arg(m_cert, m_key);
        return QStringLiteral(
                   "daemon off;\n"
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
    };
    return m_process.start(QStringLiteral("nginx"), QStringLiteral("nginx.conf"), config,
                           {"-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"},
                           QStringLiteral("error.log"));
}

} // namespace lumen::test
