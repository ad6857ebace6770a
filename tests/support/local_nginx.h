#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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
    ~LocalNginx();
    LocalNginx(const LocalNginx &) = delete;
    LocalNginx &operator=(const LocalNginx &) = delete;

    // Serve HTTPS instead of HTTP with this certificate and key (PEM files).
    void useTls(const QString &certFile, const QString &keyFile);

    bool start();
    void stop();
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT" + path (https when TLS is on).
    QString url(const QString &path) const;
    // The access log, one request a line.
    QStringList log() const;
    QString errorString() const { return m_error; }

private:
    QString m_folder;
    QString m_cert;
    QString m_key;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

// Writes cert.pem and key.pem (a self-signed certificate for 127.0.0.1 and
// localhost, valid for a day) into folder with the openssl tool.
bool makeLocalCertificate(const QString &folder);

// A port nothing listens on at the moment of asking.
quint16 freeLocalPort();
// Waits up to timeoutMs for something to accept connections on the port.
bool waitForLocalPort(quint16 port, int timeoutMs = 5000);

} // namespace lumen::test
