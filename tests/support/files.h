#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace lumen::test
{

// The whole content of a file, or "<missing>" when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Makes bytes the whole content of a file; a file that cannot be written
// fails the test.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace lumen::test
