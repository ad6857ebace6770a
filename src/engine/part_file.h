#pragma once

#include <QByteArray>
#include <QString>

namespace lumen
{

// A download in progress. Bytes go to a partial file beside the target and
// reach a final name only through commit(), so a stopped, failed or stalled
// transfer never leaves a file that looks finished.
//
// The partial file is always a new file of this transfer's own: it is created
// exclusively and never through a link, so two transfers bound for one name
// never share it, and a link planted under the partial name cannot redirect
// the body into another file. Its name is "<target>.part", or
// "<target>.<n>.part" when that name is taken.
class PartFile
{
public:
    explicit PartFile(const QString &targetPath);
    ~PartFile(); // closes; keeps the partial file (a stall keeps what came)
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // The partial file's first choice of name.
    static QString partPathFor(const QString &targetPath);

    QString targetPath() const { return m_target; }
    QString partPath() const { return m_partPath; }

    // Creates the partial file.
    bool open();
    bool isOpen() const { return m_fd >= 0; }
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    qint64 written() const { return m_written; }

    // How commit() treats a file already standing under the final name.
    enum class Existing { Replace, Keep };
    // Closes the partial file and moves it to finalPath. With Replace, what
    // stands there is replaced in one step (a link is replaced, never written
    // through); with Keep, the move fails when the name is taken. False (and
    // the partial file kept) on any failure.
    bool commit(const QString &finalPath, Existing existing = Existing::Replace);
    bool commit() { return commit(m_target); }
    // Closes and deletes the partial file.
    void discard();

    QString errorString() const { return m_error; }
    // The move failed because the final name was taken (commit with Keep).
    bool nameWasTaken() const { return m_nameTaken; }

private:
    bool close();

    QString m_target;
    QString m_partPath;
    int m_fd = -1;
    qint64 m_written = 0;
    QString m_error;
    bool m_nameTaken = false;
};

} // namespace lumen
