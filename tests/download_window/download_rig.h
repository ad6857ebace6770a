#pragma once

#include "download_window/download_session.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_shell.h"
#include "support/fake_sound_player.h"
#include "support/record_figures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace lumen::test
{

// A download session over a real list, engine and settings file, with fakes
// at the seams and a temporary save folder. The engine's ticks do not run by
// themselves.
struct DownloadRig {
    QTemporaryDir dir;
    FakeClock clock;
    FakeSoundPlayer sound;
    FakePrompter prompter;
    FakeShell shell;
    DownloadList list;
    DownloadEngine engine{list, clock, sound, prompter};
    SettingsStore store{dir.filePath(QStringLiteral("settings/lumen.ini"))};
    AppSettings settings;
    DownloadSession session{list, engine, store, settings, prompter, shell};

    DownloadRig()
    {
        engine.setTimersDriven(false);
        engine.setSoundFolders({});
        QDir(dir.path()).mkpath(QStringLiteral("files"));
    }

    QString folder() const { return dir.filePath(QStringLiteral("files")) + QLatin1Char('/'); }
    QString path(const QString &fileName) const { return folder() + fileName; }

    // A record in the given state; "done" records get the progress texts of
    // a complete download.
    quint64 add(const QString &name, DownloadState state = DownloadState::Waiting,
                const QString &type = QStringLiteral("pdf"), const QString &size = QString())
    {
        const QString url = QStringLiteral("http://127.0.0.1/items/") + name;
        const qint64 row = list.append(url, name, type, folder(), QString());
        list.update(row, [&](DownloadItem &it) {
            it.state = state;
            test::showFigures(it, size, size);
        });
        return list.at(row).id;
    }
    const DownloadItem &rec(quint64 id) const { return list.at(list.rowOfId(id)); }

    // Writes the record's file and notes it as the file the record stored.
    void writeStored(quint64 id, const QByteArray &bytes = "%PDF-1.4\n")
    {
        const QString p = ItemFilePath(rec(id));
        writeBytes(p, bytes);
        list.updateById(id, [&](DownloadItem &it) { it.storedPath = p; });
    }
    static void writeBytes(const QString &p, const QByteArray &bytes)
    {
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }

    QStringList names() const
    {
        QStringList out;
        for (const DownloadItem &it : list.items())
            out << it.name;
        return out;
    }
    QString lastMessage() const
    {
        return prompter.shown.isEmpty() ? QString() : prompter.shown.last().text;
    }
};

} // namespace lumen::test
