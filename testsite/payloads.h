#pragma once

// Bodies the site serves: small valid PDFs (and one of any size, produced
// piecewise), files of the CAJ family, and plain byte streams.

#include <QByteArray>

namespace lumen::testsite
{

// A one-page PDF whose content stream is padded with comment lines. The
// padding is never held in memory, so the file may be of any size.
class PdfLayout
{
public:
    // A PDF for the item whose padding holds fillerBytes bytes.
    PdfLayout(int id, qint64 fillerBytes);
    // A PDF for the item of exactly totalBytes bytes (at least a few hundred).
    static PdfLayout ofSize(int id, qint64 totalBytes);
    // The usual full text of an item: 2 to 5 KiB, depending on the id.
    static PdfLayout forItem(int id);

    qint64 size() const { return m_head.size() + m_filler + m_tail.size(); }
    QByteArray read(qint64 offset, qint64 max) const;
    QByteArray bytes() const { return read(0, size()); }

private:
    QByteArray m_head;
    qint64 m_filler = 0;
    QByteArray m_tail;
};

// Padding bytes: comment lines of a PDF content stream, position-stable.
QByteArray fillerBytes(qint64 offset, qint64 count);

// A file that starts with the given signature, followed by binary-looking
// content derived from the id (2 to 5 KiB in all).
QByteArray signedFile(const QByteArray &signature, int id);

// Byte p of a /bytes/N stream is p % 251, so a client can check every byte.
QByteArray patternBytes(qint64 offset, qint64 count);

} // namespace lumen::testsite
