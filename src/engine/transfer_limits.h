#pragma once

#include <QtGlobal>

namespace lumen
{

// A transfer whose body shows no progress for this long fails (both methods).
constexpr qint64 StallLimitMs = 300 * 1000;

// Longest wait of the single-connection method for the response headers.
constexpr qint64 HeaderWaitMs = 30 * 1000;

// The watchdogs look at their transfer this often.
constexpr int WatchdogIntervalMs = 1000;

} // namespace lumen
