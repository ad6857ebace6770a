#include "tools/browser_cache.h"

#include "engine/app_title.h"
#include "engine/naming.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <brotli/decode.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumen
{

namespace
{

constexpr quint64 EntryMagic = 0xfcfb6d1ba7725c30ULL;
constexpr quint64 EndMagic = 0xf4fa6f45970d41d8ULL;
constexpr int HeaderSize = 24;
constexpr int EndRecordSize = 24;
constexpr int KeyDigestSize = 32;
constexpr quint32 FlagHasKeyDigest = 2;
// The response-head record marks a body the browser stopped receiving.
constexpr quint32 ResponseTruncated = 1u << 12;
// A key longer than this is no URL the browser would keep.
constexpr quint32 MaxKeyLength = 1u << 20;
// A response head is a few kilobytes; more than this is not one.
constexpr quint32 MaxHeadSize = 1u << 20;
// Read and decode in pieces of this size.
constexpr qint64 ChunkSize = 64 * 1024;

quint32 u32At(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

quint64 u64At(const char *p)
{
    return qFromLittleEndian<quint64>(p);
}

// The URL inside a cache key: "1/0/URL", or with the site parts that newer
// engines put before it ("1/0/_dk_SITE SITE URL"). Empty for any other shape.
QString urlOfKey(const QByteArray &key)
{
    // Two numeric fields, each ending in '/'.
    qsizetype pos = 0;
    for (int field = 0; field < 2; ++field) {
        const qsizetype start = pos;
        while (pos < key.size() && key.at(pos) >= '0' && key.at(pos) <= '9')
            ++pos;
        if (pos == start || pos >= key.size() || key.at(pos) != '/')
            return {};
        ++pos;
    }
    QByteArray rest = key.mid(pos);
    if (rest.startsWith("_dk_")) {
        const qsizetype space = rest.lastIndexOf(' ');
        if (space < 0)
            return {};
        rest = rest.mid(space + 1);
    }
    // The engine keeps URLs in their encoded form: no spaces, no control
    // characters. Checked by hand, as a full parse of every key would cost
    // more than the rest of a listing.
    qsizetype hostStart;
    if (rest.startsWith("http://"))
        hostStart = 7;
    else if (rest.startsWith("https://"))
        hostStart = 8;
    else
        return {};
    for (const char c : rest) {
        if (uchar(c) <= 0x20 || uchar(c) == 0x7f)
            return {};
    }
    const qsizetype hostEnd = rest.indexOf('/', hostStart);
    const QByteArray authority = rest.mid(hostStart, hostEnd < 0 ? -1 : hostEnd - hostStart);
    if (authority.isEmpty() || authority.startsWith(':') || authority.contains('?') ||
        authority.contains('#'))
        return {};
    return QString::fromUtf8(rest);
}

struct ResponseHead {
    bool present = false;
    bool truncated = false;
    int status = 0;
    QByteArray contentEncoding;
    QByteArray contentType;
};

// The head record starts with its payload size and the flags; the status line
// and header lines follow later as one NUL-separated text. Rather than walk
// every field of a record whose later fields change between engine
// versions, the text is found by its "HTTP/" start.
ResponseHead parseHead(const QByteArray &head)
{
    ResponseHead r;
    if (head.size() < 8)
        return r;
    const quint32 flags = u32At(head.constData() + 4);
    r.truncated = flags & ResponseTruncated;
    const qsizetype start = head.indexOf("HTTP/");
    if (start < 0)
        return r;
    qsizetype end = head.indexOf(QByteArray("\0\0", 2), start);
    if (end < 0)
        end = head.size();
    const QList<QByteArray> lines = head.mid(start, end - start).split('\0');
    const QList<QByteArray> statusLine = lines.value(0).split(' ');
    bool ok = false;
    r.status = statusLine.value(1).toInt(&ok);
    if (!ok)
        return r;
    r.present = true;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "content-encoding")
            r.contentEncoding = value == "identity" ? QByteArray() : value;
        else if (name == "content-type")
            r.contentType = value.split(';').constFirst().trimmed();
    }
    return r;
}

// An entry file read through its first and last few kilobytes, which hold
// every field but the body in all but the rarest entries: listing a large
// cache then costs an open, a read and a close per file (a stat and a second
// read more for a file larger than the window).
class EntryFile
{
public:
    explicit EntryFile(const QString &path, int flags = 0)
        : EntryFile(::open(QFile::encodeName(path).constData(),
                           O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags),
                    true)
    {
    }
    // Reads through a file opened elsewhere, which stays open.
    EntryFile(int fd, bool own) : m_fd(fd), m_own(own)
    {
        if (m_fd < 0)
            return;
        // Most entries are smaller than the window: a short first read then
        // tells the size without asking for it.
        m_head = readAt(0, WindowBytes);
        struct stat st = {};
        if (m_head.size() < WindowBytes) {
            m_size = m_readFailed ? -1 : m_head.size();
            m_tail = m_head;
            return;
        }
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_size = -1;
            return;
        }
        m_size = st.st_size;
        const qint64 tailStart = qMax<qint64>(0, m_size - WindowBytes);
        m_tailStart = tailStart;
        m_tail = tailStart == 0 ? m_head : readAt(tailStart, m_size - tailStart);
    }
    ~EntryFile()
    {
        if (m_own && m_fd >= 0)
            ::close(m_fd);
    }
    EntryFile(const EntryFile &) = delete;
    EntryFile &operator=(const EntryFile &) = delete;

    qint64 size() const { return m_size; }

    // size bytes at offset, or an empty array when the file has not that many.
    QByteArray bytes(qint64 offset, qint64 size) const
    {
        if (offset < 0 || size < 0 || offset + size > m_size)
            return {};
        if (offset + size <= m_head.size())
            return m_head.mid(offset, size);
        if (offset >= m_tailStart && offset + size - m_tailStart <= m_tail.size())
            return m_tail.mid(offset - m_tailStart, size);
        const QByteArray b = readAt(offset, size);
        return b.size() == size ? b : QByteArray();
    }

private:
    static constexpr qint64 WindowBytes = 8 * 1024;

    QByteArray readAt(qint64 offset, qint64 size) const
    {
        QByteArray b(size, Qt::Uninitialized);
        qint64 done = 0;
        while (done < size) {
            const ssize_t n =
                ::pread(m_fd, b.data() + done, size_t(size - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                m_readFailed = true; // a folder, or a read error
            if (n <= 0)
                break;
            done += n;
        }
        b.truncate(done);
        return b;
    }

    int m_fd = -1;
    bool m_own = true;
    mutable bool m_readFailed = false;
    qint64 m_size = -1;
    QByteArray m_head;
    QByteArray m_tail;
    qint64 m_tailStart = 0;
};

std::optional<CacheEntry> readEntry(const EntryFile &f, const QString &filePath)
{
    const qint64 fileSize = f.size();
    if (fileSize < HeaderSize + 2 * EndRecordSize)
        return std::nullopt;
    const QByteArray header = f.bytes(0, HeaderSize);
    if (header.isEmpty() || u64At(header.constData()) != EntryMagic)
        return std::nullopt;
    const quint32 keyLength = u32At(header.constData() + 12);
    if (keyLength == 0 || keyLength > MaxKeyLength ||
        HeaderSize + qint64(keyLength) + 2 * EndRecordSize > fileSize)
        return std::nullopt;
    const QString url = urlOfKey(f.bytes(HeaderSize, keyLength));
    if (url.isEmpty())
        return std::nullopt;

    // The head's closing record sits at the very end of the file.
    const QByteArray end = f.bytes(fileSize - EndRecordSize, EndRecordSize);
    if (end.isEmpty() || u64At(end.constData()) != EndMagic)
        return std::nullopt;
    const quint32 headSize = u32At(end.constData() + 16);
    const qint64 digest = (u32At(end.constData() + 8) & FlagHasKeyDigest) ? KeyDigestSize : 0;
    const qint64 bodyOffset = HeaderSize + keyLength;
    const qint64 headOffset = fileSize - EndRecordSize - digest - headSize;
    const qint64 bodyEndRecord = headOffset - EndRecordSize;
    if (headSize > MaxHeadSize || bodyEndRecord < bodyOffset)
        return std::nullopt;
    const QByteArray bodyEnd = f.bytes(bodyEndRecord, EndRecordSize);
    if (bodyEnd.isEmpty() || u64At(bodyEnd.constData()) != EndMagic ||
        qint64(u32At(bodyEnd.constData() + 16)) != bodyEndRecord - bodyOffset)
        return std::nullopt;
    const QByteArray head = f.bytes(headOffset, headSize);
    if (head.size() != qsizetype(headSize))
        return std::nullopt;
    const ResponseHead response = parseHead(head);

    CacheEntry e;
    e.filePath = filePath;
    e.url = url;
    e.httpStatus = response.status;
    e.contentEncoding = response.contentEncoding;
    e.contentType = response.contentType;
    e.bodyOffset = bodyOffset;
    e.storedSize = bodyEndRecord - bodyOffset;
    e.normal =
        response.present && !response.truncated && response.status >= 200 && response.status < 300;
    if (e.contentEncoding.isEmpty()) {
        e.decodedSize = e.storedSize;
    } else if ((e.contentEncoding == "gzip" || e.contentEncoding == "x-gzip") &&
               e.storedSize >= 18) {
        // A gzip stream ends with its decoded length (modulo 4 GiB).
        const QByteArray trailer = f.bytes(bodyOffset + e.storedSize - 4, 4);
        if (!trailer.isEmpty())
            e.decodedSize = u32At(trailer.constData());
    }
    return e;
}

} // namespace

std::optional<CacheEntry> readCacheEntry(const QString &filePath)
{
    return readEntry(EntryFile(filePath), filePath);
}

QList<CacheEntry> listCacheEntries(const QString &folder, bool *ok)
{
    QList<CacheEntry> entries;
    // The folder is read by the system's own calls: with 100 000 entries,
    // building a file-information object per name would cost more than
    // reading the entries.
    const QByteArray encoded = QFile::encodeName(folder);
    DIR *dir = ::opendir(encoded.constData());
    if (ok)
        *ok = dir != nullptr;
    if (!dir)
        return entries;
    QList<QByteArray> names;
    while (const dirent *d = ::readdir(dir)) {
        const qsizetype n = qsizetype(std::strlen(d->d_name));
        // Entry files end in "_0"; links are not followed out of the cache.
        if (n > 2 && d->d_name[n - 2] == '_' && d->d_name[n - 1] == '0' &&
            (d->d_type == DT_REG || d->d_type == DT_UNKNOWN))
            names.append(QByteArray(d->d_name, n));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    entries.reserve(names.size());
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QByteArray &name : std::as_const(names)) {
        const QString path = prefix + QFile::decodeName(name);
        if (std::optional<CacheEntry> e = readEntry(EntryFile(path, O_NOFOLLOW), path))
            entries.append(std::move(*e));
    }
    return entries;
}

// --- body ------------------------------------------------------------------

struct CacheBodyReader::Private {
    enum class Coding { Identity, Zlib, Brotli };
    QFile file;
    Coding coding = Coding::Identity;
    qint64 remaining = 0; // stored bytes not yet read from the file
    QByteArray in;        // stored bytes read, not yet decoded
    qsizetype inPos = 0;
    bool streamEnded = false;
    bool failed = false;
    QString error;
    z_stream zs{};
    bool zInit = false;
    BrotliDecoderState *br = nullptr;

    ~Private()
    {
        if (zInit)
            inflateEnd(&zs);
        if (br)
            BrotliDecoderDestroyInstance(br);
    }

    qint64 fail(const QString &why)
    {
        failed = true;
        error = why;
        return -1;
    }

    // Keeps at least some stored bytes at hand; false at the end of the body.
    bool refill()
    {
        if (inPos < in.size())
            return true;
        if (remaining == 0)
            return false;
        in.resize(qMin(remaining, ChunkSize));
        const qint64 n = file.read(in.data(), in.size());
        if (n <= 0) {
            in.clear();
            inPos = 0;
            remaining = 0;
            failed = true;
            error = QStringLiteral("cannot read %1").arg(file.fileName());
            return false;
        }
        in.resize(n);
        inPos = 0;
        remaining -= n;
        return true;
    }
};

CacheBodyReader::CacheBodyReader() : d(std::make_unique<Private>()) {}
CacheBodyReader::~CacheBodyReader() = default;

bool CacheBodyReader::open(const CacheEntry &entry)
{
    d = std::make_unique<Private>();
    const QByteArray &enc = entry.contentEncoding;
    if (enc.isEmpty()) {
        d->coding = Private::Coding::Identity;
    } else if (enc == "gzip" || enc == "x-gzip" || enc == "deflate") {
        d->coding = Private::Coding::Zlib;
        // 32 + 15: a gzip or zlib stream, told apart by its first bytes.
        if (inflateInit2(&d->zs, 32 + 15) != Z_OK) {
            d->fail(QStringLiteral("cannot start decoding"));
            return false;
        }
        d->zInit = true;
    } else if (enc == "br") {
        d->coding = Private::Coding::Brotli;
        d->br = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
        if (!d->br) {
            d->fail(QStringLiteral("cannot start decoding"));
            return false;
        }
    } else {
        d->fail(QStringLiteral("unknown content encoding %1").arg(QString::fromLatin1(enc)));
        return false;
    }
    d->file.setFileName(entry.filePath);
    if (!d->file.open(QIODevice::ReadOnly)) {
        d->fail(d->file.errorString());
        return false;
    }
    // The file may have been replaced by another entry since it was listed.
    // Checked through the handle the body is read from, so a file replaced
    // after the check is not read either.
    const std::optional<CacheEntry> now =
        readEntry(EntryFile(d->file.handle(), false), entry.filePath);
    if (!now || now->url != entry.url || now->bodyOffset != entry.bodyOffset ||
        now->storedSize != entry.storedSize) {
        d->fail(QStringLiteral("the cache entry has changed"));
        return false;
    }
    if (!d->file.seek(entry.bodyOffset)) {
        d->fail(d->file.errorString());
        return false;
    }
    d->remaining = entry.storedSize;
    return true;
}

qint64 CacheBodyReader::read(char *data, qint64 max)
{
    if (d->failed)
        return -1;
    if (d->streamEnded || max <= 0)
        return 0;
    switch (d->coding) {
    case Private::Coding::Identity: {
        if (d->remaining == 0) {
            d->streamEnded = true;
            return 0;
        }
        const qint64 n = d->file.read(data, qMin(max, d->remaining));
        if (n <= 0)
            return d->fail(QStringLiteral("cannot read %1").arg(d->file.fileName()));
        d->remaining -= n;
        return n;
    }
    case Private::Coding::Zlib: {
        // A tiny input may decode to nothing yet: feed until output comes.
        for (;;) {
            if (!d->refill()) {
                if (d->failed)
                    return -1;
                return d->fail(QStringLiteral("the compressed body ends early"));
            }
            d->zs.next_in = reinterpret_cast<Bytef *>(d->in.data() + d->inPos);
            d->zs.avail_in = uInt(d->in.size() - d->inPos);
            d->zs.next_out = reinterpret_cast<Bytef *>(data);
            d->zs.avail_out = uInt(qMin<qint64>(max, 1 << 30));
            const int rc = inflate(&d->zs, Z_NO_FLUSH);
            d->inPos = d->in.size() - d->zs.avail_in;
            const qint64 produced = reinterpret_cast<char *>(d->zs.next_out) - data;
            if (rc == Z_STREAM_END) {
                d->streamEnded = true;
                return produced;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                return d->fail(QStringLiteral("the compressed body is damaged"));
            if (produced > 0)
                return produced;
        }
    }
    case Private::Coding::Brotli: {
        for (;;) {
            const bool haveInput = d->refill();
            if (d->failed)
                return -1;
            size_t availIn = haveInput ? size_t(d->in.size() - d->inPos) : 0;
            const uint8_t *nextIn = reinterpret_cast<const uint8_t *>(d->in.constData() + d->inPos);
            size_t availOut = size_t(max);
            uint8_t *nextOut = reinterpret_cast<uint8_t *>(data);
            const BrotliDecoderResult rc = BrotliDecoderDecompressStream(
                d->br, &availIn, &nextIn, &availOut, &nextOut, nullptr);
            d->inPos = d->in.size() - qsizetype(availIn);
            const qint64 produced = max - qint64(availOut);
            if (rc == BROTLI_DECODER_RESULT_SUCCESS) {
                d->streamEnded = true;
                return produced;
            }
            if (rc == BROTLI_DECODER_RESULT_ERROR)
                return d->fail(QStringLiteral("the compressed body is damaged"));
            if (produced > 0)
                return produced;
            if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT && !haveInput)
                return d->fail(QStringLiteral("the compressed body ends early"));
        }
    }
    }
    return -1;
}

bool CacheBodyReader::atEnd() const
{
    return d->streamEnded;
}

QString CacheBodyReader::errorString() const
{
    return d->error;
}

bool writeCacheBody(const CacheEntry &entry, QIODevice &out, QString *error)
{
    CacheBodyReader reader;
    if (!reader.open(entry)) {
        if (error)
            *error = reader.errorString();
        return false;
    }
    QByteArray buffer(ChunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 n = reader.read(buffer.data(), buffer.size());
        if (n < 0) {
            if (error)
                *error = reader.errorString();
            return false;
        }
        if (n == 0)
            return true;
        if (out.write(buffer.constData(), n) != n) {
            if (error)
                *error = out.errorString();
            return false;
        }
    }
}

// --- names -------------------------------------------------------------------

QString cacheEntryFileName(const QString &url)
{
    const QUrl u(url);
    // The segment is cut out before decoding, so an encoded "/" inside it
    // stays part of the name (and is then removed from it).
    QString path = u.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString name =
        QUrl::fromPercentEncoding(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).toUtf8());
    QString clean = SanitizeFileName(name);
    const QString ext = UrlFileExtension(name);
    // A name cut for length keeps its extension: the type is what makes the
    // copied file open as a document.
    if (!ext.isEmpty() && !clean.endsWith(QLatin1Char('.') + ext)) {
        QString base = SanitizeFileName(name.left(name.size() - ext.size() - 1));
        while (!base.isEmpty() &&
               (base + QLatin1Char('.') + ext).toUtf8().size() > MaxNameFileSystemBytes)
            base.chop(1);
        clean = base.isEmpty() ? QString() : SanitizeFileName(base + QLatin1Char('.') + ext);
    }
    if (clean.isEmpty())
        clean = SanitizeFileName(u.host());
    if (clean.isEmpty())
        clean = QStringLiteral("index");
    return clean;
}

QString UrlFileExtension(QStringView text)
{
    QString s = text.toString();
    const qsizetype scheme = s.indexOf(QLatin1String("://"), 0, Qt::CaseInsensitive);
    if (scheme >= 0) {
        s = s.mid(scheme + 3);
        const qsizetype second = s.indexOf(QLatin1String("://"), 0, Qt::CaseInsensitive);
        if (second >= 0)
            s = s.left(second);
    }
    s.replace(QLatin1Char('/'), QLatin1Char('\\'));
    s = s.mid(s.lastIndexOf(QLatin1Char('\\')) + 1);
    static const QString cuts = QStringLiteral("#\b\t\n\r:*<>|\"'=?");
    for (const QChar c : cuts) {
        const qsizetype at = s.indexOf(c);
        if (at >= 0)
            s.truncate(at);
    }
    const qsizetype dot = s.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    const QString ext = s.mid(dot + 1).trimmed();
    return ext.size() >= 7 ? QString() : ext;
}

bool isSparedUrl(QStringView url)
{
    return url.contains(QLatin1String("cookie"), Qt::CaseInsensitive);
}

bool deleteCacheEntry(const QString &entryFilePath)
{
    bool gone = forceDelete(entryFilePath);
    if (entryFilePath.endsWith(QLatin1String("_0"))) {
        const QString stem = entryFilePath.chopped(2);
        gone = forceDelete(stem + QStringLiteral("_1")) && gone;
        gone = forceDelete(stem + QStringLiteral("_s")) && gone;
    }
    return gone;
}

QString browserCacheFolder(const QString &profileStorageFolder)
{
    // The profile puts its cache under "cache"; the engine files the
    // entries two levels further down.
    return QDir(profileStorageFolder).filePath(QStringLiteral("cache/Cache/Cache_Data"));
}

QString defaultBrowserStorageFolder()
{
    // Found by its place from any program, so the command-line tool needs
    // no browser engine to find it: the profile files itself under the
    // application's title in the per-user data folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1Char('/') + ApplicationTitle + QStringLiteral("/browser");
}

// --- every user's cache ------------------------------------------------------

QStringList candidateHomeFolders()
{
    QStringList homes;
    QSet<QString> seen;
    auto add = [&](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty() || seen.contains(canonical))
            return;
        seen.insert(canonical);
        homes.append(QDir::cleanPath(path));
    };
    const QString home = QDir::homePath();
    add(home);
    // Beside /root lie the system's folders, not homes: the homes are then
    // those under /home.
    QString root = QFileInfo(home).absolutePath();
    if (root == QLatin1String("/"))
        root = QStringLiteral("/home");
    const QStringList names =
        QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString &name : names)
        add(QDir(root).filePath(name));
    return homes;
}

QList<UserCacheFolder> ListAllUserCaches(const QString &myCacheFolder, const QString &myHome,
                                         const QStringList &homes)
{
    QList<UserCacheFolder> result;
    const QString cache = QDir::cleanPath(QDir(myCacheFolder).absolutePath());
    const QString home = QDir::cleanPath(QDir(myHome).absolutePath());
    if (!cache.startsWith(home + QLatin1Char('/')))
        return result;
    const QString relative = cache.mid(home.size() + 1);
    for (const QString &h : homes) {
        const QString folder = QDir(h).filePath(relative);
        const QFileInfo info(folder);
        if (info.isDir() && !info.isSymLink() && info.isReadable())
            result.append({QFileInfo(h).fileName(), folder});
    }
    return result;
}

namespace
{

void collect(const QString &folder, QStringList &out, bool files)
{
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::NoIteratorFlags);
    QStringList subFolders;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink())
            continue;
        if (info.isDir()) {
            subFolders.append(info.filePath());
            if (!files)
                out.append(info.filePath());
        } else if (files) {
            out.append(info.filePath());
        }
    }
    std::sort(subFolders.begin(), subFolders.end());
    for (const QString &sub : std::as_const(subFolders))
        collect(sub, out, files);
}

} // namespace

QStringList CollectFiles(const QString &folder)
{
    QStringList out;
    collect(folder, out, true);
    return out;
}

QStringList CollectSubFolders(const QString &folder)
{
    QStringList out;
    collect(folder, out, false);
    return out;
}

bool forceDelete(const QString &path)
{
    QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isSymLink() && !info.isWritable())
        QFile::setPermissions(path, info.permissions() | QFile::WriteOwner);
    QFile::remove(path);
    return !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
}

void removeEmptyFolders(const QStringList &folders)
{
    for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
        if (!it->isEmpty())
            QDir().rmdir(*it); // only an empty folder goes
    }
}

CacheClearResult ClearBrowserCache(const QString &myCacheFolder, const QString &myHome,
                                   const QStringList &homes)
{
    CacheClearResult result;
    // The file pass walks the same folder again when it lies in the user's
    // home: an entry spared here is counted once, not once per pass.
    QSet<QString> sparedFiles;
    for (const CacheEntry &e : listCacheEntries(myCacheFolder)) {
        if (!e.normal)
            continue; // left to the file pass below
        if (isSparedUrl(e.url)) {
            ++result.spared;
            sparedFiles.insert(QFileInfo(e.filePath).canonicalFilePath());
        } else if (deleteCacheEntry(e.filePath))
            ++result.deleted;
        else
            ++result.failed;
    }
    QStringList folders;
    for (const UserCacheFolder &u : ListAllUserCaches(myCacheFolder, myHome, homes)) {
        folders += CollectSubFolders(u.folder);
        for (const QString &path : CollectFiles(u.folder)) {
            if (UrlFileExtension(path).toLower() == QLatin1String("txt")) {
                ++result.spared;
                continue;
            }
            // The file pass spares the same entries the entry pass does.
            if (const std::optional<CacheEntry> e = readCacheEntry(path);
                e && isSparedUrl(e->url)) {
                if (!sparedFiles.contains(QFileInfo(path).canonicalFilePath()))
                    ++result.spared;
                continue;
            }
            if (forceDelete(path))
                ++result.deleted;
            else
                ++result.failed;
        }
    }
    removeEmptyFolders(folders);
    return result;
}

} // namespace lumen
