// The cache window driven by object name over a session on hand-made cache
// folders.

#include "support/files.h"
#include "tools/cache_entry_writer.h"
#include "tools/cache_tool_session.h"
#include "tools/cache_window.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace lumen;

class TestCacheWindowUi : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString cache(const QString &user) const
    {
        return m_dir.filePath(user + "/.local/share/lumenarc/browser/cache/Cache/Cache_Data");
    }

    template <typename T> static T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(name);
        if (!c)
            qFatal("no control %s", name);
        return c;
    }

    static void click(QWidget &w, const char *name)
    {
        QTest::mouseClick(child<QPushButton>(w, name), Qt::LeftButton);
    }

    static QStringList column(QTreeView *view, int column)
    {
        QStringList out;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            out << view->model()->index(r, column).data().toString();
        return out;
    }

private slots:
    void initTestCase()
    {
        for (const char *user : {"me", "lin"})
            QVERIFY(QDir().mkpath(cache(user) + "/index-dir"));
        const QString site = "http://127.0.0.1:8080";
        QVERIFY(test::cacheEntry(site + "/", QByteArray(2400, 'h')).writeTo(cache("me") + "/10_0"));
        QVERIFY(test::cacheEntry(site + "/search?q=demo", QByteArray(9800, 's'))
                    .writeTo(cache("me") + "/11_0"));
        QVERIFY(test::cacheEntry(site + "/items/20.pdf", QByteArray(100, 'p'),
                                 "HTTP/1.1 200 OK\nContent-Type: application/pdf")
                    .writeTo(cache("me") + "/12_0"));
        QVERIFY(test::cacheEntry(site + "/items/41.pdf", QByteArray(9, 'p'))
                    .writeTo(cache("me") + "/13_0"));
        QVERIFY(test::cacheEntry(site + "/cookie-policy.html", QByteArray(10, 'c'))
                    .writeTo(cache("me") + "/14_0"));
        QVERIFY(test::cacheEntry(site + "/about", QByteArray(1800, 'a'))
                    .writeTo(cache("lin") + "/20_0"));
        test::writeFile(cache("lin") + "/index-dir/the-real-index", "index");
        test::writeFile(cache("lin") + "/readme.txt", "kept");
    }

    // The window with both listings filled, sorted by size, one row chosen.
    // Saved as cache-window.png when LUMEN_SCREENSHOT_DIR names a folder.
    void picture()
    {
        CacheToolSession session(cache("me"), m_dir.filePath("me"),
                                 {m_dir.filePath("me"), m_dir.filePath("lin")});
        CacheWindow w(session);
        w.resize(1100, 600);
        w.show();
        click(w, "Command7");
        click(w, "Command1");
        auto *list = child<QTreeView>(w, "ListView1");
        const QHeaderView *header = list->header();
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
        QCOMPARE(column(list, 2), QStringList({"9", "10", "100", "2400", "9800"}));
        list->selectionModel()->select(list->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QImage image = w.grab().toImage();
        QVERIFY(!image.isNull());
        const QString folder = qEnvironmentVariable("LUMEN_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(image.save(folder + "/cache-window.png"));
    }

    void listsSortsDeletesAndCopies()
    {
        CacheToolSession session(cache("me"), m_dir.filePath("me"),
                                 {m_dir.filePath("me"), m_dir.filePath("lin")});
        CacheWindow w(session);
        w.show();
        QCOMPARE(w.windowTitle(), QString("IE浏览器Cookie 缓存和历史列表"));
        auto *list = child<QTreeView>(w, "ListView1");
        auto *count = child<QLabel>(w, "Label1");
        QCOMPARE(list->model()->rowCount(), 0); // nothing until asked

        click(w, "Command1");
        QCOMPARE(list->model()->rowCount(), 5);
        QCOMPARE(count->text(), QString("共有5 个文件"));

        // A click on the size header sorts numerically, descending first.
        const QHeaderView *header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
        QCOMPARE(column(list, 2), QStringList({"9800", "2400", "100", "10", "9"}));

        // Select the PDF and copy: the copy window is asked for its document.
        QSignalSpy copy(&session, &CacheToolSession::copyRequested);
        list->clearSelection();
        const int pdfRow = int(column(list, 0).indexOf("http://127.0.0.1:8080/items/20.pdf"));
        list->selectionModel()->select(list->model()->index(pdfRow, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        click(w, "Command6");
        QCOMPARE(copy.size(), 1);
        const auto sources = copy.at(0).at(0).value<QList<CopySource>>();
        QCOMPARE(sources.size(), 1);
        QCOMPARE(sources[0].name, QString("20.pdf"));

        // Delete the selected row: its entry and file go, the rest stay.
        click(w, "Command2");
        QVERIFY(!QFileInfo::exists(cache("me") + "/12_0"));
        QCOMPARE(list->model()->rowCount(), 4);
        QCOMPARE(count->text(), QString("共有4 个文件"));

        // Delete all: the cookie-named entry stays.
        click(w, "Command3");
        QCOMPARE(column(list, 0), QStringList{"http://127.0.0.1:8080/cookie-policy.html"});

        click(w, "Command7");
        QCOMPARE(child<QTreeView>(w, "ListView2")->model()->rowCount(), 2);
        QCOMPARE(column(child<QTreeView>(w, "ListView2"), 0), QStringList({"me", "lin"}));
        QCOMPARE(column(child<QTreeView>(w, "ListView3"), 0),
                 QStringList({cache("me") + "/index-dir", cache("lin") + "/index-dir"}));
        QCOMPARE(count->text(), QString("共有4 个文件"));
        click(w, "Command3");
        QCOMPARE(QDir(cache("lin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"readme.txt"});

        click(w, "Command4");
        QVERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestCacheWindowUi)
#include "test_cache_window_ui.moc"
