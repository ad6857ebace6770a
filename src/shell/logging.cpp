#include "shell/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcShell, "lumen.shell", QtInfoMsg)

} // namespace lumen
