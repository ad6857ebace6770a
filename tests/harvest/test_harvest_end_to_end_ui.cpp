// The search session against the local repository site in the real web
// engine: page harvest, the add-all walk over several pages, its stop and its
// ends, the analysis commands, and a sign-in in the browser that the
// downloads then share. Waits are driven by a fake clock; only the page loads
// take real time.

#include "engine/download_list.h"
#include "harvest/harvest_session.h"
#include "harvest/shared_cookie_jar.h"
#include "harvest/web_engine_browser.h"
#include "harvest/web_engine_profile.h"
#include "settings/app_settings.h"
#include "support/engine_fixture.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_save_folder_chooser.h"
#include "support/test_site.h"
#include "testsite/item_behaviour.h"
#include "testsite/titles.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

using namespace lumen;
using namespace lumen::test;

namespace
{

// A search session whose browser is the real engine on a profile of its own.
struct Rig {
    WebEngineProfile profile;
    WebEngineBrowser browser{&profile};
    AppSettings settings;
    FakePrompter prompter;
    FakeSaveFolderChooser chooser;
    FakeClock clock;
    DownloadList downloads;
    HarvestSession session{
        browser, settings, prompter, chooser, [this]() -> DownloadList & { return downloads; },
        clock};

    explicit Rig(const QString &profileFolder) : profile(profileFolder) { browser.setSilent(true); }

    HarvestList &list() { return session.list(); }
    SearchHarvester &harvester() { return session.harvester(); }
    HarvestAnalysis &analysis() { return session.analysis(); }

    bool load(const QUrl &url)
    {
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.navigate(url);
        return complete.wait(30000);
    }

    bool harvestThisPage()
    {
        QSignalSpy harvested(&session.harvester(), &SearchHarvester::pageHarvested);
        session.harvester().harvestThisPage();
        return harvested.wait(30000);
    }

    // Runs an add-all walk to its end. The page loads are real; each settle
    // wait is passed by moving the clock once the next page has loaded, or
    // handed to onSettle instead (which may stop the walk).
    bool walk(const std::function<void()> &onSettle = {})
    {
        bool navigated = false;
        bool settling = false;
        const auto a = QObject::connect(&harvester(), &SearchHarvester::navigatingTo,
                                        [&] { navigated = true; });
        // The harvester hears a completion before this does and has moved
        // into its settle wait by then; a failed load takes it there too.
        const auto b = QObject::connect(&browser, &Browser::documentComplete, [&] {
            settling = navigated;
            navigated = false;
        });
        const auto c = QObject::connect(&browser, &Browser::loadFailed, [&] {
            settling = navigated;
            navigated = false;
        });
        QSignalSpy finished(&harvester(), &SearchHarvester::addAllFinished);
        harvester().startAddAll();
        QDeadlineTimer deadline(120000);
        while (finished.isEmpty() && !deadline.hasExpired()) {
            if (settling) {
                settling = false;
                if (onSettle) {
                    onSettle();
                } else {
                    clock.advanceMs(SearchHarvester::SettleMs);
                    harvester().tick();
                }
            }
            QTest::qWait(20);
        }
        QObject::disconnect(a);
        QObject::disconnect(b);
        QObject::disconnect(c);
        return !finished.isEmpty();
    }

    // Item ids of the rows, read from their full-text links.
    QList<int> ids()
    {
        static const QRegularExpression re(QStringLiteral("/items/(\\d+)\\.pdf$"));
        QList<int> out;
        for (const HarvestItem &it : list().items())
            out << re.match(it.fullTextLink).captured(1).toInt();
        return out;
    }
};

QList<int> range(int first, int last)
{
    QList<int> out;
    for (int i = first; i <= last; ++i)
        out << i;
    return out;
}

} // namespace

class TestHarvestEndToEndUi : public QObject
{
    Q_OBJECT

    TestSite m_site;
    QTemporaryDir m_dir;
    int m_profiles = 0;

    std::unique_ptr<Rig> makeRig()
    {
        return std::make_unique<Rig>(m_dir.filePath(QStringLiteral("profile%1").arg(++m_profiles)));
    }

    QUrl search(const QString &query) const
    {
        return m_site.url(QStringLiteral("/search?") + query);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start());
        qputenv("LUMENARC_REPOSITORY", m_site.baseUrl().toString().toUtf8());
    }

    void cleanupTestCase() { qunsetenv("LUMENARC_REPOSITORY"); }

    // "加入本页到列表" on a rendered results page: one row per result entry,
    // none for the author, thumbnail, citation, paging or help links.
    void pageHarvest()
    {
        auto rig = makeRig();
        const QUrl page = search("q=demo&rows=20");
        QVERIFY(rig->load(page));
        QVERIFY(rig->harvestThisPage());
        const QList<int> ids = rig->ids();
        QCOMPARE(ids.size(), 20);
        for (int id : ids)
            QVERIFY2(testsite::behaviourOf(id) != testsite::ItemBehaviour::Stall,
                     qPrintable(QString::number(id)));
        QCOMPARE(ids.first(), 1);
        for (const HarvestItem &it : rig->list().items()) {
            const int id = rig->ids().at(rig->list().rowOfId(it.id));
            QCOMPARE(it.fullTextLink,
                     m_site.url(QStringLiteral("/items/%1.pdf").arg(id)).toString());
            QCOMPARE(it.pageLink, page.toString());
            QCOMPARE(it.fileType, HarvestText::FileTypePdf);
            QCOMPARE(it.source, HarvestText::SourceSearch);
            QCOMPARE(it.state, QString());
            QVERIFY(!it.title.isEmpty());
            QCOMPARE(it.title, it.title.trimmed());
        }
        // A plain title reads as the site wrote it.
        QCOMPARE(rig->list().at(0).title, testsite::titleOf(1));

        // Harvesting the same page again adds nothing.
        QVERIFY(rig->harvestThisPage());
        QCOMPARE(rig->list().count(), 20);
    }

    // The walk over every page of a search of 237 items in pages of 100.
    void addAllOverSeveralPages()
    {
        auto rig = makeRig();
        QVERIFY(rig->load(search("q=*&rows=100")));
        QSignalSpy navigating(&rig->harvester(), &SearchHarvester::navigatingTo);
        QVERIFY(rig->walk());
        QCOMPARE(rig->ids(), range(1, testsite::DefaultItemCount));
        QCOMPARE(rig->harvester().pagesWalked(), 3);
        QCOMPARE(navigating.size(), 2);
        QCOMPARE(navigating.at(0).at(0).toUrl(), search("q=*&rows=100&start=100"));
        QCOMPARE(navigating.at(1).at(0).toUrl(), search("q=*&rows=100&start=200"));
        QVERIFY(!rig->harvester().isAddAllRunning());
        QCOMPARE(rig->harvester().addAllCaption(), SearchHarvester::AddAllCaption);
        // Each row remembers the page it came from.
        QCOMPARE(rig->list().at(150).pageLink, search("q=*&rows=100&start=100").toString());
    }

    // The stop button during the settle wait ends the walk at once with a
    // last harvest of the page on show; no time has to pass.
    void stopDuringSettleWait()
    {
        auto rig = makeRig();
        QVERIFY(rig->load(search("q=*&rows=100")));
        QSignalSpy navigating(&rig->harvester(), &SearchHarvester::navigatingTo);
        int settles = 0;
        QVERIFY(rig->walk([&] {
            ++settles;
            QVERIFY(rig->harvester().isNextPageRunning());
            rig->harvester().addAllClicked(); // the button reads "停止加入全部" now
        }));
        QCOMPARE(settles, 1);
        QCOMPARE(navigating.size(), 1);
        QCOMPARE(rig->clock.monotonicMs(), qint64(0));
        QCOMPARE(rig->ids(), range(1, 200));
        QCOMPARE(rig->browser.currentUrl(), search("q=*&rows=100&start=100"));
        QVERIFY(!rig->harvester().isAddAllRunning());
    }

    // A server error page ends the walk; the rows already harvested stay.
    void serverErrorEndsTheWalk()
    {
        auto rig = makeRig();
        QVERIFY(rig->load(search("q=demo&rows=100")));
        QVERIFY(rig->harvestThisPage());
        const qint64 before = rig->list().count();
        QVERIFY(before > 0);

        QVERIFY(rig->load(search("q=servererror")));
        QSignalSpy navigating(&rig->harvester(), &SearchHarvester::navigatingTo);
        QSignalSpy finished(&rig->harvester(), &SearchHarvester::addAllFinished);
        QVERIFY(rig->walk());
        QCOMPARE(navigating.size(), 0);
        QCOMPARE(finished.at(0).at(0).toInt(), 1);
        QCOMPARE(rig->list().count(), before);
    }

    // The site goes away while the walk loads its next page: the walk ends
    // instead of waiting or asking again, and keeps what it had.
    void siteGoneMidWalk()
    {
        TestSite site;
        QVERIFY(site.start());
        qputenv("LUMENARC_REPOSITORY", site.baseUrl().toString().toUtf8());
        auto rig = makeRig();
        QVERIFY(rig->load(site.url("/search?q=*&rows=100")));
        QObject::connect(
            &rig->harvester(), &SearchHarvester::navigatingTo, this, [&site] { site.stop(); },
            Qt::SingleShotConnection);
        const bool ended = rig->walk();
        qputenv("LUMENARC_REPOSITORY", m_site.baseUrl().toString().toUtf8());
        QVERIFY(ended);
        QCOMPARE(rig->ids(), range(1, 100));
    }

    // The four analysis commands on a harvested page, each to its end and
    // stopped part-way. Rows 1-10 failed an earlier analysis, rows 11-20
    // succeeded; the selection is rows 6-15.
    void analysis_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("stopAfter"); // rows handed on before the stop; -1 none
        QTest::addColumn<int>("handedOn");
        QTest::newRow("unanalysed") << int(AnalysisKind::Unanalysed) << -1 << 80;
        QTest::newRow("unanalysed, stopped") << int(AnalysisKind::Unanalysed) << 30 << 30;
        QTest::newRow("failed") << int(AnalysisKind::Failed) << -1 << 10;
        QTest::newRow("failed, stopped") << int(AnalysisKind::Failed) << 4 << 4;
        QTest::newRow("selected") << int(AnalysisKind::Selected) << -1 << 10;
        QTest::newRow("selected, stopped") << int(AnalysisKind::Selected) << 7 << 7;
        QTest::newRow("all") << int(AnalysisKind::All) << -1 << 100;
        QTest::newRow("all, stopped") << int(AnalysisKind::All) << 55 << 55;
    }

    void analysis()
    {
        QFETCH(int, kind);
        QFETCH(int, stopAfter);
        QFETCH(int, handedOn);
        auto rig = makeRig();
        const QUrl page = search("q=*&rows=100");
        QVERIFY(rig->load(page));
        QVERIFY(rig->harvestThisPage());
        QCOMPARE(rig->list().count(), 100);
        for (int row = 0; row < 10; ++row)
            rig->list().setState(row, HarvestText::Failed);
        for (int row = 10; row < 20; ++row)
            rig->list().setState(row, HarvestText::Succeeded);
        const QList<quint64> selected = rig->list().idsOfRows(range(5, 14));

        int handed = 0;
        QObject::connect(&rig->analysis(), &HarvestAnalysis::rowHandedOn, &rig->analysis(),
                         [&](quint64, bool ok) {
                             QVERIFY(ok);
                             if (++handed == stopAfter)
                                 rig->analysis().stop();
                         });
        QSignalSpy finished(&rig->analysis(), &HarvestAnalysis::finished);
        rig->analysis().run(AnalysisKind(kind), selected);
        QVERIFY(!rig->analysis().isIdle());
        QVERIFY(finished.wait(30000));
        QVERIFY(rig->analysis().isIdle());
        QCOMPARE(finished.at(0).at(1).toLongLong(), qint64(handedOn));
        QCOMPARE(handed, handedOn);

        // One waiting record per row handed on, named by its title, into the
        // chosen folder, with the results page as referer.
        QCOMPARE(rig->downloads.items().size(), handedOn);
        for (const DownloadItem &rec : rig->downloads.items()) {
            const qint64 row = rig->list().rowOfKey(rec.url);
            QVERIFY(row >= 0);
            const HarvestItem &it = rig->list().at(row);
            QCOMPARE(it.state, HarvestText::Succeeded);
            QCOMPARE(rec.state, DownloadState::Waiting);
            QCOMPARE(rec.folder, rig->chooser.folder);
            QCOMPARE(rec.referer, page.toString());
            QCOMPARE(rec.fileType, QStringLiteral("pdf"));
            QVERIFY(!rec.name.isEmpty());
        }
        QCOMPARE(rig->chooser.asked, 1);
    }

    // A sign-in made in the browser reaches the download engine: the
    // login-gated full text comes as a PDF, by either download method.
    void signInInBrowserUnlocksDownloads_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("one connection") << 1;
        QTest::newRow("several connections") << 2;
    }

    void signInInBrowserUnlocksDownloads()
    {
        QFETCH(int, method);
        auto rig = makeRig();
        const int gated = testsite::firstItemWith(testsite::ItemBehaviour::LoginGated);
        const QString fullText = m_site.url(QStringLiteral("/items/%1.pdf").arg(gated)).toString();

        auto download = [&](const QString &name) {
            EngineFixture f;
            f.engine->setDownloadMethod(downloadMethodFromNumber(method));
            for (QNetworkAccessManager *manager : f.engine->networkManagers())
                rig->profile.cookieJar()->attachTo(manager);
            const quint64 id =
                f.add(fullText, name, "pdf", m_site.url("/search?q=demo").toString());
            f.engine->startDownloading();
            f.tickAfter();
            QDeadlineTimer deadline(30000);
            while (f.state(id) != DownloadState::Finished && f.state(id) != DownloadState::Failed &&
                   !deadline.hasExpired())
                QTest::qWait(20);
            return std::make_pair(f.rec(id).fileType, f.readFile(name + "." + f.rec(id).fileType));
        };

        // Not signed in: the site answers with its login page.
        const auto before = download("gated");
        QCOMPARE(before.first, QStringLiteral("htm"));
        QVERIFY(before.second.contains("<form"));

        QVERIFY(rig->load(m_site.url("/login")));
        int submit = -1;
        QSignalSpy read(&rig->browser, &Browser::documentComplete);
        std::optional<DocumentSnapshot> form;
        rig->browser.snapshot([&form](const DocumentSnapshot &d) { form = d; });
        QTRY_VERIFY(form.has_value());
        for (const InputSnapshot &in : form->inputs) {
            if (in.name == "userid")
                rig->browser.setInputValue(in.index, "reader");
            else if (in.name == "password")
                rig->browser.setInputValue(in.index, QString::fromLatin1(testsite::LoginPassword));
            else if (in.type == "submit")
                submit = in.index;
        }
        QVERIFY(submit >= 0);
        rig->browser.clickInput(submit);
        QVERIFY(read.wait(30000));
        QTRY_VERIFY(!rig->profile.cookieJar()->cookiesForUrl(QUrl(fullText)).isEmpty());

        const auto after = download("gated");
        QCOMPARE(after.first, QStringLiteral("pdf"));
        QVERIFY2(after.second.startsWith("%PDF"), after.second.left(200).constData());
    }
};

int main(int argc, char **argv)
{
    initWebEngine(true);
    QApplication app(argc, argv);
    TestHarvestEndToEndUi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_harvest_end_to_end_ui.moc"
