#pragma once

#include "engine/download_list.h"
#include "harvest/harvest_session.h"
#include "settings/app_settings.h"
#include "support/fake_browser.h"
#include "support/fake_clock.h"
#include "support/fake_prompter.h"
#include "support/fake_save_folder_chooser.h"

namespace lumen::test
{

// A search session over fakes at every seam and a real download list.
struct HarvestRig {
    FakeBrowser browser;
    AppSettings settings;
    FakePrompter prompter;
    FakeSaveFolderChooser chooser;
    FakeClock clock;
    DownloadList downloads;
    int downloadListAsked = 0;
    HarvestSession session{browser,
                           settings,
                           prompter,
                           chooser,
                           [this]() -> DownloadList & {
                               ++downloadListAsked;
                               return downloads;
                           },
                           clock};

    HarvestList &list() { return session.list(); }
    SearchHarvester &harvester() { return session.harvester(); }
    HarvestAnalysis &analysis() { return session.analysis(); }

    // Adds a row as the results parser would, with the given state.
    void addRow(const QString &title, const QString &state = QString(),
                const QString &source = HarvestText::SourceSearch)
    {
        const QString link = QStringLiteral("http://127.0.0.1/item/") + title + ".pdf";
        list().add(title, link, QStringLiteral("http://127.0.0.1/search?q=x"),
                   HarvestText::FileTypePdf, QString(), source);
        list().setState(list().rowOfKey(link), state);
    }
    QStringList titles()
    {
        QStringList out;
        for (const HarvestItem &it : list().items())
            out << it.title;
        return out;
    }
    QStringList states()
    {
        QStringList out;
        for (const HarvestItem &it : list().items())
            out << it.state;
        return out;
    }
    // Lets the analysis walk to its end, as the event loop would.
    void finishAnalysis()
    {
        for (int guard = 0; analysis().isWalking() && guard < 1000000; ++guard)
            analysis().step();
    }
};

} // namespace lumen::test
