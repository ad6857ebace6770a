#pragma once

#include "settings/product_site.h"

#include <QString>

namespace lumen
{

// The maker's support mailbox, where suggestions and problem reports go;
// the suggestion mail itself (mailSuggestion) is the one of the product
// site's pages.
inline const QString SupportMailbox = supportMailbox();

} // namespace lumen
