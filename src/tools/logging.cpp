#include "tools/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcTools, "lumen.tools", QtInfoMsg)

} // namespace lumen
