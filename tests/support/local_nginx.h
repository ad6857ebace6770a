#pragma once

#include "support/local_process.h"

#include <QString>
#include <QStringList>

namespace lumen::test
{

// Debian's nginx serving a folder on a free 127.0.0.1 port, for tests and
// benchmarks that want a stock server as the witness. Files are served as
// they are with a Content-Length; the same files under /nolength/ come
// chunked, without one. Stops with the object.
class LocalNginx
{
public:
    explicit LocalNginx(const QString &folder);
    LocalNginx(const LocalNginx &) = delete;
    LocalNginx &operator=(const LocalNginx &) = delete;

    // Serve HTTPS instead of HTTP with this certificate and key (PEM files).
    void useTls(const QString &certFile, const QString &keyFile);

    bool start();
    void stop() { m_process.stop(); }
    quint16 port() const { return m_process.port(); }
    // "http://127.0.0.1:PORT" + path (https when TLS is on).
    QString url(const QString &path) const;
    // The access log, one request a line.
    QStringList log() const { return m_process.lines(QStringLiteral("access.log")); }
    QString errorString() const { return m_process.errorString(); }

private:
    QString m_folder;
    QString m_cert;
    QString m_key;
    LocalProcess m_process;
};

// Writes cert.pem and key.pem (a self-signed certificate for 127.0.0.1 and
// localhost, valid for a day) into folder with the openssl tool.
bool makeLocalCertificate(const QString &folder);

} // namespace lumen::test
