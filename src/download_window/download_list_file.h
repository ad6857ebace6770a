#pragma once

#include <QList>
#include <QString>

namespace lumen
{

// One line of a download list file: the address, and optionally the file
// name, the type and the referring page.
struct DownloadListEntry {
    QString url;
    QString name;
    QString type;
    QString referer;
};

// An entry for a bare address: the link's own file name, split into name
// and extension.
DownloadListEntry downloadListEntryFromUrl(const QString &url);

// Reads a download list, the format both fronts take: UTF-8 lines
// URL[<TAB>NAME[<TAB>TYPE[<TAB>REFERER]]], ended by LF, CR LF or a lone CR
// (as old editors write them); blank lines are skipped; a missing name or
// type comes from the address; "-" reads the standard input. A line longer
// than 64 KiB is no list line (a file of another kind, /dev/zero) and ends
// the read with an error before it fills the memory. Appends to entries;
// false with error set when the file cannot be read.
bool readDownloadListFile(const QString &path, QList<DownloadListEntry> &entries, QString &error);

} // namespace lumen
