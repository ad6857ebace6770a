#include "shell/update_check.h"

#include "settings/product_site.h"

#include "engine/clock.h"
#include "engine/prompter.h"
#include "engine/shell.h"
#include "shell/logging.h"

#include "lumen_build_info.h"

namespace lumen
{

const QString UpdateCheck::NoticePrefix = QStringLiteral("有最新版本：V");
const QString UpdateCheck::FailedText = QStringLiteral("请保持网络畅通！");

UpdateCheck::UpdateCheck(const QString &productSiteRoot, const QString &programName, Shell &shell,
                         Prompter &prompter, const Clock &clock, QObject *parent)
    : QObject(parent), m_root(productSiteRoot.trimmed()), m_programName(programName),
      m_shell(shell), m_prompter(prompter), m_clock(clock)
{
    if (!m_root.isEmpty() && !m_root.endsWith(QLatin1Char('/')))
        m_root += QLatin1Char('/');
    connect(&m_fetcher, &AsyncFetcher::dataArrived, this, &UpdateCheck::onArrived);
    connect(&m_fetcher, &AsyncFetcher::dataError, this, &UpdateCheck::onError);
    connect(&m_fetcher, &AsyncFetcher::readyStateChanged, this, &UpdateCheck::onPoll);
}

QString UpdateCheck::configuredProductSite()
{
    return productSiteRoot().toString();
}

QUrl UpdateCheck::versionFileUrl() const
{
    if (!isEnabled())
        return {};
    return QUrl(m_root + m_programName + QStringLiteral("/newver.txt"));
}

QUrl UpdateCheck::productPageUrl() const
{
    if (!isEnabled())
        return {};
    return QUrl(m_root + m_programName + QLatin1Char('/'));
}

void UpdateCheck::start()
{
    m_fetcher.abort();
    m_running = false;
    if (!isEnabled()) {
        finish(Outcome::Skipped);
        return;
    }
    // A root that is no web address cannot be asked; that is a failed check,
    // never a silent success.
    if (!m_fetcher.open(QStringLiteral("GET"), versionFileUrl().toString())) {
        finish(Outcome::Failed);
        m_prompter.message(FailedText, Prompter::Icon::Critical);
        return;
    }
    m_running = true;
    m_startedMs = m_clock.monotonicMs();
    qCDebug(lcShell) << "update check asks" << versionFileUrl();
    m_fetcher.send();
}

void UpdateCheck::openProductPage()
{
    if (isEnabled())
        m_shell.openUrl(productPageUrl().toString());
}

void UpdateCheck::onPoll()
{
    // The fetcher itself waits as long as the network lets it; a site that
    // accepts the connection and then says nothing would keep the check
    // open for the whole run.
    if (!m_running || m_clock.monotonicMs() - m_startedMs < AnswerTimeoutMs)
        return;
    m_fetcher.abort();
    finish(Outcome::Failed);
    m_prompter.message(FailedText, Prompter::Icon::Critical);
}

void UpdateCheck::onArrived()
{
    if (!m_running)
        return;
    const QString text = m_fetcher.responseText().trimmed();
    const auto published = parsePublishedVersion(text);
    if (!published) {
        finish(Outcome::Malformed);
        return;
    }
    if (!(*published > m_ownVersion)) {
        finish(Outcome::Current);
        return;
    }
    m_notice = NoticePrefix + text;
    emit noticeChanged(m_notice);
    finish(Outcome::Newer);
    openProductPage();
}

void UpdateCheck::onError(const QString &)
{
    if (!m_running)
        return;
    finish(Outcome::Failed);
    m_prompter.message(FailedText, Prompter::Icon::Critical);
}

void UpdateCheck::finish(Outcome outcome)
{
    m_running = false;
    m_lastOutcome = outcome;
    qCDebug(lcShell) << "update check:" << outcome << "from" << versionFileUrl();
    emit finished(outcome);
}

} // namespace lumen
