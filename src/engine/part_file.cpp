#include "engine/part_file.h"

#include <QFile>
#include <QMetaObject>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumen
{

namespace
{

// Partial names tried before giving up: a folder full of leftovers from
// earlier runs still leaves room for the next transfer.
constexpr int MaxPartNames = 1000;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const char *data, qint64 size, int *error)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A write that takes nothing and reports no error is a full disk
            // by another name.
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

// The thread that writes, and what it shares with the file's owner. The
// queue and the first error are guarded by the mutex; the descriptor is the
// thread's alone until it has stopped.
struct PartFile::Writer {
    std::mutex mutex;
    std::condition_variable wake;    // bytes queued, or stop
    std::condition_variable drained; // the queue emptied
    std::deque<QByteArray> queue;
    qint64 queued = 0;
    int error = 0;
    bool stopping = false;
    bool writing = false;
    QPointer<QObject> roomContext;
    std::function<void()> roomCall;
    std::thread thread;

    void run(int fd)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || !queue.empty(); });
            if (queue.empty())
                return;
            QByteArray bytes = std::move(queue.front());
            queue.pop_front();
            writing = true;
            // After a failure nothing more is written: the file is lost anyway,
            // and what follows must not land at the wrong offset.
            const bool failedBefore = error != 0;
            lock.unlock();
            int failure = 0;
            const bool ok = failedBefore || writeAll(fd, bytes.constData(), bytes.size(), &failure);
            lock.lock();
            writing = false;
            if (!ok && error == 0)
                error = failure;
            queued -= bytes.size();
            if (queue.empty())
                drained.notify_all();
            if (roomCall && (queued <= QueueLimit / 2 || error != 0)) {
                // The owner learns of room (or of the failure, at its next
                // write) in its own thread.
                std::function<void()> call = std::move(roomCall);
                roomCall = nullptr;
                if (roomContext)
                    QMetaObject::invokeMethod(roomContext.data(), std::move(call),
                                              Qt::QueuedConnection);
            }
        }
    }
};

PartFile::PartFile(const QString &targetPath) : m_target(targetPath) {}

PartFile::~PartFile()
{
    close();
}

QString PartFile::partPathFor(const QString &targetPath)
{
    return targetPath + QStringLiteral(".part");
}

bool PartFile::open()
{
    close();
    m_written = 0;
    m_hasMeta = false;
    // An empty target would put the bytes in the working directory.
    if (m_target.isEmpty()) {
        m_error = QStringLiteral("no target file name");
        return false;
    }
    for (int n = 0; n < MaxPartNames; ++n) {
        const QString candidate =
            n == 0 ? partPathFor(m_target)
                   : m_target + QLatin1Char('.') + QString::number(n) + QStringLiteral(".part");
        const QByteArray native = QFile::encodeName(candidate);
        const int fd =
            ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_partPath = candidate;
            return true;
        }
        if (errno == EINTR) {
            --n;
            continue;
        }
        // Taken (by another transfer, a leftover or a link): the next name.
        if (errno != EEXIST) {
            m_error = systemError();
            return false;
        }
    }
    m_error = QStringLiteral("no free partial file name beside %1").arg(m_target);
    return false;
}

bool PartFile::adopt(const QString &url)
{
    close();
    m_written = 0;
    m_hasMeta = false;
    if (m_target.isEmpty())
        return false;
    const QString candidate = partPathFor(m_target);
    const std::optional<ResumeMeta> meta = readResumeMeta(candidate);
    if (!meta || meta->url != url)
        return false;
    const QByteArray native = QFile::encodeName(candidate);
    // Never through a link: the bytes go where the sidecar says they are.
    const int fd = ::open(native.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::lseek(fd, 0, SEEK_END) < 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_partPath = candidate;
    m_written = st.st_size;
    m_meta = *meta;
    m_hasMeta = true;
    return true;
}

bool PartFile::restart()
{
    if (m_fd < 0) {
        m_error = QStringLiteral("not open");
        return false;
    }
    stopWriter(true);
    m_written = 0;
    if (m_hasMeta) {
        removeResumeMeta(m_partPath);
        m_hasMeta = false;
        m_meta = ResumeMeta{};
    }
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) < 0) {
        m_error = systemError();
        return false;
    }
    return true;
}

bool PartFile::setResumeMeta(const ResumeMeta &meta)
{
    if (m_partPath.isEmpty()) {
        m_error = QStringLiteral("not open");
        return false;
    }
    m_meta = meta;
    m_hasMeta = writeResumeMeta(m_partPath, meta, &m_error);
    return m_hasMeta;
}

bool PartFile::canResume() const
{
    return m_hasMeta && m_meta.resumable() && m_written > 0 && m_written < m_meta.length;
}

void PartFile::leave()
{
    if (m_partPath.isEmpty())
        return;
    if (!canResume()) {
        discard();
        return;
    }
    // Every byte taken goes to the disk first: the next attempt goes on
    // after the last one the file holds.
    if (!close())
        discard();
}

bool PartFile::write(const char *data, qint64 size)
{
    if (m_fd < 0) {
        m_error = QStringLiteral("not open");
        return false;
    }
    if (size <= 0)
        return true;
    if (!m_writer) {
        m_writer = std::make_unique<Writer>();
        Writer *writer = m_writer.get();
        const int fd = m_fd;
        writer->thread = std::thread([writer, fd] { writer->run(fd); });
    }
    {
        std::lock_guard lock(m_writer->mutex);
        if (m_writer->error != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(m_writer->error));
            return false;
        }
        m_writer->queue.emplace_back(data, qsizetype(size));
        m_writer->queued += size;
    }
    m_writer->wake.notify_one();
    m_written += size;
    return true;
}

bool PartFile::hasRoom() const
{
    if (!m_writer)
        return true;
    std::lock_guard lock(m_writer->mutex);
    return m_writer->queued < QueueLimit || m_writer->error != 0;
}

void PartFile::whenRoom(QObject *context, std::function<void()> call)
{
    if (!m_writer) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
        return;
    }
    std::lock_guard lock(m_writer->mutex);
    if (m_writer->queued <= QueueLimit / 2 || m_writer->error != 0) {
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
        return;
    }
    m_writer->roomContext = context;
    m_writer->roomCall = std::move(call);
}

bool PartFile::flush()
{
    if (!m_writer)
        return true;
    std::unique_lock lock(m_writer->mutex);
    m_writer->drained.wait(lock, [&] { return m_writer->queue.empty() && !m_writer->writing; });
    if (m_writer->error != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(m_writer->error));
        return false;
    }
    return true;
}

bool PartFile::stopWriter(bool dropPending)
{
    if (!m_writer)
        return true;
    {
        std::lock_guard lock(m_writer->mutex);
        if (dropPending) {
            m_writer->queue.clear();
            m_writer->queued = 0;
        }
        m_writer->stopping = true;
        m_writer->roomCall = nullptr;
    }
    m_writer->wake.notify_one();
    m_writer->thread.join();
    const int error = m_writer->error;
    m_writer.reset();
    if (error != 0 && !dropPending) {
        m_error = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    return true;
}

bool PartFile::close()
{
    if (m_fd < 0)
        return true;
    // Whatever was taken is written before the descriptor goes: a stopped
    // transfer keeps every byte it reported.
    const bool written = stopWriter(false);
    const int rc = ::close(m_fd);
    m_fd = -1;
    if (!written)
        return false;
    if (rc != 0 && errno != EINTR) {
        m_error = systemError();
        return false;
    }
    return true;
}

bool PartFile::commit(const QString &finalPath, Existing existing)
{
    m_nameTaken = false;
    // A failed close can mean bytes that never reached the disk.
    if (!close())
        return false;
    if (m_partPath.isEmpty() || finalPath.isEmpty()) {
        m_error = QStringLiteral("nothing to move");
        return false;
    }
    const QByteArray from = QFile::encodeName(m_partPath);
    const QByteArray to = QFile::encodeName(finalPath);
    if (existing == Existing::Replace) {
        // rename(2) replaces the target in one step; QFile::rename refuses to.
        if (std::rename(from.constData(), to.constData()) != 0) {
            m_error =
                QStringLiteral("cannot move %1 into place: %2").arg(m_partPath, systemError());
            return false;
        }
        dropMeta();
        m_partPath.clear(); // that name is free for the next transfer now
        m_target = finalPath;
        return true;
    }
    // Keep: the move must fail, not replace, when the name was taken meanwhile.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        dropMeta();
        m_partPath.clear();
        m_target = finalPath;
        return true;
    }
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the no-replace move: a hard link cannot
        // replace either.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            dropMeta();
            m_partPath.clear();
            m_target = finalPath;
            return true;
        }
    }
    m_nameTaken = errno == EEXIST;
    m_error = QStringLiteral("cannot move %1 into place: %2").arg(m_partPath, systemError());
    return false;
}

void PartFile::discard()
{
    // Bytes still on their way are of no use to a file about to go.
    stopWriter(true);
    close();
    if (!m_partPath.isEmpty())
        ::unlink(QFile::encodeName(m_partPath).constData());
    dropMeta();
    m_partPath.clear();
}

void PartFile::dropMeta()
{
    // A file that is gone, or complete under its final name, is not to be
    // continued by anyone.
    if (m_hasMeta || !m_partPath.isEmpty())
        removeResumeMeta(m_partPath);
    m_hasMeta = false;
    m_meta = ResumeMeta{};
}

} // namespace lumen
