// A program that journals a growing download list until it is killed: the
// journal test kills it with SIGKILL and reads what survived. It appends a
// record every few milliseconds and prints "flushed N" on its standard
// output after each committed batch, N being the records the batch left in
// the journal.
#include "download_window/download_journal.h"
#include "engine/download_list.h"
#include "settings/journal_database.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: journal_writer FILE\n");
        return 2;
    }
    lumen::JournalDatabase db(QString::fromLocal8Bit(argv[1]),
                              lumen::DownloadJournal::SchemaVersion,
                              lumen::DownloadJournal::schema());
    if (!db.open()) {
        std::fprintf(stderr, "cannot open the journal: %s\n", qPrintable(db.problem()));
        return 1;
    }
    lumen::DownloadList list;
    lumen::DownloadJournal journal(list, db);
    QObject::connect(&journal, &lumen::DownloadJournal::flushed, [&] {
        std::printf("flushed %lld\n", static_cast<long long>(list.count()));
        std::fflush(stdout);
    });
    QTimer grow;
    grow.setInterval(5);
    QObject::connect(&grow, &QTimer::timeout, [&] {
        const qint64 n = list.count();
        const qint64 row = list.append(QStringLiteral("http://127.0.0.1/items/%1.pdf").arg(n),
                                       QStringLiteral("paper %1").arg(n), QStringLiteral("pdf"),
                                       QStringLiteral("/tmp/papers/"), QString());
        // Progress of the newest record: many changes between two batches.
        for (int pct = 10; pct <= 50; pct += 10)
            list.update(row, [&](lumen::DownloadItem &it) {
                it.state = lumen::DownloadState::Downloading;
                it.size = 100;
                it.received = pct;
            });
    });
    grow.start();
    return app.exec();
}
