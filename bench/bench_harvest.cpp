// Figures of the harvest: reading result pages, handing rows to the
// download list, and the counts the download monitor reads every second.
#include "engine/clock.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "engine/prompter.h"
#include "engine/sound_player.h"
#include "harvest/download_transfer.h"
#include "harvest/harvest_analysis.h"
#include "harvest/harvest_list.h"
#include "harvest/results_parser.h"
#include "harvest/snapshot_parser.h"
#include "settings/app_settings.h"
#include "settings/save_folder_chooser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace lumen;

namespace
{

AnchorSnapshot anchor(const QString &text, const QString &href, bool entry)
{
    AnchorSnapshot a;
    a.innerText = text;
    a.href = href;
    a.innerHtml =
        entry ? QStringLiteral("<img src=\"/t/%1.png\" alt=\"\"><div class=\"c-clientmarkup\">"
                               "<span class=\"title\">%2</span></div>")
                    .arg(href.section('/', -1), text)
              : QStringLiteral("<span class=\"nav\">%1</span>").arg(text);
    a.outerHtml = QStringLiteral("<a href=\"%1\">%2</a>").arg(href, a.innerHtml);
    return a;
}

DocumentSnapshot page(int anchors, int entries)
{
    DocumentSnapshot d;
    d.present = true;
    d.url = QStringLiteral("http://127.0.0.1:8080/search?q=bench&rows=100&start=0");
    const int every = entries > 0 ? std::max(1, anchors / entries) : anchors + 1;
    int made = 0;
    for (int i = 0; i < anchors; ++i) {
        const bool entry = made < entries && i % every == 0;
        made += entry;
        d.anchors << anchor(QStringLiteral("Title of result entry number %1 on the page").arg(i),
                            QStringLiteral("http://127.0.0.1:8080/item/%1").arg(i), entry);
    }
    return d;
}

// Median of several runs, in milliseconds.
double medianMs(int runs, const std::function<void()> &prepare, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        prepare();
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void report(const char *what, double ms, double goalMs)
{
    std::printf("%-64s %9.3f ms   goal < %g ms   %s\n", what, ms, goalMs,
                ms < goalMs ? "ok" : "OVER");
}

// HarvestPage over a page of that many anchors and entries, into a fresh
// list each run.
void harvestPage(const char *what, int anchors, int entries, int runs, double goalMs)
{
    const DocumentSnapshot doc = page(anchors, entries);
    std::unique_ptr<HarvestList> list;
    const double ms = medianMs(
        runs, [&] { list = std::make_unique<HarvestList>(); },
        [&] { HarvestPage(doc, *list, QString()); });
    report(what, ms, goalMs);
}

// The snapshot script's answer for a results page of that many links, every
// one a result entry, as the engine serialises an HTML document ("counts":
// the links are cut from the root) or an XML one ("markup": each link sends
// its own markup).
QString snapshotAnswer(int anchors, bool html)
{
    const QString ns = html ? QString() : QStringLiteral(" xmlns=\"http://www.w3.org/1999/xhtml\"");
    QString root = QStringLiteral("<html%1><head><title>results</title><script>var a = '<a>';"
                                  "</script></head><body><ol>")
                       .arg(ns);
    QJsonArray links;
    for (int i = 0; i < anchors; ++i) {
        const QString title = QStringLiteral("Title of result entry number %1 on the page").arg(i);
        const QString outer =
            QStringLiteral("<a class=\"title\" href=\"/items/%1\"><div class=\"c-clientmarkup\">"
                           "<span>%2</span></div></a>")
                .arg(i)
                .arg(title);
        root += QStringLiteral("<li>") + outer + QStringLiteral("</li>\n");
        links << title << QStringLiteral("http://127.0.0.1:8080/items/%1").arg(i);
        if (html)
            links << QStringLiteral("2");
        else
            links << QString(outer).insert(2, ns);
    }
    root += QStringLiteral("</ol></body></html>");
    return QString::fromUtf8(QJsonDocument(QJsonArray{QStringLiteral("http://127.0.0.1:8080/"
                                                                     "search?q=bench"),
                                                      root, html ? "counts" : "markup", links,
                                                      QJsonArray(), QJsonArray()})
                                 .toJson(QJsonDocument::Compact));
}

void parseSnapshotBench(const char *what, int anchors, bool html, double goalMs)
{
    const QString json = snapshotAnswer(anchors, html);
    qsizetype found = 0;
    const double ms = medianMs(
        11, [] {},
        [&] {
            bool needsMarkup = false;
            const DocumentSnapshot doc = parseSnapshot(json, &needsMarkup);
            found = needsMarkup ? -1 : doc.anchors.size();
        });
    report(what, ms, goalMs);
    if (found != anchors)
        std::printf("  unexpected: %lld links\n", static_cast<long long>(found));
}

class NoPrompter final : public Prompter
{
public:
    void message(const QString &, Icon, const QString &) override {}
    Answer question(const QString &, Buttons, Icon, const QString &) override
    {
        return Answer::Yes;
    }
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

class NoChooser final : public SaveFolderChooser
{
public:
    void chooseSaveFolder(AppSettings &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("bench_harvest (median of runs)\n");

    parseSnapshotBench("snapshot: 100 links of an HTML page, cut from the root", 100, true, 2);
    parseSnapshotBench("snapshot: 50 000 links of an HTML page, cut from the root", 50000, true,
                       250);
    parseSnapshotBench("snapshot: 50 000 links of an XHTML page, markup per link", 50000, false,
                       250);

    harvestPage("HarvestPage: 100 entries among 1 000 anchors", 1000, 100, 51, 5);
    harvestPage("HarvestPage: 50 000 anchors, 100 entries", 50000, 100, 11, 250);
    harvestPage("HarvestPage: 50 000 anchors, every one an entry", 50000, 50000, 11, 250);

    {
        // The same page again: every entry is already listed, so this is the
        // walk over the anchors alone.
        const DocumentSnapshot doc = page(50000, 50000);
        HarvestList list;
        HarvestPage(doc, list, QString());
        const double ms = medianMs(
            11, [] {}, [&] { HarvestPage(doc, list, QString()); });
        report("HarvestPage: the same 50 000 entries again (all listed)", ms, 250);
    }

    // 50 000 harvested rows handed to the download list by "分析全部".
    HarvestList harvested;
    HarvestPage(page(50000, 50000), harvested, QString());
    AppSettings settings;
    settings.promptForSaveFolder = true;
    settings.saveFolder = QStringLiteral("/tmp/bench/");
    NoPrompter prompter;
    NoChooser chooser;
    DownloadList *downloads = nullptr;
    {
        const double ms = medianMs(
            5,
            [&] {
                delete downloads;
                downloads = new DownloadList;
                for (qint64 r = 0; r < harvested.count(); ++r)
                    harvested.setState(r, QString());
            },
            [&] {
                DownloadTransfer transfer(settings, [&]() -> DownloadList & { return *downloads; });
                HarvestAnalysis analysis(harvested, transfer, settings, chooser, prompter,
                                         SystemClock::instance());
                analysis.run(AnalysisKind::All);
                while (analysis.isWalking())
                    analysis.step();
            });
        report("analysis: 50 000 harvested rows into the download list", ms, 1000);
        if (downloads->count() != 50000)
            std::printf("  unexpected: %lld records\n", static_cast<long long>(downloads->count()));
        // The same as the program runs it: one row per turn of the event
        // loop, so that a click is served between any two rows.
        const double looped = medianMs(
            3,
            [&] {
                delete downloads;
                downloads = new DownloadList;
                for (qint64 r = 0; r < harvested.count(); ++r)
                    harvested.setState(r, QString());
            },
            [&] {
                DownloadTransfer transfer(settings, [&]() -> DownloadList & { return *downloads; });
                HarvestAnalysis analysis(harvested, transfer, settings, chooser, prompter,
                                         SystemClock::instance());
                QObject::connect(&analysis, &HarvestAnalysis::finished, &app,
                                 &QCoreApplication::quit);
                analysis.run(AnalysisKind::All);
                QCoreApplication::exec();
            });
        report("analysis: the same, one row per turn of the event loop", looped, 2000);
        if (downloads->count() != 50000)
            std::printf("  unexpected: %lld records\n", static_cast<long long>(downloads->count()));
    }

    // What the monitor tick counts every second over 50 000 records.
    for (qint64 r = 0; r < downloads->count(); r += 3)
        downloads->setState(r, r % 2 ? DownloadState::Finished : DownloadState::Failed);
    {
        volatile qint64 sink = 0;
        const double ms = medianMs(
            101, [] {},
            [&] {
                sink = sink + downloads->isListFinished();
                sink = sink + downloads->countErrorOrPageItems();
                sink = sink + downloads->statusCounts().finished;
            });
        report("monitor counts over 50 000 records (finished, errors, states)", ms, 5);
        const double all = medianMs(
            101, [] {},
            [&] {
                sink = sink + downloads->isListFinished();
                sink = sink + downloads->countErrorOrPageItems();
                sink = sink + downloads->statusCounts().finished;
                sink = sink + downloads->countNotDownloaded();
            });
        report("  the same plus the not-downloaded count", all, 5);
    }
    delete downloads;

    // The monitor tick itself over 50 000 records, with every option that
    // walks the list switched on: automatic start counts the records not yet
    // downloaded, the error stop counts failed and page records.
    {
        struct Quiet final : SoundPlayer {
            void playFile(const QString &) override {}
        } quiet;
        DownloadList list;
        for (int i = 0; i < 50000; ++i)
            list.append(QStringLiteral("http://127.0.0.1/items/%1.pdf").arg(i),
                        QStringLiteral("题名 %1").arg(i), QStringLiteral("pdf"),
                        QStringLiteral("/tmp/lumen-bench/"), QString());
        for (qint64 r = 0; r < 4; ++r)
            list.setState(r, DownloadState::Failed);
        DownloadEngine engine(list, SystemClock::instance(), quiet, prompter);
        engine.setTimersDriven(false);
        engine.setAutoStart(true);
        engine.setErrorStop(true);
        const double ms = medianMs(
            101, [] {}, [&] { engine.monitorTick(); });
        report("monitor tick over 50 000 records (auto start and error stop on)", ms, 5);
    }
    return 0;
}
