#include "engine/type_correction.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/type_detection.h"

#include <QFile>

namespace lumen
{

namespace
{
// Longer endings are not extensions but part of the name ("report.version2").
constexpr qsizetype MaxExtensionLength = 6;
} // namespace

SplitName SplitFileName(const QString &path)
{
    QString s = path.trimmed();
    const qsizetype sep = s.lastIndexOf(QLatin1Char('/'));
    if (sep >= 0)
        s = s.mid(sep + 1);
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || s.size() - dot - 1 > MaxExtensionLength)
        return {s.trimmed(), QString()};
    return {s.left(dot).trimmed(), s.mid(dot + 1).trimmed()};
}

bool CorrectFileType(DownloadList &list, quint64 recordId)
{
    const qint64 row = list.rowOfId(recordId);
    if (row < 0)
        return false;
    const DownloadItem item = list.at(row);
    const QString stored = ItemFilePath(item);
    if (stored.isEmpty() || !FileExists(stored))
        return false;
    const QString detected = detectFileType(stored);
    if (detected.isEmpty() || detected.toUpper() == item.fileType.toUpper())
        return false;

    DownloadItem renamed = item;
    renamed.fileType = detected;
    const QString wanted = ItemFilePath(renamed);
    if (wanted.isEmpty())
        return false;
    const QString target = UniqueCorrectedPath(wanted);
    // QFile::rename never replaces an existing file, so a name taken in the
    // meantime makes the rename fail rather than lose that file.
    if (!QFile::rename(stored, target) || !FileExists(target))
        return false;
    const QString newName = SplitFileName(target).base;
    return list.updateById(recordId, [&](DownloadItem &it) {
        it.fileType = detected;
        it.name = newName;
        // The file the record stored moved: later deletions (re-download,
        // delete file) must find it under its new name.
        if (it.storedPath == stored)
            it.storedPath = target;
    });
}

} // namespace lumen
