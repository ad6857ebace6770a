// Figures of the search window: the largest pause of the event loop while
// "加入全部到列表" walks three pages of the local repository site in the
// real web engine (a 10 ms timer notes every turn; the settle waits are
// passed by a fake clock, so only page loads take time), and the export of
// 50 000 harvested rows.
#include "engine/download_list.h"
#include "harvest/harvest_session.h"
#include "harvest/search_window.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_save_folder_chooser.h"
#include "support/fake_shell.h"
#include "support/test_site.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace lumen;
using namespace lumen::test;

int main(int argc, char **argv)
{
    initWebEngine(true);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    TestSite site;
    if (!dir.isValid() || !site.start()) {
        std::fprintf(stderr, "cannot start the local site\n");
        return 1;
    }
    qputenv("LUMENARC_REPOSITORY", site.baseUrl().toString().toUtf8());

    WebEngineProfile profile(dir.filePath("profile"));
    WebEngineBrowser browser(&profile);
    AppSettings settings;
    FakePrompter prompter;
    FakeSaveFolderChooser chooser;
    FakeClock clock;
    FakeShell shell;
    DownloadList downloads;
    SettingsStore store(dir.filePath("settings.ini"));
    store.write(setting::PromptForSaveFolder, QStringLiteral("0"));
    HarvestSession session(
        browser, settings, prompter, chooser, [&]() -> DownloadList & { return downloads; }, clock);
    SearchWindow window(session, browser, shell, store);
    window.show();

    // Open the first results page, then walk.
    bool loaded = false;
    const auto waitLoad = [&](const QUrl &url) {
        loaded = false;
        const auto c =
            QObject::connect(&browser, &Browser::documentComplete, [&] { loaded = true; });
        browser.navigate(url);
        const bool done = QTest::qWaitFor([&] { return loaded; }, 30000);
        QObject::disconnect(c);
        return done;
    };
    waitLoad(site.baseUrl());
    if (!waitLoad(site.url("/search?q=*&rows=100"))) {
        std::fprintf(stderr, "results page did not load\n");
        return 1;
    }

    // The pause between two turns of the event loop, noted by a 10 ms
    // timer; pauses that overlap a page load of the engine are kept apart.
    QElapsedTimer since;
    since.start();
    qint64 last = 0, largest = 0, largestOutsideLoads = 0;
    bool loading = false;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = since.elapsed();
        const qint64 gap = now - last - 10;
        last = now;
        largest = qMax(largest, gap);
        if (!loading && !browser.isBusy())
            largestOutsideLoads = qMax(largestOutsideLoads, gap);
    });
    bool done = false;
    bool settling = false;
    QObject::connect(&session.harvester(), &SearchHarvester::navigatingTo, [&] { loading = true; });
    QObject::connect(&browser, &Browser::documentComplete, [&] {
        settling = loading;
        loading = false;
    });
    QObject::connect(&session.harvester(), &SearchHarvester::addAllFinished, [&] { done = true; });
    QElapsedTimer walkTime;
    walkTime.start();
    last = since.elapsed();
    probe.start();
    window.findChild<QPushButton *>("Command4")->click();
    while (!done && walkTime.elapsed() < 120000) {
        QTest::qWait(20);
        if (settling) {
            settling = false;
            clock.advanceMs(SearchHarvester::SettleMs);
            QTimer::singleShot(0, &session.harvester(), &SearchHarvester::tick);
        }
    }
    probe.stop();
    std::printf("search window add-all over 3 pages: %lld rows, %d pages, %lld ms; largest "
                "event-loop pause %lld ms (%lld ms outside page loads)\n",
                session.list().count(), session.harvester().pagesWalked(), walkTime.elapsed(),
                largest, largestOutsideLoads);

    // Export of 50 000 rows, the file written whole.
    session.list().clear();
    for (int i = 0; i < 50000; ++i)
        session.list().add(QStringLiteral("第%1篇 Title of a harvested article").arg(i),
                           QStringLiteral("http://127.0.0.1/items/%1.pdf").arg(i),
                           QStringLiteral("http://127.0.0.1/search?q=x"), "pdf", QString(),
                           QStringLiteral("搜索"));
    QList<double> runs;
    for (int run = 0; run < 5; ++run) {
        prompter.texts.enqueue(dir.filePath(QStringLiteral("export%1.txt").arg(run)));
        QElapsedTimer t;
        t.start();
        session.exportList();
        runs << t.nsecsElapsed() / 1e6;
    }
    std::sort(runs.begin(), runs.end());
    std::printf("export of 50000 rows: median %.1f ms (best %.1f, worst %.1f)\n", runs.at(2),
                runs.first(), runs.last());
    return done ? 0 : 1;
}
