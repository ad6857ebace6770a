#include "download_window/save_folder_session.h"

#include "engine/naming.h"
#include "engine/prompter.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"

#include <QDir>
#include <QFileInfo>

namespace lumen
{

const QString SaveFolderSession::FolderErrorMessage = QStringLiteral("文件夹设置错误！");
const QString SaveFolderSession::FullPathMessage = QStringLiteral("请输入完整的文件夹路径！");
const QString SaveFolderSession::BrowsePrompt = QStringLiteral("请选择要浏览的文件夹:");

namespace
{

QString withSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

} // namespace

QString BrowseForFolder(Prompter &prompter, const QString &initial, const QString &prompt)
{
    QString start = initial.trimmed().isEmpty() ? QDir::rootPath() : initial;
    // The folder holding the last piece: /a/b/ and /a/file.pdf start at /a/.
    const qsizetype cut = start.left(start.size() - 1).lastIndexOf(u'/');
    if (cut >= 0)
        start = start.left(cut + 1);
    if (!QFileInfo(start).isDir())
        start = QDir::rootPath();
    const std::optional<QString> picked = prompter.pickFolder(prompt, start);
    if (!picked || picked->isEmpty())
        return initial;
    return withSlash(*picked);
}

SaveFolderSession::SaveFolderSession(AppSettings &settings, SettingsStore &store,
                                     Prompter &prompter, FolderHistoryLocation history)
    : m_settings(settings), m_store(store), m_prompter(prompter), m_history(std::move(history))
{
    if (const std::optional<QStringList> folders = LoadFolderHistory(m_history.readPath()))
        m_folders = *folders;
    loadSaveFolder(m_store, m_settings);
    m_folderText = m_settings.saveFolder;
}

bool SaveFolderSession::useSourceFileName() const
{
    return m_settings.useSourceFileName;
}

QString SaveFolderSession::browse(const QString &typed)
{
    return BrowseForFolder(m_prompter, typed, BrowsePrompt);
}

QString SaveFolderSession::completeFolder(const QString &typed)
{
    QString folder = typed.trimmed();
    // "~" is the user's own folder, as a shell reads it; a folder named "~"
    // in the working folder is never what was meant.
    if (folder == u'~')
        folder = QDir::homePath();
    else if (folder.startsWith(QLatin1String("~/")))
        folder = QDir::homePath() + folder.mid(1);
    // A relative folder would count from wherever the program was started,
    // which the user neither sees nor chose.
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        return QString();
    return withSlash(QDir::fromNativeSeparators(folder));
}

bool SaveFolderSession::confirm(const QString &typed, bool useSourceFileName)
{
    m_settings.useSourceFileName = useSourceFileName;
    if (typed.trimmed().isEmpty()) {
        m_prompter.message(FolderErrorMessage, Prompter::Icon::Critical);
        return false;
    }
    const QString complete = completeFolder(typed);
    if (complete.isEmpty()) {
        m_prompter.message(FullPathMessage, Prompter::Icon::Critical);
        return false;
    }
    const FolderPathResult made = CreateFolderPath(complete);
    if (made.badName)
        m_prompter.message(FolderNameErrorText, Prompter::Icon::Critical);
    if (made.path.isEmpty()) {
        m_prompter.message(FolderErrorMessage, Prompter::Icon::Critical);
        return false;
    }
    const QString chosen = withSlash(made.path);
    m_folderText = chosen;
    storeSaveFolder(m_store, m_settings, chosen);
    m_folders.append(chosen);
    SaveFolderHistory(m_folders, m_history.writePath());
    return true;
}

void SaveFolderSession::cancel()
{
    m_settings.saveFolderDialogCancelled = true;
}

} // namespace lumen
