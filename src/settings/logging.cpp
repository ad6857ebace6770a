#include "settings/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcSettings, "lumen.settings", QtInfoMsg)

} // namespace lumen
