#pragma once

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

} // namespace lumen
