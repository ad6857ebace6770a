#include "request_log.h"

namespace lumen::testsite
{

namespace
{

// Tabs and line breaks inside a field would split the line.
QByteArray field(const QByteArray &value)
{
    if (value.isEmpty())
        return "-";
    QByteArray out = value;
    for (char &c : out)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return out;
}

} // namespace

bool RequestLog::open(const QString &path)
{
    m_file.setFileName(path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

QByteArray RequestLog::format(const RequestRecord &r)
{
    return field(r.method) + '\t' + field(r.target) + '\t' + field(r.referer) + '\t' +
           (r.sessionCookie ? "yes" : "no") + '\t' + QByteArray::number(r.status) + '\t' +
           QByteArray::number(r.bodyBytesSent) + '\n';
}

void RequestLog::write(const RequestRecord &record)
{
    if (!m_file.isOpen())
        return;
    m_file.write(format(record));
    m_file.flush();
}

} // namespace lumen::testsite
