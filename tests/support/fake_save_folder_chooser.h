#pragma once

#include "settings/app_settings.h"
#include "settings/save_folder_chooser.h"

#include <QString>

namespace lumen::test
{

// Answers the save-folder question as a test scripted it, counting the times
// it was asked.
class FakeSaveFolderChooser final : public SaveFolderChooser
{
public:
    int asked = 0;
    bool cancel = false;
    QString folder = QStringLiteral("/tmp/chosen/");
    bool useSourceFileName = false;

    void chooseSaveFolder(AppSettings &settings) override
    {
        ++asked;
        settings.saveFolderDialogCancelled = cancel;
        if (cancel)
            return;
        settings.saveFolder = folder;
        settings.useSourceFileName = useSourceFileName;
    }
};

} // namespace lumen::test
