#include "payloads.h"

namespace lumen::testsite
{

namespace
{

const QByteArray &fillerLine()
{
    static const QByteArray line = [] {
        QByteArray l = "% lumenarc full text padding 0123456789 abcdefghijklmnopqrstuvwxyz";
        l.truncate(63);
        return l + '\n';
    }();
    return line;
}

// 251 * 256 bytes: a whole number of periods, so any slice continues the
// pattern p % 251 seamlessly.
const QByteArray &patternBlock()
{
    static const QByteArray block = [] {
        QByteArray b(251 * 256, Qt::Uninitialized);
        for (qsizetype i = 0; i < b.size(); ++i)
            b[i] = char(i % 251);
        return b;
    }();
    return block;
}

QByteArray xrefLine(qint64 offset)
{
    return QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
}

} // namespace

QByteArray fillerBytes(qint64 offset, qint64 count)
{
    const QByteArray &line = fillerLine();
    QByteArray out;
    out.reserve(count);
    while (count > 0) {
        const qint64 at = offset % line.size();
        const qint64 n = qMin<qint64>(count, line.size() - at);
        out.append(line.constData() + at, n);
        offset += n;
        count -= n;
    }
    return out;
}

QByteArray patternBytes(qint64 offset, qint64 count)
{
    const QByteArray &block = patternBlock();
    QByteArray out;
    out.reserve(count);
    while (count > 0) {
        const qint64 at = offset % block.size();
        const qint64 n = qMin<qint64>(count, block.size() - at);
        out.append(block.constData() + at, n);
        offset += n;
        count -= n;
    }
    return out;
}

PdfLayout::PdfLayout(int id, qint64 filler) : m_filler(filler)
{
    qint64 offsets[6] = {};
    m_head = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    offsets[1] = m_head.size();
    m_head += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    offsets[2] = m_head.size();
    m_head += "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n";
    offsets[3] = m_head.size();
    m_head += "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
              "/Resources << /Font << /F1 5 0 R >> >> >>\nendobj\n";
    offsets[4] = m_head.size();
    const QByteArray text =
        "BT /F1 18 Tf 72 760 Td (Lumenarc item " + QByteArray::number(id) + ") Tj ET\n";
    m_head += "4 0 obj\n<< /Length " + QByteArray::number(text.size() + filler) + " >>\nstream\n";
    m_head += text;

    m_tail = "\nendstream\nendobj\n";
    offsets[5] = m_head.size() + filler + m_tail.size();
    m_tail += "5 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n";
    const qint64 xref = m_head.size() + filler + m_tail.size();
    m_tail += "xref\n0 6\n0000000000 65535 f \n";
    for (int i = 1; i <= 5; ++i)
        m_tail += xrefLine(offsets[i]);
    m_tail +=
        "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
}

PdfLayout PdfLayout::ofSize(int id, qint64 totalBytes)
{
    // The frame grows by a digit now and then as the padding grows; two
    // rounds settle it.
    PdfLayout p(id, 0);
    for (int round = 0; round < 3 && p.size() != totalBytes; ++round)
        p = PdfLayout(id, qMax<qint64>(0, p.m_filler + totalBytes - p.size()));
    return p;
}

PdfLayout PdfLayout::forItem(int id)
{
    return PdfLayout(id, 1500 + (qint64(id) * 97) % 2500);
}

QByteArray PdfLayout::read(qint64 offset, qint64 max) const
{
    QByteArray out;
    const qint64 end = qMin(size(), offset + max);
    const qint64 fillerStart = m_head.size();
    const qint64 tailStart = fillerStart + m_filler;
    if (offset < fillerStart && offset < end)
        out += m_head.mid(offset, qMin(end, fillerStart) - offset);
    const qint64 fs = qMax(offset, fillerStart), fe = qMin(end, tailStart);
    if (fs < fe)
        out += fillerBytes(fs - fillerStart, fe - fs);
    const qint64 ts = qMax(offset, tailStart);
    if (ts < end)
        out += m_tail.mid(ts - tailStart, end - ts);
    return out;
}

QByteArray signedFile(const QByteArray &signature, int id)
{
    QByteArray out = signature;
    const qint64 n = 2048 + (qint64(id) * 131) % 3072;
    out += patternBytes(id, n);
    return out;
}

} // namespace lumen::testsite
