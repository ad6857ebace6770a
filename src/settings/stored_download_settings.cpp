#include "settings/stored_download_settings.h"

#include "engine/download_engine.h"
#include "settings/app_settings.h"

namespace lumen
{

void applyStoredDownloadSettings(DownloadEngine &engine, const AppSettings &app,
                                 const DownloadWindowSettings &window)
{
    engine.setDownloadMethod(app.downloadMethod);
    engine.setThreadCount(
        engine.downloadMethod() == DownloadMethod::MultiConnection ? window.threadCount() : 1);
    engine.setSameNamePolicy(window.sameNamePolicy);
    engine.setMaxFileSizeMB(app.maxFileSizeMB);
    engine.setProxy(app.proxyEnabled, app.proxyAddress, app.proxyPort);
}

} // namespace lumen
