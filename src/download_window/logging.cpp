#include "download_window/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcDownloadWindow, "lumen.download_window", QtInfoMsg)

} // namespace lumen
