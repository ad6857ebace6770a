#include "engine/status_presenter.h"

#include "engine/download_list.h"
#include "engine/naming.h"
#include "engine/requeue.h"
#include "engine/sound_player.h"

#include <QFileInfo>

namespace lumen
{

namespace
{

const QString StartingPrefix = QStringLiteral("正在下载:");
const QString FinishedPrefix = QStringLiteral("完成下载:");

} // namespace

StatusPresenter::StatusPresenter(const DownloadList &list, SoundPlayer &sound, QObject *parent)
    : QObject(parent), m_list(list), m_sound(sound), m_countersText(countersTextFor(list)),
      m_countsPanelText(countsPanelTextFor(list)), m_countsPanelToolTip(countsPanelToolTipFor(list))
{
}

QString StatusPresenter::countersTextFor(const DownloadList &list)
{
    const StatusCounts c = list.statusCounts();
    return QStringLiteral("总数:%1 正在下载:%2 等待:%3 已完成:%4 失败:%5")
        .arg(c.total)
        .arg(c.downloading)
        .arg(c.waiting)
        .arg(c.finished)
        .arg(c.failed);
}

QString StatusPresenter::outcomesTextFor(const DownloadList &list)
{
    const StatusCounts c = list.statusCounts();
    return QStringLiteral("文献:%1 网页:%2 跳过:%3 出错:%4 取消:%5")
        .arg(c.documents)
        .arg(c.webPages)
        .arg(c.skippedExists + c.skippedTooLarge)
        .arg(c.failures + c.cannotReplace)
        .arg(c.cancelled);
}

QString StatusPresenter::countsPanelTextFor(const DownloadList &list)
{
    // Two lines: the states as they always read, and under them how the
    // ended records ended; side by side they would not fit a narrow window.
    return countersTextFor(list) + QLatin1Char('\n') + outcomesTextFor(list);
}

QString StatusPresenter::countsPanelToolTipFor(const DownloadList &list)
{
    const StatusCounts c = list.statusCounts();
    return QStringLiteral("文献 %1，网页（不是文献） %2，已存在跳过 %3，大文件跳过 %4，"
                          "无法替换 %5，下载出错 %6，下载取消 %7")
        .arg(c.documents)
        .arg(c.webPages)
        .arg(c.skippedExists)
        .arg(c.skippedTooLarge)
        .arg(c.cannotReplace)
        .arg(c.failures)
        .arg(c.cancelled);
}

QString StatusPresenter::connectionStateText(ConnectionState state, int responseCode,
                                             const QString &responseInfo)
{
    const QString error = QString::number(responseCode) + QLatin1Char(':') + responseInfo;
    switch (state) {
    case ConnectionState::None:
        return QStringLiteral("0 无状态可报告。");
    case ConnectionState::Resolving:
        return QStringLiteral("1 正在查询所指定的主机的 IP 地址...");
    case ConnectionState::Resolved:
        return QStringLiteral("2 已成功地找到所指定的主机的 IP 地址。");
    case ConnectionState::Connecting:
        return QStringLiteral("3 正在与主机连接...");
    case ConnectionState::Connected:
        return QStringLiteral("4 已与主机连接成功。");
    case ConnectionState::Requesting:
        return QStringLiteral("5 正在向主机发送请求...");
    case ConnectionState::RequestSent:
        return QStringLiteral("6 发送请求已成功。");
    case ConnectionState::ReceivingResponse:
        return QStringLiteral("7 正在接收主机的响应...");
    case ConnectionState::ResponseReceived:
        return QStringLiteral("8 已成功地接收到主机的响应。");
    case ConnectionState::Disconnecting:
        return QStringLiteral("9 正在解除与主机的连接...");
    case ConnectionState::Disconnected:
        return QStringLiteral("10 已成功地与主机解除了连接。");
    case ConnectionState::Error:
        return QStringLiteral("11 与主机通讯时出现了错误:") + error;
    case ConnectionState::Completed:
        return QStringLiteral("12 该请求已经完成，并且所有数据均已接收到。");
    }
    return error;
}

void StatusPresenter::playNoticeSound(int number)
{
    const QString file = QString::number(number) + QStringLiteral(".wav");
    for (const QString &folder : std::as_const(m_soundFolders)) {
        if (folder.isEmpty())
            continue;
        const QString path = folderWithSeparator(folder) + file;
        if (QFileInfo(path).isFile()) {
            m_sound.playFile(path);
            return;
        }
    }
}

void StatusPresenter::setActionText(const QString &text)
{
    m_actionText = text;
    emit actionTextChanged(text);
}

void StatusPresenter::transferStarting(const DownloadItem &item)
{
    setActionText(StartingPrefix + item.name);
}

void StatusPresenter::transferEnded(const DownloadItem &item, TransferNotice notice)
{
    if (notice != TransferNotice::Announced)
        return;
    setActionText(FinishedPrefix + item.name);
    if (!m_soundOn)
        return;
    if (isWebPageType(item.fileType))
        playNoticeSound(PageSound);
    if (item.state == DownloadState::Failed)
        playNoticeSound(FailedSound);
}

void StatusPresenter::showConnectionState(ConnectionState state, int responseCode,
                                          const QString &responseInfo)
{
    m_connectionText = connectionStateText(state, responseCode, responseInfo);
    emit connectionTextChanged(m_connectionText);
}

void StatusPresenter::runEnded()
{
    if (m_soundOn)
        playNoticeSound(RunEndSound);
}

void StatusPresenter::refreshCounters()
{
    // A handful of numbers kept by the list as records change: no walk of
    // the list, however long it is.
    const QString text = countersTextFor(m_list);
    if (text != m_countersText) {
        m_countersText = text;
        emit countersTextChanged(text);
    }
    const QString panel = countsPanelTextFor(m_list);
    if (panel != m_countsPanelText) {
        m_countsPanelText = panel;
        m_countsPanelToolTip = countsPanelToolTipFor(m_list);
        emit countsPanelTextChanged(m_countsPanelText, m_countsPanelToolTip);
    }
}

} // namespace lumen
