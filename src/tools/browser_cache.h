#pragma once

// The embedded browser keeps what it loads in a disk cache of one file per
// entry (`<hash>_0`). Each such file holds, in this order:
//
//   header   24 bytes: magic 30 5c 72 a7 1b 6d fb fc, version (u32),
//            key length (u32), key hash (u32), 4 bytes of padding
//   key      "1/0/" followed by the URL
//   body     the response body as it came over the wire (still gzip, deflate
//            or br encoded when the server sent it so)
//   record   24 bytes closing the body: magic d8 41 0d 97 45 6f fa f4, flags
//            (u32), CRC (u32), body size (u32), padding
//   head     the response head: a serialised record whose text field holds
//            the status line and header lines separated by NUL bytes
//   sha-256  32 bytes of the key's digest, when flag 2 of the last record is set
//   record   24 bytes closing the head, its size in the size field
//
// All numbers are little-endian. The reader below takes every entry apart
// from these fields alone; anything that does not add up (a file being
// written by a running browser, a cut-off file, an index file, a key of an
// unknown shape) is not an entry.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>

class QIODevice;

namespace lumen
{

struct CacheEntry {
    QString filePath; // the entry's own file (`<hash>_0`)
    QString url;
    // A complete response with a 2xx status: a page or a document, not a
    // redirect, an error page or a download the browser abandoned.
    bool normal = false;
    int httpStatus = 0;
    QByteArray contentEncoding; // lower-case; empty when the body is stored as is
    QByteArray contentType;     // lower-case, without parameters
    qint64 bodyOffset = 0;      // where the stored body starts in filePath
    qint64 storedSize = 0;      // body bytes in the file
    // The body's length once decoded; -1 when only decoding would tell
    // (deflate, br).
    qint64 decodedSize = -1;

    // The length a copied-out body has, as well as the record tells it.
    qint64 displaySize() const { return decodedSize >= 0 ? decodedSize : storedSize; }
};

// Reads one entry's fields (never its body). nullopt when the file is not a
// complete cache entry.
std::optional<CacheEntry> readCacheEntry(const QString &filePath);

// Every entry of a cache folder (not of its sub-folders), in file-name order.
// Files that are not entries are left out. Reads only each file's head and
// tail, so the time is proportional to the number of files, not their size.
// ok is set to false when the folder cannot be read at all.
QList<CacheEntry> listCacheEntries(const QString &folder, bool *ok = nullptr);

// Streams an entry's body, decoded as its Content-Encoding says, through a
// bounded buffer: memory stays the same whatever the body's size.
class CacheBodyReader
{
public:
    CacheBodyReader();
    ~CacheBodyReader();
    CacheBodyReader(const CacheBodyReader &) = delete;
    CacheBodyReader &operator=(const CacheBodyReader &) = delete;

    // False when the file cannot be opened or no longer holds the entry
    // (it was replaced since it was listed), or the encoding is unknown.
    bool open(const CacheEntry &entry);
    // Up to max decoded bytes; 0 at the end; -1 on an error (a body that
    // does not decode, a read that fails).
    qint64 read(char *data, qint64 max);
    bool atEnd() const;
    QString errorString() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Writes the decoded body into out. False, with a reason, when reading,
// decoding or writing fails.
bool writeCacheBody(const CacheEntry &entry, QIODevice &out, QString *error = nullptr);

// The name an entry's body is written under: the URL's last path segment,
// percent-decoded and made a safe file name; the host's name when the path
// has none (a site's root page); "index" when neither gives a name.
QString cacheEntryFileName(const QString &url);

// Removes the entry's files (`<hash>_0` and its companions `<hash>_1`,
// `<hash>_s`). True when none of them is left.
bool deleteCacheEntry(const QString &entryFilePath);

// True when the URL of an entry marks it as one to keep in every deletion:
// it contains "cookie" in any letter case.
bool isSparedUrl(QStringView url);

// The type shown for a URL or path: the text after the last "." of its last
// segment, cut at the first "#", "?", "=", quote, ":" and the like; empty when
// there is none or it is 7 characters or longer. For a URL only what follows
// "://" counts, up to a second "://".
QString UrlFileExtension(QStringView text);

// Where the browser profile whose data lives in storageFolder keeps its
// cache entries.
QString browserCacheFolder(const QString &profileStorageFolder);
// The data folder of the program's shared browser profile (the one every
// front uses unless told otherwise).
QString defaultBrowserStorageFolder();

// --- every user's cache ------------------------------------------------------

struct UserCacheFolder {
    QString user;   // the home folder's name
    QString folder; // the cache folder under that home
};

// The home folders to look into: the current user's, then every folder
// beside it (under /home when the home lies at the root, as /root does),
// each once.
QStringList candidateHomeFolders();

// For each home folder that has one, the cache folder found at the same place
// relative to it as myCacheFolder is relative to myHome. Empty when
// myCacheFolder is not inside myHome. Homes that cannot be read are passed
// over without a word.
QList<UserCacheFolder> ListAllUserCaches(const QString &myCacheFolder, const QString &myHome,
                                         const QStringList &homes);

// Every file (CollectFiles) or sub-folder (CollectSubFolders) under folder,
// recursively, parents before children. Links are neither listed nor
// followed, so a walk (and a deletion built on it) never leaves the tree.
QStringList CollectFiles(const QString &folder);
QStringList CollectSubFolders(const QString &folder);

// 强制删除: deletes the file, making it writable first when needed. True when
// it no longer exists.
bool forceDelete(const QString &path);

// 删除空文件夹: removes each folder that is empty, walking the list from the
// last to the first so that nested folders (listed after their parents) go
// first. Non-empty folders stay.
void removeEmptyFolders(const QStringList &folders);

// What a clearing did.
struct CacheClearResult {
    int deleted = 0;
    int spared = 0; // entries kept because their URL names a cookie, and .txt files
    int failed = 0;
};

// ClearBrowserCache: deletes every entry of myCacheFolder except those whose
// URL names a cookie, then every other file of the same cache folder under
// each home (sparing .txt files and cookie-named entries), then the empty
// sub-folders left behind.
CacheClearResult ClearBrowserCache(const QString &myCacheFolder, const QString &myHome,
                                   const QStringList &homes);

} // namespace lumen
