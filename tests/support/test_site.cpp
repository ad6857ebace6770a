#include "support/test_site.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

namespace lumen::test
{

TestSite::~TestSite()
{
    stop();
}

bool TestSite::start(const QStringList &extraArgs)
{
    stop();
    QStringList args = {QStringLiteral("--port"), QStringLiteral("0")};
    const qsizetype logAt = extraArgs.indexOf(QStringLiteral("--log"));
    if (logAt >= 0 && logAt + 1 < extraArgs.size()) {
        m_logPath = extraArgs.at(logAt + 1);
    } else {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!m_dir->isValid())
            return false;
        m_logPath = m_dir->filePath(QStringLiteral("requests.log"));
        args << QStringLiteral("--log") << m_logPath;
    }
    args << extraArgs;

    m_process = std::make_unique<QProcess>();
    // The site's complaints (and a sanitizer's) show up in the test's output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setReadChannel(QProcess::StandardOutput);
    m_process->setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    m_process->start(QStringLiteral(LUMEN_TESTSITE_PATH), args);
    if (!m_process->waitForStarted(10000)) {
        stop();
        return false;
    }
    // The first line names the port; wait for it without an event loop.
    const QDeadlineTimer deadline(10000);
    while (!m_process->canReadLine()) {
        if (deadline.hasExpired() || m_process->state() != QProcess::Running ||
            !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process->canReadLine())
                break;
            qWarning("lumenarc-testsite did not start");
            stop();
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process->readLine()).trimmed();
    static const QRegularExpression re(
        QStringLiteral("^listening on (http://127\\.0\\.0\\.1:\\d+/)$"));
    const auto m = re.match(line);
    if (!m.hasMatch()) {
        qWarning("lumenarc-testsite said: %s", qPrintable(line));
        stop();
        return false;
    }
    m_baseUrl = QUrl(m.captured(1));
    return true;
}

void TestSite::stop()
{
    if (m_process) {
        if (m_process->state() != QProcess::NotRunning) {
            m_process->closeWriteChannel(); // the site ends when its stdin closes
            if (!m_process->waitForFinished(3000)) {
                m_process->terminate();
                if (!m_process->waitForFinished(3000)) {
                    m_process->kill();
                    m_process->waitForFinished(3000);
                }
            }
        }
        m_process.reset();
    }
    m_baseUrl = QUrl();
}

bool TestSite::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

QUrl TestSite::url(const QString &pathAndQuery) const
{
    return m_baseUrl.resolved(QUrl(pathAndQuery));
}

QStringList TestSite::requestLog() const
{
    QFile f(m_logPath);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &l : f.readAll().split('\n'))
        if (!l.isEmpty())
            lines << QString::fromUtf8(l);
    return lines;
}

} // namespace lumen::test
