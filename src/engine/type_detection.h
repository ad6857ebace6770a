#pragma once

#include <QString>

namespace lumen
{

// 打开文件判断文件类型: the real type of a stored file from its first bytes
// (fixed signatures), its last 128 bytes (an MP3 "TAG" trailer), and for small
// files whether it is a web page ("htm") or a download descriptor ("caa").
// Answers the extension in lower case without the dot, or empty when the type
// cannot be told or the file is missing, empty or unreadable. Reads at most
// the first 10240 bytes and the last 128, and the whole file only when it is
// smaller than 3 KB.
QString detectFileType(const QString &path);

} // namespace lumen
