#include "download_window/download_journal.h"

#include "engine/download_list.h"

namespace lumen
{

namespace
{

const QStringList Columns = {
    QStringLiteral("url"),         QStringLiteral("name"),          QStringLiteral("file_type"),
    QStringLiteral("size_text"),   QStringLiteral("received_text"), QStringLiteral("percent_text"),
    QStringLiteral("folder"),      QStringLiteral("base_flag"),     QStringLiteral("referer"),
    QStringLiteral("stored_path"), QStringLiteral("state")};

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
    return {
        QStringLiteral("CREATE TABLE records (id INTEGER PRIMARY KEY, position INTEGER NOT NULL, "
                       "url TEXT NOT NULL, name TEXT, file_type TEXT, size_text TEXT, "
                       "received_text TEXT, percent_text TEXT, folder TEXT, base_flag TEXT, "
                       "referer TEXT, stored_path TEXT, state INTEGER NOT NULL)")};
}

QVariantList DownloadJournal::valuesAt(qint64 row) const
{
    const DownloadItem &it = m_list.at(row);
    return {it.url,    it.name,     it.fileType, it.sizeText,   it.receivedText, it.percentText,
            it.folder, it.baseFlag, it.referer,  it.storedPath, int(it.state)};
}

QList<DownloadItem> DownloadJournal::storedRecords() const
{
    QList<DownloadItem> out;
    for (const QVariantList &v : storedRows()) {
        DownloadItem it;
        it.url = v.at(0).toString();
        it.name = v.at(1).toString();
        it.fileType = v.at(2).toString();
        it.sizeText = v.at(3).toString();
        it.receivedText = v.at(4).toString();
        it.percentText = v.at(5).toString();
        it.folder = v.at(6).toString();
        it.baseFlag = v.at(7).toString();
        it.referer = v.at(8).toString();
        it.storedPath = v.at(9).toString();
        it.state = stateFrom(v.at(10).toInt());
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
            it.sizeText = record.sizeText;
            it.receivedText = record.receivedText;
            it.percentText = record.percentText;
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
