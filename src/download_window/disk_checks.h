#pragma once

#include <QString>

namespace lumen
{

class DownloadList;

// Written into a record's percent text by the existence check.
inline const QString FileMissingText = QStringLiteral("不存在");

// The core of "检查并纠正磁盘文件类型": CorrectFileType on every record from
// top to bottom; answers how many were corrected. The caller refuses it
// while downloading and shows the count.
int correctAllFileTypes(DownloadList &list);

// CheckFilesExist: writes FileMissingText into the percent text of every
// record whose file is not on disk; answers how many were marked. Records
// whose file exists are left as they are.
int CheckFilesExist(DownloadList &list);

} // namespace lumen
