#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace lumen
{

struct AppSettings;
class DownloadList;

// RemoveLineBreaks: drops every carriage return, line feed and NUL; the
// pieces of a broken line are joined directly.
QString RemoveLineBreaks(const QString &text);

// FileNameFromUrl: the last segment of the address after "/" or "\",
// trimmed; with dropExtension, what precedes its last ".", trimmed.
QString FileNameFromUrl(const QString &url, bool dropExtension);

// Hands harvested entries to the download list.
class DownloadTransfer : public QObject
{
    Q_OBJECT
public:
    // The download list belongs to the download window, which may not exist
    // yet: the source is asked for the list at each hand-over and may load
    // the window (without showing it) to give it.
    using DownloadListSource = std::function<DownloadList &()>;

    DownloadTransfer(AppSettings &settings, DownloadListSource downloadList,
                     QObject *parent = nullptr);

    // 加入下载列表: appends a Waiting record named by the title (or, with
    // useSourceFileName, by the link's own file name), into the given folder
    // or the current save folder when none is given, with the page link as
    // its referer. A link already in the download list leaves that record
    // as it was and still counts as handed on. A link that is not http or
    // https is refused (false) and nothing is appended: it could never be
    // fetched.
    bool addToDownloadList(const QString &fullTextLink, const QString &title,
                           const QString &fileType, const QString &folder, const QString &pageLink);

    // The name a record gets for this entry under the current settings. When
    // the chosen name cleans away to nothing, the other one is used.
    QString fileNameFor(const QString &fullTextLink, const QString &title) const;

    // 显示下载窗口: asks the download window, if it is open, to come into
    // view; restore also un-minimises it.
    void showDownloadWindow(bool restore);

signals:
    void downloadWindowShowRequested(bool restore);

private:
    AppSettings &m_settings;
    DownloadListSource m_downloadList;
};

} // namespace lumen
