#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

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
//
// Bytes reach the disk through a thread of the file's own. A disk that falls
// behind makes the kernel hold writers back for a tenth of a second and
// more; on the caller's thread that would freeze the window and every other
// transfer's progress. At most QueueLimit bytes wait for that thread: a
// caller that reads a network body asks hasRoom() before each piece and is
// called back once room is free again, so a slow disk slows the body, not
// the program.
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
    // Hands the bytes to the writing thread; never waits for the disk. False
    // (errorString() says why) when the file is not open or an earlier
    // write failed.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Bytes taken by write(), on the disk or on their way.
    qint64 written() const { return m_written; }

    static constexpr qint64 QueueLimit = 2 * 1024 * 1024;
    // Whether fewer than QueueLimit bytes wait for the disk.
    bool hasRoom() const;
    // Called once, in context's thread, when hasRoom() turns true again
    // after it was found false; dropped when context is gone.
    void whenRoom(QObject *context, std::function<void()> call);
    // Waits until every byte taken is on the disk (or the writing failed).
    bool flush();

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
    struct Writer;

    bool close();
    // False when a write failed (errorString() says why).
    bool stopWriter(bool dropPending);

    QString m_target;
    QString m_partPath;
    int m_fd = -1;
    qint64 m_written = 0;
    QString m_error;
    bool m_nameTaken = false;
    std::unique_ptr<Writer> m_writer;
};

} // namespace lumen
