#pragma once

#include "harvest/browser.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QString>

#include <deque>

namespace lumen
{

class HarvestList;

// What reading a results page came to.
struct PageReading {
    bool present = false; // false: no document, or it changed while being read
    QString url;
    int httpErrorStatus = 0;
    qint64 accepted = 0; // result entries (HarvestPage's count)
    bool nextMarker = false;
    bool serverError = false; // as isServerErrorPage says
    // The result entries' links, in order, as one digest: two pages with the
    // same key hold the same entries.
    QByteArray entriesKey;
};

// Harvests the current document piece by piece (Browser::readResults): each
// piece is parsed into the list as it comes, so neither the engine nor this
// process ever holds more than a few pieces of a page of any size. The next
// piece is asked for as soon as a piece arrives, before this one is taken
// into the list, so the engine reads while this process parses; the pieces
// are still taken in document order, and progress follows each.
class ResultsReader : public QObject
{
    Q_OBJECT
public:
    // Links asked for per piece at most; the engine gives fewer when their
    // markup is large. The first piece is smaller, so that the engine
    // already reads on while the first entries are parsed; on a page of a
    // few thousand entries, the whole reading would otherwise wait for a
    // single piece.
    static constexpr qsizetype PieceAnchors = 50000;
    static constexpr qsizetype FirstPieceAnchors = 5000;

    explicit ResultsReader(Browser &browser, QObject *parent = nullptr);

    // Begins reading the current document into the list; a reading under
    // way is dropped (its late answers are ignored).
    void start(HarvestList &list, const QString &saveFolder);
    void cancel();
    bool isReading() const { return m_list != nullptr; }
    // Links per piece at most, in place of PieceAnchors.
    void setPieceAnchors(qsizetype n) { m_pieceAnchors = qMax<qsizetype>(1, n); }

signals:
    // After every piece: links looked at so far, of how many.
    void progress(qsizetype done, qsizetype total);
    void finished(const lumen::PageReading &reading);

private:
    struct Arrived {
        quint64 serial;
        qsizetype from;
        ResultsPiece piece;
    };

    void ask(qsizetype from);
    void onPiece(quint64 serial, qsizetype from, const ResultsPiece &piece);
    // Takes one piece into the list, and ends the reading at the last.
    void take(const Arrived &arrived);
    void finish();

    Browser &m_browser;
    qsizetype m_pieceAnchors = PieceAnchors;
    quint64 m_serial = 0;
    HarvestList *m_list = nullptr;
    QString m_folder;
    PageReading m_reading;
    quint64 m_document = 0;
    qsizetype m_total = 0; // links in the document, as the last piece said
    qint64 m_mentions = 0;
    qint64 m_entryMentions = 0;
    QCryptographicHash m_entries{QCryptographicHash::Sha1};
    // Pieces that came while one was being taken (a browser may answer at
    // once, from within the request): taken after it, in order.
    std::deque<Arrived> m_arrived;
    bool m_taking = false;
};

} // namespace lumen
