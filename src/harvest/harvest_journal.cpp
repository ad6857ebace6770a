#include "harvest/harvest_journal.h"

namespace lumen
{

namespace
{

const QStringList Columns = {QStringLiteral("title"),    QStringLiteral("file_type"),
                             QStringLiteral("state"),    QStringLiteral("folder"),
                             QStringLiteral("source"),   QStringLiteral("full_text_link"),
                             QStringLiteral("page_link")};

} // namespace

HarvestJournal::HarvestJournal(HarvestList &list, JournalDatabase &database, QObject *parent)
    : ModelJournal(list, database, QStringLiteral("entries"), Columns, parent)
{
}

HarvestJournal::~HarvestJournal()
{
    flush();
}

QStringList HarvestJournal::schema()
{
    return {
        QStringLiteral("CREATE TABLE entries (id INTEGER PRIMARY KEY, position INTEGER NOT NULL, "
                       "title TEXT, file_type TEXT, state TEXT, folder TEXT, source TEXT, "
                       "full_text_link TEXT NOT NULL, page_link TEXT)")};
}

QVariantList HarvestJournal::valuesAt(qint64 row) const
{
    const HarvestItem &it = m_list.at(row);
    return {it.title, it.fileType, it.state, it.folder, it.source, it.fullTextLink, it.pageLink};
}

QList<HarvestItem> HarvestJournal::storedEntries() const
{
    QList<HarvestItem> out;
    for (const QVariantList &v : storedRows()) {
        HarvestItem it;
        it.title = v.at(0).toString();
        it.fileType = v.at(1).toString();
        it.state = v.at(2).toString();
        it.folder = v.at(3).toString();
        it.source = v.at(4).toString();
        it.fullTextLink = v.at(5).toString();
        it.pageLink = v.at(6).toString();
        out.append(std::move(it));
    }
    return out;
}

bool HarvestJournal::hasUnfinishedEntries() const
{
    return anyStored(QStringLiteral("state IS NULL OR state <> '%1'").arg(HarvestText::Succeeded));
}

qint64 HarvestJournal::restore()
{
    qint64 restored = 0;
    for (const HarvestItem &entry : storedEntries()) {
        if (entry.fullTextLink.isEmpty() ||
            !m_list.add(entry.title, entry.fullTextLink, entry.pageLink, entry.fileType,
                        entry.folder, entry.source))
            continue;
        if (!entry.state.isEmpty())
            m_list.setState(m_list.count() - 1, entry.state);
        ++restored;
    }
    markWhole();
    flush();
    return restored;
}

} // namespace lumen
