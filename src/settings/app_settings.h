#pragma once

#include "engine/download_method.h"
#include "engine/naming.h"
#include "settings/window_geometry.h"

#include <QString>

#include <functional>
#include <optional>

namespace lumen
{

class SettingsStore;

// The program-wide values. One object, owned by the application and handed
// to whoever needs it; everything starts at the single connection, zero,
// empty or false and is filled by the readers below as the windows load.
// The settings file keeps numbers: the readers and writers below turn them
// into these types and back.
struct AppSettings {
    DownloadMethod downloadMethod = DownloadMethod::SingleConnection;
    bool proxyEnabled = false; // the single-connection method goes through the proxy
    QString proxyAddress;      // trimmed host
    QString proxyPort;         // trimmed port text
    double maxFileSizeMB = 0;
    bool promptForSaveFolder = false; // ask for the folder when harvesting, not at manual analysis
    QString saveFolder;               // ends in "/" once the save-folder dialog set it
    bool useSourceFileName = false;   // run only: name files by the link's own name
    bool saveFolderDialogCancelled = false; // run only: the save-folder dialog was cancelled
};

// What the download window keeps in its own controls rather than in
// AppSettings.
struct DownloadWindowSettings {
    // List index of the thread-count box, whose items are "1".."6".
    int threadIndex = 0;
    SameNamePolicy sameNamePolicy = SameNamePolicy::Rename;
    // Connections of the multi-connection method.
    int threadCount() const { return threadIndex + 1; }
};

// Captions of the same-name options, as stored.
inline const QString SameNameSkipText = QStringLiteral("跳过");
inline const QString SameNameOverwriteText = QStringLiteral("覆盖");
inline const QString SameNameRenameText = QStringLiteral("重命名");
QString sameNamePolicyText(SameNamePolicy policy);
// The option whose caption equals the text; anything else means rename.
SameNamePolicy sameNamePolicyFromText(const QString &text);

// Conversions of stored text to numbers. Blanks around the number are
// allowed, decimals are rounded half to even; nullopt when the text is no
// number or does not fit the type.
std::optional<int> settingToInt16(const QString &text);
std::optional<int> settingToInt32(const QString &text);
std::optional<double> settingToDouble(const QString &text);
// The plain decimal text a number is stored as.
QString numberSettingText(double value);

// Start-up: the size limit, before any window that downloads exists. A text
// that is no number gives the default limit, so that a damaged setting
// cannot forbid every download.
void readStartupSettings(const SettingsStore &store, AppSettings &app);

// Download window load, in this order: method, thread index (only for
// method two), same-name policy, proxy address, port, enabled, size limit.
// A stored number that does not convert is skipped: its target keeps the
// value it had. The thread index starts at 0 (the box shows "1").
DownloadWindowSettings loadDownloadWindowSettings(const SettingsStore &store, AppSettings &app);

// Download window close, first step, done even when the close is refused
// later: the same-name policy and the method.
void storeDownloadWindowClosing(SettingsStore &store, const AppSettings &app,
                                SameNamePolicy policy);
// Download window close, once closing goes ahead: geometry, then thread index.
void storeDownloadWindowClosed(SettingsStore &store, const WindowGeometryState &geometry,
                               const QString &currentResolution, int threadIndex);
// The whole close in order: the first step, then closeGoesAhead() (which
// asks the close question when downloads are unfinished and stops them when
// the answer is yes), then the rest only if it returned true. Returns
// whether the window may close.
bool storeOnDownloadWindowClose(SettingsStore &store, const AppSettings &app,
                                const DownloadWindowSettings &window,
                                const WindowGeometryState &geometry,
                                const QString &currentResolution,
                                const std::function<bool()> &closeGoesAhead);

// Search window load: when to ask for the save folder. A text that is no
// number gives the default (ask when harvesting).
void readSearchWindowSettings(const SettingsStore &store, AppSettings &app);

// What the settings dialog hands over on OK.
struct SettingsDialogValues {
    DownloadMethod downloadMethod = DownloadMethod::MultiConnection;
    bool proxyEnabled = false; // check box value
    QString proxyAddress;      // as typed; trimmed when stored
    QString proxyPort;         // as typed; trimmed when stored
    bool promptForSaveFolder = true;
    QString maxFileSizeText; // as typed
};
struct SettingsDialogResult {
    // The proxy is enabled with an empty address or a port that is not all
    // digits; the values are stored all the same and the dialog tells the user.
    bool proxyMalformed = false;
    // The size text was no number: the old limit is kept and not stored.
    bool maxFileSizeRejected = false;
};
// Settings dialog OK: updates the values and stores its six keys, in order.
SettingsDialogResult storeSettingsDialog(SettingsStore &store, AppSettings &app,
                                         const SettingsDialogValues &values);

// Save-folder dialog load: the stored folder (default defaultSaveFolder()).
void loadSaveFolder(const SettingsStore &store, AppSettings &app);
// Save-folder dialog OK with a folder: appends "/" when missing, remembers
// and stores it and clears the cancelled flag. An empty folder stores
// nothing and returns false.
bool storeSaveFolder(SettingsStore &store, AppSettings &app, const QString &folder);

// Every value as the start-up, the search window, the download window and
// the save-folder dialog would read it, for the command-line tool's options
// that the user did not give. The window's own values go to *window when
// given.
AppSettings loadForCommandLine(const SettingsStore &store,
                               DownloadWindowSettings *window = nullptr);

} // namespace lumen
