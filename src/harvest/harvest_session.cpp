#include "harvest/harvest_session.h"

#include "engine/prompter.h"
#include "harvest/browser.h"
#include "harvest/repository.h"
#include "settings/app_settings.h"

#include <QFileInfo>
#include <QPointer>
#include <QSaveFile>

namespace lumen
{

const QString HarvestSession::ClearAllQuestion =
    QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？");
const QString HarvestSession::FilterPrompt = QStringLiteral("请输入指定字符：");
const QString HarvestSession::WorkingMessage = QStringLiteral("正在工作，停止以后才能退出窗口！");
const QString HarvestSession::OpenAddressPrompt = QStringLiteral("请输入需要打开的网址：");
const QString HarvestSession::OpenAddressTitle = QStringLiteral("请输入...");
const QString HarvestSession::ExportSavedMessage = QStringLiteral("保存文件完毕：");

HarvestSession::HarvestSession(Browser &browser, AppSettings &settings, Prompter &prompter,
                               SaveFolderChooser &saveFolderChooser,
                               DownloadTransfer::DownloadListSource downloadList, Clock &clock,
                               QObject *parent)
    : QObject(parent), m_browser(browser), m_settings(settings), m_prompter(prompter),
      m_transfer(settings, std::move(downloadList)),
      m_harvester(browser, m_list, settings, saveFolderChooser, clock),
      m_analysis(m_list, m_transfer, settings, saveFolderChooser, prompter, clock)
{
    connect(&m_harvester, &SearchHarvester::pageHarvested, this,
            [this] { emit countTextChanged(m_list.countText()); });
    connect(&m_list, &HarvestList::rowsRemovedCount, this,
            [this] { emit countTextChanged(m_list.countText()); });
    connect(&m_harvester, &SearchHarvester::navigatingTo, this, [this] {
        setWalkStatus(QStringLiteral("正在加入全部：正在载入第 %1 页，列表共 %2 条")
                          .arg(m_harvester.pagesWalked() + 1)
                          .arg(m_list.count()));
    });
    connect(&m_harvester, &SearchHarvester::readProgress, this,
            [this](qsizetype done, qsizetype total) {
                // Only a page that takes more than one piece is worth a word.
                if (total > ResultsReader::PieceAnchors)
                    setWalkStatus(QStringLiteral("正在读取本页：%1 / %2 个链接，列表共 %3 条")
                                      .arg(done)
                                      .arg(total)
                                      .arg(m_list.count()));
            });
    connect(&m_harvester, &SearchHarvester::addAllFinished, this, &HarvestSession::walkEnded);
}

void HarvestSession::setWalkStatus(const QString &text)
{
    m_walkStatus = text;
    emit walkStatusChanged(text);
}

QString HarvestSession::walkEndText(const SearchHarvester &harvester, qint64 rows)
{
    using End = SearchHarvester::WalkEnd;
    using P = SearchHarvester::LoadProblem;
    const QString kept = QStringLiteral("已加入的条目保留在列表中（共 %1 条）。").arg(rows);
    switch (harvester.walkEnd()) {
    case End::LastPage:
        if (harvester.pagesNotLoaded() > 0)
            return QStringLiteral("加入全部已到最后一页，但有 %1 页没有按时载入，列表可能不全。")
                       .arg(harvester.pagesNotLoaded()) +
                   kept;
        return QStringLiteral("加入全部完成：共 %1 页，列表共 %2 条。")
            .arg(harvester.pagesWalked())
            .arg(rows);
    case End::Stopped:
        return QStringLiteral("已停止加入全部。") + kept;
    case End::ServerErrorPage:
        return QStringLiteral("加入全部已停止：当前页是服务器错误页。") + kept;
    case End::NotSearchAddress:
        return QStringLiteral("加入全部已停止：当前网址不是检索结果页，无法翻页。") + kept;
    case End::Unreadable:
        return QStringLiteral("加入全部已停止：无法读取当前页。") + kept;
    case End::RepeatedPage:
        return QStringLiteral(
                   "加入全部已停止：下一页（%1）重复了本次已加入过的页，网站在循环翻页。")
                   .arg(harvester.repeatedUrl().toDisplayString()) +
               kept;
    case End::PageNotLoaded:
        break;
    }
    QString why;
    switch (harvester.lastProblem()) {
    case P::LoadFailed:
        why = QStringLiteral("服务器没有应答");
        break;
    case P::TimedOut:
        why = QStringLiteral("%1 秒内没有载入完成").arg(SearchHarvester::LoadWaitLimitMs / 1000);
        break;
    case P::HttpError:
        why = QStringLiteral("服务器返回 HTTP %1").arg(harvester.lastProblemHttpStatus());
        break;
    case P::ServerErrorPage:
        why = QStringLiteral("服务器返回了错误页");
        break;
    case P::AddressUnchanged:
        why = QStringLiteral("浏览器仍停在上一页");
        break;
    case P::Unreadable:
        why = QStringLiteral("页面无法读取");
        break;
    }
    return QStringLiteral("加入全部已停止：下一页（%1）没有载入：%2。")
               .arg(harvester.lastProblemUrl().toDisplayString(), why) +
           kept;
}

void HarvestSession::walkEnded()
{
    const QString text = walkEndText(m_harvester, m_list.count());
    setWalkStatus(text);
    // The user who pressed stop knows why; every other end short of the
    // last page, or a search with pages missing, is told once.
    const SearchHarvester::WalkEnd end = m_harvester.walkEnd();
    const bool whole =
        end == SearchHarvester::WalkEnd::LastPage && m_harvester.pagesNotLoaded() == 0;
    if (m_walkEndMessages && !whole && end != SearchHarvester::WalkEnd::Stopped)
        m_prompter.message(text, Prompter::Icon::Warning);
}

void HarvestSession::openHomePage()
{
    m_browser.navigate(repositoryHomePage());
}

bool HarvestSession::refusedWhileAnalysing()
{
    if (m_analysis.isIdle())
        return false;
    m_prompter.message(HarvestAnalysis::BusyMessage, Prompter::Icon::Critical);
    return true;
}

qint64 HarvestSession::clearSelected(const QList<quint64> &selectedIds)
{
    if (refusedWhileAnalysing())
        return 0;
    return m_list.removeIds(QSet<quint64>(selectedIds.cbegin(), selectedIds.cend()));
}

qint64 HarvestSession::clearSucceeded()
{
    if (refusedWhileAnalysing())
        return 0;
    return m_list.removeSucceeded();
}

qint64 HarvestSession::clearByTitle(bool contains)
{
    if (refusedWhileAnalysing())
        return 0;
    const std::optional<QString> text = m_prompter.inputText(FilterPrompt);
    // An automatic analysis may have started while the box was open.
    if (text && refusedWhileAnalysing())
        return 0;
    if (!text || text->isEmpty() || m_list.isEmpty())
        return 0; // used as typed: blanks around it count
    return m_list.removeByTitle(*text, contains);
}

qint64 HarvestSession::clearTitleContaining()
{
    return clearByTitle(true);
}

qint64 HarvestSession::clearTitleNotContaining()
{
    return clearByTitle(false);
}

qint64 HarvestSession::clearAll()
{
    if (refusedWhileAnalysing())
        return 0;
    if (m_prompter.question(ClearAllQuestion, Prompter::Buttons::YesNo, Prompter::Icon::Question) !=
        Prompter::Answer::Yes)
        return 0;
    // An automatic analysis may have started while the box was open.
    if (refusedWhileAnalysing())
        return 0;
    const qint64 removed = m_list.count();
    m_list.clear();
    return removed;
}

bool HarvestSession::requestClose()
{
    if (m_harvester.isAddAllRunning() || !m_analysis.isIdle()) {
        m_prompter.message(WorkingMessage, Prompter::Icon::Critical);
        return false;
    }
    m_analysis.setAutomatic(false);
    return true;
}

namespace
{

// A name from the save dialog without an extension gets the command's own.
QString withDefaultSuffix(const QString &path, const QString &suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + u'.' + suffix : path;
}

// Written whole or not at all.
bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

void HarvestSession::windowLoaded(const SettingsStore &store)
{
    readSearchWindowSettings(store, m_settings);
    setSilentMode(true);
    m_browser.navigate(QUrl(QStringLiteral("about:blank")));
}

void HarvestSession::openStartPage()
{
    setSilentMode(true);
    openHomePage();
}

void HarvestSession::setSilentMode(bool on)
{
    const bool changed = on != m_browser.isSilent();
    m_browser.setSilent(on);
    if (changed)
        emit silentModeChanged(on);
}

bool HarvestSession::silentMode() const
{
    return m_browser.isSilent();
}

void HarvestSession::openAddress()
{
    const QString address =
        m_prompter.inputText(OpenAddressPrompt, OpenAddressTitle).value_or(QString()).trimmed();
    setSilentMode(address.left(8).toLower() != QLatin1String("https://"));
    if (!address.isEmpty())
        m_browser.navigate(QUrl::fromUserInput(address));
}

void HarvestSession::goBack()
{
    m_browser.goBack();
}

void HarvestSession::goForward()
{
    m_browser.goForward();
}

QByteArray HarvestSession::exportText(const HarvestList &list)
{
    QString text;
    qsizetype size = 0;
    for (const HarvestItem &it : list.items())
        size += it.title.size() + it.fileType.size() + it.state.size() + 6;
    text.reserve(size);
    for (const HarvestItem &it : list.items()) {
        text += it.title;
        text += u"-【";
        text += it.fileType;
        text += u'】';
        text += it.state;
        text += u"\r\n";
    }
    return text.toUtf8();
}

QString HarvestSession::kilobytesText(qint64 bytes)
{
    // One decimal, rounded half away from zero, thousands grouped by ",".
    const qint64 tenths = (bytes * 10 + 512) / 1024;
    QString whole = QString::number(tenths / 10);
    for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
        whole.insert(at, u',');
    return whole + u'.' + QString::number(tenths % 10);
}

bool HarvestSession::exportList()
{
    if (m_list.isEmpty())
        return false;
    const std::optional<QString> chosen = m_prompter.saveFileName(
        QStringLiteral("导出数据"), QString(), QStringLiteral("*.txt (*.txt)"));
    if (!chosen || chosen->trimmed().isEmpty())
        return false;
    const QString path = withDefaultSuffix(*chosen, QStringLiteral("txt"));
    const QByteArray bytes = exportText(m_list);
    if (!writeWhole(path, bytes))
        return false; // quietly, as every failure of the export
    m_prompter.message(ExportSavedMessage + kilobytesText(bytes.size()) + QStringLiteral("KB"),
                       Prompter::Icon::Information);
    return true;
}

void HarvestSession::savePageSource()
{
    const std::optional<QString> chosen = m_prompter.saveFileName(
        QStringLiteral("源码另存为"), QString(), QStringLiteral("*.htm (*.htm)"));
    if (!chosen || chosen->trimmed().isEmpty())
        return;
    const QString path = withDefaultSuffix(*chosen, QStringLiteral("htm"));
    QPointer<HarvestSession> self(this);
    m_browser.snapshot([self, path](const DocumentSnapshot &document) {
        if (!self || !document.present || document.rootOuterHtml.isEmpty())
            return;
        if (writeWhole(path, document.rootOuterHtml.toUtf8()))
            emit self->pageSourceSaved(path);
    });
}

bool HarvestSession::windowClosing()
{
    if (!requestClose())
        return false;
    if (!m_downloadWindowOpen || !m_downloadWindowOpen())
        emit startupWindowRequested();
    return true;
}

} // namespace lumen
