#pragma once

#include <QString>

namespace lumen
{

// The product's title: every message box shows it as its title, window
// captions end with it, and the per-user settings are filed under it.
inline const QString ApplicationTitle = QStringLiteral("澜图Lumenarc西岭大学文献检索下载");

} // namespace lumen
