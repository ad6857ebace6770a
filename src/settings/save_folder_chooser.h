#pragma once

#include <QString>

namespace lumen
{

struct AppSettings;

// Asks where harvested files go and how they are named. The window shows
// the save-folder dialog modally; the command-line tool answers from its
// options; tests script it. The answer is left in the settings, as the
// dialog leaves it: saveFolder and useSourceFileName on OK,
// saveFolderDialogCancelled true on cancel and false on OK.
class SaveFolderChooser
{
public:
    virtual ~SaveFolderChooser() = default;
    virtual void chooseSaveFolder(AppSettings &settings) = 0;
};

// Answers every time with the same folder and naming, as a confirmed dialog
// would: for fronts without a dialog (the command-line tool's options).
class PresetSaveFolderChooser final : public SaveFolderChooser
{
public:
    // An empty folder keeps the current save folder; a folder without a
    // trailing "/" gets one.
    PresetSaveFolderChooser(QString folder, bool useSourceFileName);
    void chooseSaveFolder(AppSettings &settings) override;

private:
    QString m_folder;
    bool m_useSourceFileName;
};

} // namespace lumen
