#pragma once

#include "download_window/folder_history.h"

#include <QString>
#include <QStringList>

namespace lumen
{

struct AppSettings;
class Prompter;
class SettingsStore;

// BrowseForFolder: the platform's folder picker, started at the folder of
// initial (the part up to its last "/" before the end, so /a/b/ and
// /a/file.pdf both start at /a/; a start that does not exist starts at the
// file-system root). Returns the chosen folder ending in "/", or initial
// unchanged when the picker is cancelled.
QString BrowseForFolder(Prompter &prompter, const QString &initial, const QString &prompt);

// The save-folder dialog's decisions (fSeleFileSavePath): where harvested
// files go and whether they are named by the article title or by the
// link's own name, offered with the recently used folders of the history
// file. The dialog shows what this session holds and hands back what the
// user typed and chose; the session checks the folder, creates it, tells
// the user what is wrong, and stores the answer in the settings, the
// settings file and the history.
class SaveFolderSession
{
public:
    static const QString FolderErrorMessage; // 文件夹设置错误！
    static const QString FullPathMessage;    // 请输入完整的文件夹路径！
    static const QString BrowsePrompt;       // 请选择要浏览的文件夹:

    // Loads at once: the naming last chosen this run, the folders of the
    // history file and the stored save folder.
    SaveFolderSession(AppSettings &settings, SettingsStore &store, Prompter &prompter,
                      FolderHistoryLocation history);

    // What the dialog shows.
    QStringList folders() const { return m_folders; }
    QString folderText() const { return m_folderText; }
    bool useSourceFileName() const;

    // "...": the folder picked from the typed text, or the text unchanged.
    QString browse(const QString &typed);

    // The folder as typed turned into the folder it names: trimmed, "~"
    // and "~/..." read from the home folder, ending in "/". Empty when the
    // text names no complete folder (blank, or relative to wherever the
    // program happens to run).
    static QString completeFolder(const QString &typed);

    // "确定": true when the dialog may close. The typed folder must be a
    // complete path; it is created when missing, stored as the save folder,
    // and appended to the history (also when listed already: the file keeps
    // the order of use, its reader drops the repeats). A folder that is not
    // complete or cannot be made is reported and nothing is created or
    // stored, so the dialog stays for another try.
    bool confirm(const QString &typed, bool useSourceFileName);
    // "取消" and the close box: the stored folder stays, the naming too.
    void cancel();

private:
    AppSettings &m_settings;
    SettingsStore &m_store;
    Prompter &m_prompter;
    FolderHistoryLocation m_history;
    QStringList m_folders;
    QString m_folderText;
};

} // namespace lumen
