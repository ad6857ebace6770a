#include "engine/resume_state.h"

#include "engine/part_file.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumen
{

namespace
{

// The first line of every sidecar; a file that does not start with it is
// not ours to read.
constexpr QByteArrayView Magic = "lumenarc partial 1";
// A sidecar is a few lines; anything bigger is not one.
constexpr qint64 MaxMetaBytes = 64 * 1024;

bool isPlainLine(QByteArrayView value)
{
    return !value.contains('\n') && !value.contains('\r');
}

bool readSmallFile(const QString &path, QByteArray *out)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MaxMetaBytes) {
        ::close(fd);
        return false;
    }
    out->resize(qsizetype(st.st_size));
    qint64 done = 0;
    while (done < st.st_size) {
        const ssize_t n = ::read(fd, out->data() + done, size_t(st.st_size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    out->resize(qsizetype(done));
    return done == st.st_size;
}

} // namespace

QByteArray ResumeMeta::validator() const
{
    const QByteArray tag = etag.trimmed();
    if (!tag.isEmpty() && !tag.startsWith("W/"))
        return tag;
    return lastModified.trimmed();
}

QString resumeMetaPath(const QString &partPath)
{
    return partPath + QStringLiteral(".meta");
}

std::optional<ResumeMeta> readResumeMeta(const QString &partPath)
{
    QByteArray bytes;
    if (!readSmallFile(resumeMetaPath(partPath), &bytes))
        return std::nullopt;
    const QList<QByteArray> lines = bytes.split('\n');
    if (lines.isEmpty() || lines.first() != Magic)
        return std::nullopt;
    ResumeMeta meta;
    bool haveUrl = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        if (key == "url") {
            meta.url = QString::fromUtf8(value);
            haveUrl = true;
        } else if (key == "etag") {
            meta.etag = value;
        } else if (key == "last-modified") {
            meta.lastModified = value;
        } else if (key == "length") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            meta.length = ok && n > 0 ? n : -1;
        }
    }
    if (!haveUrl)
        return std::nullopt;
    return meta;
}

bool writeResumeMeta(const QString &partPath, const ResumeMeta &meta, QString *error)
{
    const QByteArray url = meta.url.toUtf8();
    if (!isPlainLine(url) || !isPlainLine(meta.etag) || !isPlainLine(meta.lastModified)) {
        if (error)
            *error = QStringLiteral("the answer's headers cannot be kept");
        return false;
    }
    QByteArray text = Magic.toByteArray() + '\n';
    text += "url " + url + '\n';
    if (!meta.etag.isEmpty())
        text += "etag " + meta.etag + '\n';
    if (!meta.lastModified.isEmpty())
        text += "last-modified " + meta.lastModified + '\n';
    if (meta.length > 0)
        text += "length " + QByteArray::number(meta.length) + '\n';

    const QByteArray target = QFile::encodeName(resumeMetaPath(partPath));
    const QByteArray temporary = target + ".new";
    // Never through a link planted under either name: the temporary is
    // opened without following one, and rename replaces a link itself.
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    qint64 done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += n;
    }
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
        ok = false;
    if (ok && std::rename(temporary.constData(), target.constData()) != 0)
        ok = false;
    if (!ok) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temporary.constData());
    }
    return ok;
}

void removeResumeMeta(const QString &partPath)
{
    ::unlink(QFile::encodeName(resumeMetaPath(partPath)).constData());
}

ResumeMeta resumeMetaFor(const QNetworkReply &reply, const QString &url, qint64 length)
{
    ResumeMeta meta;
    meta.url = url;
    meta.etag = reply.rawHeader("etag").trimmed();
    meta.lastModified = reply.rawHeader("last-modified").trimmed();
    meta.length = length > 0 ? length : -1;
    return meta;
}

void askForRest(QNetworkRequest &request, qint64 offset, const ResumeMeta &meta)
{
    request.setRawHeader("Range", "bytes=" + QByteArray::number(offset) + '-');
    request.setRawHeader("If-Range", meta.validator());
}

bool parseContentRange(QByteArrayView value, qint64 *first, qint64 *last, qint64 *complete)
{
    QByteArray text = value.toByteArray().trimmed();
    if (!text.toLower().startsWith("bytes "))
        return false;
    text = text.mid(6).trimmed();
    const qsizetype dash = text.indexOf('-');
    const qsizetype slash = text.indexOf('/');
    if (dash <= 0 || slash <= dash + 1)
        return false;
    bool ok1 = false;
    bool ok2 = false;
    const qint64 a = text.left(dash).toLongLong(&ok1);
    const qint64 b = text.mid(dash + 1, slash - dash - 1).toLongLong(&ok2);
    if (!ok1 || !ok2 || a < 0 || b < a)
        return false;
    const QByteArray total = text.mid(slash + 1);
    qint64 c = -1;
    if (total != "*") {
        bool ok3 = false;
        c = total.toLongLong(&ok3);
        if (!ok3 || c <= b)
            return false;
    }
    *first = a;
    *last = b;
    *complete = c;
    return true;
}

RangeAnswer judgeRangeAnswer(const QNetworkReply &reply, qint64 offset, const ResumeMeta &meta)
{
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 416)
        return RangeAnswer::Refetch;
    if (status != 206)
        return RangeAnswer::Whole;
    qint64 first = -1;
    qint64 last = -1;
    qint64 complete = -1;
    if (!parseContentRange(reply.rawHeader("content-range"), &first, &last, &complete))
        return RangeAnswer::Refetch;
    // The rest, all of it, of a document as long as the one begun.
    if (first != offset || complete != meta.length || last != complete - 1)
        return RangeAnswer::Refetch;
    // A server that sends a tag with the range must send the one begun.
    const QByteArray tag = reply.rawHeader("etag").trimmed();
    if (!tag.isEmpty() && !meta.etag.isEmpty() && tag != meta.etag.trimmed())
        return RangeAnswer::Refetch;
    const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != complete - first)
        return RangeAnswer::Refetch;
    return RangeAnswer::Append;
}

void removeLeftoverPart(const QString &targetPath, const QString &url)
{
    if (targetPath.isEmpty())
        return;
    const QString part = PartFile::partPathFor(targetPath);
    const std::optional<ResumeMeta> meta = readResumeMeta(part);
    if (!meta || meta->url != url)
        return;
    ::unlink(QFile::encodeName(part).constData());
    removeResumeMeta(part);
}

} // namespace lumen
