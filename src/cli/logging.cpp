#include "cli/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcCli, "lumen.cli", QtInfoMsg)

} // namespace lumen
