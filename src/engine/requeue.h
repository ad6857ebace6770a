#pragma once

#include <QSet>
#include <QString>
#include <QtGlobal>

namespace lumen
{

class DownloadList;
struct DownloadItem;

// Types that mean a web page came back instead of a document: "htm" and
// "html", and "xml" where the caller asks for it. Compared without case.
bool isWebPageType(const QString &fileType, bool includeXml = false);

// DeleteItemFile: deletes the file this record stored (storedPath) when it
// is still there; says nothing. A record that stored nothing deletes nothing.
void deleteItemFile(const DownloadItem &item);

// RequeueRecord: puts a finished or failed record back in the queue. The
// file the record stored goes first, the record becomes Waiting with empty
// progress texts and no stored path, and a web-page type becomes "xxx" so
// the next download decides the type afresh.
// forceXxx sets "xxx" whatever the type was. row is 0-based.
void RequeueRecord(DownloadList &list, qint64 row, bool forceXxx = false);

// The re-download operations of the list menu that the monitor also runs for
// its automatic re-download. Each answers the number of records re-queued.
// 重新下载出错项: every Failed record.
qint64 requeueFailed(DownloadList &list);
// 重新下载网页类型文件项: Finished or Failed records typed htm, html or xml;
// their type always becomes "xxx".
// With fetchedOnce, a finished page whose id is in it stays as it is, and
// every finished page put back is added: each stored page is fetched again
// once, not for ever (the automatic re-download keeps one such set per
// request of the user).
qint64 requeueWebPages(DownloadList &list, QSet<quint64> *fetchedOnce = nullptr);
// 重新下载出错项和网页类型文件项: Failed records, and Finished records typed
// htm or html (not xml).
qint64 requeueFailedAndWebPages(DownloadList &list);

} // namespace lumen
