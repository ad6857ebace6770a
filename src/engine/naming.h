#pragma once

#include <QSet>
#include <QString>

namespace lumen
{

struct DownloadItem;

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

// What CreateFolderPath made of a folder path.
struct FolderPathResult {
    // The deepest folder built, without trailing separator, when it exists;
    // empty when there is no folder to store in.
    QString path;
    // A piece names no folder the file system can hold: the caller tells the
    // user (FolderNameErrorText) and stores nothing there.
    bool badName = false;
    // Why there is no folder, in the system's words ("cannot make the
    // folder /x: Permission denied", "/x/file is not a folder").
    QString error;
};

// Creates every missing folder of path. On Linux the path is first made
// absolute (a relative path counts from the working folder) and cleaned
// (QDir::cleanPath: "./", "../" and repeated separators resolved), and only
// what the file system cannot hold is refused: a piece with a NUL character
// or longer than 255 bytes. Every other name ("with space ", ".hidden",
// "x:y*z?") is made as the user wrote it. On Windows each piece is cleaned by
// SanitizeFileName and a piece that becomes empty is refused. The file-system
// root is no folder to store in. A folder that cannot be made (a file stands
// in the way, no permission) gives an empty path without badName.
FolderPathResult CreateFolderPath(const QString &path);

// Final names that running transfers hold. A transfer reserves its target
// before its body arrives and frees it when it ends, so the same-name rules
// see the name as taken although nothing is on disk yet: nothing but a
// complete file ever stands under a final name, and two transfers never
// commit to one name at the same time.
class NameReservations
{
public:
    static QString key(const QString &path);
    bool isReserved(const QString &path) const { return m_paths.contains(key(path)); }
    // False when another transfer holds the name already.
    bool reserve(const QString &path) { return reserveKey(key(path)); }
    void release(const QString &path) { m_paths.remove(key(path)); }
    bool isEmpty() const { return m_paths.isEmpty(); }

private:
    bool reserveKey(const QString &key);
    QSet<QString> m_paths;
};

struct SavePath {
    QString name; // the name to store in the record (without extension)
    QString path; // folder + name (+ "." + type); empty when no safe path exists
};

// 重命名保存路径: the path to store a file under. With Overwrite, or when
// nothing exists at folder/name.type, the name is kept. Otherwise the name is
// numbered: a trailing "[number]" is taken as the start, "[" and "]" left in
// the name become "『" and "』", and the first free "name[NNN]" (at least
// three digits) is chosen. A name that running transfers reserved counts as
// taken. The path is empty when folder is empty or the file name would not
// be a single safe name inside folder.
SavePath renameSavePath(const QString &folder, const QString &name, const QString &type,
                        SameNamePolicy policy, const NameReservations *reserved = nullptr);

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

// Why no safe path exists for name and type in folder (renameSavePath gave
// none): no folder, a name that cleaning left empty, a type that cannot be
// an extension ("a/b"), or a file name the file system cannot hold.
QString unsafeNameReason(const QString &folder, const QString &name, const QString &type);

} // namespace lumen
