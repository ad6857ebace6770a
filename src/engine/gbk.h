#pragma once

#include <QByteArray>
#include <QString>

namespace lumen::gbk
{

// Conversions to and from the legacy Chinese code page through iconv.
// Characters GBK cannot hold become '?' on the way out; bytes that are not
// valid GBK become U+FFFD on the way in.
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);
QString decode(const char *data, qsizetype size);

// Bytes the text takes in GBK.
int byteLength(const QString &text);

// The longest prefix of text whose GBK form fits in maxBytes, never cutting
// a character (a surrogate pair or a double-byte character) in half.
QString truncateToBytes(const QString &text, int maxBytes);

} // namespace lumen::gbk
