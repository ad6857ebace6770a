#include "download_window/disk_checks.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/type_correction.h"

namespace lumen
{

int correctAllFileTypes(DownloadList &list)
{
    QList<quint64> ids;
    ids.reserve(list.count());
    for (const DownloadItem &item : list.items())
        ids.append(item.id);
    int corrected = 0;
    for (quint64 id : ids)
        corrected += CorrectFileType(list, id);
    return corrected;
}

int CheckFilesExist(DownloadList &list)
{
    int marked = 0;
    for (qint64 row = 0; row < list.count(); ++row) {
        if (FileExists(ItemFilePath(list.at(row))))
            continue;
        list.update(row, [](DownloadItem &it) { it.percentNote = PercentNote::FileMissing; });
        ++marked;
    }
    return marked;
}

} // namespace lumen
