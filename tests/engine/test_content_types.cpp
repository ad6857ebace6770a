#include "engine/content_types.h"

#include <QTest>

using namespace lumen;

class TestContentTypes : public QObject
{
    Q_OBJECT

private slots:
    void table_data()
    {
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QString>("expected");
        const QList<QPair<const char *, const char *>> rows = {
            {"application/octet-stream", ""},
            {"application/x-shockwave-flash", "swf"},
            {"application/x-javascript", "js"},
            {"application/vnd.rn-realmedia", "vnd.rn-realmedia"},
            {"application/vnd.ms-wpl", "wpl"},
            {"application/kdh", "kdh"},
            {"application/caj", "caj"},
            {"application/pdf", "pdf"},
            {"application/caa", "caa"},
            {"application/nh", "nh"},
            {"application/", "application"},
            {"application/*", "application"},
            {"text/html", "html"},
            {"text/txt", "txt"},
            {"text/htm", "htm"},
            {"text/xml", "xml"},
            {"text/css", "css"},
            {"text/plain", "plain"},
            {"text/", "text"},
            {"text/*", "text"},
            {"image/jpg", "jpg"},
            {"image/jpeg", "jpeg"},
            {"image/gif", "gif"},
            {"image/png", "png"},
            {"image/bmp", "bmp"},
            {"image/tif", "tif"},
            {"image/pjpeg", "pjpeg"},
            {"image/g3fax", "g3fax"},
            {"image/ief", "ief"},
            {"image/tiff", "tif"},
            {"image/x-png", "png"},
            {"image/x-ms-bmp", "bmp"},
            {"image/x-icon", "ico"},
            {"image/", "image"},
            {"image/*", "image"},
            {"video/mpeg", "mpeg"},
            {"video/mpeg4", "mp4"},
            {"video/x-msvideo", "avi"},
            {"video/x-ms-asf", "asf"},
            {"video/quicktime", "quicktime"},
            {"video/*", "video"},
            {"audio/amr", "amr"},
            {"audio/x-ms-wma", "wma"},
            {"audio/x-wav", "wav"},
            {"audio/x-pn-realaudio", "ram"},
            {"audio/midi", "mid"},
            {"audio/x-mpegurl", "x-mpegurl"},
            {"audio/", "audio"},
        };
        for (const auto &[in, out] : rows)
            QTest::newRow(in) << QString::fromLatin1(in) << QString::fromLatin1(out);

        // Case, spaces and what the caller must ignore or keep.
        QTest::newRow("capitals") << "Application/PDF"
                                  << "pdf";
        QTest::newRow("spaces around and inside") << "  Text / HT ML "
                                                  << "html";
        QTest::newRow("unknown minor keeps the input") << "application/msword"
                                                       << "application/msword";
        QTest::newRow("unknown minor keeps its case") << "Image/WebP"
                                                      << "Image/WebP";
        QTest::newRow("unknown major") << "model/vrml"
                                       << "model/vrml";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("no slash") << "abc"
                                  << "abc";
        QTest::newRow("two slashes") << "text/html/x"
                                     << "text/html/x";
        QTest::newRow("only a slash") << "/"
                                      << "/";
    }
    void table()
    {
        QFETCH(QString, contentType);
        QTEST(MimeToExtension(contentType), "expected");
    }
};

QTEST_GUILESS_MAIN(TestContentTypes)
#include "test_content_types.moc"
