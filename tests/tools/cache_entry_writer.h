#pragma once

// Writes cache entry files in the browser's on-disk layout (see
// tools/browser_cache.h), so tests can make entries the browser never would:
// cut off, damaged, of foreign keys, of many thousands.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtEndian>

namespace lumen::test
{

struct CacheEntryBytes {
    QByteArray key;
    QByteArray body;
    // Status line and header lines, each ending in "\r\n" or not at all.
    QByteArray head = "HTTP/1.1 200 OK\nContent-Type: text/html";
    quint32 responseFlags = 0x00040003;
    bool keyDigest = true;

    QByteArray bytes() const
    {
        QByteArray out;
        appendU64(out, 0xfcfb6d1ba7725c30ULL);
        appendU32(out, 5);
        appendU32(out, quint32(key.size()));
        appendU32(out, 0x12345678);
        appendU32(out, 0);
        out += key;
        out += body;
        appendEnd(out, 1, quint32(body.size()));
        // The head record: payload size, flags, two times, then the text.
        QByteArray text = head;
        text.replace('\n', '\0');
        text += QByteArray(2, '\0');
        QByteArray record;
        appendU32(record, 0);
        appendU32(record, responseFlags);
        appendU64(record, 13300000000000000ULL);
        appendU64(record, 13300000000000001ULL);
        appendU32(record, quint32(text.size()));
        record += text;
        while (record.size() % 4)
            record += '\0';
        qToLittleEndian<quint32>(quint32(record.size() - 4), record.data());
        out += record;
        if (keyDigest)
            out += QByteArray(32, '\x5a');
        appendEnd(out, keyDigest ? 3 : 1, quint32(record.size()));
        return out;
    }

    bool writeTo(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes()) >= 0;
    }

    static void appendU32(QByteArray &out, quint32 v)
    {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    static void appendU64(QByteArray &out, quint64 v)
    {
        char b[8];
        qToLittleEndian(v, b);
        out.append(b, 8);
    }
    static void appendEnd(QByteArray &out, quint32 flags, quint32 size)
    {
        appendU64(out, 0xf4fa6f45970d41d8ULL);
        appendU32(out, flags);
        appendU32(out, 0xdeadbeef);
        appendU32(out, size);
        appendU32(out, 0);
    }
};

// An entry for url with the given body and head.
inline CacheEntryBytes cacheEntry(const QString &url, const QByteArray &body,
                                  const QByteArray &head = "HTTP/1.1 200 OK\nContent-Type: "
                                                           "text/html")
{
    CacheEntryBytes e;
    e.key = "1/0/" + url.toUtf8();
    e.body = body;
    e.head = head;
    return e;
}

inline quint32 crc32Of(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (const char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// data as a zlib stream (what servers send as "deflate").
inline QByteArray zlibOf(const QByteArray &data)
{
    return qCompress(data, 6).mid(4); // qCompress puts the length first
}

// data as a gzip stream.
inline QByteArray gzipOf(const QByteArray &data)
{
    const QByteArray z = zlibOf(data);
    QByteArray out = QByteArray::fromHex("1f8b08000000000000ff");
    out += z.mid(2, z.size() - 6); // the raw deflate data inside the zlib frame
    CacheEntryBytes::appendU32(out, crc32Of(data));
    CacheEntryBytes::appendU32(out, quint32(data.size()));
    return out;
}

// A text and the same text br-encoded (quality 5), as a server sends it.
inline const QByteArray BrotliText =
    "Brotli body: hello hello hello hello, \xe4\xb8\xad\xe6\x96\x87 text.\n";
inline const QByteArray BrotliBytes =
    QByteArray::fromHex("1b3200004437d72d6974916e3445d1201c84b3f03725b20c33903abc8fbb3c83dc"
                        "fa8ee001454f83fd6802");

} // namespace lumen::test
