#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace lumen
{

// The SQLite file behind a journal of a list. It runs in write-ahead-log
// mode with normal synchronisation: a committed batch survives the program
// being killed, and a write costs no fsync of the whole file. The schema's
// version is kept in SQLite's user_version.
//
// A file that is not a database, fails SQLite's quick check, or was written
// by a newer version of the program is never read or changed: it is moved
// aside (renamed beside itself with ".broken-<time>" or ".newer-<time>";
// one of an older version that no upgrade reads with ".older-<time>") and
// a fresh journal starts, and setAsidePath()/problem() say so, so that
// the front can tell the user where the old file went.
class JournalDatabase
{
public:
    // schema: the CREATE statements of a fresh journal of this version.
    // upgrades: for each older version, the statements that bring a file of
    // that version up by one; a file is brought up step by step in one
    // transaction, so it is either read as this version or left as it was.
    JournalDatabase(QString path, int schemaVersion, QStringList schema,
                    QMap<int, QStringList> upgrades = {});
    ~JournalDatabase();
    JournalDatabase(const JournalDatabase &) = delete;
    JournalDatabase &operator=(const JournalDatabase &) = delete;

    // Opens (creating the folder and the file as needed). False when no
    // journal can be kept at all (no SQLite driver, a folder that cannot be
    // made or written); problem() then says why and the program runs on
    // without one.
    bool open();
    bool isOpen() const;
    QSqlDatabase database() const;
    QString path() const { return m_path; }

    // Set when open() moved an unusable file aside: the new name of the old
    // file, and the reason in the user's words.
    QString setAsidePath() const { return m_setAsidePath; }
    QString problem() const { return m_problem; }

    // The version written by this program; user_version of a fresh file.
    int schemaVersion() const { return m_version; }

private:
    bool openConnection();
    void closeConnection();
    // Renames the file (and its -wal and -shm companions) aside.
    bool setAside(const QString &suffix, const QString &reason);

    QString m_path;
    int m_version;
    QStringList m_schema;
    QMap<int, QStringList> m_upgrades;
    QString m_connection;
    QString m_setAsidePath;
    QString m_problem;
};

} // namespace lumen
