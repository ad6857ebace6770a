#include "download_window/disk_checks.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/requeue.h"
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
    for (quint64 id : ids) {
        if (!CorrectFileType(list, id))
            continue;
        ++corrected;
        // A stored file's outcome follows what it turned out to be: a
        // "document" that is a sign-in page is a web page, and a page that
        // is a PDF after all is the document.
        list.updateById(id, [](DownloadItem &it) {
            const Outcome ended = endedAs(it);
            if (it.state != DownloadState::Finished ||
                (ended != Outcome::Document && ended != Outcome::WebPage))
                return;
            if (isWebPageType(it.fileType, true)) {
                it.outcome = Outcome::WebPage;
                it.reason =
                    QStringLiteral("the stored file holds a web page (%1)").arg(it.fileType);
            } else {
                it.outcome = Outcome::Document;
                it.reason.clear();
            }
        });
    }
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
