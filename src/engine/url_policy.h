#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>

namespace lumen
{

// The one scheme policy of the program: only http and https addresses with a
// host ever leave the machine. Every place that fetches, harvests or hands a
// link on asks here, so "fetchable" means the same thing everywhere.
bool isFetchableUrl(const QUrl &url);
// The text as given (surrounding blanks ignored), parsed leniently as the
// lists and pages carry it.
bool isFetchableUrl(QStringView text);

} // namespace lumen
