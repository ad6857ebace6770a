#pragma once

#include <QString>
#include <QtGlobal>

namespace lumen
{

class DownloadList;

// Written into a record's percent text by the existence check.
inline const QString FileMissingText = QStringLiteral("不存在");

struct SplitName {
    QString base;
    QString ext; // without the dot; empty when there is none
};

// SplitFileName: the base name and extension of the last piece of path.
// An "extension" of seven or more characters is taken as part of the name
// (archive.backup1 has none).
SplitName SplitFileName(const QString &path);

// CorrectFileType: when the record's stored file holds another type than its
// extension says (a web page stored as .pdf), renames the file to the
// detected type, numbering the name when that one is taken, and updates the
// record's Name and FileType. The record's state, sizes and percentage stay.
// True only when the file was renamed and the record updated; false for a
// missing record or file, an unknown or matching type, or a failed rename.
bool CorrectFileType(DownloadList &list, quint64 recordId);

// The core of "检查并纠正磁盘文件类型": CorrectFileType on every record from
// top to bottom; answers how many were corrected. The caller refuses it
// while downloading and shows the count.
int correctAllFileTypes(DownloadList &list);

// CheckFilesExist: writes FileMissingText into the percent text of every
// record whose file is not on disk; answers how many were marked. Records
// whose file exists are left as they are.
int CheckFilesExist(DownloadList &list);

} // namespace lumen
