#include "engine/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lumenEngine, "lumen.engine", QtInfoMsg)

} // namespace lumen
