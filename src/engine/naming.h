#pragma once

#include <QString>

namespace lumen
{

class DownloadList;
struct DownloadItem;
class Prompter;

// The window's "同名文件：" option group.
enum class SameNamePolicy { Skip, Overwrite, Rename };

// Longest file name, counted in bytes of the legacy double-byte code page
// (GBK): 250 single-byte or 125 Chinese characters.
constexpr int MaxNameBytes = 250;

// Longest file name in the bytes the file system stores (UTF-8). Linux file
// systems take at most 255 bytes per name, and a Chinese character takes three
// of them, so the GBK limit alone would let long titles through that no file
// can carry. The rest of the 255 bytes is kept for what is added to a name on
// disk: a numbering suffix ("[0001]"), the dot and extension, and ".part".
constexpr int MaxNameFileSystemBytes = 200;

// Base names of files renamed to their detected type are cut to this many
// characters.
constexpr int MaxCorrectedBaseLength = 100;

// Shown (error icon) when a folder name is empty after cleaning.
inline const QString FolderNameErrorText = QStringLiteral("文件夹名称有误！不能创建文件夹！");

// Removes what no file name may hold (path separators, reserved characters,
// line breaks, NUL, unpaired surrogates), leading and trailing dots, then cuts
// the name to MaxNameBytes GBK bytes and MaxNameFileSystemBytes UTF-8 bytes
// without splitting a character, then trims spaces. Tabs, other control
// characters, brackets and Chinese punctuation stay. The result never holds a
// separator and is never "." or "..": a name of only dots, spaces or removed
// characters becomes empty.
QString SanitizeFileName(const QString &text);

// Number of bytes the text takes in GBK (characters GBK lacks count as one byte,
// as the converter replaces them with '?').
int gbkByteLength(const QString &text);

// The path a file test looks at: trimmed, with a leading "file://" URL
// prefix dropped (file:///home/a.pdf gives /home/a.pdf).
QString localFilePath(const QString &path);

// True when a regular file (or a link to one) exists at path. The path is
// trimmed and a leading "file://" URL prefix is dropped (file:///home/a.pdf
// tests /home/a.pdf). Empty paths and any error answer false.
bool FileExists(const QString &path);

// True when a folder exists at path. Empty or blank paths answer false.
bool FolderExists(const QString &path);

// The folder with a trailing separator added when it has none; empty stays
// empty (an empty folder is no place to store a file).
QString folderWithSeparator(const QString &folder);

// Creates every missing folder of path, piece by piece, each piece cleaned by
// SanitizeFileName. A piece that becomes empty (for example "..", "<>" or
// ".") shows FolderNameErrorText through the prompter and ends the walk; what
// was built before it is then the answer. Returns the deepest folder built,
// without trailing separator, when it exists, else empty.
// An empty answer means there is no folder for the record: callers must not
// turn it into "/" (the file-system root) and store there.
// On Linux an absolute path starts at "/" and repeated separators count as
// one; a relative path starts at its first (cleaned) piece.
QString CreateFolderPath(const QString &path, Prompter &prompter);

// 确定是需要下载: false when the record's file exists and the policy is
// Skip; the record is then Finished, its size and received texts are the
// file's length and its percent text is "已存在，跳过". Also false when row is
// not in the list. Otherwise true (overwrite and rename never stop a download
// here). row is 0-based.
bool needsDownload(DownloadList &list, qint64 row, SameNamePolicy policy);

struct SavePath {
    QString name; // the name to store in the record (without extension)
    QString path; // folder + name (+ "." + type); empty when no safe path exists
};

// 重命名保存路径: the path to store a file under. With Overwrite, or when
// nothing exists at folder/name.type, the name is kept. Otherwise the name is
// numbered: a trailing "[number]" is taken as the start, "[" and "]" left in
// the name become "『" and "』", and the first free "name[NNN]" (at least
// three digits) is chosen. The path is empty when folder is empty or the
// file name would not be a single safe name inside folder.
SavePath renameSavePath(const QString &folder, const QString &name, const QString &type,
                        SameNamePolicy policy);

// A path that names nothing existing, for renaming a stored file to its
// detected type: path itself when nothing exists there; otherwise the base
// name is cut to MaxCorrectedBaseLength characters, a trailing "[number]" is
// dropped and the first free "base[NNNN]" (at least four digits) is chosen.
QString UniqueCorrectedPath(const QString &path);

// The record's file: folder (with separator) + name, + "." + type when the
// type is not empty. Empty when there is no safe path: the folder is empty,
// the name is empty, or name or type hold a separator or NUL, or the file name
// would be "." or "..". An empty name has no file: it would otherwise become
// a hidden ".type" file or, without a type, the folder itself. Callers treat
// an empty answer as a record that cannot be stored (the download fails).
QString ItemFilePath(const DownloadItem &item);

// True when fileName is one non-empty name that stays inside its folder: no
// separator, no NUL, not "." or "..".
bool isSafeFileName(const QString &fileName);

} // namespace lumen
