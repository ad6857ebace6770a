#pragma once

// The copy window's decisions without the window (Form_Copy_Move): the
// destination with its folder history, the same-name option, and the run
// that copies the files one after another.

#include "download_window/folder_history.h"
#include "tools/browser_cache.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

class QSaveFile;

namespace lumen
{

class Prompter;
class SettingsStore;

// Texts of the copy window.
namespace copy_text
{
inline const QString Caption = QStringLiteral("复制文件...");
inline const QString FolderError = QStringLiteral("创建文件夹出错！");
inline const QString Finished = QStringLiteral("复制文件完成！");
inline const QString BrowsePrompt = QStringLiteral("请选择要浏览的文件夹:");
inline const QString Start = QStringLiteral("开始");
inline const QString Stop = QStringLiteral("停止");
// "复制文件：" N " 个文件..."
QString captionFor(int count);
// Added to the finishing message when some files could not be copied.
QString failedLine(int count);
} // namespace copy_text

// What to do when the destination already has a file of the name (OpIndex).
enum class SameNameOption {
    None = 0,                   // no option chosen: same-named files are left alone
    Skip = 1,                   // "跳过"
    Overwrite = 2,              // "覆盖"
    Rename = 3,                 // "自动重命名"
    OverwriteIfSizeAndTime = 4, // equal length and modification time: overwrite, else rename
    OverwriteIfSize = 5,        // equal length: overwrite, else rename
};

// One file to copy: a file on disk, or the body of a browser cache entry,
// written decoded under the name of its URL.
struct CopySource {
    QString path; // the file read: the file itself, or the cache entry's file
    QString name; // the name it gets in the destination
    std::optional<CacheEntry> cacheEntry;

    static CopySource fromFile(const QString &path);
    static CopySource fromCacheEntry(const CacheEntry &entry);
};

// The base name and the extension a file name is split into: the extension
// is what follows the last "." when it is shorter than 7 characters; both
// are trimmed.
struct SplitName {
    QString base;
    QString extension;
    QString joined() const; // base, "." and extension when there is one
};
SplitName splitFileName(const QString &fileName);

// 复制相同文件自动重命名 (the naming part): the first name in folder that
// names nothing, starting with fileName itself and going on with
// base[001].ext, base[002].ext, ... A "[number]" already at the end of the
// base is replaced rather than added to, unless it is all the base holds.
QString numberedFreeName(const QString &folder, const QString &fileName);

// A folder of the installed system (the folders of programs, libraries,
// settings and the kernel's own: /usr and below, /bin, /etc, /opt, ...),
// where the user's documents do not belong, even where root could write.
bool isSystemFolder(const QString &folder);

// The places the copy window's first destination is chosen from.
struct CopyPlaces {
    QString programFolder;  // the program's own folder
    QString downloadFolder; // the user's download folder

    // The running program's folder and the desktop's download folder.
    static CopyPlaces standard();
};

// The destination the window opens with: the stored one (by default the
// program's folder), except that the program's folder gives way to the
// download folder when it is a system folder or the user cannot write to
// it, as for an installed package.
QString initialCopyDestination(const QString &stored, const CopyPlaces &places);

class CopySession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString destinationText READ destinationText WRITE setDestinationText NOTIFY
                   destinationTextChanged)
    Q_PROPERTY(QStringList folderHistory READ folderHistory NOTIFY folderHistoryChanged)
    Q_PROPERTY(int opIndex READ opIndex WRITE setOpIndex NOTIFY opIndexChanged)
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(int progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int progressMaximum READ progressMaximum NOTIFY progressChanged)
    Q_PROPERTY(QString currentFile READ currentFile NOTIFY currentFileChanged)
    Q_PROPERTY(QString caption READ caption NOTIFY captionChanged)

public:
    // Reads the stored destination and option, and the folder history.
    CopySession(SettingsStore &settings, Prompter &prompter,
                const FolderHistoryLocation &history = FolderHistoryLocation::standard(),
                const CopyPlaces &places = CopyPlaces::standard(), QObject *parent = nullptr);
    ~CopySession() override;

    // The files of the next run; sets the caption to "复制文件：N 个文件...".
    void setSources(const QList<CopySource> &sources);
    const QList<CopySource> &sources() const { return m_sources; }

    QString destinationText() const { return m_destinationText; }
    void setDestinationText(const QString &text);
    QStringList folderHistory() const { return m_history; }
    int opIndex() const { return int(m_option); }
    void setOpIndex(int index);
    bool isRunning() const { return m_running; }
    int progress() const { return m_progress; }
    int progressMaximum() const { return m_progressMaximum; }
    QString currentFile() const { return m_currentFile; }
    QString caption() const { return m_caption; }
    // The folder the last run copied into, with a trailing separator.
    QString destination() const { return m_destination; }

    // Files copied, passed over and failed in the current or last run.
    int copiedCount() const { return m_copied; }
    int failedCount() const { return m_failed; }

    // How many bytes one step of the run copies at most: each step is one
    // turn of the event loop, so a stop click is seen between two steps.
    static constexpr qint64 StepBytes = 8 * 1024 * 1024;

public slots:
    // 执行: the start / stop button. Creates the destination folder and
    // stores it; then starts a run, or asks the running one to stop.
    void execute(bool report = true);
    // The folder picker, starting near the destination; a cancelled picker
    // keeps the text.
    void browse();

signals:
    void destinationTextChanged(const QString &text);
    void folderHistoryChanged(const QStringList &folders);
    void opIndexChanged(int index);
    void runningChanged(bool running);
    void progressChanged(int value, int maximum);
    void currentFileChanged(const QString &name);
    void captionChanged(const QString &caption);
    // One per file the run wrote; target is where it went.
    void fileCopied(const QString &source, const QString &target);
    void fileFailed(const QString &source, const QString &reason);
    // After each step of a file: the bytes written of it so far.
    void fileBytesCopied(qint64 bytes);
    void finished();

private:
    struct Job;

    void step();
    void startFile();
    void copyChunk();
    void finishFile();
    void failFile(const QString &reason);
    void endRun();
    void setRunning(bool running);
    void setProgress(int value);
    void setCurrentFile(const QString &name);

    SettingsStore &m_settings;
    Prompter &m_prompter;
    FolderHistoryLocation m_historyLocation;
    QList<CopySource> m_sources;
    QString m_destinationText;
    QString m_destination;
    QStringList m_history;
    SameNameOption m_option = SameNameOption::OverwriteIfSizeAndTime;
    QString m_caption = copy_text::Caption;
    bool m_running = false;
    bool m_report = true;
    int m_progress = 0;
    int m_progressMaximum = 0;
    QString m_currentFile;
    int m_copied = 0;
    int m_failed = 0;

    // The run: sources taken at its start, the index of the next one, the
    // file being copied.
    QList<CopySource> m_runSources;
    qsizetype m_next = 0;
    std::unique_ptr<Job> m_job;
    QTimer m_timer;
};

} // namespace lumen
