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
    ask(0);
}

void ResultsReader::cancel()
{
    ++m_serial;
    m_list = nullptr;
}

void ResultsReader::ask(qsizetype from)
{
    const quint64 serial = m_serial;
    QPointer<ResultsReader> self(this);
    m_browser.readResults(from, m_pieceAnchors, [self, serial, from](const ResultsPiece &piece) {
        if (self)
            self->onPiece(serial, from, piece);
    });
}

void ResultsReader::onPiece(quint64 serial, qsizetype from, const ResultsPiece &piece)
{
    if (serial != m_serial || !m_list)
        return; // a reading dropped since
    if (!piece.present || (from > 0 && piece.document != m_document)) {
        // No document, or a new one took the place of the one being read:
        // what was read of it stays in the list, but it is no page.
        m_reading.present = false;
        finish();
        return;
    }
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
    const qsizetype total = piece.anchorCount;
    // A piece that moved nothing on would be asked for again and again.
    const bool more = piece.next < total && piece.next > from;
    emit progress(qMin(piece.next, total), total);
    if (serial != m_serial || !m_list)
        return; // dropped or begun anew from the progress report
    if (more)
        ask(piece.next);
    else
        finish();
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
