#include "settings/list_journal.h"

#include "settings/journal_database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace lumen
{

ListJournal::ListJournal(QAbstractItemModel &model, JournalDatabase &database, QString table,
                         QStringList columns, QObject *parent)
    : QObject(parent), m_model(model), m_db(database), m_table(std::move(table)),
      m_columns(std::move(columns))
{
    QStringList marks(m_columns.size() + 2, QStringLiteral("?"));
    m_insert =
        QStringLiteral("INSERT OR REPLACE INTO %1 (id, position, %2) VALUES (%3)")
            .arg(m_table, m_columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));

    m_timer.setSingleShot(true);
    m_timer.setInterval(FlushIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { flush(); });

    connect(&m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { markDirty(first, last); });
    connect(&m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &from, const QModelIndex &to) {
                markDirty(from.row(), to.row());
            });
    // Removals, resets and reorders move many rows at once: the table is
    // rewritten whole, which is rare and one transaction.
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, [this] { markWhole(); });
    connect(&m_model, &QAbstractItemModel::modelReset, this, [this] { markWhole(); });
    connect(&m_model, &QAbstractItemModel::layoutChanged, this, [this] { markWhole(); });
    // A list that already holds records when its journal starts is written
    // whole at the first flush.
    if (m_model.rowCount() > 0)
        markWhole();
}

ListJournal::~ListJournal()
{
    // The subclass is gone by now, and with it the way to read a record:
    // subclasses flush in their own destructor.
}

void ListJournal::setEnabled(bool enabled)
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

void ListJournal::markDirty(int first, int last)
{
    if (!m_enabled || m_whole)
        return;
    for (int row = qMax(first, 0); row <= last && row < recordCount(); ++row)
        m_dirty.insert(idAt(row));
    schedule();
}

void ListJournal::markWhole()
{
    if (!m_enabled)
        return;
    m_whole = true;
    m_dirty.clear();
    schedule();
}

void ListJournal::schedule()
{
    if (!m_timer.isActive())
        m_timer.start();
}

bool ListJournal::flush()
{
    m_timer.stop();
    if (!m_enabled || !m_db.isOpen() || (!m_whole && m_dirty.isEmpty()))
        return true;
    const qint64 written = m_whole ? recordCount() : m_dirty.size();
    if (!write(m_whole)) {
        schedule();
        if (!m_failing) {
            m_failing = true;
            emit writeFailed(m_lastError);
        }
        return false;
    }
    m_failing = false;
    m_whole = false;
    m_dirty.clear();
    emit flushed(written);
    return true;
}

bool ListJournal::write(bool whole)
{
    QSqlDatabase db = m_db.database();
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    bool ok = true;
    if (whole)
        ok = q.exec(QStringLiteral("DELETE FROM %1").arg(m_table));
    ok = ok && q.prepare(m_insert);
    const auto writeRow = [&](qint64 row) {
        q.addBindValue(qint64(idAt(row)));
        q.addBindValue(row);
        for (const QVariant &value : valuesAt(row))
            q.addBindValue(value);
        return q.exec();
    };
    if (whole) {
        for (qint64 row = 0; ok && row < recordCount(); ++row)
            ok = writeRow(row);
    } else {
        for (auto it = m_dirty.cbegin(); ok && it != m_dirty.cend(); ++it) {
            // A record removed meanwhile is dropped by the whole rewrite
            // that its removal asked for.
            if (const qint64 row = rowOfId(*it); row >= 0)
                ok = writeRow(row);
        }
    }
    if (ok && db.commit())
        return true;
    m_lastError = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
    db.rollback();
    return false;
}

QList<QVariantList> ListJournal::storedRows() const
{
    QList<QVariantList> out;
    if (!m_db.isOpen())
        return out;
    QSqlQuery q(m_db.database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY position, id")
                    .arg(m_columns.join(QStringLiteral(", ")), m_table)))
        return out;
    while (q.next()) {
        QVariantList row;
        row.reserve(m_columns.size());
        for (int c = 0; c < m_columns.size(); ++c)
            row.append(q.value(c));
        out.append(std::move(row));
    }
    return out;
}

bool ListJournal::anyStored(const QString &condition) const
{
    if (!m_db.isOpen())
        return false;
    QSqlQuery q(m_db.database());
    return q.exec(QStringLiteral("SELECT 1 FROM %1 WHERE %2 LIMIT 1").arg(m_table, condition)) &&
           q.next();
}

void ListJournal::discard()
{
    m_dirty.clear();
    m_whole = false;
    m_timer.stop();
    if (!m_db.isOpen())
        return;
    QSqlQuery q(m_db.database());
    if (!q.exec(QStringLiteral("DELETE FROM %1").arg(m_table)))
        m_lastError = q.lastError().text();
}

} // namespace lumen
