// The browser cache tool at scale: listing a cache of many entries, and
// copying one very large entry out, each measured in a process of its own
// so that its peak resident memory is its own.
//
//   bench_cache [--entries N] [--gib G] [--runs R] [--keep DIR]
//
// Prints, for each case, the median wall time of R runs and the largest
// peak RSS seen.

#include "engine/prompter.h"
#include "settings/settings_store.h"
#include "tools/browser_cache.h"
#include "tools/copy_session.h"

#include "../tests/tools/cache_entry_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace lumen;

namespace
{

class SilentPrompter final : public Prompter
{
public:
    void message(const QString &, Icon, const QString &) override {}
    Answer question(const QString &, Buttons, Icon, const QString &) override { return Answer::No; }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> saveFileName(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> openFileName(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<QString> pickFolder(const QString &, const QString &) override
    {
        return std::nullopt;
    }
};

// The peak resident memory of this process image. (getrusage would carry
// over the peak of the benchmark's parent, which made the test data, across
// fork and exec.)
long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// An entry whose body of bodySize bytes is a hole in the file: the listing
// sees entries of any total size without the disk holding them.
bool writeSparseEntry(const QString &path, const QString &url, qint64 bodySize)
{
    test::CacheEntryBytes e = test::cacheEntry(url, QByteArray());
    const QByteArray whole = e.bytes();
    const qint64 bodyAt = 24 + e.key.size();
    QByteArray tail = whole.mid(bodyAt);
    // The closing record of the body carries its size.
    qToLittleEndian<quint32>(quint32(bodySize), tail.data() + 16);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(whole.left(bodyAt));
    f.seek(bodyAt + bodySize);
    return f.write(tail) == tail.size();
}

int makeCache(const QString &folder, int entries, qint64 bodySize)
{
    QDir().mkpath(folder);
    for (int i = 0; i < entries; ++i) {
        const QString name =
            QStringLiteral("%1_0").arg(quint64(i) * 2654435761u, 16, 16, QLatin1Char('0'));
        const QString url = QStringLiteral("http://127.0.0.1:8080/items/%1.pdf").arg(i);
        bool ok;
        if (bodySize <= 4096)
            ok = test::cacheEntry(url, QByteArray(bodySize, 'x')).writeTo(folder + '/' + name);
        else
            ok = writeSparseEntry(folder + '/' + name, url, bodySize);
        if (!ok)
            return 1;
    }
    return 0;
}

// One measured run in this process: prints "<ms> <peak KiB> <detail>".
int measure(const QStringList &args)
{
    const QString what = args.value(0);
    QElapsedTimer timer;
    timer.start();
    QString detail;
    if (what == QLatin1String("list")) {
        const QList<CacheEntry> entries = listCacheEntries(args.value(1));
        qint64 total = 0;
        for (const CacheEntry &e : entries)
            total += e.displaySize();
        detail =
            QStringLiteral("%1 entries, %2 MiB of bodies").arg(entries.size()).arg(total >> 20);
    } else if (what == QLatin1String("copy")) {
        const QList<CacheEntry> entries = listCacheEntries(args.value(1));
        QTemporaryDir scratch;
        SettingsStore settings(scratch.filePath(QStringLiteral("s.ini")));
        SilentPrompter prompter;
        CopySession session(settings, prompter, {scratch.filePath("a"), scratch.filePath("u")});
        session.setDestinationText(args.value(2));
        session.setOpIndex(2);
        QList<CopySource> sources;
        for (const CacheEntry &e : entries)
            sources << CopySource::fromCacheEntry(e);
        session.setSources(sources);
        QObject::connect(&session, &CopySession::finished, qApp, &QCoreApplication::quit);
        session.execute(false);
        QCoreApplication::exec();
        qint64 written = 0;
        for (const QFileInfo &f : QDir(args.value(2)).entryInfoList(QDir::Files))
            written += f.size();
        detail = QStringLiteral("%1 copied, %2 failed, %3 MiB written")
                     .arg(session.copiedCount())
                     .arg(session.failedCount())
                     .arg(written >> 20);
    } else {
        return 2;
    }
    // CPU time too: on a machine shared with other work the wall time
    // includes waiting for a processor.
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    const qint64 cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    std::printf("%lld %ld %lld %s\n", qint64(timer.elapsed()), peakRssKiB(), cpuMs,
                qPrintable(detail));
    return 0;
}

void report(const QString &name, const QStringList &args, int runs)
{
    QList<qint64> times;
    QList<qint64> cpu;
    long peak = 0;
    QString detail;
    for (int r = 0; r < runs; ++r) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(), QStringList{"--measure"} + args);
        p.waitForFinished(-1);
        const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(' ');
        if (p.exitCode() != 0 || out.size() < 4) {
            std::printf("%s: run failed\n", qPrintable(name));
            return;
        }
        times << out[0].toLongLong();
        peak = std::max(peak, out[1].toLong());
        cpu << out[2].toLongLong();
        detail = out.mid(3).join(' ');
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%-40s median %6lld ms wall, %6lld ms CPU of %d runs, peak RSS %6.1f MiB  (%s)\n",
                qPrintable(name), times[times.size() / 2], cpu[cpu.size() / 2], runs, peak / 1024.0,
                qPrintable(detail));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--measure"))
        return measure(args.mid(1));

    int entries = 100000;
    double gib = 1.0;
    int runs = 5;
    QString keep; // --keep DIR: make the caches there and leave them
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--entries"))
            entries = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--gib"))
            gib = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--keep"))
            keep = args[i + 1];
    }

    QTemporaryDir dir(keep.isEmpty() ? QDir::tempPath() + "/bench_cache-XXXXXX" : keep);
    dir.setAutoRemove(keep.isEmpty());
    const QString small = dir.filePath("small"), large = dir.filePath("large");
    const QString one = dir.filePath("one"), gzipped = dir.filePath("gzip");
    if (makeCache(small, entries, 1000) || makeCache(large, entries, 1 << 20)) {
        std::printf("cannot write the caches\n");
        return 1;
    }
    const qint64 bodyBytes = qint64(gib * (1LL << 30));
    if (makeCache(one, 1, bodyBytes))
        return 1;
    // A gzip-encoded body: decoding streams through the same bounded buffer.
    QDir().mkpath(gzipped);
    if (!test::cacheEntry("http://127.0.0.1:8080/items/zeros.txt",
                          test::gzipOf(QByteArray(64 << 20, '\0')),
                          "HTTP/1.1 200 OK\nContent-Encoding: gzip")
             .writeTo(gzipped + "/0000_0"))
        return 1;

    report(QStringLiteral("list %1 entries of 1000 B").arg(entries), {"list", small}, runs);
    report(QStringLiteral("list %1 entries of 1 MiB (sparse)").arg(entries), {"list", large}, runs);
    report(QStringLiteral("copy one entry of %1 GiB").arg(gib), {"copy", one, dir.filePath("out")},
           runs);
    report(QStringLiteral("copy one gzip entry of 64 MiB decoded"),
           {"copy", gzipped, dir.filePath("outgz")}, runs);
    return 0;
}
