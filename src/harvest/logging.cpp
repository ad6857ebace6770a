#include "harvest/logging.h"

namespace lumen
{

Q_LOGGING_CATEGORY(lcHarvest, "lumen.harvest", QtInfoMsg)

} // namespace lumen
