#include "engine/content_types.h"

#include <QHash>

namespace lumen
{

namespace
{

using MinorTable = QHash<QString, QString>;

const QHash<QString, MinorTable> &mimeTable()
{
    static const QHash<QString, MinorTable> table = [] {
        QHash<QString, MinorTable> t;
        t.insert(QStringLiteral("application"), {
                                                    {"octet-stream", ""},
                                                    {"x-shockwave-flash", "swf"},
                                                    {"x-javascript", "js"},
                                                    {"vnd.rn-realmedia", "vnd.rn-realmedia"},
                                                    {"vnd.ms-wpl", "wpl"},
                                                    {"kdh", "kdh"},
                                                    {"caj", "caj"},
                                                    {"pdf", "pdf"},
                                                    {"caa", "caa"},
                                                    {"nh", "nh"},
                                                });
        t.insert(QStringLiteral("text"), {
                                             {"html", "html"},
                                             {"txt", "txt"},
                                             {"htm", "htm"},
                                             {"xml", "xml"},
                                             {"css", "css"},
                                             {"plain", "plain"},
                                         });
        MinorTable image;
        for (const char *same :
             {"jpg", "jpeg", "gif", "png", "bmp", "tif", "pjpeg", "g3fax", "ief"})
            image.insert(QLatin1String(same), QLatin1String(same));
        image.insert(QStringLiteral("tiff"), QStringLiteral("tif"));
        image.insert(QStringLiteral("x-png"), QStringLiteral("png"));
        image.insert(QStringLiteral("x-ms-bmp"), QStringLiteral("bmp"));
        image.insert(QStringLiteral("x-icon"), QStringLiteral("ico"));
        t.insert(QStringLiteral("image"), image);
        t.insert(QStringLiteral("video"), {
                                              {"mpeg", "mpeg"},
                                              {"mpeg4", "mp4"},
                                              {"x-msvideo", "avi"},
                                              {"x-ms-asf", "asf"},
                                              {"quicktime", "quicktime"},
                                          });
        t.insert(QStringLiteral("audio"), {
                                              {"amr", "amr"},
                                              {"x-ms-wma", "wma"},
                                              {"x-wav", "wav"},
                                              {"x-pn-realaudio", "ram"},
                                              {"midi", "mid"},
                                              {"x-mpegurl", "x-mpegurl"},
                                          });
        return t;
    }();
    return table;
}

} // namespace

QString MimeToExtension(const QString &contentType)
{
    const QStringList pieces = contentType.split(QLatin1Char('/'));
    if (pieces.size() != 2)
        return contentType;
    const QString major = pieces.at(0).trimmed().toLower();
    QString minor = pieces.at(1).trimmed();
    minor.remove(QLatin1Char(' '));
    minor = minor.toLower();

    const auto majorIt = mimeTable().constFind(major);
    if (majorIt == mimeTable().constEnd())
        return contentType;
    if (minor.isEmpty() || minor == QLatin1String("*"))
        return major;
    const auto minorIt = majorIt->constFind(minor);
    return minorIt == majorIt->constEnd() ? contentType : *minorIt;
}

} // namespace lumen
