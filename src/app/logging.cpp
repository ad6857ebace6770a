#include "app/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcApp, "lumen.app", QtInfoMsg)

} // namespace lumen
