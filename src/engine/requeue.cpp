#include "engine/requeue.h"

#include "engine/download_list.h"
#include "engine/naming.h"

#include <QFile>

namespace lumen
{

namespace
{
const QString XxxType = QStringLiteral("xxx");
}

bool isWebPageType(const QString &fileType, bool includeXml)
{
    const QString t = fileType.toLower();
    return t == QLatin1String("htm") || t == QLatin1String("html") ||
           (includeXml && t == QLatin1String("xml"));
}

void deleteItemFile(const DownloadItem &item)
{
    // Only what this record stored: a file that merely has the record's name
    // (the user's own, or another record's) is never touched.
    if (!item.storedPath.isEmpty() && FileExists(item.storedPath))
        QFile::remove(item.storedPath);
}

void RequeueRecord(DownloadList &list, qint64 row, bool forceXxx)
{
    if (row < 0 || row >= list.count())
        return;
    deleteItemFile(list.at(row));
    list.update(row, [forceXxx](DownloadItem &it) {
        it.state = DownloadState::Waiting;
        if (forceXxx || isWebPageType(it.fileType))
            it.fileType = XxxType;
        clearProgress(it);
        it.storedPath.clear();
        it.retryAnswers = 0;
    });
}

qint64 requeueFailed(DownloadList &list)
{
    qint64 n = 0;
    for (qint64 row = 0; row < list.count(); ++row) {
        if (list.at(row).state == DownloadState::Failed) {
            RequeueRecord(list, row);
            ++n;
        }
    }
    return n;
}

qint64 requeueWebPages(DownloadList &list, QSet<quint64> *fetchedOnce)
{
    qint64 n = 0;
    for (qint64 row = 0; row < list.count(); ++row) {
        const DownloadItem &it = list.at(row);
        const bool done = it.state == DownloadState::Finished || it.state == DownloadState::Failed;
        if (!done || !isWebPageType(it.fileType, true))
            continue;
        if (fetchedOnce && it.state == DownloadState::Finished) {
            if (fetchedOnce->contains(it.id))
                continue;
            fetchedOnce->insert(it.id);
        }
        RequeueRecord(list, row, true);
        ++n;
    }
    return n;
}

qint64 requeueFailedAndWebPages(DownloadList &list)
{
    qint64 n = 0;
    for (qint64 row = 0; row < list.count(); ++row) {
        const DownloadItem &it = list.at(row);
        if (it.state == DownloadState::Failed ||
            (it.state == DownloadState::Finished && isWebPageType(it.fileType))) {
            RequeueRecord(list, row);
            ++n;
        }
    }
    return n;
}

} // namespace lumen
