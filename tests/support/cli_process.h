#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace lumen::test
{

// What a run of the command-line tool left behind.
struct CliResult {
    int exitCode = -1; // -1 when it crashed or had to be killed
    QStringList lines; // stdout, one per row or record
    QString err;
};

// A private home for the tool, so no stored setting, browser profile or
// cache of the machine is read or changed.
inline QProcessEnvironment isolatedEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    return env;
}

// Waits for the process (killing it after timeoutMs) and collects its output.
inline CliResult finishCli(QProcess &p, int timeoutMs)
{
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    CliResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace lumen::test
