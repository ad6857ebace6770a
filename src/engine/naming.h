#pragma once

#include <QString>

namespace lumen {

class DownloadList;
struct DownloadItem;
class Prompter;

// The window's "同名文件：" option group.
enum class SameNamePolicy { Skip, Overwrite, Rename };

// Longest file name, counted in bytes of the legacy double-byte code page
// (GBK): 250 single-byte or 125 Chinese characters.
constexpr int MaxNameBytes = 250;

// Removes what no file name may hold (path separators, reserved characters,
// line breaks, NUL), leading and trailing dots, then cuts the name to
// MaxNameBytes GBK bytes without splitting a character, then trims spaces.
QString SanitizeFileName(const QString &text);

// Number of bytes the text takes in GBK (characters GBK lacks count as one byte,
// as the converter replaces them with '?').
int gbkByteLength(const QString &text);

} // namespace lumen
