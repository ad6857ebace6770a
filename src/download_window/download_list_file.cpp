#include "download_window/download_list_file.h"

#include <QFile>

#include <cstdio>

namespace lumen
{

DownloadListEntry downloadListEntryFromUrl(const QString &url)
{
    DownloadListEntry e;
    e.url = url;
    QString file = url;
    file.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        file = file.mid(slash + 1).trimmed();
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0) {
        e.name = file.left(dot).trimmed();
        e.type = file.mid(dot + 1).trimmed();
    } else {
        e.name = file;
    }
    return e;
}

// Longest line a list may hold: an address, a name, a type and a referring
// page fit many times over. A longer line is no list line (a file of
// another kind, /dev/zero) and is refused before it fills the memory.
constexpr qsizetype MaxListLineBytes = 64 * 1024;

namespace
{

bool addListLine(const QByteArray &bytes, QList<DownloadListEntry> &entries)
{
    const QString line = QString::fromUtf8(bytes);
    if (line.trimmed().isEmpty())
        return false;
    const QStringList fields = line.split(QLatin1Char('\t'));
    DownloadListEntry e = downloadListEntryFromUrl(fields.at(0).trimmed());
    if (fields.size() > 1)
        e.name = fields.at(1);
    if (fields.size() > 2)
        e.type = fields.at(2).trimmed();
    if (fields.size() > 3)
        e.referer = fields.at(3).trimmed();
    entries << e;
    return true;
}

} // namespace

// Lines are read in blocks, so that no line is ever held longer than the
// limit.
bool readDownloadListFile(const QString &path, QList<DownloadListEntry> &entries, QString &error)
{
    QFile file;
    bool opened = false;
    if (path == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(path);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line;
    qint64 lineNumber = 1;
    bool afterCr = false; // an LF right after a CR ends no further line
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return false;
        }
        if (n == 0)
            break;
        for (qint64 i = 0; i < n; ++i) {
            const char c = block.at(i);
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (c == '\n' || c == '\r') {
                addListLine(line, entries);
                line.clear();
                ++lineNumber;
                continue;
            }
            if (line.size() >= MaxListLineBytes) {
                error = QStringLiteral("%1 line %2: longer than %3 bytes; not a list of "
                                       "addresses, nothing was downloaded")
                            .arg(path)
                            .arg(lineNumber)
                            .arg(MaxListLineBytes);
                return false;
            }
            line.append(c);
        }
    }
    addListLine(line, entries);
    return true;
}

} // namespace lumen
