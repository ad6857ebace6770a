#pragma once

#include "download_window/folder_history.h"
#include "download_window/save_folder_session.h"
#include "settings/save_folder_chooser.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QRadioButton;

namespace lumen
{

struct AppSettings;
class Prompter;
class SettingsStore;

// The save-folder dialog (fSeleFileSavePath), a view over a
// SaveFolderSession: it shows the session's folders, stored folder and
// naming, and hands the typed folder and the chosen naming back on OK; it
// closes when the session accepts them.
class SaveFolderDialog : public QDialog
{
    Q_OBJECT
public:
    static const QString Caption; // 选择下载保存路径－澜图软件
    static inline const QString &FolderErrorMessage = SaveFolderSession::FolderErrorMessage;
    static inline const QString &BrowsePrompt = SaveFolderSession::BrowsePrompt;

    explicit SaveFolderDialog(SaveFolderSession &session, QWidget *parent = nullptr);
    // Over a session of its own, loaded from these.
    SaveFolderDialog(AppSettings &settings, SettingsStore &store, Prompter &prompter,
                     FolderHistoryLocation history, QWidget *parent = nullptr);
    ~SaveFolderDialog() override;

    // The folders the drop-down offers, in order.
    QStringList folders() const;

public slots:
    void accept() override; // 确定
    void reject() override; // 取消, and the close box

private:
    void build();

    std::unique_ptr<SaveFolderSession> m_ownSession;
    SaveFolderSession &m_session;
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
