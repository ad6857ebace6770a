#include "harvest/results_reader.h"

#include "harvest/harvest_list.h"
#include "harvest/results_parser.h"

#include <QPointer>

namespace lumen
{

ResultsReader::ResultsReader(Browser &browser, QObject *parent)
    : QObject(parent), m_browser(browser)
{
}

void ResultsReader::start(HarvestList &list, const QString &saveFolder)
{
    ++m_serial;
    m_list = &list;
    m_folder = saveFolder;
    m_reading = PageReading();
    m_mentions = 0;
    m_entryMentions = 0;
    m_entries.reset();
    m_arrived.clear();
    m_total = 0;
    ask(0);
}

void ResultsReader::cancel()
{
    ++m_serial;
    m_list = nullptr;
    m_arrived.clear();
}

void ResultsReader::ask(qsizetype from)
{
    const quint64 serial = m_serial;
    QPointer<ResultsReader> self(this);
    // The first piece is small; after it the page's size is known, and it
    // is read in about four pieces (within bounds), so that the engine's
    // reading of each overlaps the parsing of the one before, and the last,
    // parsed alone, is short.
    qsizetype max = qMin(m_pieceAnchors, FirstPieceAnchors);
    if (from > 0)
        max = qMin(m_pieceAnchors, qBound(FirstPieceAnchors, m_total / 4, PieceAnchors));
    m_browser.readResults(from, max, [self, serial, from](const ResultsPiece &piece) {
        if (self)
            self->onPiece(serial, from, piece);
    });
}

void ResultsReader::onPiece(quint64 serial, qsizetype from, const ResultsPiece &piece)
{
    if (serial != m_serial || !m_list)
        return; // a reading dropped since
    m_arrived.push_back({serial, from, piece});
    if (m_taking)
        return; // the loop below takes it in its turn
    m_taking = true;
    while (!m_arrived.empty()) {
        const Arrived arrived = std::move(m_arrived.front());
        m_arrived.pop_front();
        // One dropped, ended or begun anew meanwhile is passed over.
        if (arrived.serial == m_serial && m_list)
            take(arrived);
    }
    m_taking = false;
}

void ResultsReader::take(const Arrived &arrived)
{
    const qsizetype from = arrived.from;
    const ResultsPiece &piece = arrived.piece;
    if (!piece.present || (from > 0 && piece.document != m_document)) {
        // No document, or a new one took the place of the one being read:
        // what was read of it stays in the list, but it is no page.
        m_reading.present = false;
        finish();
        return;
    }
    const qsizetype total = piece.anchorCount;
    m_total = total;
    // A piece that moved nothing on would be asked for again and again.
    const bool more = piece.next < total && piece.next > from;
    // The engine reads the next piece while this one is parsed.
    if (more)
        ask(piece.next);
    if (from == 0) {
        m_document = piece.document;
        m_reading.present = true;
        m_reading.url = piece.url;
        m_reading.httpErrorStatus = piece.httpErrorStatus;
        m_mentions = piece.serverErrorMentions;
    }
    DocumentSnapshot part;
    part.present = true;
    part.url = m_reading.url; // the address the page was found at, for every piece
    part.anchors = piece.anchors;
    m_reading.accepted += HarvestPage(part, *m_list, m_folder);
    if (!m_reading.nextMarker)
        m_reading.nextMarker = hasNextPageMarker(part);
    static const QLatin1String phrase("Internal Server Error");
    for (const AnchorSnapshot &a : std::as_const(part.anchors)) {
        if (!isResultEntryMarkup(a.innerHtml))
            continue;
        m_entries.addData(a.href.toUtf8());
        m_entries.addData("\n");
        m_entryMentions += a.outerHtml.count(phrase, Qt::CaseInsensitive);
    }
    const quint64 serial = arrived.serial;
    emit progress(qMin(piece.next, total), total);
    if (serial == m_serial && m_list && !more)
        finish(); // unless dropped or begun anew from the progress report
}

void ResultsReader::finish()
{
    m_reading.serverError =
        m_reading.present && (m_reading.httpErrorStatus >= 500 || m_mentions > m_entryMentions);
    m_reading.entriesKey = m_entries.result();
    m_list = nullptr;
    const PageReading reading = m_reading;
    emit finished(reading);
}

} // namespace lumen
