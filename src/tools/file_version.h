#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace lumen
{

class Prompter;

// The fixed version information of a program or library file, as words and
// flags the way such information has always been laid out.
struct FixedFileInfo {
    quint32 strucVersion = 0x00010000;
    quint32 fileVersionMS = 0; // high word: first part, low word: second
    quint32 fileVersionLS = 0; // high word: third part, low word: fourth
    quint32 productVersionMS = 0;
    quint32 productVersionLS = 0;
    quint32 fileFlags = 0;
    quint32 fileOS = 0;
    quint32 fileType = 0;
    quint32 fileSubtype = 0;
};

// `FileVersionRecord`: the texts shown for a file's version.
struct FileVersionRecord {
    QString strucVersion;   // "1.0"
    QString fileVersion;    // four parts, e.g. "6.4.2.0"
    QString productVersion; // the same four parts of the product
    QString fileFlags;      // "Debug PreRel Patched Private Info Special " as set
    QString fileOS;         // "NT-Win32" ... or "Unknown"
    QString fileType;       // "App", "DLL", ... or "Unknown"
    QString fileSubType;    // drivers and fonts only; otherwise left as it was

    friend bool operator==(const FileVersionRecord &, const FileVersionRecord &) = default;
};

// What is shown when a file carries no version.
inline const QString NoVersionInfoText = QStringLiteral("No Version Info available!");

// The four parts a.b.c.d of a version, each an unsigned 16-bit word.
QString versionText(quint32 mostSignificant, quint32 leastSignificant);

// Fills the record's fields from fixed information. The subtype is only
// replaced for drivers and fonts, so the rest of `record` is what it was.
void fillFileVersionRecord(const FixedFileInfo &info, FileVersionRecord &record);

// The version a library carries: in its file name ("libQt6Core.so.6.4.2",
// also when `path` is a link to that file, as "libQt6Core.so.6" is) or else
// in the soname recorded inside it ("libc.so.6"). Up to four parts; missing
// ones are 0. nullopt for a file without one (a text file, a program, a
// missing file).
std::optional<FixedFileInfo> readFixedFileInfo(const QString &path);

// `ReadFileVersion`: fills `record` from the file and returns true; for a
// file without a version shows "No Version Info available!" (when a prompter
// is given), leaves the record as it was and returns false.
bool readFileVersion(const QString &path, FileVersionRecord &record, Prompter *prompter);

} // namespace lumen
