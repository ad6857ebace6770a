#pragma once

#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_sound_player.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace lumen::test
{

// A body that starts like a PDF file, size bytes long.
inline QByteArray pdfBytes(int size)
{
    QByteArray b = "%PDF-1.4\n";
    while (b.size() < size)
        b += "0123456789abcdef";
    b.truncate(size);
    return b;
}

// A download engine over a fresh list, a fake clock, recorded sounds and
// scripted boxes, saving into a temporary folder. The ticks do not run by
// themselves: tests advance the clock and call them.
struct EngineFixture {
    FakeClock clock;
    FakeSoundPlayer sound;
    FakePrompter prompter;
    DownloadList list;
    QTemporaryDir dir;
    std::unique_ptr<DownloadEngine> engine;

    EngineFixture()
    {
        engine = std::make_unique<DownloadEngine>(list, clock, sound, prompter);
        engine->setTimersDriven(false);
        engine->setSoundFolders({});
    }

    QString folder() const { return dir.path() + QLatin1Char('/'); }
    QString path(const QString &name) const { return dir.filePath(name); }

    quint64 add(const QString &url, const QString &name, const QString &type = "pdf",
                const QString &referer = QString())
    {
        return list.at(list.append(url, name, type, folder(), referer)).id;
    }
    const DownloadItem &rec(quint64 id) const { return list.at(list.rowOfId(id)); }
    DownloadState state(quint64 id) const { return rec(id).state; }
    void setState(quint64 id, DownloadState s) { list.setState(list.rowOfId(id), s); }

    void writeFile(const QString &name, const QByteArray &bytes) const
    {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    QByteArray readFile(const QString &name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool exists(const QString &name) const { return QFile::exists(path(name)); }

    // Turns the notice sounds on, with these sound files in the save folder
    // as the only place to find them.
    void soundsOn(const QStringList &files)
    {
        engine->setSoundFolders({dir.path()});
        for (const QString &name : files)
            writeFile(name, "RIFF");
        engine->setSoundOn(true);
    }

    // One scheduler tick a second after the clock's current time.
    void tickAfter(double seconds = 1)
    {
        clock.advanceSeconds(seconds);
        engine->schedulerTick();
    }

    // Every file in the folder, hidden ones included, by name.
    QStringList files() const
    {
        return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    // A run with one transfer at a time by the given method (1 or 2).
    void startRun(int method)
    {
        engine->setDownloadMethod(downloadMethodFromNumber(method));
        engine->setThreadCount(1);
        engine->startDownloading();
        tickAfter();
    }
};

} // namespace lumen::test
