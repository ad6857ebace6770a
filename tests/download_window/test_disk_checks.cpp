#include "download_window/disk_checks.h"
#include "engine/download_list.h"
#include "support/files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::writeFile;

namespace
{

const QByteArray PageBytes =
    "<html><head><title>登录</title></head><body>please sign in</body></html>";
const QByteArray PdfBytes = "%PDF-1.4\n" + QByteArray(2000, 'p');

} // namespace

class TestDiskChecks : public QObject
{
    Q_OBJECT

private slots:
    void correctAllCountsRenamedFiles()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadList list;
        list.append("http://127.0.0.1/1", "one", "pdf", folder, QString());
        list.append("http://127.0.0.1/2", "two", "pdf", folder, QString());
        list.append("http://127.0.0.1/3", "three", "caj", folder, QString());
        list.append("http://127.0.0.1/4", "four", "pdf", folder, QString()); // never stored
        writeFile(folder + "one.pdf", PageBytes);
        writeFile(folder + "two.pdf", PdfBytes);
        writeFile(folder + "three.caj", PdfBytes);
        QCOMPARE(correctAllFileTypes(list), 2);
        QCOMPARE(list.at(0).fileType, QString("htm"));
        QCOMPARE(list.at(1).fileType, QString("pdf"));
        QCOMPARE(list.at(2).fileType, QString("pdf"));
        QCOMPARE(list.at(3).fileType, QString("pdf"));
        QCOMPARE(correctAllFileTypes(list), 0);
    }

    void checkFilesExistMarksOnlyMissingFiles()
    {
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        DownloadList list;
        list.append("http://127.0.0.1/1", "here", "pdf", folder, QString());
        list.append("http://127.0.0.1/2", "gone", "pdf", folder, QString());
        list.append("http://127.0.0.1/3", "waiting", "pdf", folder, QString());
        for (const qint64 row : {0, 1})
            list.update(row, [](DownloadItem &it) { it.size = it.received = 100; });
        list.setState(1, DownloadState::Finished);
        writeFile(folder + "here.pdf", PdfBytes);

        QCOMPARE(CheckFilesExist(list), 2);
        QCOMPARE(percentColumnText(list.at(0)), QString("100%"));
        QCOMPARE(percentColumnText(list.at(1)), QStringLiteral("不存在"));
        QCOMPARE(percentColumnText(list.at(2)), QStringLiteral("不存在"));
        QCOMPARE(list.at(1).state, DownloadState::Finished); // states stay
    }
};

QTEST_GUILESS_MAIN(TestDiskChecks)
#include "test_disk_checks.moc"
