#pragma once

#include <QLoggingCategory>

namespace lumen
{

// The download engine's log: transfers' starts, ends and the reasons of their
// failures. Debug output is off unless asked for, e.g. with
// QT_LOGGING_RULES="lumen.engine.debug=true". Never a password, a cookie
// value or the user part of a URL.
Q_DECLARE_LOGGING_CATEGORY(lumenEngine)

} // namespace lumen
