#pragma once

#include "harvest/browser.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QString>

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
// process ever holds more than a piece of a page of any size. The pieces are
// asked for one after another; progress follows each.
class ResultsReader : public QObject
{
    Q_OBJECT
public:
    // Links asked for per piece; the engine gives fewer when their markup
    // is large.
    static constexpr qsizetype PieceAnchors = 50000;

    explicit ResultsReader(Browser &browser, QObject *parent = nullptr);

    // Begins reading the current document into the list; a reading under
    // way is dropped (its late answers are ignored).
    void start(HarvestList &list, const QString &saveFolder);
    void cancel();
    bool isReading() const { return m_list != nullptr; }
    void setPieceAnchors(qsizetype n) { m_pieceAnchors = qMax<qsizetype>(1, n); }

signals:
    // After every piece: links looked at so far, of how many.
    void progress(qsizetype done, qsizetype total);
    void finished(const lumen::PageReading &reading);

private:
    void ask(qsizetype from);
    void onPiece(quint64 serial, qsizetype from, const ResultsPiece &piece);
    void finish();

    Browser &m_browser;
    qsizetype m_pieceAnchors = PieceAnchors;
    quint64 m_serial = 0;
    HarvestList *m_list = nullptr;
    QString m_folder;
    PageReading m_reading;
    quint64 m_document = 0;
    qint64 m_mentions = 0;
    qint64 m_entryMentions = 0;
    QCryptographicHash m_entries{QCryptographicHash::Sha1};
};

} // namespace lumen
