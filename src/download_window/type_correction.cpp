#include "download_window/type_correction.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/type_detection.h"

#include <QFile>
#include <QFileInfo>

namespace lumen
{

bool CorrectFileType(DownloadList &list, quint64 recordId)
{
    const qint64 row = list.rowOfId(recordId);
    if (row < 0)
        return false;
    const DownloadItem item = list.at(row);
    const QString path = ItemFilePath(item);
    if (path.isEmpty() || !FileExists(path))
        return false;
    const QString detected = detectFileType(path);
    if (detected.isEmpty() || detected.toUpper() == item.fileType.toUpper())
        return false;
    const QString target =
        UniqueCorrectedPath(folderWithSeparator(item.folder) + item.name + "." + detected);
    if (!QFile::rename(path, target) || !FileExists(target))
        return false;
    const QString base = QFileInfo(target).completeBaseName();
    return list.update(row, [&](DownloadItem &it) {
        it.fileType = detected;
        it.name = base;
    });
}

} // namespace lumen
