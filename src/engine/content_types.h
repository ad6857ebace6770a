#pragma once

#include <QString>

namespace lumen
{

// The extension to store for a response's media type (the trimmed header
// value without its ";" parameters). Case and spaces in the minor type are
// ignored. Answers:
// - an extension ("pdf", "jpeg", "tif", ...) for a known type;
// - empty for application/octet-stream and for an empty input;
// - the major type itself for "major/" and "major/*";
// - the input unchanged for anything else (an unknown type keeps its "/";
//   a text without "/" is returned as it is).
// Callers use the answer as the record's type only when it is not empty and
// holds no "/".
QString MimeToExtension(const QString &contentType);

} // namespace lumen
