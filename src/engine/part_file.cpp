#include "engine/part_file.h"

#include <QFileInfo>

#include <cstdio>

namespace lumen
{

PartFile::PartFile(const QString &targetPath)
    : m_target(targetPath), m_part(partPathFor(targetPath))
{
}

PartFile::~PartFile()
{
    if (m_part.isOpen())
        m_part.close();
}

QString PartFile::partPathFor(const QString &targetPath)
{
    return targetPath + QStringLiteral(".part");
}

bool PartFile::open()
{
    m_written = 0;
    // An empty target would put the bytes in the working directory.
    if (m_target.isEmpty()) {
        m_error = QStringLiteral("no target file name");
        return false;
    }
    if (!m_part.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_part.errorString();
        return false;
    }
    return true;
}

bool PartFile::write(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const qint64 n = m_part.write(data + done, size - done);
        if (n <= 0) {
            m_error = m_part.errorString();
            return false;
        }
        done += n;
    }
    m_written += size;
    return true;
}

bool PartFile::commit()
{
    if (m_part.isOpen()) {
        if (!m_part.flush()) {
            m_error = m_part.errorString();
            m_part.close();
            return false;
        }
        m_part.close();
        if (m_part.error() != QFileDevice::NoError) {
            m_error = m_part.errorString();
            return false;
        }
    }
    // rename(2) replaces the target atomically; QFile::rename refuses to.
    const QByteArray from = QFile::encodeName(m_part.fileName());
    const QByteArray to = QFile::encodeName(m_target);
    if (std::rename(from.constData(), to.constData()) != 0) {
        m_error = QStringLiteral("cannot move %1 into place").arg(m_part.fileName());
        return false;
    }
    return true;
}

void PartFile::discard()
{
    if (m_part.isOpen())
        m_part.close();
    m_part.remove();
}

} // namespace lumen
