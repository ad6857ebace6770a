#pragma once

// What `download` and `harvest --download` share: the download options, the
// engine set up from them and the stored settings, the run with its
// progress on stderr, the stop signals and the final list on stdout.

#include "engine/download_list.h"
#include "engine/download_method.h"
#include "engine/naming.h"
#include "engine/prompter.h"
#include "engine/sound_player.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace lumen
{
struct AppSettings;
struct DownloadWindowSettings;
class DownloadEngine;
} // namespace lumen

namespace lumen::cli
{

// The download options a user gave; what is not given comes from the
// stored settings.
struct DownloadOptions {
    std::optional<QString> folder;
    std::optional<DownloadMethod> method;
    std::optional<int> threads;
    std::optional<SameNamePolicy> policy;
    int interval = 0;
    std::optional<double> maxSize;
    std::optional<QPair<QString, QString>> proxy;
    bool stopAfterErrors = false;
};

// The usage lines of the options above.
QString downloadOptionsUsage();

enum class OptionResult {
    NotADownloadOption, // args[i] is left to the caller
    Taken,              // read, with its value when it takes one (i moved past it)
    Invalid,            // a download option with a missing or wrong value: see error
};

// Reads the download option at args[i].
OptionResult parseDownloadOption(const QStringList &args, qsizetype &i, DownloadOptions &options,
                                 QString &error);

// The engine's options: the given ones, the stored ones for the rest.
void applyDownloadOptions(DownloadEngine &engine, const DownloadOptions &options,
                          const AppSettings &app, const DownloadWindowSettings &window);

QString downloadStateName(DownloadState state);

// A finished record whose stored file is a web page (an error or sign-in
// page) instead of the document.
bool isStoredWebPage(const DownloadItem &item);

// A record that ended without its document: failed, cancelled, refused by
// the same-name rule, skipped, or stored a web page.
bool endedWithoutDocument(const DownloadItem &item);

// A folder as the list prints it, whichever method stored into it: absolute
// and cleaned, with a trailing separator.
QString shownFolder(const QString &folder);

// The download list on stdout, one record per line:
// STATE NAME TYPE SIZE RECEIVED PERCENT FOLDER URL, then a summary line on
// stderr that counts documents, web pages, skips (by kind) and failures
// apart. Returns the exit status it calls for: ExitFailure when a record
// failed, was cancelled, could not replace a file or stored a web page;
// records skipped by the user's own rules (the file is already there under
// the skip rule, or it is over the size limit) do not fail the run.
int printDownloadList(const DownloadList &list);

// How a record ended without its document, and why, in the words of the
// system that said so: "failed: Connection refused", "web page instead of
// the document (stored as htm): HTTP 404 Not Found", "skipped, over the
// size limit: ...".
QString recordEndReason(const DownloadItem &item);

// One progress block on stderr: the records under way and the counters.
void printDownloadProgress(const DownloadEngine &engine);

// One progress line on stderr, flushed.
void writeProgress(const QString &line);

// Runs the engine until its monitor ends the run, with progress on stderr,
// then prints the list. SIGINT or SIGTERM stop the downloads like the stop
// button, print the list as it stands and give ExitFailure.
int runDownloads(DownloadEngine &engine);

// SIGINT and SIGTERM only write a byte into a pipe that the event loop
// watches; the handler given here runs there, once. A signal that comes
// while no event loop runs waits in the pipe for the next loop. Installed on
// first use.
void setStopSignalHandler(std::function<void()> handler);

class SilentSoundPlayer final : public SoundPlayer
{
public:
    void playFile(const QString &) override {}
};

// Messages go to stderr; nothing is ever asked, every question is answered
// no.
class ConsolePrompter final : public Prompter
{
public:
    void message(const QString &text, Icon, const QString &) override;
    Answer question(const QString &text, Buttons, Icon, const QString &) override;
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> openFileName(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> pickFolder(const QString &, const QString &) override
    {
        return std::nullopt;
    }
};

} // namespace lumen::cli
