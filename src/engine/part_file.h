#pragma once

#include <QFile>
#include <QString>

namespace lumen
{

// A download in progress. Bytes go to "<target>.part" beside the target and
// reach the target's name only through commit(), so a stopped, failed or
// stalled transfer never leaves a file that looks finished.
class PartFile
{
public:
    explicit PartFile(const QString &targetPath);
    ~PartFile(); // closes; keeps the .part file (a later stall report may want it)
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    static QString partPathFor(const QString &targetPath);

    QString targetPath() const { return m_target; }
    QString partPath() const { return m_part.fileName(); }

    // Creates or truncates the .part file.
    bool open();
    bool isOpen() const { return m_part.isOpen(); }
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    qint64 written() const { return m_written; }

    // Flushes, closes and renames the .part file onto the target, replacing
    // whatever stands there. False (and the .part file kept) on any failure.
    bool commit();
    // Closes and deletes the .part file.
    void discard();

    QString errorString() const { return m_error; }

private:
    QString m_target;
    QFile m_part;
    qint64 m_written = 0;
    QString m_error;
};

} // namespace lumen
