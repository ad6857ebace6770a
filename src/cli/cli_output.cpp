#include "cli/cli_output.h"

#include <cstdio>

namespace lumen::cli
{

namespace
{

// Characters a terminal acts on or that reorder the text around them: the
// C0 and C1 controls, DEL, and the bidirectional marks, embeddings,
// overrides and isolates.
bool isTerminalControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x061c || c == 0x200e || c == 0x200f ||
           (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString escapeField(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (QChar c : field) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        default:
            if (isTerminalControl(c.unicode()))
                out +=
                    c.unicode() < 0x100
                        ? QStringLiteral("\\x%1").arg(uint(c.unicode()), 2, 16, QLatin1Char('0'))
                        : QStringLiteral("\\u%1").arg(uint(c.unicode()), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out;
}

void writeRecord(const QStringList &fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString &f : fields)
        escaped << escapeField(f);
    const QByteArray line = escaped.join(QLatin1Char('\t')).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void writeError(const QString &message)
{
    // Through the format-checked printf family, which the hardened build
    // fortifies. A message is text: it holds no NUL to stop at.
    std::fprintf(stderr, "lumenarc-get: %s\n", message.toUtf8().constData());
    std::fflush(stderr);
}

int usageError(const QString &message, const QString &usage)
{
    writeError(message);
    const QByteArray text = usage.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
    return ExitUsage;
}

int printHelp(const QString &usage)
{
    const QByteArray text = usage.toUtf8() + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return ExitOk;
}

} // namespace lumen::cli
