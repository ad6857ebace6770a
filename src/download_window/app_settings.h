#pragma once

#include <QString>

namespace lumen
{

// The program-wide values. One object, owned by the application and handed
// to whoever needs it.
struct AppSettings {
    int downloadMethod = 0; // 1 = single connection, 2 = several connections
    int proxyEnabled = 0;   // 1 when the single-connection method goes through the proxy
    QString proxyAddress;   // trimmed host
    QString proxyPort;      // trimmed port text
    double maxFileSizeMB = 0;
    int promptForSaveFolder = 0;    // 1: ask for the folder when harvesting; 0: at manual analysis
    QString saveFolder;             // ends in "/" once the save-folder dialog set it
    bool useSourceFileName = false; // run only: name files by the link's own name
    bool saveFolderDialogCancelled = false; // run only: the save-folder dialog was cancelled
};

} // namespace lumen
