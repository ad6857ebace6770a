#include "download_window/download_journal.h"

#include "engine/download_list.h"

namespace lumen
{

namespace
{

const QStringList Columns = {
    QStringLiteral("url"),          QStringLiteral("name"),      QStringLiteral("file_type"),
    QStringLiteral("size"),         QStringLiteral("received"),  QStringLiteral("size_note"),
    QStringLiteral("percent_note"), QStringLiteral("outcome"),   QStringLiteral("reason"),
    QStringLiteral("folder"),       QStringLiteral("base_flag"), QStringLiteral("referer"),
    QStringLiteral("stored_path"),  QStringLiteral("state")};

const QString CreateRecords = QStringLiteral(
    "CREATE TABLE %1 (id INTEGER PRIMARY KEY, position INTEGER NOT NULL, url TEXT NOT NULL, "
    "name TEXT, file_type TEXT, size INTEGER NOT NULL DEFAULT -1, "
    "received INTEGER NOT NULL DEFAULT -1, size_note INTEGER NOT NULL DEFAULT 0, "
    "percent_note INTEGER NOT NULL DEFAULT 0, outcome INTEGER NOT NULL DEFAULT 0, reason TEXT, "
    "folder TEXT, base_flag TEXT, referer TEXT, stored_path TEXT, state INTEGER NOT NULL)");

// A text column of the first journal as a number: plain decimal digits, or
// -1 for an empty text and for the status texts.
QString numberOfText(const QString &column)
{
    return QStringLiteral("CASE WHEN %1 <> '' AND %1 NOT GLOB '*[^0-9]*' THEN CAST(%1 AS INTEGER) "
                          "ELSE -1 END")
        .arg(column);
}

SizeNote sizeNoteFrom(int value)
{
    switch (value) {
    case int(SizeNote::Unannounced):
        return SizeNote::Unannounced;
    case int(SizeNote::WaitingAgain):
        return SizeNote::WaitingAgain;
    default:
        return SizeNote::None;
    }
}

PercentNote percentNoteFrom(int value)
{
    switch (value) {
    case int(PercentNote::FileMissing):
        return PercentNote::FileMissing;
    case int(PercentNote::ProxyUnusable):
        return PercentNote::ProxyUnusable;
    case int(PercentNote::Cancelled):
        return PercentNote::Cancelled;
    default:
        return PercentNote::None;
    }
}

Outcome outcomeFrom(int value)
{
    return value >= int(Outcome::None) && value <= int(Outcome::Cancelled) ? Outcome(value)
                                                                           : Outcome::None;
}

DownloadState stateFrom(int value)
{
    switch (value) {
    case int(DownloadState::Downloading):
        return DownloadState::Downloading;
    case int(DownloadState::Finished):
        return DownloadState::Finished;
    case int(DownloadState::Failed):
        return DownloadState::Failed;
    default:
        return DownloadState::Waiting;
    }
}

} // namespace

DownloadJournal::DownloadJournal(DownloadList &list, JournalDatabase &database, QObject *parent)
    : ModelJournal(list, database, QStringLiteral("records"), Columns, parent)
{
}

DownloadJournal::~DownloadJournal()
{
    flush();
}

QStringList DownloadJournal::schema()
{
    return {CreateRecords.arg(QStringLiteral("records"))};
}

QMap<int, QStringList> DownloadJournal::upgrades()
{
    // The first journal kept the three figures as the texts the list
    // showed. The numbers, the notes and the outcome are read back out of
    // them; a stored record's outcome follows from its state and type, as
    // the list then judged it. Reasons were never kept and stay empty.
    const QString fromText =
        QStringLiteral(
            "INSERT INTO records_next (id, position, url, name, file_type, size, received, "
            "size_note, percent_note, outcome, reason, folder, base_flag, referer, stored_path, "
            "state) SELECT id, position, url, name, file_type, %1, %2, "
            "CASE size_text WHEN '%3' THEN %4 WHEN '%5' THEN %6 ELSE 0 END, "
            "CASE percent_text WHEN '%7' THEN %8 WHEN '%9' THEN %10 WHEN '%11' THEN %12 ELSE 0 "
            "END, ")
            .arg(numberOfText(QStringLiteral("size_text")),
                 numberOfText(QStringLiteral("received_text")), RecordText::SizeUnknown)
            .arg(int(SizeNote::Unannounced))
            .arg(RecordText::WaitingAgain)
            .arg(int(SizeNote::WaitingAgain))
            .arg(RecordText::FileMissing)
            .arg(int(PercentNote::FileMissing))
            .arg(RecordText::BadProxy)
            .arg(int(PercentNote::ProxyUnusable))
            .arg(RecordText::Cancelled)
            .arg(int(PercentNote::Cancelled)) +
        QStringLiteral("CASE percent_text WHEN '%1' THEN %2 WHEN '%3' THEN %4 WHEN '%5' THEN %6 "
                       "WHEN '%7' THEN %8 ELSE CASE state WHEN %9 THEN %10 WHEN %11 THEN CASE "
                       "WHEN lower(file_type) IN ('htm', 'html') THEN %12 ELSE %13 END ELSE %14 "
                       "END END, '', folder, base_flag, referer, stored_path, state FROM records")
            .arg(RecordText::ExistsSkipped)
            .arg(int(Outcome::SkippedExists))
            .arg(RecordText::BigFileSkipped)
            .arg(int(Outcome::SkippedTooLarge))
            .arg(RecordText::CannotReplace)
            .arg(int(Outcome::CannotReplace))
            .arg(RecordText::Cancelled)
            .arg(int(Outcome::Cancelled))
            .arg(int(DownloadState::Failed))
            .arg(int(Outcome::Failed))
            .arg(int(DownloadState::Finished))
            .arg(int(Outcome::WebPage))
            .arg(int(Outcome::Document))
            .arg(int(Outcome::None));
    return {{1,
             {CreateRecords.arg(QStringLiteral("records_next")), fromText,
              QStringLiteral("DROP TABLE records"),
              QStringLiteral("ALTER TABLE records_next RENAME TO records")}}};
}

QVariantList DownloadJournal::valuesAt(qint64 row) const
{
    const DownloadItem &it = m_list.at(row);
    return {it.url,        it.name,          it.fileType,         it.size,
            it.received,   int(it.sizeNote), int(it.percentNote), int(it.outcome),
            it.reason,     it.folder,        it.baseFlag,         it.referer,
            it.storedPath, int(it.state)};
}

QList<DownloadItem> DownloadJournal::storedRecords() const
{
    QList<DownloadItem> out;
    for (const QVariantList &v : storedRows()) {
        DownloadItem it;
        it.url = v.at(0).toString();
        it.name = v.at(1).toString();
        it.fileType = v.at(2).toString();
        it.size = v.at(3).isNull() ? -1 : v.at(3).toLongLong();
        it.received = v.at(4).isNull() ? -1 : v.at(4).toLongLong();
        it.sizeNote = sizeNoteFrom(v.at(5).toInt());
        it.percentNote = percentNoteFrom(v.at(6).toInt());
        it.outcome = outcomeFrom(v.at(7).toInt());
        it.reason = v.at(8).toString();
        it.folder = v.at(9).toString();
        it.baseFlag = v.at(10).toString();
        it.referer = v.at(11).toString();
        it.storedPath = v.at(12).toString();
        it.state = stateFrom(v.at(13).toInt());
        out.append(std::move(it));
    }
    return out;
}

bool DownloadJournal::hasUnfinishedRecords() const
{
    return anyStored(QStringLiteral("state IN (%1, %2)")
                         .arg(int(DownloadState::Waiting))
                         .arg(int(DownloadState::Downloading)));
}

qint64 DownloadJournal::restore()
{
    qint64 restored = 0;
    for (const DownloadItem &record : storedRecords()) {
        if (record.url.isEmpty() || m_list.containsUrl(record.url))
            continue;
        const qint64 row =
            m_list.append(record.url, record.name, record.fileType, record.folder, record.referer);
        m_list.update(row, [&](DownloadItem &it) {
            it.name = record.name;
            it.size = record.size;
            it.received = record.received;
            it.sizeNote = record.sizeNote;
            it.percentNote = record.percentNote;
            it.outcome = record.outcome;
            it.reason = record.reason;
            it.baseFlag = record.baseFlag;
            it.storedPath = record.storedPath;
            // A transfer the last run did not finish starts again from the
            // queue.
            it.state =
                record.state == DownloadState::Downloading ? DownloadState::Waiting : record.state;
        });
        ++restored;
    }
    markWhole();
    flush();
    return restored;
}

} // namespace lumen
