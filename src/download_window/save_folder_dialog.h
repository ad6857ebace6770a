#pragma once

#include "download_window/folder_history.h"
#include "settings/save_folder_chooser.h"

#include <QDialog>

class QComboBox;
class QRadioButton;

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

// The save-folder dialog (fSeleFileSavePath): where harvested files go and
// whether they are named by the article title or by the link's own name,
// with the recently used folders of the history file. On OK the folder is
// created, remembered in the settings and appended to the history; on
// cancel the settings keep the stored folder and the cancelled flag is set.
class SaveFolderDialog : public QDialog
{
    Q_OBJECT
public:
    static const QString Caption;            // 选择下载保存路径－澜图软件
    static const QString FolderErrorMessage; // 文件夹设置错误！
    static const QString BrowsePrompt;       // 请选择要浏览的文件夹:

    SaveFolderDialog(AppSettings &settings, SettingsStore &store, Prompter &prompter,
                     FolderHistoryLocation history, QWidget *parent = nullptr);

    // The folders the drop-down offers, in order.
    QStringList folders() const;

public slots:
    void accept() override; // 确定
    void reject() override; // 取消, and the close box

private:
    AppSettings &m_settings;
    SettingsStore &m_store;
    Prompter &m_prompter;
    FolderHistoryLocation m_history;
    QComboBox *m_folder = nullptr;
    QRadioButton *m_sourceName = nullptr;
    QRadioButton *m_titleName = nullptr;
};

// The SaveFolderChooser of the desktop: shows the dialog modally over the
// given window and leaves its answer in the settings.
class DialogSaveFolderChooser final : public SaveFolderChooser
{
public:
    DialogSaveFolderChooser(SettingsStore &store, Prompter &prompter,
                            FolderHistoryLocation history = FolderHistoryLocation::standard(),
                            QWidget *parentWindow = nullptr);
    void setParentWindow(QWidget *window) { m_parent = window; }
    void chooseSaveFolder(AppSettings &settings) override;

private:
    SettingsStore &m_store;
    Prompter &m_prompter;
    FolderHistoryLocation m_history;
    QWidget *m_parent;
};

} // namespace lumen
