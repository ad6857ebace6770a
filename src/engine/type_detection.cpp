#include "engine/type_detection.h"

#include "engine/gbk.h"
#include "engine/naming.h"

#include <QFile>
#include <QFileInfo>

#include <initializer_list>

namespace lumen
{

namespace
{

constexpr qint64 HeadLimit = 10240;          // bytes read for the signatures
constexpr qint64 TrailerSize = 128;          // an MP3 tag at the end of the file
constexpr qint64 PageLimit = 200 * 1024;     // only smaller files can be web pages
constexpr qint64 DescriptorLimit = 3 * 1024; // only smaller files can be descriptors

// The first bytes of the file: offsets 0 to n, and offsets at or beyond the
// end of the file read as 0.
class Head
{
public:
    Head(QByteArray bytes, qint64 n) : m_bytes(std::move(bytes)), m_n(n) {}

    qint64 n() const { return m_n; }
    // True when every offset a test looks at is within 0..n.
    bool reaches(qint64 offset) const { return offset <= m_n; }
    uchar at(qint64 offset) const
    {
        return offset < m_bytes.size() ? uchar(m_bytes.at(offset)) : 0;
    }
    bool matches(qint64 offset, QByteArrayView expected) const
    {
        for (char b : expected)
            if (at(offset++) != uchar(b))
                return false;
        return true;
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    qint64 m_n;
};

// One signature: byte runs at offsets (string literals, so the table needs
// no storage of its own); the test needs the highest offset it looks at.
struct Run {
    qint64 offset;
    const char *bytes;
    qint64 length;
};
struct Signature {
    Run runs[3];
    int runCount;
    const char *type;

    qint64 lastOffset() const
    {
        qint64 last = 0;
        for (int i = 0; i < runCount; ++i)
            last = qMax(last, runs[i].offset + runs[i].length - 1);
        return last;
    }
    bool matches(const Head &head) const;
};

// In order: the first that matches names the type. Overlaps are decided by
// the order (a ZIP entry whose general flags are 6 is docx only after the
// plain zip header failed).
constexpr Signature Signatures[] = {
    {{{0, "\x25\x50\x44\x46", 4}}, 1, "pdf"},
    {{{0, "\xC8\x00\x00\x00", 4}}, 1, "caj"},
    {{{0, "\x43\x41\x4A\x00", 4}}, 1, "kdh"},
    {{{0, "\x4B\x44\x48\x20", 4}}, 1, "kdh"},
    {{{0, "\x48\x4E\x00\x00", 4}}, 1, "nh"},
    {{{0, "\x49\x49\x2A\x00", 4}}, 1, "tif"},
    {{{0, "\x7B\x5C\x72\x74\x66", 5}}, 1, "rtf"},
    {{{0, "\x4D\x5A", 2}}, 1, "exe"},
    {{{0, "\x52\x61\x72\x21", 4}}, 1, "rar"},
    {{{0, "\x50\x4B\x03\x04\x14\x00\x00\x00\x08", 9}}, 1, "zip"},
    {{{0, "\x50\x4B\x03\x04\x14\x00\x06\x00\x08\x00", 10}}, 1, "docx"},
    {{{0, "\x43\x57\x53\x06", 4}}, 1, "swf"},
    {{{0, "\x2E\x52\x4D\x46", 4}}, 1, "rm"},
    {{{0, "\x30\x26\xB2\x75\x8E", 5}}, 1, "wma"},
    {{{0, "\x49\x44\x33\x03", 4}}, 1, "mp3"},
    {{{0, "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A", 8}}, 1, "png"},
    {{{0, "\x47\x49\x46\x38\x39\x61", 6}}, 1, "gif"},
    {{{0, "\xFF\xD8\xFF\xE1", 4}, {6, "\x45\x78\x69\x66", 4}, {12, "\x4D\x4D\x00\x2A", 4}},
     3,
     "jpg"},
    {{{0, "\xFF\xD8\xFF\xE0\x00\x10\x4A\x46\x49\x46", 10}}, 1, "jpg"},
};

bool Signature::matches(const Head &head) const
{
    for (int i = 0; i < runCount; ++i)
        if (!head.matches(runs[i].offset, QByteArrayView(runs[i].bytes, runs[i].length)))
            return false;
    return true;
}

enum class Outcome { Found, NoMatch, OutOfReach };

// The signature tests. OutOfReach: a test needed an offset beyond n, which
// ends the whole detection without a type.
Outcome matchSignatures(const Head &head, QString &type)
{
    for (const Signature &sig : Signatures) {
        if (!head.reaches(sig.lastOffset()))
            return Outcome::OutOfReach;
        if (sig.matches(head)) {
            type = QLatin1String(sig.type);
            return Outcome::Found;
        }
    }
    // OLE compound file: the kind is told by the first sector after the header.
    if (!head.reaches(7))
        return Outcome::OutOfReach;
    if (head.matches(0, QByteArrayView("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))) {
        if (!head.reaches(515))
            return Outcome::OutOfReach;
        if (head.matches(512, QByteArrayView("\xEC\xA5\xC1\x00", 4)))
            type = QStringLiteral("doc");
        else if (head.matches(512, QByteArrayView("\x09\x08\x10\x00", 4)))
            type = QStringLiteral("xls");
        else if (head.at(515) == 0xF0)
            type = QStringLiteral("ppt");
        return type.isEmpty() ? Outcome::NoMatch : Outcome::Found;
    }
    return Outcome::NoMatch;
}

// Reads up to count bytes from the current position; fewer only at the end of
// the file. False on a read error.
bool readUpTo(QFile &file, qint64 count, QByteArray &out)
{
    out.resize(count);
    qint64 done = 0;
    while (done < count) {
        const qint64 got = file.read(out.data() + done, count - done);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += got;
    }
    out.truncate(done);
    return true;
}

bool containsAll(const QString &text, std::initializer_list<const char *> markers)
{
    for (const char *m : markers)
        if (!text.contains(QLatin1String(m), Qt::CaseInsensitive))
            return false;
    return true;
}

bool containsAny(const QString &text, std::initializer_list<const char *> markers)
{
    for (const char *m : markers)
        if (text.contains(QLatin1String(m), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

QString detectFileType(const QString &path)
{
    if (!FileExists(path))
        return QString();
    // Only regular files: a pipe or device would block or never end.
    QFile file(localFilePath(path));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = file.size();
    const qint64 n = qMin(size, HeadLimit);
    QByteArray bytes;
    if (!readUpTo(file, qMin(n + 1, size), bytes))
        return QString();
    const Head head(std::move(bytes), n);

    QString type;
    if (matchSignatures(head, type) == Outcome::OutOfReach)
        return QString();

    if (type.isEmpty() && size > TrailerSize) {
        QByteArray trailer;
        if (file.seek(size - TrailerSize) && readUpTo(file, TrailerSize, trailer) &&
            trailer.startsWith("TAG"))
            type = QStringLiteral("mp3");
    }

    if (type.isEmpty() && size < PageLimit) {
        const QString text = gbk::decode(head.bytes());
        if (containsAny(text, {"<html ", "html>"}) &&
            containsAny(text, {"<title>", "<head>", "<body>"}))
            type = QStringLiteral("htm");
    }

    if (type.isEmpty() && size < DescriptorLimit) {
        QByteArray whole;
        if (file.seek(0) && readUpTo(file, size, whole)) {
            const QString text = gbk::decode(whole);
            if (containsAll(text, {"A1=", "[TARGET]",
                                   "A2=", "B1=", "B2=", "C1=", "C2=", "D1=", "D2=", "DOCTYPE="}))
                type = QStringLiteral("caa");
        }
    }
    return type.toLower();
}

} // namespace lumen
