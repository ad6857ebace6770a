#include "harvest/download_transfer.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/url_policy.h"
#include "settings/app_settings.h"

namespace lumen
{

QString RemoveLineBreaks(const QString &text)
{
    QString out = text;
    out.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u == u'\r' || u == u'\n' || u == u'\0';
    });
    return out;
}

QString FileNameFromUrl(const QString &url, bool dropExtension)
{
    QString name = url;
    const qsizetype slash =
        qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        name = name.mid(slash + 1).trimmed();
    if (dropExtension) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0)
            name = name.left(dot).trimmed();
    }
    return name;
}

DownloadTransfer::DownloadTransfer(AppSettings &settings, DownloadListSource downloadList,
                                   QObject *parent)
    : QObject(parent), m_settings(settings), m_downloadList(std::move(downloadList))
{
}

QString DownloadTransfer::fileNameFor(const QString &fullTextLink, const QString &title) const
{
    const QString byTitle = SanitizeFileName(RemoveLineBreaks(title).trimmed());
    const QString bySource = SanitizeFileName(FileNameFromUrl(fullTextLink, true));
    // A name that cleans away to nothing would store the file as a bare
    // ".pdf": the other name stands in for it.
    if (m_settings.useSourceFileName)
        return bySource.isEmpty() ? byTitle : bySource;
    return byTitle.isEmpty() ? bySource : byTitle;
}

bool DownloadTransfer::addToDownloadList(const QString &fullTextLink, const QString &title,
                                         const QString &fileType, const QString &folder,
                                         const QString &pageLink)
{
    if (!isFetchableUrl(QStringView(fullTextLink)))
        return false;
    const QString target = folder.isEmpty() ? m_settings.saveFolder : folder;
    m_downloadList().append(fullTextLink, fileNameFor(fullTextLink, title), fileType, target,
                            pageLink);
    return true;
}

void DownloadTransfer::showDownloadWindow(bool restore)
{
    emit downloadWindowShowRequested(restore);
}

} // namespace lumen
