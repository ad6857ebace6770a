#include "engine/gbk.h"
#include "engine/type_detection.h"
#include "support/as_nobody.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumen;

namespace
{

// bytes followed by filler up to size (filler '.' so that no marker appears
// by chance).
QByteArray padded(const QByteArray &bytes, qsizetype size, char filler = '.')
{
    QByteArray out = bytes;
    if (out.size() < size)
        out.append(QByteArray(size - out.size(), filler));
    return out;
}

// An OLE compound file header with the given bytes at 512.
QByteArray ole(const QByteArray &at512, qsizetype size = 2048)
{
    QByteArray out = padded(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), 512, '\0');
    out += at512;
    return padded(out, size, '\0');
}

QByteArray page(const QByteArray &head, qsizetype size)
{
    return padded(head, size, ' ');
}

QByteArray descriptor(const QByteArray &without = QByteArray())
{
    QByteArray text =
        "[TARGET]\r\nA1=1\r\nA2=2\r\nB1=3\r\nB2=4\r\nC1=5\r\nC2=6\r\nD1=7\r\nD2=8\r\nDOCTYPE=1\r\n";
    if (!without.isEmpty())
        text.replace(without, "");
    return text;
}

} // namespace

class TestTypeDetection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    int m_n = 0;

    QString write(const QByteArray &content)
    {
        const QString path = m_tmp.filePath(QStringLiteral("file%1.bin").arg(++m_n));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void detect_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        const qsizetype K = 1024;
        // Each signature, padded to 1 KB.
        QTest::newRow("pdf") << padded("%PDF-1.4", K) << "pdf";
        QTest::newRow("caj") << padded(QByteArray("\xC8\0\0\0", 4), K) << "caj";
        QTest::newRow("CAJ then zero") << padded(QByteArray("CAJ\0", 4), K) << "kdh";
        QTest::newRow("KDH then space") << padded("KDH ", K) << "kdh";
        QTest::newRow("nh") << padded(QByteArray("HN\0\0", 4), K) << "nh";
        QTest::newRow("tif") << padded(QByteArray("II*\0", 4), K) << "tif";
        QTest::newRow("rtf") << padded("{\\rtf1\\ansi", K) << "rtf";
        QTest::newRow("exe") << padded("MZ\x90", K) << "exe";
        QTest::newRow("rar") << padded("Rar!\x1A\x07", K) << "rar";
        QTest::newRow("zip") << padded(QByteArray("PK\3\4\x14\0\0\0\x08\0", 10), K) << "zip";
        QTest::newRow("docx") << padded(QByteArray("PK\3\4\x14\0\6\0\x08\0", 10), K) << "docx";
        QTest::newRow("zip of another version")
            << padded(QByteArray("PK\3\4\x0A\0\0\0\0\0", 10), K) << "";
        QTest::newRow("swf") << padded("CWS\x06", K) << "swf";
        QTest::newRow("rm") << padded(".RMF", K) << "rm";
        QTest::newRow("wma") << padded("\x30\x26\xB2\x75\x8E\x66", K) << "wma";
        QTest::newRow("mp3 with ID3v3") << padded("ID3\x03", K) << "mp3";
        QTest::newRow("ID3v4 is not enough") << padded("ID3\x04", K) << "";
        QTest::newRow("png") << padded("\x89PNG\r\n\x1A\n", K) << "png";
        QTest::newRow("gif89a") << padded("GIF89a", K) << "gif";
        QTest::newRow("gif87a is not") << padded("GIF87a", K) << "";
        QTest::newRow("jpg exif big-endian")
            << padded(QByteArray("\xFF\xD8\xFF\xE1\0\0Exif\0\0MM\0*", 16), K) << "jpg";
        QTest::newRow("jpg exif little-endian")
            << padded(QByteArray("\xFF\xD8\xFF\xE1\0\0Exif\0\0II*\0", 16), K) << "";
        QTest::newRow("jpg jfif") << padded(QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11), K)
                                  << "jpg";
        QTest::newRow("doc") << ole(QByteArray("\xEC\xA5\xC1\0", 4)) << "doc";
        QTest::newRow("xls") << ole(QByteArray("\x09\x08\x10\0", 4)) << "xls";
        QTest::newRow("ppt") << ole(QByteArray("\0\0\0\xF0", 4)) << "ppt";
        QTest::newRow("other compound file") << ole(QByteArray("\1\2\3\4", 4)) << "";
        QTest::newRow("other compound file with a trailer tag")
            << ole(QByteArray("\1\2\3\4", 4), 1000) + padded("TAG", 128) << "mp3";
        QTest::newRow("compound header too short for its sub-tests")
            << padded(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) +
                          "<html><title>x</title></html>",
                      300)
            << "";
        QTest::newRow("signature beats page markers")
            << page("%PDF-1.4 <html><title>", 2 * K) << "pdf";

        // Short files: a test that needs an offset beyond the file's end ends
        // detection; offset N itself reads as 0.
        QTest::newRow("zero length") << QByteArray() << "";
        QTest::newRow("MZ in 3 bytes") << QByteArray("MZ\x90") << "";
        QTest::newRow("pdf in 4 bytes") << QByteArray("%PDF") << "pdf";
        QTest::newRow("HN and one zero in 3 bytes") << QByteArray("HN\0", 3) << "nh";
        QTest::newRow("page text in 10 bytes") << QByteArray("<html></h>") << "";
        QTest::newRow("text in 14 bytes") << QByteArray("<html><body>x>") << "";
        QTest::newRow("page in 15 bytes") << QByteArray("<html><body>xx>") << "htm";
        QTest::newRow("descriptor needs a whole signature pass") << descriptor() << "caa";

        // The trailer tag.
        QTest::newRow("trailing tag") << padded("\x01\x02", 4 * K) + padded("TAG", 128) << "mp3";
        QTest::newRow("tag needs more than 128 bytes") << padded("TAG", 128) << "";
        QTest::newRow("tag not at the trailer start")
            << padded("\x01\x02", 4 * K) + padded("xTAG", 128) << "";

        // Web pages, below 200 KB only.
        QTest::newRow("error page in capitals")
            << page("<HTML><HEAD><TITLE>Error</TITLE></HEAD></HTML>", 3 * K) << "htm";
        QTest::newRow("html with attributes and body")
            << page("<!DOCTYPE x><html lang=\"zh\"><body>login</body>", 3 * K) << "htm";
        QTest::newRow("html without title, head or body")
            << page("<html><p>x</p></html>", 3 * K) << "";
        QTest::newRow("title without html") << page("<title>x</title><body>", 3 * K) << "";
        QTest::newRow("plain text") << padded("just some words", K) << "";
        QTest::newRow("page just under 200 KB") << page("<html><title>", 200 * K - 1) << "htm";
        QTest::newRow("page of 200 KB") << page("<html><title>", 200 * K) << "";
        QTest::newRow("300 KB page") << page("<html><title>", 300 * K) << "";
        QTest::newRow("markers beyond the first 10240 bytes")
            << page(QByteArray(10241, ' ') + "<html><title>", 20 * K) << "";
        QTest::newRow("marker ending at offset 10240")
            << page(padded("<html>", 10235, ' ') + "<body>", 20 * K) << "htm";
        QTest::newRow("marker ending at offset 10241")
            << page(padded("<html>", 10236, ' ') + "<body>", 20 * K) << "";
        QTest::newRow("GBK page")
            << page(gbk::encode(QStringLiteral("<html><head><title>登录页面</title>")), 5 * K)
            << "htm";
        QTest::newRow("markers after invalid GBK bytes")
            << page(QByteArray("\x81\xFF\x80\xFE") + "<html><body>", 2 * K) << "htm";

        // Download descriptors, below 3 KB only.
        QTest::newRow("descriptor 2 KB") << page(descriptor(), 2 * K) << "caa";
        QTest::newRow("descriptor in lower case") << page(descriptor().toLower(), 2 * K) << "caa";
        QTest::newRow("descriptor missing DOCTYPE")
            << page(descriptor("DOCTYPE=1\r\n"), 2 * K) << "";
        QTest::newRow("descriptor missing [TARGET]")
            << page(descriptor("[TARGET]\r\n"), 2 * K) << "";
        QTest::newRow("descriptor of 3 KB") << page(descriptor(), 3 * K) << "";
        QTest::newRow("descriptor markers at its end")
            << padded(QByteArray(20, ' '), 3 * K - descriptor().size() - 1) + descriptor() << "caa";
    }
    void detect()
    {
        QFETCH(QByteArray, content);
        QTEST(detectFileType(write(content)), "expected");
    }

    void nameDoesNotMatter()
    {
        const QString path = m_tmp.filePath("report.html");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.7\n");
        f.close();
        QCOMPARE(detectFileType(path), QStringLiteral("pdf"));
        QCOMPARE(detectFileType("file://" + path), QStringLiteral("pdf"));
    }

    void nothingToRead()
    {
        QCOMPARE(detectFileType(QString()), QString());
        QCOMPARE(detectFileType(m_tmp.filePath("missing.pdf")), QString());
        QCOMPARE(detectFileType(m_tmp.path()), QString());
        // A pipe is no stored file: answered at once, never waited on.
        const QString fifo = m_tmp.filePath("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(detectFileType(fifo), QString());
    }

    void unreadableFile()
    {
        LUMEN_RUN_AS_NOBODY_UNDER_ROOT();
        const QString path = write(padded("%PDF-1.4", 2048));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        QVERIFY(!QFile(path).open(QIODevice::ReadOnly));
        QCOMPARE(detectFileType(path), QString());
    }

    // A huge file is answered from its first bytes and its trailer: were it
    // read whole, this would take minutes and gigabytes.
    void hugeFileReadsOnlyItsEnds()
    {
        const QString path = m_tmp.filePath("huge.bin");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.write("\x01\x02\x03");
        const qint64 size = qint64(8) << 30;
        if (!f.resize(size))
            QSKIP("no sparse files here");
        QVERIFY(f.seek(size - 128));
        f.write("TAG");
        f.close();
        QCOMPARE(detectFileType(path), QStringLiteral("mp3"));
    }
};

QTEST_GUILESS_MAIN(TestTypeDetection)
#include "test_type_detection.moc"
