// The cache tool's listings and deletions over cache folders of hand-made
// entries under temporary home folders.

#include "support/fake_prompter.h"
#include "support/files.h"
#include "tools/cache_entry_writer.h"
#include "tools/cache_tool_session.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lumen;

namespace
{
const QString Rel = ".local/share/lumenarc/browser/cache/Cache/Cache_Data";
}

class TestCacheToolSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString home(const QString &user) const { return m_dir->filePath(user); }
    QString cache(const QString &user) const { return home(user) + "/" + Rel; }

    std::unique_ptr<CacheToolSession> session() const
    {
        return std::make_unique<CacheToolSession>(cache("me"), home("me"),
                                                  QStringList{home("me"), home("other")});
    }

    void entry(const QString &user, const QString &file, const QString &url, const QByteArray &body,
               const QByteArray &head = "HTTP/1.1 200 OK")
    {
        QVERIFY(test::cacheEntry(url, body, head).writeTo(cache(user) + "/" + file));
    }

    static QStringList column(const CacheRowModel *model, int column)
    {
        QStringList out;
        for (int r = 0; r < model->rowCount(); ++r)
            out << model->index(r, column).data().toString();
        return out;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(cache("me") + "/index-dir"));
        QVERIFY(QDir().mkpath(cache("other") + "/index-dir/deeper"));
    }

    void listsCompleteEntriesOfMyCache()
    {
        entry("me", "a_0", "http://h/a/report.PDF?x=1", "123456789");
        entry("me", "b_0", "http://h/page", "<html></html>");
        entry("me", "c_0", "http://h/gone.css", "x", "HTTP/1.1 404 Not Found");
        test::writeFile(cache("me") + "/d_0", "half an entry");
        auto s = session();
        QSignalSpy kind(s.get(), &CacheToolSession::listingKindChanged);
        s->listMyCache();
        const CacheRowModel *m = s->entries();
        QCOMPARE(column(m, 0), QStringList({"http://h/a/report.PDF?x=1", "http://h/page"}));
        QCOMPARE(column(m, 1), QStringList({"PDF", ""}));
        QCOMPARE(column(m, 2), QStringList({"9", "13"}));
        QCOMPARE(column(m, 3), QStringList({cache("me") + "/a_0", cache("me") + "/b_0"}));
        QCOMPARE(s->countLine(), QString("共有2 个文件"));
        QCOMPARE(s->listingKind(), QString("我的缓存"));
        QCOMPARE(kind.size(), 1);
        QCOMPARE(m->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QString("SIZE(Byte)"));
    }

    void unreadableCacheSaysSo()
    {
        CacheToolSession s(m_dir->filePath("nowhere"), home("me"), {home("me")});
        s.listMyCache();
        QCOMPARE(s.countLine(), QString("出错!!!共有0 个文件"));
        QCOMPARE(s.entries()->rowCount(), 0);
    }

    // With three rows of which the last is selected, exactly the last row's
    // entry goes; cookie-named entries survive either button.
    void deletionTakesTheRowsAndSparesCookies()
    {
        entry("me", "a_0", "http://h/one.pdf", "1");
        entry("me", "b_0", "http://h/Cookie/settings", "2");
        entry("me", "c_0", "http://h/three.pdf", "3");
        test::writeFile(cache("me") + "/c_1", "companion");
        auto s = session();
        s->listMyCache();
        QCOMPARE(s->entries()->rowCount(), 3);
        s->deleteRows({2});
        QCOMPARE(column(s->entries(), 0),
                 QStringList({"http://h/one.pdf", "http://h/Cookie/settings"}));
        QVERIFY(!QFileInfo::exists(cache("me") + "/c_0"));
        QVERIFY(!QFileInfo::exists(cache("me") + "/c_1"));

        s->deleteRows({1});
        QCOMPARE(s->entries()->rowCount(), 2);
        s->deleteAll();
        QCOMPARE(column(s->entries(), 0), QStringList{"http://h/Cookie/settings"});
        QCOMPARE(s->countLine(), QString("共有1 个文件"));
    }

    // Every user's cache files: .txt files stay, files without extension
    // go, cookie-named entries stay, emptied folders go.
    void allUsersListingAndDeletion()
    {
        entry("me", "a_0", "http://h/a.pdf", "aaaa");
        entry("other", "k_0", "http://h/cookie.js", "k");
        test::writeFile(cache("other") + "/index-dir/deeper/the-real-index", "idx");
        test::writeFile(cache("other") + "/Notes.TXT", "keep");
        test::writeFile(cache("other") + "/data", "no extension");
        QVERIFY(QDir().mkpath(home("third")));
        auto s = session();
        s->listAllUsers();
        QCOMPARE(s->listingKind(), QString("所有缓存"));
        QCOMPARE(s->userFolders()->rows(),
                 QList<QStringList>({{"me", cache("me")}, {"other", cache("other")}}));
        QCOMPARE(s->cacheFolders()->rows(),
                 QList<QStringList>({{cache("me") + "/index-dir"},
                                     {cache("other") + "/index-dir"},
                                     {cache("other") + "/index-dir/deeper"}}));
        QCOMPARE(s->entries()->rowCount(), 5);
        const QStringList users = column(s->entries(), 0);
        QCOMPARE(QSet<QString>(users.cbegin(), users.cend()),
                 QSet<QString>({"用户:me", "用户:other"}));
        QCOMPARE(s->countLine(), QString("共有5 个文件"));

        s->deleteAll();
        QCOMPARE(QDir(cache("me")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{});
        QCOMPARE(QDir(cache("other")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList({"k_0", "Notes.TXT"}));
        QCOMPARE(s->entries()->rowCount(), 2);
        QCOMPARE(s->cacheFolders()->rowCount(), 0);
    }

    // Sizes order as numbers, the first click descending.
    void sizesSortAsNumbers()
    {
        entry("me", "a_0", "http://h/ten", QByteArray(10, 'x'));
        entry("me", "b_0", "http://h/hundred", QByteArray(100, 'x'));
        entry("me", "c_0", "http://h/nine", QByteArray(9, 'x'));
        auto s = session();
        s->listMyCache();
        s->sortByColumn(CacheRowModel::SizeColumn);
        QCOMPARE(s->sortOrder(), Qt::DescendingOrder);
        QCOMPARE(column(s->entries(), 2), QStringList({"100", "10", "9"}));
        s->sortByColumn(CacheRowModel::SizeColumn);
        QCOMPARE(column(s->entries(), 2), QStringList({"9", "10", "100"}));
        s->sortByColumn(CacheRowModel::UrlColumn);
        QCOMPARE(column(s->entries(), 0),
                 QStringList({"http://h/ten", "http://h/nine", "http://h/hundred"}));
    }

    // The copy window gets documents: entries by their URLs' names, entry
    // files of other users as entries, other files as they are.
    void copyHandsOverDocuments()
    {
        entry("me", "a_0", "http://h/x/first.pdf", "%PDF-first");
        entry("other", "b_0", "http://h/y/second.pdf", "%PDF-second");
        test::writeFile(cache("other") + "/plain.bin", "plain");
        auto s = session();
        s->listMyCache();
        QSignalSpy copy(s.get(), &CacheToolSession::copyRequested);
        s->copyRows({0});
        QCOMPARE(copy.size(), 1);
        QList<CopySource> sources = copy.at(0).at(0).value<QList<CopySource>>();
        QCOMPARE(sources.size(), 1);
        QCOMPARE(sources[0].name, QString("first.pdf"));
        QVERIFY(sources[0].cacheEntry);

        s->listAllUsers();
        QList<int> all;
        for (int i = 0; i < s->entries()->rowCount(); ++i)
            all << i;
        sources = s->copySources(all);
        QStringList names;
        for (const CopySource &c : sources)
            names << c.name;
        names.sort();
        QCOMPARE(names, QStringList({"first.pdf", "plain.bin", "second.pdf"}));
    }

    void clearingReportsWhenAsked()
    {
        entry("me", "a_0", "http://h/a.pdf", "a");
        test::FakePrompter prompter;
        clearBrowserCache(cache("me"), home("me"), {home("me")}, prompter, false);
        QVERIFY(prompter.shown.isEmpty());
        QVERIFY(!QFileInfo::exists(cache("me") + "/a_0"));
        clearBrowserCache(cache("me"), home("me"), {home("me")}, prompter, true);
        QCOMPARE(prompter.messages(), QStringList{"IE缓存清空完毕！"});
        QCOMPARE(prompter.shown[0].icon, Prompter::Icon::Information);
    }
};

QTEST_GUILESS_MAIN(TestCacheToolSession)
#include "test_cache_tool_session.moc"
