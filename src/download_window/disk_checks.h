#pragma once

#include "engine/download_item.h"

#include <QString>

namespace lumen
{

class DownloadList;

// What the percent column shows for a record the existence check marked.
inline const QString FileMissingText = RecordText::FileMissing;

// The core of "检查并纠正磁盘文件类型": CorrectFileType on every record from
// top to bottom; answers how many were corrected. A finished record whose
// stored file turns out a web page, or a document, takes that outcome. The
// caller refuses it while downloading and shows the count.
int correctAllFileTypes(DownloadList &list);

// CheckFilesExist: marks (FileMissingText in the percent column) every
// record whose file is not on disk; answers how many were marked. Records
// whose file exists are left as they are.
int CheckFilesExist(DownloadList &list);

} // namespace lumen
