#include "app/desktop_shell.h"

#include "engine/url_policy.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace lumen
{

namespace
{

// The file manager interface of freedesktop desktops.
const QString FileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString FileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");
// A file manager that has to start first may take a while to answer.
constexpr int FileManagerTimeoutMs = 10000;
// xdg-mime is a small script; a desktop that takes longer to answer has no
// editor we could start promptly anyway.
constexpr int EditorQueryTimeoutMs = 3000;

// System-information programs of the common desktops, most detailed first.
const QStringList SystemInformationPrograms = {
    QStringLiteral("hardinfo2"),
    QStringLiteral("hardinfo"),
    QStringLiteral("kinfocenter"),
    QStringLiteral("gnome-system-monitor"),
};

// Undoes the escapes every string value of a desktop entry may carry.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            // Not an escape of the string format: the Exec quoting reads it.
            out += c;
            out += next;
        }
    }
    return out;
}

struct ExecToken {
    QString text;
    bool quoted = false;
};

// Splits an Exec value into its arguments: blanks separate them, double
// quotes group them, and inside quotes a backslash keeps the next of
// " ` $ \ literal. nullopt for an unterminated quote.
std::optional<QList<ExecToken>> splitExec(const QString &exec)
{
    QList<ExecToken> tokens;
    ExecToken current;
    bool inToken = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                inQuotes = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size() &&
                       QStringView(u"\"`$\\").contains(exec.at(i + 1))) {
                current.text += exec.at(++i);
            } else {
                current.text += c;
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inToken)
                tokens.append(std::exchange(current, {}));
            inToken = false;
        } else if (c == QLatin1Char('"')) {
            inQuotes = true;
            inToken = true;
            current.quoted = true;
        } else {
            current.text += c;
            inToken = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (inToken)
        tokens.append(current);
    return tokens;
}

} // namespace

DesktopShell::DesktopShell(QObject *parent) : QObject(parent) {}

bool DesktopShell::openFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

bool DesktopShell::openFolder(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

bool DesktopShell::openUrl(const QString &url)
{
    // Links come from pages and lists; only web addresses go to the browser,
    // never a file: or a program's own scheme.
    if (!isFetchableUrl(QStringView(url)))
        return false;
    return QDesktopServices::openUrl(QUrl(url.trimmed()));
}

bool DesktopShell::showFileInFolder(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QString folder = info.absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return openFolder(folder);
    QDBusMessage call = QDBusMessage::createMethodCall(
        FileManagerService, FileManagerPath, FileManagerService, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
    // Asked without waiting: a desktop without such a file manager answers
    // with an error, and then the folder alone is opened.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, FileManagerTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, folder](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                if (finished->isError())
                    openFolder(folder);
            });
    return true;
}

bool DesktopShell::openInTextEditor(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    const QString file = info.absoluteFilePath();
    const QStringList command = textEditorCommand(file);
    if (!command.isEmpty() && QProcess::startDetached(command.first(), command.mid(1)))
        return true;
    // Without a known editor only a file the desktop itself takes for text
    // may go to its default program; a ".pdf" would start a PDF viewer.
    if (info.suffix().compare(QLatin1String("txt"), Qt::CaseInsensitive) == 0)
        return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    return false;
}

bool DesktopShell::startSystemInformation()
{
    const QString program = findSystemInformationProgram({});
    return !program.isEmpty() && QProcess::startDetached(program, {});
}

bool DesktopShell::composeMail(const QString &address, const QString &subject, const QString &body)
{
    return QDesktopServices::openUrl(mailtoUrl(address, subject, body));
}

QUrl DesktopShell::mailtoUrl(const QString &address, const QString &subject, const QString &body)
{
    QString crlfBody = body;
    crlfBody.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    crlfBody.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QByteArray link = "mailto:" + QUrl::toPercentEncoding(address.trimmed(), "@");
    QList<QByteArray> fields;
    if (!subject.isEmpty())
        fields << "subject=" + QUrl::toPercentEncoding(subject);
    if (!crlfBody.isEmpty())
        fields << "body=" + QUrl::toPercentEncoding(crlfBody);
    if (!fields.isEmpty())
        link += '?' + fields.join('&');
    return QUrl::fromEncoded(link, QUrl::StrictMode);
}

std::optional<DesktopShell::DesktopEntry> DesktopShell::parseDesktopEntry(const QString &text)
{
    bool inEntryGroup = false;
    std::optional<DesktopEntry> entry;
    bool terminal = false;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntryGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntryGroup)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QStringView key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed().toString();
        if (key == QLatin1String("Exec"))
            entry = DesktopEntry{unescapeValue(value), false};
        else if (key == QLatin1String("Terminal"))
            terminal = value == QLatin1String("true");
    }
    if (entry)
        entry->terminal = terminal;
    return entry;
}

QStringList DesktopShell::execArguments(const QString &exec, const QString &file)
{
    const auto tokens = splitExec(exec);
    if (!tokens || tokens->isEmpty())
        return {};
    QStringList args;
    bool fileGiven = false;
    for (const ExecToken &token : *tokens) {
        QString arg;
        bool droppedCode = false;
        const QString &t = token.text;
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t.at(i) != QLatin1Char('%') || i + 1 == t.size()) {
                arg += t.at(i);
                continue;
            }
            const QChar code = t.at(++i);
            if (code == QLatin1Char('%')) {
                arg += code;
            } else if (QStringView(u"fFuU").contains(code)) {
                arg += file;
                fileGiven = true;
            } else {
                droppedCode = true; // %i %c %k and the deprecated ones
            }
        }
        // "%i" alone stands for an icon argument we do not pass: no argument.
        if (arg.isEmpty() && droppedCode && !token.quoted)
            continue;
        args << arg;
    }
    if (args.isEmpty() || args.first().isEmpty())
        return {};
    if (!fileGiven)
        args << file;
    return args;
}

QString DesktopShell::findDesktopFile(const QString &desktopId,
                                      const QStringList &applicationFolders)
{
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')) ||
        !desktopId.endsWith(QLatin1String(".desktop")))
        return {};
    // "vendor-editor.desktop" may live as vendor/editor.desktop.
    QStringList candidates{desktopId};
    const qsizetype dash = desktopId.indexOf(QLatin1Char('-'));
    if (dash > 0)
        candidates << desktopId.left(dash) + QLatin1Char('/') + desktopId.mid(dash + 1);
    for (const QString &folder : applicationFolders) {
        for (const QString &name : candidates) {
            const QString path = QDir(folder).filePath(name);
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return {};
}

QString DesktopShell::findSystemInformationProgram(const QStringList &searchFolders)
{
    for (const QString &name : SystemInformationPrograms) {
        const QString path = QStandardPaths::findExecutable(name, searchFolders);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

QStringList DesktopShell::textEditorCommand(const QString &file)
{
    if (!m_editorLookedUp) {
        m_editorLookedUp = true;
        // The handler of plain text is the desktop's text editor; asked once
        // per run, since the user rarely changes it while we run.
        QProcess query;
        query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                                 QStringLiteral("text/plain")});
        if (query.waitForFinished(EditorQueryTimeoutMs) &&
            query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0) {
            const QString id = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
            const QString path = findDesktopFile(
                id, QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation));
            QFile desktopFile(path);
            if (!path.isEmpty() && desktopFile.open(QIODevice::ReadOnly)) {
                m_editor = parseDesktopEntry(QString::fromUtf8(desktopFile.readAll()));
                // An editor that runs inside a terminal has none here.
                if (m_editor && m_editor->terminal)
                    m_editor.reset();
            }
        } else {
            query.kill();
            query.waitForFinished(EditorQueryTimeoutMs);
        }
    }
    if (!m_editor)
        return {};
    return execArguments(m_editor->exec, file);
}

} // namespace lumen
