#pragma once

#include "engine/resume_state.h"

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
// A later attempt on the same document takes up its own partial file again
// (adopt): the sidecar written beside it when the headers came names the URL
// and the version its bytes belong to, so the attempt asks only for the rest,
// or starts the same file over. A partial file without such a sidecar, or
// with another URL's, is someone else's and is never touched.
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
    // Opens "<target>.part" as left by an earlier attempt on url, to go on
    // after its last byte. False (nothing opened) when there is none, it is
    // not a plain file, or its sidecar names another URL.
    bool adopt(const QString &url);
    // Empties the open file for a new body; its sidecar goes.
    bool restart();

    // The version the bytes belong to, once the answer's headers said so;
    // written beside the file at once (false, errorString() says why, when
    // it could not be).
    bool setResumeMeta(const ResumeMeta &meta);
    bool hasResumeMeta() const { return m_hasMeta; }
    const ResumeMeta &resumeMeta() const { return m_meta; }
    // A later attempt could go on from here: a known version, some of it
    // here, not all of it.
    bool canResume() const;
    // The end of an attempt that did not complete: a file that can be
    // resumed is closed and stays with its sidecar, any other is deleted.
    void leave();
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
    // Closes and deletes the partial file and its sidecar.
    void discard();

    QString errorString() const { return m_error; }
    // The move failed because the final name was taken (commit with Keep).
    bool nameWasTaken() const { return m_nameTaken; }

private:
    struct Writer;

    bool close();
    void dropMeta();
    // False when a write failed (errorString() says why).
    bool stopWriter(bool dropPending);

    QString m_target;
    QString m_partPath;
    int m_fd = -1;
    qint64 m_written = 0;
    QString m_error;
    bool m_nameTaken = false;
    bool m_hasMeta = false;
    ResumeMeta m_meta;
    std::unique_ptr<Writer> m_writer;
};

} // namespace lumen
