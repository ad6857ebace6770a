#include "engine/naming.h"

#include "engine/gbk.h"

namespace lumen {

QString SanitizeFileName(const QString &text)
{
    QString s = text;
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    s.removeIf([](QChar c) { return forbidden.contains(c); });
    s.remove(QStringLiteral("\r\n"));
    s.remove(QLatin1Char('\n'));
    s.remove(QLatin1Char('\r'));
    s.remove(QChar(0));
    qsizetype start = 0;
    while (start < s.size() && s.at(start) == QLatin1Char('.'))
        ++start;
    qsizetype end = s.size();
    while (end > start && s.at(end - 1) == QLatin1Char('.'))
        --end;
    s = s.mid(start, end - start);
    s = gbk::truncateToBytes(s, MaxNameBytes);
    // Only spaces, not other white space: tabs stay as the user typed them.
    start = 0;
    while (start < s.size() && s.at(start) == QLatin1Char(' '))
        ++start;
    end = s.size();
    while (end > start && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(start, end - start);
}

int gbkByteLength(const QString &text)
{
    return gbk::byteLength(text);
}

} // namespace lumen
