#include "download_window/download_journal.h"

#include "engine/download_list.h"
#include "settings/journal_database.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace lumen
{

namespace
{

const QString InsertStatement =
    QStringLiteral("INSERT OR REPLACE INTO records (id, position, url, name, file_type, size_text, "
                   "received_text, percent_text, folder, base_flag, referer, stored_path, state) "
                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");

void bindRecord(QSqlQuery &q, const DownloadItem &it, qint64 position)
{
    q.addBindValue(qint64(it.id));
    q.addBindValue(position);
    q.addBindValue(it.url);
    q.addBindValue(it.name);
    q.addBindValue(it.fileType);
    q.addBindValue(it.sizeText);
    q.addBindValue(it.receivedText);
    q.addBindValue(it.percentText);
    q.addBindValue(it.folder);
    q.addBindValue(it.baseFlag);
    q.addBindValue(it.referer);
    q.addBindValue(it.storedPath);
    q.addBindValue(int(it.state));
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
    : QObject(parent), m_list(list), m_db(database)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(FlushIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { flush(); });

    connect(&m_list, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { markDirty(first, last); });
    connect(&m_list, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                markDirty(from.row(), to.row());
            });
    // Removals, resets and reorders change many positions at once: the
    // journal is rewritten whole, which is rare and one transaction.
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, [this] { markWhole(); });
    connect(&m_list, &QAbstractItemModel::modelReset, this, [this] { markWhole(); });
    connect(&m_list, &QAbstractItemModel::layoutChanged, this, [this] { markWhole(); });
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
                       "referer TEXT, stored_path TEXT, state INTEGER NOT NULL)"),
        QStringLiteral("CREATE INDEX records_position ON records (position)")};
}

void DownloadJournal::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    m_dirty.clear();
    m_whole = false;
    m_timer.stop();
    if (enabled)
        markWhole();
    else
        discard();
}

void DownloadJournal::markDirty(int first, int last)
{
    if (!m_enabled || m_whole)
        return;
    for (int row = qMax(first, 0); row <= last && row < m_list.count(); ++row)
        m_dirty.insert(m_list.at(row).id);
    schedule();
}

void DownloadJournal::markWhole()
{
    if (!m_enabled)
        return;
    m_whole = true;
    m_dirty.clear();
    schedule();
}

void DownloadJournal::schedule()
{
    if (!m_timer.isActive())
        m_timer.start();
}

bool DownloadJournal::flush()
{
    m_timer.stop();
    if (!m_enabled || !m_db.isOpen() || (!m_whole && m_dirty.isEmpty()))
        return true;
    const qint64 written = m_whole ? m_list.count() : m_dirty.size();
    const bool ok = m_whole ? writeWhole() : writeDirty();
    if (!ok) {
        // Keep what was gathered; the next change or interval tries again.
        schedule();
        return false;
    }
    m_whole = false;
    m_dirty.clear();
    emit flushed(written);
    return true;
}

bool DownloadJournal::writeWhole()
{
    QSqlDatabase db = m_db.database();
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery clear(db);
    bool ok = clear.exec(QStringLiteral("DELETE FROM records"));
    QSqlQuery q(db);
    ok = ok && q.prepare(InsertStatement);
    for (qint64 row = 0; ok && row < m_list.count(); ++row) {
        bindRecord(q, m_list.at(row), row);
        ok = q.exec();
    }
    if (!ok) {
        m_lastError = (q.lastError().isValid() ? q.lastError() : clear.lastError()).text();
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        m_lastError = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool DownloadJournal::writeDirty()
{
    QSqlDatabase db = m_db.database();
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    bool ok = q.prepare(InsertStatement);
    for (auto it = m_dirty.cbegin(); ok && it != m_dirty.cend(); ++it) {
        const qint64 row = m_list.rowOfId(*it);
        if (row < 0)
            continue; // removed meanwhile: the whole rewrite that follows drops it
        bindRecord(q, m_list.at(row), row);
        ok = q.exec();
    }
    if (!ok) {
        m_lastError = q.lastError().text();
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        m_lastError = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

QList<DownloadItem> DownloadJournal::storedRecords() const
{
    QList<DownloadItem> out;
    if (!m_db.isOpen())
        return out;
    QSqlQuery q(m_db.database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, url, name, file_type, size_text, received_text, "
                               "percent_text, folder, base_flag, referer, stored_path, state "
                               "FROM records ORDER BY position, id")))
        return out;
    while (q.next()) {
        DownloadItem it;
        it.id = q.value(0).toULongLong();
        it.url = q.value(1).toString();
        it.name = q.value(2).toString();
        it.fileType = q.value(3).toString();
        it.sizeText = q.value(4).toString();
        it.receivedText = q.value(5).toString();
        it.percentText = q.value(6).toString();
        it.folder = q.value(7).toString();
        it.baseFlag = q.value(8).toString();
        it.referer = q.value(9).toString();
        it.storedPath = q.value(10).toString();
        it.state = stateFrom(q.value(11).toInt());
        out.append(std::move(it));
    }
    return out;
}

bool DownloadJournal::hasUnfinishedRecords() const
{
    if (!m_db.isOpen())
        return false;
    QSqlQuery q(m_db.database());
    return q.exec(QStringLiteral("SELECT 1 FROM records WHERE state IN (%1, %2) LIMIT 1")
                      .arg(int(DownloadState::Waiting))
                      .arg(int(DownloadState::Downloading))) &&
           q.next();
}

qint64 DownloadJournal::restore()
{
    const QList<DownloadItem> stored = storedRecords();
    qint64 restored = 0;
    for (const DownloadItem &record : stored) {
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
            // A transfer the last run did not finish starts again from
            // the queue.
            it.state =
                record.state == DownloadState::Downloading ? DownloadState::Waiting : record.state;
        });
        ++restored;
    }
    // The records have new ids in this run: the journal is rewritten under
    // them at once.
    markWhole();
    flush();
    return restored;
}

void DownloadJournal::discard()
{
    m_dirty.clear();
    m_whole = false;
    m_timer.stop();
    if (!m_db.isOpen())
        return;
    QSqlQuery q(m_db.database());
    if (!q.exec(QStringLiteral("DELETE FROM records")))
        m_lastError = q.lastError().text();
}

} // namespace lumen
