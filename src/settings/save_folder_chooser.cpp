#include "settings/save_folder_chooser.h"

#include "settings/app_settings.h"

namespace lumen
{

PresetSaveFolderChooser::PresetSaveFolderChooser(QString folder, bool useSourceFileName)
    : m_folder(std::move(folder)), m_useSourceFileName(useSourceFileName)
{
    if (!m_folder.isEmpty() && !m_folder.endsWith(QLatin1Char('/')))
        m_folder += QLatin1Char('/');
}

void PresetSaveFolderChooser::chooseSaveFolder(AppSettings &settings)
{
    if (!m_folder.isEmpty())
        settings.saveFolder = m_folder;
    settings.useSourceFileName = m_useSourceFileName;
    settings.saveFolderDialogCancelled = false;
}

} // namespace lumen
