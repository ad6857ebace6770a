#pragma once

#include "shell/async_fetcher.h"
#include "shell/program_version.h"

#include <QObject>
#include <QString>
#include <QUrl>

namespace lumen
{

class Clock;
class Prompter;
class Shell;

// The background check for a newer published version. The product site
// publishes, for each program, the version file <root><program>/newver.txt
// and the product page <root><program>/. A newer version than our own sets
// the notice "有最新版本：V<version>" and opens the product page in the
// user's browser; a request that fails (or gets no answer in time) says so
// once; an answer that is not a version is ignored. Without a product site
// the check does nothing at all.
class UpdateCheck : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
public:
    enum class Outcome {
        Skipped,   // no product site
        Current,   // the published version is not newer
        Newer,     // announced
        Malformed, // the answer is not a version; ignored
        Failed,    // no answer, an error status, or no answer in time
    };
    Q_ENUM(Outcome)

    // A site that sends nothing for this long counts as unreachable.
    static constexpr qint64 AnswerTimeoutMs = 30000;

    static const QString NoticePrefix; // "有最新版本：V"
    static const QString FailedText;   // "请保持网络畅通！"

    // productSiteRoot: the site's root address; "/" is added when missing,
    // and an empty root switches the check off. programName: the name the
    // site files this program under (executableBaseName() for the running
    // program). The version compared is ours unless a test sets another.
    UpdateCheck(const QString &productSiteRoot, const QString &programName, Shell &shell,
                Prompter &prompter, const Clock &clock, QObject *parent = nullptr);

    // The program's product site (productSiteRoot()); empty when there is
    // none.
    static QString configuredProductSite();

    bool isEnabled() const { return !m_root.isEmpty(); }
    QUrl versionFileUrl() const;
    QUrl productPageUrl() const;

    void setOwnVersion(const VersionNumber &version) { m_ownVersion = version; }
    VersionNumber ownVersion() const { return m_ownVersion; }

    // The update notice; empty until a newer version was found. Once set it
    // stays for the run.
    QString notice() const { return m_notice; }
    bool isRunning() const { return m_running; }
    Outcome lastOutcome() const { return m_lastOutcome; }
    // The check reads the clock each time its fetcher reports
    // (readyStateChanged), waiting or not.
    const AsyncFetcher &fetcher() const { return m_fetcher; }

public slots:
    // Starts a check; a check still under way is dropped first. Without a
    // product site this ends at once with Skipped.
    void start();
    // Opens the product page in the user's browser (the notice's click).
    void openProductPage();

signals:
    void noticeChanged(const QString &notice);
    void finished(lumen::UpdateCheck::Outcome outcome);

private:
    void onArrived();
    void onError(const QString &text);
    void onPoll();
    void finish(Outcome outcome);

    QString m_root;
    QString m_programName;
    Shell &m_shell;
    Prompter &m_prompter;
    const Clock &m_clock;
    AsyncFetcher m_fetcher; // uXMLHTTP2
    VersionNumber m_ownVersion = programVersion();
    QString m_notice;
    bool m_running = false;
    qint64 m_startedMs = 0;
    Outcome m_lastOutcome = Outcome::Skipped;
};

} // namespace lumen
