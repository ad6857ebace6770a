#include "support/harvest_rig.h"

#include <QSignalSpy>
#include <QTest>

using namespace lumen;
using namespace lumen::test;

class TestTransfer : public QObject
{
    Q_OBJECT
private slots:
    void removeLineBreaks_data();
    void removeLineBreaks();
    void fileNameFromUrl_data();
    void fileNameFromUrl();
    void naming_data();
    void naming();
    void recordFields();
    void linkAlreadyListed();
    void otherSchemesRefused_data();
    void otherSchemesRefused();
    void showDownloadWindow();
    void presetChooser();
};

void TestTransfer::removeLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    QTest::newRow("joined without a space") << "Deep sea\r\nvents"
                                            << "Deep seavents";
    QTest::newRow("lone breaks") << "a\nb\rc"
                                 << "abc";
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b"
                         << "ab";
    QTest::newRow("tabs stay") << "a\tb"
                               << "a\tb";
    QTest::newRow("nothing to do") << "plain"
                                   << "plain";
}

void TestTransfer::removeLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    QCOMPARE(RemoveLineBreaks(text), result);
}

void TestTransfer::fileNameFromUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("dropExtension");
    QTest::addColumn<QString>("result");
    QTest::newRow("item link") << "http://h/item/abc123.pdf" << true << "abc123";
    QTest::newRow("keep extension") << "http://h/item/abc123.pdf" << false << "abc123.pdf";
    QTest::newRow("last dot only") << "http://h/a/x.tar.gz" << true << "x.tar";
    QTest::newRow("backslashes count") << "c:\\dir\\file.txt" << true << "file";
    QTest::newRow("trailing slash") << "http://h/item/.pdf" << true << "";
    QTest::newRow("no separator") << "name.pdf" << true << "name";
    QTest::newRow("no dot") << "http://h/item/abc" << true << "abc";
    QTest::newRow("blanks trimmed") << "http://h/ a b .pdf" << true << "a b";
}

void TestTransfer::fileNameFromUrl()
{
    QFETCH(QString, url);
    QFETCH(bool, dropExtension);
    QFETCH(QString, result);
    QCOMPARE(FileNameFromUrl(url, dropExtension), result);
}

void TestTransfer::naming_data()
{
    QTest::addColumn<bool>("sourceName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("name");

    QTest::newRow("title") << false << "  Deep sea vents "
                           << "http://h/item/abc123.pdf"
                           << "Deep sea vents";
    QTest::newRow("title over two lines") << false << "Deep sea\r\nvents"
                                          << "http://h/i/1.pdf"
                                          << "Deep seavents";
    QTest::newRow("title cleaned") << false << "a/b:c*?d"
                                   << "http://h/i/2.pdf"
                                   << "abcd";
    QTest::newRow("source name") << true << "Deep sea vents"
                                 << "http://h/item/abc123.pdf"
                                 << "abc123";
    QTest::newRow("title of forbidden characters: the link's name") << false << R"(\/:*?"<>|)"
                                                                    << "http://h/item/abc123.pdf"
                                                                    << "abc123";
    QTest::newRow("empty source name: the title") << true << "Vents"
                                                  << "http://h/item/.pdf"
                                                  << "Vents";
    QTest::newRow("both empty") << true << "???"
                                << "http://h/item/.pdf"
                                << "";
    // What a hostile site may put in a title: terminal escapes, a bell, C1
    // controls, a right-to-left override that disguises the extension.
    QTest::newRow("controls and direction overrides")
        << false << QStringLiteral("\x1b[2JDeep\x07 sea\u0085\u009b vents\u202Efdp.exe\u2066")
        << "http://h/i/4.pdf"
        << "[2JDeep sea ventsfdp.exe";
    // A title of 10 000 characters is cut by the naming rule, never passed whole.
    QTest::newRow("long title cut by the naming rule")
        << false << QString(10000, QChar(u'长')) << "http://h/i/3.pdf"
        << SanitizeFileName(QString(10000, QChar(u'长')));
}

void TestTransfer::naming()
{
    QFETCH(bool, sourceName);
    QFETCH(QString, title);
    QFETCH(QString, link);
    QFETCH(QString, name);
    HarvestRig rig;
    rig.settings.useSourceFileName = sourceName;
    QVERIFY(rig.session.transfer().addToDownloadList(link, title, "pdf", "/f/", "http://h/s"));
    QCOMPARE(rig.downloads.count(), qint64(1));
    QCOMPARE(rig.downloads.at(0).name, name);
    QVERIFY(name.size() < 250);
}

void TestTransfer::recordFields()
{
    HarvestRig rig;
    rig.settings.saveFolder = "/current/";
    DownloadTransfer &t = rig.session.transfer();
    QVERIFY(t.addToDownloadList("http://h/a.pdf", "A", "pdf", "/row/", "http://h/search?q=a"));
    QVERIFY(t.addToDownloadList("http://h/b.pdf", "A", "pdf", "", "http://h/search?q=b"));
    QCOMPARE(rig.downloads.count(), qint64(2));
    const DownloadItem &a = rig.downloads.at(0);
    QCOMPARE(a.url, QString("http://h/a.pdf"));
    QCOMPARE(a.name, QString("A"));
    QCOMPARE(a.fileType, QString("pdf"));
    QCOMPARE(a.folder, QString("/row/"));
    QCOMPARE(a.referer, QString("http://h/search?q=a"));
    QCOMPARE(a.state, DownloadState::Waiting);
    QVERIFY(sizeColumnText(a).isEmpty() && receivedColumnText(a).isEmpty() &&
            percentColumnText(a).isEmpty());
    // No folder with the row: the save folder at the moment of the transfer.
    QCOMPARE(rig.downloads.at(1).folder, QString("/current/"));
    // Two entries of one title get one name; the same-name rule decides later.
    QCOMPARE(rig.downloads.at(1).name, QString("A"));
}

void TestTransfer::linkAlreadyListed()
{
    HarvestRig rig;
    DownloadTransfer &t = rig.session.transfer();
    QVERIFY(t.addToDownloadList("http://h/a.pdf", "First", "pdf", "/1/", "r1"));
    rig.downloads.setState(0, DownloadState::Finished);
    QVERIFY(t.addToDownloadList("http://h/a.pdf", "Second", "pdf", "/2/", "r2"));
    QCOMPARE(rig.downloads.count(), qint64(1));
    QCOMPARE(rig.downloads.at(0).name, QString("First"));
    QCOMPARE(rig.downloads.at(0).folder, QString("/1/"));
    QCOMPARE(rig.downloads.at(0).state, DownloadState::Finished);
}

void TestTransfer::otherSchemesRefused_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("taken");
    QTest::newRow("https") << "https://h/a.pdf" << true;
    QTest::newRow("HTTP in capitals") << "HTTP://h/a.pdf" << true;
    QTest::newRow("file") << "file:///etc/passwd.pdf" << false;
    QTest::newRow("ftp") << "ftp://h/a.pdf" << false;
    QTest::newRow("script") << "javascript:alert(1).pdf" << false;
    QTest::newRow("relative") << "/item/a.pdf" << false;
}

void TestTransfer::otherSchemesRefused()
{
    QFETCH(QString, link);
    QFETCH(bool, taken);
    HarvestRig rig;
    QCOMPARE(rig.session.transfer().addToDownloadList(link, "T", "pdf", "/f/", "r"), taken);
    QCOMPARE(rig.downloads.count(), qint64(taken ? 1 : 0));
}

void TestTransfer::showDownloadWindow()
{
    HarvestRig rig;
    QSignalSpy show(&rig.session.transfer(), &DownloadTransfer::downloadWindowShowRequested);
    rig.session.transfer().showDownloadWindow(false);
    QCOMPARE(show.count(), 1);
    QCOMPARE(show.at(0).at(0).toBool(), false);
    // Only handing over loads the download window's list.
    QCOMPARE(rig.downloadListAsked, 0);
}

void TestTransfer::presetChooser()
{
    AppSettings settings;
    settings.saveFolder = "/old/";
    settings.saveFolderDialogCancelled = true;
    PresetSaveFolderChooser keep(QString(), true);
    keep.chooseSaveFolder(settings);
    QCOMPARE(settings.saveFolder, QString("/old/"));
    QVERIFY(settings.useSourceFileName);
    QVERIFY(!settings.saveFolderDialogCancelled);
    PresetSaveFolderChooser into("/data/texts", false);
    into.chooseSaveFolder(settings);
    QCOMPARE(settings.saveFolder, QString("/data/texts/"));
    QVERIFY(!settings.useSourceFileName);
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "test_transfer.moc"
