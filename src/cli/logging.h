#pragma once

#include <QLoggingCategory>

namespace lumen
{

// Debug output of this room, off unless asked for:
// QT_LOGGING_RULES="lumen.cli.debug=true"
Q_DECLARE_LOGGING_CATEGORY(lcCli)

} // namespace lumen
