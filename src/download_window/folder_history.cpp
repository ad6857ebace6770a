#include "download_window/folder_history.h"

#include "engine/gbk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

namespace lumen
{

FolderHistoryLocation FolderHistoryLocation::standard()
{
    return {QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)};
}

QString FolderHistoryLocation::writePath() const
{
    if (userDataFolder.isEmpty())
        return QString();
    return QDir(userDataFolder).filePath(FolderHistoryFileName);
}

QString FolderHistoryLocation::readPath() const
{
    const QString own = writePath();
    if (!own.isEmpty() && QFileInfo::exists(own))
        return own;
    return QDir(applicationFolder).filePath(FolderHistoryFileName);
}

bool folderHistoryContains(const QStringList &folders, const QString &folder)
{
    const QString wanted = folder.trimmed();
    for (const QString &f : folders) {
        if (f.trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

std::optional<QStringList> LoadFolderHistory(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QStringList folders;
    if (!file.open(QIODevice::ReadOnly))
        return folders; // what could be read: nothing
    int counted = 0;
    while (!file.atEnd()) {
        // A history line is a path; one longer than this is no folder.
        const QByteArray raw = file.readLine(64 * 1024);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString line = utf8(raw);
        if (utf8.hasError())
            line = gbk::decode(raw);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (++counted > MaxFolderHistoryLines)
            break;
        if (!folderHistoryContains(folders, line))
            folders.append(line);
    }
    return folders;
}

bool SaveFolderHistory(const QStringList &folders, const QString &path)
{
    if (path.isEmpty())
        return false;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text;
    if (folders.isEmpty())
        text = "\r\n";
    for (const QString &f : folders)
        text += f.toUtf8() + "\r\n";
    file.write(text);
    return file.commit();
}

} // namespace lumen
