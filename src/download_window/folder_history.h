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

// Where the history file is read and written. The file belongs in the
// application folder; when that folder cannot be written (an installation
// owned by another user), the user's own copy in the per-user data folder
// takes over, and from then on is read in place of the installed one.
struct FolderHistoryLocation {
    QString applicationFolder;
    QString userDataFolder;

    // The program's own folder and the per-user data folder.
    static FolderHistoryLocation standard();

    // The file saves go to.
    QString writePath() const;
    // The file loads come from: the one saves go to once it exists, else
    // the application folder's.
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
// stays whole until the new one is complete. False when it cannot be written.
bool SaveFolderHistory(const QStringList &folders, const QString &path);

// True when folders already holds folder, compared trimmed and without
// regard to letter case.
bool folderHistoryContains(const QStringList &folders, const QString &folder);

} // namespace lumen
