#include "settings/journal_database.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace lumen
{

namespace
{

// Runs one statement; false (with the driver's text in *error) on failure.
bool exec(QSqlDatabase &db, const QString &statement, QString *error = nullptr)
{
    QSqlQuery q(db);
    if (q.exec(statement))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

} // namespace

JournalDatabase::JournalDatabase(QString path, int schemaVersion, QStringList schema,
                                 QMap<int, QStringList> upgrades)
    : m_path(std::move(path)), m_version(schemaVersion), m_schema(std::move(schema)),
      m_upgrades(std::move(upgrades)),
      m_connection(QStringLiteral("journal-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

JournalDatabase::~JournalDatabase()
{
    closeConnection();
}

bool JournalDatabase::isOpen() const
{
    return QSqlDatabase::contains(m_connection) &&
           QSqlDatabase::database(m_connection, false).isOpen();
}

QSqlDatabase JournalDatabase::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

void JournalDatabase::closeConnection()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool JournalDatabase::openConnection()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        m_problem = QStringLiteral("SQLite driver missing");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    // A journal that another instance is writing waits a little instead of
    // failing the batch at once.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) {
        m_problem = db.lastError().text();
        return false;
    }
    return true;
}

bool JournalDatabase::setAside(const QString &suffix, const QString &reason)
{
    closeConnection();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_path + QLatin1Char('.') + suffix + QLatin1Char('-') + stamp;
    for (int n = 1; QFileInfo::exists(aside); ++n)
        aside = m_path + QLatin1Char('.') + suffix + QLatin1Char('-') + stamp + QLatin1Char('-') +
                QString::number(n);
    if (!QFile::rename(m_path, aside)) {
        m_problem = reason;
        return false;
    }
    // The log and index files belong to the file set aside; a fresh
    // journal must not pick them up.
    for (const char *companion : {"-wal", "-shm"}) {
        const QString from = m_path + QLatin1String(companion);
        if (QFileInfo::exists(from))
            QFile::rename(from, aside + QLatin1String(companion));
    }
    m_setAsidePath = aside;
    m_problem = reason;
    return true;
}

bool JournalDatabase::open()
{
    m_setAsidePath.clear();
    m_problem.clear();
    closeConnection();
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_problem = QStringLiteral("cannot make the folder %1").arg(info.absolutePath());
        return false;
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!openConnection())
            return false;
        QSqlDatabase db = database();
        QSqlQuery q(db);
        // Reading the version is the first touch of the file: a file that
        // is not a database fails here.
        const bool readable = q.exec(QStringLiteral("PRAGMA user_version")) && q.next();
        const int version = readable ? q.value(0).toInt() : -1;
        q.finish();
        bool healthy = readable;
        if (healthy) {
            QSqlQuery check(db);
            healthy = check.exec(QStringLiteral("PRAGMA quick_check")) && check.next() &&
                      check.value(0).toString() == QLatin1String("ok");
        }
        if (!healthy) {
            if (attempt == 0 &&
                setAside(QStringLiteral("broken"), QStringLiteral("the journal file is damaged")))
                continue;
            if (m_problem.isEmpty())
                m_problem = QStringLiteral("the journal file is damaged");
            closeConnection();
            return false;
        }
        if (version > m_version) {
            if (attempt == 0 &&
                setAside(
                    QStringLiteral("newer"),
                    QStringLiteral("the journal was written by a newer version (%1)").arg(version)))
                continue;
            closeConnection();
            return false;
        }
        QString error;
        if (!exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), &error) ||
            !exec(db, QStringLiteral("PRAGMA synchronous=NORMAL"), &error)) {
            m_problem = error;
            closeConnection();
            return false;
        }
        if (version < m_version) {
            // A fresh file (version 0) gets the schema; a file of an older
            // version is brought up one version at a time.
            QStringList statements;
            bool upgradable = true;
            if (version == 0) {
                statements = m_schema;
            } else {
                for (int from = version; from < m_version && upgradable; ++from) {
                    upgradable = m_upgrades.contains(from);
                    statements += m_upgrades.value(from);
                }
            }
            if (!upgradable) {
                if (attempt == 0 &&
                    setAside(QStringLiteral("older"),
                             QStringLiteral("the journal was written by an older version (%1) "
                                            "that cannot be read")
                                 .arg(version)))
                    continue;
                closeConnection();
                return false;
            }
            db.transaction();
            for (const QString &statement : std::as_const(statements)) {
                if (!exec(db, statement, &error)) {
                    db.rollback();
                    m_problem = error;
                    closeConnection();
                    return false;
                }
            }
            exec(db, QStringLiteral("PRAGMA user_version=%1").arg(m_version));
            if (!db.commit()) {
                m_problem = db.lastError().text();
                closeConnection();
                return false;
            }
        }
        return true;
    }
    return false;
}

} // namespace lumen
