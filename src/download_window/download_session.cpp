#include "download_window/download_session.h"

#include "download_window/disk_checks.h"
#include "download_window/logging.h"
#include "engine/download_engine.h"
#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/prompter.h"
#include "engine/requeue.h"
#include "engine/shell.h"
#include "engine/type_correction.h"
#include "engine/type_detection.h"
#include "engine/url_policy.h"
#include "settings/product_site.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

#include <cmath>

namespace lumen
{

const QString DownloadSession::EmptyListQuestion = QStringLiteral("您确定要清空列表的所有信息吗？");
const QString DownloadSession::CancelRefusedText = QStringLiteral("停止下载后方可设置！");
const QString DownloadSession::SortRefusedText = QStringLiteral("停止下载后方可排序！");
const QString DownloadSession::ShuffleDoneText = QStringLiteral("随机排序完成！");
// The sizes in the list are bytes; the prompt says so, since the settings
// dialog speaks of MB.
const QString DownloadSession::SmallFilesPrompt =
    QStringLiteral("请输入数字（文件大小，单位：字节）：");
const QString DownloadSession::CloseQuestion =
    QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？");
const QString DownloadSession::FileMissingText = QStringLiteral("文件不存在！");
const QString DownloadSession::ThisFileMissingText = QStringLiteral("该文件不存在！");
const QString DownloadSession::FolderMissingText = QStringLiteral("文件夹不存在！");
const QString DownloadSession::OpenFailedText = QStringLiteral("打开失败！");
const QString DownloadSession::TooLargeForEditorText =
    QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！");
const QString DownloadSession::FileTypePrefix = QStringLiteral("文件类型为：");
const QString DownloadSession::UnknownTypeText = QStringLiteral("目前还无法判断。");
const QString DownloadSession::CorrectedPrefix = QStringLiteral("纠正文件类型：");
const QString DownloadSession::CorrectedSuffix = QStringLiteral("个.");
const QString DownloadSession::EnterFindText = QStringLiteral("请输入字符串！");
const QString DownloadSession::ReplaceDoneText = QStringLiteral("全部网址替换完成！");
const QString DownloadSession::UrlClashText =
    QStringLiteral("替换后第%1条和第%2条记录的网址相同：\n%3\n列表中的网址必须各不相同，"
                   "因此没有替换任何网址。");
const QString DownloadSession::ProxyMalformedText =
    QStringLiteral("代理服务器网址或者端口格式不对！");
const QString DownloadSession::SizeRejectedText =
    QStringLiteral("文件大小必须是数字，仍按原来的%1MB限制下载。");
const QString DownloadSession::SizeNegativeText =
    QStringLiteral("文件大小不能小于0，仍按原来的%1MB限制下载。");

namespace
{
const QString NamesFilter = QStringLiteral("*.txt");
const QString AnyFileFilter = QStringLiteral("*.*");
const QString ExportTitle = QStringLiteral("导出名称");
const QString IdentifyTitle = QStringLiteral("打开文件判断类型");
const QByteArray LineEnd = QByteArrayLiteral("\r\n");

bool isDone(const DownloadItem &it)
{
    return it.state == DownloadState::Finished || it.state == DownloadState::Failed;
}

// A number as the lists write them: blanks around it allowed.
std::optional<double> numberOf(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}
} // namespace

QString DownloadSession::sitePageUrl(SitePage page)
{
    // The maker's pages hang below the one product site; without one there
    // is no page to open.
    const QUrl url = [page] {
        switch (page) {
        case SitePage::Home:
            return makerHomePage();
        case SitePage::SecondSite:
            return productSitePage(QStringLiteral("soft/"));
        case SitePage::LatestVersion:
            return programPage();
        case SitePage::Shop:
            return productSitePage(QStringLiteral("shop.htm"));
        case SitePage::Tutorials:
            return productSitePage(QStringLiteral("help.htm"));
        case SitePage::Custom:
            return customSoftwarePage();
        case SitePage::Suggestions:
            return productSitePage(QStringLiteral("feedback.htm"));
        }
        return makerHomePage();
    }();
    return url.toString(QUrl::FullyEncoded);
}

DownloadSession::DownloadSession(DownloadList &list, DownloadEngine &engine, SettingsStore &store,
                                 AppSettings &settings, Prompter &prompter, Shell &shell,
                                 QObject *parent)
    : QObject(parent), m_list(list), m_engine(engine), m_store(store), m_settings(settings),
      m_prompter(prompter), m_shell(shell), m_random(std::random_device{}())
{
    // A harvest appends rows one at a time and a removal tells the views once
    // per run of rows: the count is told once, when the change is over.
    const auto recount = [this] {
        if (m_countPending)
            return;
        m_countPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_countPending = false;
                emit countTextChanged(countText());
            },
            Qt::QueuedConnection);
    };
    connect(&m_list, &QAbstractItemModel::rowsInserted, this, recount);
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, recount);
    connect(&m_list, &QAbstractItemModel::modelReset, this, recount);
}

QString DownloadSession::countText() const
{
    return QString::number(m_list.count()) + QStringLiteral("条");
}

const DownloadItem *DownloadSession::record(quint64 id) const
{
    const qint64 row = id ? m_list.rowOfId(id) : -1;
    return row < 0 ? nullptr : &m_list.at(row);
}

// --- opening and closing -------------------------------------------------------

WindowPlacement DownloadSession::load(const QString &screenResolution)
{
    const DownloadWindowSettings window = loadDownloadWindowSettings(m_store, m_settings);
    m_engine.setDownloadMethod(m_settings.downloadMethod);
    m_engine.setThreadCount(
        m_engine.downloadMethod() == DownloadMethod::SingleConnection ? 1 : window.threadCount());
    m_engine.setSameNamePolicy(window.sameNamePolicy);
    m_engine.setProxy(m_settings.proxyEnabled, m_settings.proxyAddress, m_settings.proxyPort);
    m_engine.setMaxFileSizeMB(m_settings.maxFileSizeMB);
    m_engine.setIntervalSeconds(0);
    return restoreGeometry(m_store, setting::DownloadWindowName, screenResolution);
}

bool DownloadSession::downloadUnfinished() const
{
    return m_engine.methodOneActive() || m_engine.countSlotInstances() > 1 ||
           !m_list.isListFinished() || m_engine.isRunning();
}

bool DownloadSession::requestClose(const WindowGeometryState &geometry,
                                   const QString &screenResolution)
{
    m_settings.downloadMethod = m_engine.downloadMethod();
    DownloadWindowSettings window;
    window.threadIndex = m_engine.threadCount() - 1;
    window.sameNamePolicy = m_engine.sameNamePolicy();
    return storeOnDownloadWindowClose(
        m_store, m_settings, window, geometry, screenResolution, [this] {
            if (downloadUnfinished() &&
                m_prompter.question(CloseQuestion, Prompter::Buttons::YesNo,
                                    Prompter::Icon::Question) != Prompter::Answer::Yes)
                return false;
            // Transfers end here: their partial files are removed, none is
            // left under a final name.
            qCDebug(lcDownloadWindow) << "the download window closes";
            m_engine.stopDownloading();
            return true;
        });
}

// --- what the list shows -----------------------------------------------------------

void DownloadSession::setProblemsOnly(bool on)
{
    if (on == m_problemsOnly)
        return;
    m_problemsOnly = on;
    emit problemsOnlyChanged(on);
}

bool DownloadSession::showsRecord(const DownloadItem &item) const
{
    return !m_problemsOnly || isProblem(item);
}

void DownloadSession::setReasonColumnShown(bool shown)
{
    if (shown == m_reasonColumnShown)
        return;
    m_reasonColumnShown = shown;
    emit reasonColumnShownChanged(shown);
}

// --- enabling --------------------------------------------------------------------

bool DownloadSession::downloading() const
{
    return m_engine.isRunning() || m_engine.downloadBusy();
}

DownloadSession::ContextMenuState DownloadSession::contextMenuState() const
{
    const bool busy = downloading();
    return {!busy, !busy, !busy, busy};
}

bool DownloadSession::idleGuard() const
{
    return m_engine.downloadIdleGuard(m_prompter);
}

// --- re-download -------------------------------------------------------------------

qint64 DownloadSession::redownloadSelected(const QList<quint64> &selectedIds)
{
    qint64 n = 0;
    for (quint64 id : selectedIds) {
        const qint64 row = m_list.rowOfId(id);
        if (row >= 0 && isDone(m_list.at(row))) {
            RequeueRecord(m_list, row);
            ++n;
        }
    }
    return n;
}

qint64 DownloadSession::redownloadFailed()
{
    return requeueFailed(m_list);
}

qint64 DownloadSession::redownloadWebPages()
{
    return requeueWebPages(m_list);
}

qint64 DownloadSession::redownloadFailedAndWebPages()
{
    return requeueFailedAndWebPages(m_list);
}

qint64 DownloadSession::redownloadSmallFiles()
{
    const std::optional<QString> answer = m_prompter.inputText(SmallFilesPrompt);
    if (!answer)
        return 0;
    const std::optional<double> limit = numberOf(*answer);
    if (!limit)
        return 0;
    // Compared in single precision, as the sizes always were.
    const float below = float(*limit);
    qint64 n = 0;
    for (qint64 row = 0; row < m_list.count(); ++row) {
        const DownloadItem &it = m_list.at(row);
        if (!isDone(it))
            continue;
        if (it.size < 0 || it.received < 0 || it.sizeNote == SizeNote::WaitingAgain)
            continue;
        if (!(below > float(it.size)) || float(it.received) != float(it.size))
            continue;
        RequeueRecord(m_list, row);
        ++n;
    }
    return n;
}

// --- removal -------------------------------------------------------------------------

qint64 DownloadSession::removeSelected(const QList<quint64> &selectedIds)
{
    if (!idleGuard())
        return 0;
    const QSet<quint64> ids(selectedIds.cbegin(), selectedIds.cend());
    return m_list.removeIf([&](const DownloadItem &it) { return ids.contains(it.id); });
}

qint64 DownloadSession::removeFailed()
{
    if (!idleGuard())
        return 0;
    return m_list.removeIf(
        [](const DownloadItem &it) { return it.state == DownloadState::Failed; });
}

qint64 DownloadSession::removeFinished()
{
    if (!idleGuard())
        return 0;
    return m_list.removeIf(
        [](const DownloadItem &it) { return it.state == DownloadState::Finished; });
}

bool DownloadSession::emptyList()
{
    if (!idleGuard())
        return false;
    if (m_prompter.question(EmptyListQuestion, Prompter::Buttons::YesNo, Prompter::Icon::None) !=
        Prompter::Answer::Yes)
        return false;
    m_list.clear();
    return true;
}

// --- delete files ------------------------------------------------------------------------

qint64 DownloadSession::deleteStoredFiles(const std::function<bool(const DownloadItem &)> &which)
{
    qint64 deleted = 0;
    for (qint64 row = 0; row < m_list.count(); ++row) {
        if (!which(m_list.at(row)))
            continue;
        const QString stored = m_list.at(row).storedPath;
        m_list.update(row, [](DownloadItem &it) {
            clearProgress(it);
            it.storedPath.clear();
        });
        if (!stored.isEmpty() && FileExists(stored) && QFile::remove(localFilePath(stored)))
            ++deleted;
    }
    return deleted;
}

qint64 DownloadSession::deleteWebPageFiles()
{
    return deleteStoredFiles(
        [](const DownloadItem &it) { return isDone(it) && isWebPageType(it.fileType, true); });
}

qint64 DownloadSession::deleteFailedFiles()
{
    return deleteStoredFiles(
        [](const DownloadItem &it) { return it.state == DownloadState::Failed; });
}

// --- cancel, shuffle, sort ----------------------------------------------------------------

qint64 DownloadSession::cancelSelected(const QList<quint64> &selectedIds)
{
    if (m_engine.downloadBusy()) {
        m_prompter.message(CancelRefusedText, Prompter::Icon::Critical);
        return 0;
    }
    qint64 n = 0;
    for (quint64 id : selectedIds) {
        const qint64 row = m_list.rowOfId(id);
        if (row >= 0 && m_list.at(row).state == DownloadState::Waiting) {
            m_list.update(row, [](DownloadItem &it) {
                it.state = DownloadState::Failed;
                it.outcome = Outcome::Cancelled;
                it.reason = QStringLiteral("cancelled before it started");
            });
            ++n;
        }
    }
    return n;
}

bool DownloadSession::shuffle()
{
    if (!idleGuard())
        return false;
    // One uniformly drawn permutation of every row. Drawing a row at a time
    // with a cap on the attempts and the clock as seed would leave the end
    // of a long list in its old order.
    m_list.shuffle(m_random);
    m_prompter.message(ShuffleDoneText, Prompter::Icon::Information);
    return true;
}

bool DownloadSession::sortByColumn(int column)
{
    if (downloading()) {
        m_prompter.message(SortRefusedText, Prompter::Icon::Information);
        return false;
    }
    m_sortDescending = !m_sortDescending;
    m_list.sortByColumn(column, m_sortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
    return true;
}

// --- export -----------------------------------------------------------------------------------

bool DownloadSession::exportAllNames()
{
    return exportNames(false);
}

bool DownloadSession::exportUnfinishedNames()
{
    return exportNames(true);
}

bool DownloadSession::exportNames(bool unfinishedOnly)
{
    if (m_list.isEmpty())
        return false;
    const std::optional<QString> path =
        m_prompter.saveFileName(ExportTitle, QString(), NamesFilter);
    if (!path || path->isEmpty())
        return false;
    QByteArray text;
    for (const DownloadItem &it : m_list.items()) {
        if (unfinishedOnly && it.state == DownloadState::Finished)
            continue;
        text += it.name.toUtf8();
        text += LineEnd;
    }
    // Written beside the target and renamed over it once complete, so a
    // failed export never leaves a half-written list under the chosen name.
    QSaveFile file(localFilePath(*path));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        const QString error = file.errorString();
        file.cancelWriting();
        qCDebug(lcDownloadWindow) << "names not exported to" << *path << ":" << error;
        m_prompter.message(error, Prompter::Icon::Critical);
        return false;
    }
    qCDebug(lcDownloadWindow) << "names exported to" << *path;
    return true;
}

QString DownloadSession::nameForClipboard(quint64 currentId) const
{
    const DownloadItem *it = record(currentId);
    return it ? it->name : QString();
}

// --- disk checks ------------------------------------------------------------------------------

int DownloadSession::checkFilesExist()
{
    return CheckFilesExist(m_list);
}

int DownloadSession::correctFileTypes()
{
    if (!idleGuard())
        return -1;
    if (m_list.isEmpty())
        return 0;
    const int n = correctAllFileTypes(m_list);
    qCDebug(lcDownloadWindow) << "file types corrected:" << n;
    m_prompter.message(CorrectedPrefix + QString::number(n) + CorrectedSuffix,
                       Prompter::Icon::Information);
    return n;
}

// --- launch actions ---------------------------------------------------------------------------

bool DownloadSession::openWithAssociatedProgram(const QString &path)
{
    if (!FileExists(path)) {
        m_prompter.message(FileMissingText, Prompter::Icon::Critical);
        return false;
    }
    return m_shell.openFile(localFilePath(path));
}

bool DownloadSession::openFile(quint64 currentId)
{
    const DownloadItem *it = record(currentId);
    if (!it)
        return false;
    const QString path = ItemFilePath(*it);
    if (!FileExists(path)) {
        m_prompter.message(ThisFileMissingText, Prompter::Icon::Critical);
        return false;
    }
    return openWithAssociatedProgram(path);
}

bool DownloadSession::openFolder(quint64 currentId)
{
    const DownloadItem *it = record(currentId);
    if (!it)
        return false;
    if (!FolderExists(it->folder)) {
        m_prompter.message(FolderMissingText, Prompter::Icon::Critical);
        return false;
    }
    const QString path = ItemFilePath(*it);
    if (FileExists(path)) {
        if (m_shell.showFileInFolder(localFilePath(path)))
            return true;
        m_prompter.message(OpenFailedText, Prompter::Icon::Critical);
        return false;
    }
    return m_shell.openFolder(localFilePath(it->folder));
}

bool DownloadSession::openInTextEditor(quint64 currentId)
{
    const DownloadItem *it = record(currentId);
    if (!it)
        return false;
    const QString path = ItemFilePath(*it);
    if (!FileExists(path)) {
        m_prompter.message(ThisFileMissingText, Prompter::Icon::Critical);
        return false;
    }
    if (QFileInfo(localFilePath(path)).size() > TextEditorLimitBytes) {
        m_prompter.message(TooLargeForEditorText, Prompter::Icon::Critical);
        return false;
    }
    return m_shell.openInTextEditor(localFilePath(path));
}

void DownloadSession::identifyFileType()
{
    const std::optional<QString> path = m_prompter.openFileName(IdentifyTitle, AnyFileFilter);
    if (!path || path->isEmpty())
        return;
    const QString type = detectFileType(localFilePath(*path));
    m_prompter.message(type.isEmpty() ? UnknownTypeText : FileTypePrefix + type,
                       Prompter::Icon::Information);
}

void DownloadSession::activateRecord(quint64 id)
{
    const DownloadItem *it = record(id);
    if (!it)
        return;
    if (it->state == DownloadState::Finished) {
        openWithAssociatedProgram(ItemFilePath(*it));
        return;
    }
    if (it->state != DownloadState::Failed)
        return;
    // Back in the queue for the scheduler. Only the file this record stored
    // goes: a file of the same name that was there before stays.
    const QString stored = it->storedPath;
    if (!stored.isEmpty() && FileExists(stored))
        QFile::remove(localFilePath(stored));
    m_list.updateById(id, [](DownloadItem &r) {
        r.state = DownloadState::Waiting;
        clearProgress(r);
        r.storedPath.clear();
    });
}

QString DownloadSession::pathTextFor(quint64 id) const
{
    const DownloadItem *it = record(id);
    if (!it)
        return QString();
    const QString path = ItemFilePath(*it);
    return FileExists(path) ? path : QString();
}

bool DownloadSession::openStatusText(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    if (FileExists(t))
        return m_shell.openUrl(QUrl::fromLocalFile(localFilePath(t)).toString());
    if (isFetchableUrl(QStringView(t)))
        return m_shell.openUrl(t);
    return false;
}

bool DownloadSession::openSitePage(SitePage page)
{
    const QString url = sitePageUrl(page);
    return !url.isEmpty() && m_shell.openUrl(url);
}

// --- dialogs ----------------------------------------------------------------------------------

bool DownloadSession::replaceInUrls(const QString &findText, const QString &replacement)
{
    if (findText.trimmed().isEmpty()) {
        m_prompter.message(EnterFindText, Prompter::Icon::Critical);
        return false;
    }
    // Used as typed: blanks count. Letters match without regard to case.
    const auto clash = m_list.rewriteUrls([&](QString &url, QString &referer) {
        url.replace(findText, replacement, Qt::CaseInsensitive);
        referer.replace(findText, replacement, Qt::CaseInsensitive);
    });
    if (clash) {
        m_prompter.message(
            UrlClashText.arg(clash->firstRow + 1).arg(clash->secondRow + 1).arg(clash->url),
            Prompter::Icon::Critical);
        return false;
    }
    m_prompter.message(ReplaceDoneText, Prompter::Icon::Information);
    return true;
}

SettingsDialogValues DownloadSession::settingsDialogValues() const
{
    SettingsDialogValues v;
    // The method in use, however it was last chosen (the "切换" button
    // stores it only when the window closes).
    v.downloadMethod = m_engine.downloadMethod();
    v.proxyEnabled = m_settings.proxyEnabled;
    v.proxyAddress = m_settings.proxyAddress;
    v.proxyPort = m_settings.proxyPort;
    v.promptForSaveFolder = m_settings.promptForSaveFolder;
    // The limit in use: a stored one the engine could not use (below 0) is
    // not shown as if it held.
    v.maxFileSizeText = numberSettingText(m_engine.maxFileSizeMB());
    return v;
}

void DownloadSession::applySettingsDialog(const SettingsDialogValues &values)
{
    const double oldSize = m_engine.maxFileSizeMB();
    const DownloadMethod oldMethod = m_engine.downloadMethod();
    // A limit below 0 would skip every file: it is refused like one that is
    // not a number, and the limit in use is stored and kept.
    SettingsDialogValues checked = values;
    const std::optional<double> size = settingToDouble(values.maxFileSizeText);
    const bool negative = size && !(*size >= 0);
    if (negative)
        checked.maxFileSizeText = numberSettingText(oldSize);
    const SettingsDialogResult result = storeSettingsDialog(m_store, m_settings, checked);
    m_engine.setDownloadMethod(m_settings.downloadMethod);
    // A change to method two starts again from one connection; an OK that
    // leaves the method as it was keeps the user's count, and method one
    // leaves the box's number as it was (the box is disabled).
    if (m_settings.downloadMethod == DownloadMethod::MultiConnection &&
        oldMethod != DownloadMethod::MultiConnection)
        m_engine.setThreadCount(1);
    m_engine.setProxy(m_settings.proxyEnabled, m_settings.proxyAddress, m_settings.proxyPort);
    if (result.proxyMalformed)
        m_prompter.message(ProxyMalformedText, Prompter::Icon::Critical);
    if (result.maxFileSizeRejected)
        m_prompter.message(SizeRejectedText.arg(numberSettingText(oldSize)),
                           Prompter::Icon::Critical);
    if (negative)
        m_prompter.message(SizeNegativeText.arg(numberSettingText(oldSize)),
                           Prompter::Icon::Critical);
    m_engine.setMaxFileSizeMB(result.maxFileSizeRejected ? oldSize : m_settings.maxFileSizeMB);
}

} // namespace lumen
