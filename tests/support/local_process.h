#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace lumen::test
{

// A port nothing listens on at the moment of asking.
quint16 freeLocalPort();
// Waits up to timeoutMs for something to accept connections on the port.
bool waitForLocalPort(quint16 port, int timeoutMs = 5000);

// A stock server program run in the foreground on a free 127.0.0.1 port, with
// its configuration, logs and scratch files in a temporary folder of its own.
// Stops with the object.
class LocalProcess
{
public:
    LocalProcess() = default;
    ~LocalProcess();
    LocalProcess(const LocalProcess &) = delete;
    LocalProcess &operator=(const LocalProcess &) = delete;

    // Picks a free port, writes configFor(port) into the folder as configName
    // and starts program with arguments, until it listens on that port (a few
    // ports are tried). failureLog names the file of the folder that says why
    // a start failed; empty: the program's own output says it.
    bool start(const QString &program, const QString &configName,
               const std::function<QString(quint16)> &configFor, const QStringList &arguments,
               const QString &failureLog = QString());
    void stop();
    quint16 port() const { return m_port; }
    QString folder() const { return m_dir.path(); }
    // A file of the folder, one entry a line.
    QStringList lines(const QString &name) const;
    QString errorString() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace lumen::test
