#pragma once

namespace lumen
{

struct AppSettings;
struct DownloadWindowSettings;
class DownloadEngine;

// Sets the engine up as the stored settings say, as the download window does
// when it loads: the method, the thread count (method two only; one
// connection otherwise), the same-name policy, the size limit and the proxy
// of method one. Every front that downloads starts from here; the command
// line then lays its own options over it.
void applyStoredDownloadSettings(DownloadEngine &engine, const AppSettings &app,
                                 const DownloadWindowSettings &window);

} // namespace lumen
