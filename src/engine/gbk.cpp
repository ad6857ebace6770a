#include "engine/gbk.h"

#include <QList>

#include <cerrno>
#include <iconv.h>

namespace lumen::gbk
{

namespace
{

// Bytes one code point takes in GBK: 1 for ASCII, 2 for what GBK holds
// (GB18030's 4-byte forms are not GBK; such characters fall back to '?').
int codePointBytes(char32_t cp)
{
    if (cp < 0x80)
        return 1;
    if (cp > 0xFFFF)
        return 1; // replaced by '?'
    static thread_local iconv_t cd = iconv_open("GBK", "UTF-32LE");
    if (cd == iconv_t(-1))
        return 2;
    char32_t in = cp;
    char out[8];
    char *inp = reinterpret_cast<char *>(&in);
    size_t inLeft = sizeof(in);
    char *outp = out;
    size_t outLeft = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    if (r == size_t(-1))
        return 1; // unmappable: '?'
    return int(sizeof(out) - outLeft);
}

QByteArray convert(const char *to, const char *from, const QByteArray &input, bool toGbk)
{
    QByteArray result;
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return result;
    result.reserve(input.size() + 16);
    char *inp = const_cast<char *>(input.constData());
    size_t inLeft = size_t(input.size());
    char buf[4096];
    while (inLeft > 0) {
        char *outp = buf;
        size_t outLeft = sizeof(buf);
        const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        result.append(buf, qsizetype(sizeof(buf) - outLeft));
        if (r == size_t(-1)) {
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: skip one unit of input and put a stand-in.
            if (toGbk) {
                result.append('?');
                const size_t unit = 4; // UTF-32 input
                const size_t skip = qMin(unit, inLeft);
                inp += skip;
                inLeft -= skip;
            } else {
                result.append("\xFD\xFF\x00\x00", 4); // U+FFFD in UTF-32LE
                ++inp;
                --inLeft;
            }
        }
    }
    iconv_close(cd);
    return result;
}

} // namespace

QByteArray encode(const QString &text)
{
    const QList<uint> ucs4 = text.toUcs4();
    QByteArray in(reinterpret_cast<const char *>(ucs4.constData()), ucs4.size() * 4);
    return convert("GBK", "UTF-32LE", in, true);
}

QString decode(const char *data, qsizetype size)
{
    const QByteArray out = convert("UTF-32LE", "GBK", QByteArray::fromRawData(data, size), false);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(out.constData()), out.size() / 4);
}

QString decode(const QByteArray &bytes)
{
    return decode(bytes.constData(), bytes.size());
}

int byteLength(const QString &text)
{
    int n = 0;
    for (char32_t cp : text.toUcs4())
        n += codePointBytes(cp);
    return n;
}

QString truncateToBytes(const QString &text, int maxBytes)
{
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        char32_t cp = text.at(i).unicode();
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() &&
            text.at(i + 1).isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            len = 2;
        }
        const int b = codePointBytes(cp);
        if (used + b > maxBytes)
            break;
        used += b;
        i += len;
    }
    return text.left(i);
}

} // namespace lumen::gbk
