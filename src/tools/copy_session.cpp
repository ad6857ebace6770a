#include "tools/copy_session.h"

#include "engine/naming.h"
#include "engine/prompter.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace lumen
{

namespace copy_text
{
QString captionFor(int count)
{
    return QStringLiteral("复制文件：") + QString::number(count) + QStringLiteral(" 个文件...");
}

QString failedLine(int count)
{
    return QString::number(count) + QStringLiteral(" 个文件复制失败。");
}
} // namespace copy_text

namespace
{

// Read and write in pieces of this size.
constexpr qint64 BufferBytes = 256 * 1024;

QString withSeparator(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath())
               .compare(QDir::cleanPath(QFileInfo(b).absoluteFilePath()), Qt::CaseInsensitive) == 0;
}

// The length a source has once copied; -1 when only copying would tell.
qint64 sourceSize(const CopySource &s)
{
    if (s.cacheEntry)
        return s.cacheEntry->decodedSize;
    return QFileInfo(s.path).size();
}

bool sourceExists(const CopySource &s)
{
    return QFileInfo(s.path).isFile();
}

} // namespace

bool isSystemFolder(const QString &folder)
{
    static const QStringList roots = {
        QStringLiteral("/bin"),   QStringLiteral("/sbin"),  QStringLiteral("/lib"),
        QStringLiteral("/lib32"), QStringLiteral("/lib64"), QStringLiteral("/libx32"),
        QStringLiteral("/usr"),   QStringLiteral("/etc"),   QStringLiteral("/opt"),
        QStringLiteral("/boot"),  QStringLiteral("/dev"),   QStringLiteral("/proc"),
        QStringLiteral("/sys"),   QStringLiteral("/run"),
    };
    const auto under = [](const QString &path) {
        if (path == QLatin1String("/"))
            return true;
        for (const QString &root : roots) {
            if (path == root || path.startsWith(root + QLatin1Char('/')))
                return true;
        }
        return false;
    };
    const QString trimmed = folder.trimmed();
    if (trimmed.isEmpty() || !QDir::isAbsolutePath(trimmed))
        return false;
    // By its name and, where it exists, by where it leads (a link into
    // /usr is /usr).
    const QString canonical = QFileInfo(trimmed).canonicalFilePath();
    return under(QDir::cleanPath(trimmed)) || (!canonical.isEmpty() && under(canonical));
}

CopyPlaces CopyPlaces::standard()
{
    QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (downloads.isEmpty())
        downloads = QDir::homePath();
    return {QCoreApplication::applicationDirPath(), downloads};
}

QString initialCopyDestination(const QString &stored, const CopyPlaces &places)
{
    const QString program = QDir::cleanPath(places.programFolder);
    if (places.programFolder.isEmpty() || QDir::cleanPath(stored.trimmed()) != program)
        return stored;
    const QFileInfo info(program);
    const bool usable = !isSystemFolder(program) && info.isDir() && info.isWritable();
    if (usable || places.downloadFolder.isEmpty())
        return stored;
    return withSeparator(QDir::cleanPath(places.downloadFolder));
}

CopySource CopySource::fromFile(const QString &path)
{
    return {path, QFileInfo(path).fileName(), std::nullopt};
}

CopySource CopySource::fromCacheEntry(const CacheEntry &entry)
{
    return {entry.filePath, cacheEntryFileName(entry.url), entry};
}

SplitName splitFileName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && fileName.size() - dot - 1 < 7)
        return {fileName.left(dot).trimmed(), fileName.mid(dot + 1).trimmed()};
    return {fileName.trimmed(), QString()};
}

QString SplitName::joined() const
{
    return extension.isEmpty() ? base : base + QLatin1Char('.') + extension;
}

QString numberedFreeName(const QString &folder, const QString &fileName)
{
    SplitName name = splitFileName(fileName);
    if (name.base.endsWith(QLatin1Char(']'))) {
        const qsizetype open = name.base.lastIndexOf(QLatin1Char('['));
        bool numeric = false;
        if (open > 0) // something must remain before it
            name.base.mid(open + 1, name.base.size() - open - 2).trimmed().toDouble(&numeric);
        if (numeric)
            name.base.truncate(open);
    }
    const QDir dir(folder);
    QString candidate = name.joined();
    for (int i = 1; QFileInfo::exists(dir.filePath(candidate)) ||
                    QFileInfo(dir.filePath(candidate)).isSymLink();
         ++i) {
        const SplitName numbered{name.base + QStringLiteral("[%1]").arg(i, 3, 10, QLatin1Char('0')),
                                 name.extension};
        candidate = numbered.joined();
    }
    return candidate;
}

// The file being copied: where its bytes come from and where they go.
struct CopySession::Job {
    CopySource source;
    QString target;
    QFile plain;
    CacheBodyReader body;
    QSaveFile out;
    QByteArray buffer;
    QDateTime modified;
    qint64 written = 0;

    qint64 read(char *data, qint64 max)
    {
        return source.cacheEntry ? body.read(data, max) : plain.read(data, max);
    }
    QString readError() const
    {
        return source.cacheEntry ? body.errorString() : plain.errorString();
    }
};

CopySession::CopySession(SettingsStore &settings, Prompter &prompter,
                         const FolderHistoryLocation &history, const CopyPlaces &places,
                         QObject *parent)
    : QObject(parent), m_settings(settings), m_prompter(prompter), m_historyLocation(history)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &CopySession::step);
    if (const std::optional<QStringList> folders = LoadFolderHistory(m_historyLocation.readPath()))
        m_history = *folders;
    // Never stored: the program's folder, as the stored setting's default.
    const QString programFolder = places.programFolder.isEmpty()
                                      ? defaultText(setting::CopyMoveFolder)
                                      : withSeparator(QDir::cleanPath(places.programFolder));
    m_destinationText =
        initialCopyDestination(m_settings.read(setting::CopyMoveFolder.section,
                                               setting::CopyMoveFolder.key, programFolder),
                               places);
    setOpIndex(m_settings.read(setting::CopyMoveOption).trimmed().toInt());
}

CopySession::~CopySession() = default;

void CopySession::setSources(const QList<CopySource> &sources)
{
    m_sources = sources;
    m_caption = copy_text::captionFor(int(sources.size()));
    emit captionChanged(m_caption);
}

void CopySession::setDestinationText(const QString &text)
{
    if (text == m_destinationText)
        return;
    m_destinationText = text;
    emit destinationTextChanged(text);
}

void CopySession::setOpIndex(int index)
{
    const SameNameOption option =
        index >= 1 && index <= 5 ? SameNameOption(index) : SameNameOption::None;
    if (option == m_option)
        return;
    m_option = option;
    emit opIndexChanged(int(option));
}

void CopySession::browse()
{
    const QString initial = m_destinationText;
    // Start in the folder the text names (its parent when the text names
    // a file or a folder without a trailing separator).
    QString start = initial.trimmed().isEmpty() ? QStringLiteral("/") : initial.trimmed();
    const qsizetype cut = start.lastIndexOf(QLatin1Char('/'), start.size() - 2);
    if (cut >= 0)
        start.truncate(cut + 1);
    if (!QFileInfo(start).isDir())
        start = QStringLiteral("/");
    const std::optional<QString> picked = m_prompter.pickFolder(copy_text::BrowsePrompt, start);
    QString result = picked && !picked->isEmpty() ? *picked : initial;
    if (!result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    setDestinationText(result);
}

void CopySession::execute(bool report)
{
    // A stop click stops, whatever the destination box holds by then: the
    // run copies into the folder it started with.
    if (m_running) {
        m_report = m_report && report;
        setRunning(false);
        return;
    }
    const FolderPathResult made = CreateFolderPath(m_destinationText);
    if (made.badName)
        m_prompter.message(FolderNameErrorText, Prompter::Icon::Critical);
    const QString folder = made.path;
    if (folder.isEmpty()) {
        m_prompter.message(copy_text::FolderError, Prompter::Icon::Critical);
        return;
    }
    setDestinationText(withSeparator(folder));
    m_destination = m_destinationText;
    m_settings.write(setting::CopyMoveFolder, m_destination);
    m_settings.write(setting::CopyMoveOption, QString::number(int(m_option)));

    // A system folder is copied into when asked (and when the user may),
    // but not offered again.
    const QString trimmed = m_destinationText.trimmed();
    if (!isSystemFolder(trimmed) && !folderHistoryContains(m_history, trimmed)) {
        m_history.append(trimmed);
        SaveFolderHistory(m_history, m_historyLocation.writePath());
        emit folderHistoryChanged(m_history);
    }
    setCurrentFile(QString());

    // Files gone since they were handed over are dropped without a word.
    m_sources.removeIf([](const CopySource &s) { return !sourceExists(s); });
    if (m_sources.isEmpty())
        return;

    m_report = report;
    m_runSources = m_sources;
    m_next = 0;
    m_copied = 0;
    m_failed = 0;
    m_progressMaximum = int(m_runSources.size()) + 1;
    setProgress(0);
    setRunning(true);
    m_timer.start();
}

void CopySession::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged(running);
}

void CopySession::setProgress(int value)
{
    m_progress = value;
    emit progressChanged(m_progress, m_progressMaximum);
}

void CopySession::setCurrentFile(const QString &name)
{
    if (name == m_currentFile)
        return;
    m_currentFile = name;
    emit currentFileChanged(name);
}

// One turn of the run: a piece of the current file, or the start of the
// next one.
void CopySession::step()
{
    if (!m_running) {
        // A stopped copy is not a failed one; its partial file goes with it.
        if (m_job && m_job->out.isOpen())
            m_job->out.cancelWriting();
        m_job.reset();
        endRun();
        return;
    }
    if (m_job) {
        copyChunk();
        m_timer.start();
        return;
    }
    if (m_next >= m_runSources.size()) {
        endRun();
        return;
    }
    startFile();
    m_timer.start();
}

void CopySession::startFile()
{
    const CopySource &source = m_runSources.at(m_next++);
    setProgress(int(m_next));
    const QString name = splitFileName(source.name).joined();
    if (sameFolder(QFileInfo(source.path).absolutePath(), m_destination))
        return;
    setCurrentFile(name);
    if (!isSafeFileName(name)) {
        ++m_failed;
        emit fileFailed(source.path, QStringLiteral("no file name"));
        return;
    }

    const QDir dest(m_destination);
    QString target = dest.filePath(name);
    const QFileInfo existing(target);
    if (existing.exists() || existing.isSymLink()) {
        SameNameOption option = m_option;
        if (option == SameNameOption::OverwriteIfSizeAndTime ||
            option == SameNameOption::OverwriteIfSize) {
            const qint64 size = sourceSize(source);
            bool same = size >= 0 && size == existing.size();
            if (option == SameNameOption::OverwriteIfSizeAndTime)
                same = same && QFileInfo(source.path).lastModified() == existing.lastModified();
            option = same ? SameNameOption::Overwrite : SameNameOption::Rename;
        }
        switch (option) {
        case SameNameOption::None:
        case SameNameOption::Skip:
        case SameNameOption::OverwriteIfSizeAndTime:
        case SameNameOption::OverwriteIfSize:
            return;
        case SameNameOption::Overwrite:
            // A link or folder of the name is not replaced through.
            if (!existing.isFile() || existing.isSymLink()) {
                ++m_failed;
                emit fileFailed(source.path, QStringLiteral("the target is not a file"));
                return;
            }
            break;
        case SameNameOption::Rename:
            target = dest.filePath(numberedFreeName(m_destination, name));
            break;
        }
    }

    m_job = std::make_unique<Job>();
    m_job->source = source;
    m_job->target = target;
    m_job->modified = QFileInfo(source.path).lastModified();
    bool opened;
    if (source.cacheEntry) {
        opened = m_job->body.open(*source.cacheEntry);
    } else {
        m_job->plain.setFileName(source.path);
        opened = m_job->plain.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        failFile(m_job->readError());
        return;
    }
    // The copy grows under a temporary name beside the target and takes the
    // target's name only when complete, replacing an old file in one step:
    // a stopped or failed copy leaves the old file as it was.
    m_job->out.setFileName(target);
    if (!m_job->out.open(QIODevice::WriteOnly)) {
        failFile(m_job->out.errorString());
        return;
    }
    m_job->buffer.resize(BufferBytes);
}

void CopySession::copyChunk()
{
    Job &job = *m_job;
    qint64 done = 0;
    while (done < StepBytes) {
        const qint64 n = job.read(job.buffer.data(), job.buffer.size());
        if (n < 0) {
            failFile(job.readError());
            return;
        }
        if (n == 0) {
            finishFile();
            return;
        }
        if (job.out.write(job.buffer.constData(), n) != n) {
            failFile(job.out.errorString());
            return;
        }
        done += n;
    }
    job.written += done;
    emit fileBytesCopied(job.written);
}

void CopySession::finishFile()
{
    Job &job = *m_job;
    // Like a copy made by the file manager, the copy keeps the source's
    // time, so that copying the same file again is recognised as such.
    // (Buffered bytes written after the time was set would change it again.)
    if (job.modified.isValid() && job.out.flush())
        job.out.setFileTime(job.modified, QFileDevice::FileModificationTime);
    if (!job.out.commit()) {
        failFile(job.out.errorString());
        return;
    }
    ++m_copied;
    const QString source = job.source.path, target = job.target;
    m_job.reset();
    emit fileCopied(source, target);
}

void CopySession::failFile(const QString &reason)
{
    const QString source = m_job ? m_job->source.path : QString();
    if (m_job && m_job->out.isOpen())
        m_job->out.cancelWriting();
    m_job.reset(); // QSaveFile removes its temporary file
    ++m_failed;
    emit fileFailed(source, reason);
}

void CopySession::endRun()
{
    m_timer.stop();
    m_runSources.clear();
    m_next = 0;
    m_progressMaximum = qMax(m_progressMaximum, 1);
    setProgress(0);
    setCurrentFile(QString());
    setRunning(false);
    if (m_report) {
        if (m_failed > 0)
            m_prompter.message(copy_text::Finished + QLatin1Char('\n') +
                                   copy_text::failedLine(m_failed),
                               Prompter::Icon::Warning);
        else
            m_prompter.message(copy_text::Finished, Prompter::Icon::Information);
    }
    emit finished();
}

} // namespace lumen
