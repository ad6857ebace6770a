#pragma once

#include <QString>
#include <QtGlobal>

namespace lumen
{

class DownloadList;

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

} // namespace lumen
