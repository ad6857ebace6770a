#include "settings/app_settings.h"

#include "engine/download_item.h"
#include "settings/settings_store.h"

#include <cmath>
#include <limits>

namespace lumen
{

QString sameNamePolicyText(SameNamePolicy policy)
{
    switch (policy) {
    case SameNamePolicy::Skip:
        return SameNameSkipText;
    case SameNamePolicy::Overwrite:
        return SameNameOverwriteText;
    case SameNamePolicy::Rename:
        break;
    }
    return SameNameRenameText;
}

SameNamePolicy sameNamePolicyFromText(const QString &text)
{
    if (text == SameNameSkipText)
        return SameNamePolicy::Skip;
    if (text == SameNameOverwriteText)
        return SameNamePolicy::Overwrite;
    return SameNamePolicy::Rename;
}

std::optional<double> settingToDouble(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

static std::optional<int> toIntInRange(const QString &text, double lo, double hi)
{
    const auto d = settingToDouble(text);
    if (!d)
        return std::nullopt;
    // The default rounding mode rounds half to even, as stored positions and
    // indexes always have been read.
    const double r = std::nearbyint(*d);
    if (r < lo || r > hi)
        return std::nullopt;
    return int(r);
}

std::optional<int> settingToInt16(const QString &text)
{
    return toIntInRange(text, std::numeric_limits<qint16>::min(),
                        std::numeric_limits<qint16>::max());
}

std::optional<int> settingToInt32(const QString &text)
{
    return toIntInRange(text, std::numeric_limits<qint32>::min(),
                        std::numeric_limits<qint32>::max());
}

QString numberSettingText(double value)
{
    return plainDecimalText(value);
}

void readStartupSettings(const SettingsStore &store, AppSettings &app)
{
    const auto v = settingToDouble(store.read(setting::MaxFileSizeMB));
    app.maxFileSizeMB = v ? *v : *settingToDouble(setting::MaxFileSizeMB.defaultText.toString());
}

// Thread-count box items are "1" to "6".
static constexpr int ThreadIndexCount = 6;

DownloadWindowSettings loadDownloadWindowSettings(const SettingsStore &store, AppSettings &app)
{
    DownloadWindowSettings w;
    if (const auto v = settingToInt16(store.read(setting::DownloadMethod)))
        app.downloadMethod = downloadMethodFromNumber(*v);
    // Method one has no use for several connections: the box stays at "1".
    if (app.downloadMethod == DownloadMethod::MultiConnection) {
        const auto v = settingToInt16(store.read(setting::ThreadIndex));
        if (v && *v >= 0 && *v < ThreadIndexCount)
            w.threadIndex = *v;
    }
    w.sameNamePolicy = sameNamePolicyFromText(store.read(setting::SameNamePolicy));
    app.proxyAddress = store.read(setting::ProxyAddress).trimmed();
    app.proxyPort = store.read(setting::ProxyPort).trimmed();
    // Only a stored 1 turns the proxy on, as the engine always read it.
    if (const auto v = settingToInt16(store.read(setting::ProxyEnabled)))
        app.proxyEnabled = *v == 1;
    if (const auto v = settingToDouble(store.read(setting::MaxFileSizeMB)))
        app.maxFileSizeMB = *v;
    return w;
}

void storeDownloadWindowClosing(SettingsStore &store, const AppSettings &app, SameNamePolicy policy)
{
    store.write(setting::SameNamePolicy, sameNamePolicyText(policy));
    store.write(setting::DownloadMethod, QString::number(downloadMethodNumber(app.downloadMethod)));
}

void storeDownloadWindowClosed(SettingsStore &store, const WindowGeometryState &geometry,
                               const QString &currentResolution, int threadIndex)
{
    saveGeometry(store, setting::DownloadWindowName, geometry, currentResolution);
    store.write(setting::ThreadIndex, QString::number(threadIndex));
}

bool storeOnDownloadWindowClose(SettingsStore &store, const AppSettings &app,
                                const DownloadWindowSettings &window,
                                const WindowGeometryState &geometry,
                                const QString &currentResolution,
                                const std::function<bool()> &closeGoesAhead)
{
    storeDownloadWindowClosing(store, app, window.sameNamePolicy);
    if (closeGoesAhead && !closeGoesAhead())
        return false;
    storeDownloadWindowClosed(store, geometry, currentResolution, window.threadIndex);
    return true;
}

void readSearchWindowSettings(const SettingsStore &store, AppSettings &app)
{
    const auto v = settingToInt16(store.read(setting::PromptForSaveFolder));
    // Only a stored 1 means "ask when harvesting".
    app.promptForSaveFolder =
        (v ? *v : *settingToInt16(setting::PromptForSaveFolder.defaultText.toString())) == 1;
}

// Flags are kept as the numbers 1 and 0.
static QString flagSettingText(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

static bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

SettingsDialogResult storeSettingsDialog(SettingsStore &store, AppSettings &app,
                                         const SettingsDialogValues &values)
{
    SettingsDialogResult result;
    app.downloadMethod = values.downloadMethod;
    store.write(setting::DownloadMethod, QString::number(downloadMethodNumber(app.downloadMethod)));
    app.proxyEnabled = values.proxyEnabled;
    store.write(setting::ProxyEnabled, flagSettingText(app.proxyEnabled));
    app.proxyAddress = values.proxyAddress.trimmed();
    store.write(setting::ProxyAddress, app.proxyAddress);
    app.proxyPort = values.proxyPort.trimmed();
    store.write(setting::ProxyPort, app.proxyPort);
    result.proxyMalformed =
        app.proxyEnabled && (app.proxyAddress.isEmpty() || !allDigits(app.proxyPort));
    app.promptForSaveFolder = values.promptForSaveFolder;
    store.write(setting::PromptForSaveFolder, flagSettingText(app.promptForSaveFolder));
    if (const auto size = settingToDouble(values.maxFileSizeText)) {
        app.maxFileSizeMB = *size;
        store.write(setting::MaxFileSizeMB, numberSettingText(app.maxFileSizeMB));
    } else {
        result.maxFileSizeRejected = true;
    }
    return result;
}

static QString withTrailingSlash(QString folder)
{
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

void loadSaveFolder(const SettingsStore &store, AppSettings &app)
{
    app.saveFolder = withTrailingSlash(
        store.read(setting::SaveFolder.section, setting::SaveFolder.key, defaultSaveFolder()));
}

bool storeSaveFolder(SettingsStore &store, AppSettings &app, const QString &folder)
{
    if (folder.isEmpty())
        return false;
    app.saveFolder = withTrailingSlash(folder);
    store.write(setting::SaveFolder, app.saveFolder);
    app.saveFolderDialogCancelled = false;
    return true;
}

AppSettings loadForCommandLine(const SettingsStore &store, DownloadWindowSettings *window)
{
    AppSettings app;
    readStartupSettings(store, app);
    readSearchWindowSettings(store, app);
    const DownloadWindowSettings w = loadDownloadWindowSettings(store, app);
    if (window)
        *window = w;
    loadSaveFolder(store, app);
    return app;
}

} // namespace lumen
