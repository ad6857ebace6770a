#pragma once

// The folder history: the folders a user saved into or copied into, offered
// again in the drop-down lists of the save-folder dialog and the copy window.
// It lives in the file "SaveList.dat": one folder per line, CR LF line ends,
// oldest first, no header. The whole file is replaced on every save.

#include <QString>
#include <QStringList>

#include <optional>

namespace lumen
{

inline const QString FolderHistoryFileName = QStringLiteral("SaveList.dat");
// Lines read at most, duplicates included; later lines are not read.
constexpr int MaxFolderHistoryLines = 100;

// Where the history file is read and written. Each user keeps a history of
// their own in the per-user data folder, and only that file is ever
// written: the program's folder belongs to the installation (root running
// the program must not leave a file there that no package owns, nor hand
// its folders to every other user). A "SaveList.dat" in the program's
// folder is still read, as the starting history of a user who has none yet.
struct FolderHistoryLocation {
    QString applicationFolder;
    QString userDataFolder;

    // The program's own folder and the per-user data folder.
    static FolderHistoryLocation standard();

    // The file saves go to: the user's own. Empty when there is no per-user
    // data folder, so that nothing is saved at all.
    QString writePath() const;
    // The file loads come from: the user's own once it exists, else the
    // application folder's.
    QString readPath() const;
};

// LoadFolderHistory: the folders of the history file, in file order. Lines
// are trimmed; blank lines are passed over; of lines equal but for letter
// case only the first is kept; at most the first MaxFolderHistoryLines
// non-blank lines are read. nullopt when there is no file (the caller keeps
// the list it has). A file that is not UTF-8 is read as GBK, so lists from
// older installations keep their Chinese folder names.
std::optional<QStringList> LoadFolderHistory(const QString &path);

// SaveFolderHistory: replaces the file by the folders, one per line, in
// order (UTF-8). An empty list is written as one empty line. The old file
// stays whole until the new one is complete. False when it cannot be written
// (an empty path included).
bool SaveFolderHistory(const QStringList &folders, const QString &path);

// True when folders already holds folder, compared trimmed and without
// regard to letter case.
bool folderHistoryContains(const QStringList &folders, const QString &folder);

} // namespace lumen
