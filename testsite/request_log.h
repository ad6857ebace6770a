#pragma once

// The request log: one tab-separated line per request, flushed at once so a
// test reading the file sees every request the server has answered:
//   method, path and query, Referer (or -), session cookie (yes/no),
//   status, body bytes sent.

#include "http_server.h"

#include <QFile>

namespace lumen::testsite
{

class RequestLog
{
public:
    bool open(const QString &path);
    void write(const RequestRecord &record);
    static QByteArray format(const RequestRecord &record);

private:
    QFile m_file;
};

} // namespace lumen::testsite
