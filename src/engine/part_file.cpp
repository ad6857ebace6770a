#include "engine/part_file.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

} // namespace

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

bool PartFile::write(const char *data, qint64 size)
{
    if (m_fd < 0) {
        m_error = QStringLiteral("not open");
        return false;
    }
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? systemError() : QStringLiteral("nothing written");
            return false;
        }
        done += n;
    }
    m_written += size;
    return true;
}

bool PartFile::close()
{
    if (m_fd < 0)
        return true;
    const int rc = ::close(m_fd);
    m_fd = -1;
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
        m_target = finalPath;
        return true;
    }
    // Keep: the move must fail, not replace, when the name was taken meanwhile.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        m_target = finalPath;
        return true;
    }
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without the no-replace move: a hard link cannot
        // replace either.
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
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
    close();
    if (!m_partPath.isEmpty())
        ::unlink(QFile::encodeName(m_partPath).constData());
    m_partPath.clear();
}

} // namespace lumen
