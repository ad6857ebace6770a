#include "cli/cli_output.h"
#include "cli/commands.h"
#include "engine/type_detection.h"

#include <QFile>
#include <QFileInfo>

namespace lumen::cli
{

namespace
{
const QString Usage = QStringLiteral("usage: lumenarc-get detect [--] FILE...\n"
                                     "Prints one line per file: the type its content shows "
                                     "(empty when unknown), a tab, the file.\n"
                                     "Exit status: 0 every file was read, 1 some file is "
                                     "missing or cannot be read (said on stderr; its type is "
                                     "empty), 2 usage error.");

// Why a file's content cannot be looked at; empty when it can.
QString unreadableReason(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("is a folder");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    return QString();
}
} // namespace

int runDetect(const QStringList &args)
{
    QStringList files;
    bool options = true;
    for (const QString &arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && (arg == QLatin1String("--help") || arg == QLatin1String("-h"))) {
            return printHelp(Usage);
        } else if (options && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("detect: unknown option %1").arg(arg), Usage);
        } else {
            files << arg;
        }
    }
    if (files.isEmpty())
        return usageError(QStringLiteral("detect: no file given"), Usage);
    int code = ExitOk;
    for (const QString &file : files) {
        // A file that cannot be read has no type, which must not pass for
        // "a type nobody knows".
        const QString reason = unreadableReason(file);
        if (!reason.isEmpty()) {
            writeError(QStringLiteral("detect: cannot read %1: %2").arg(escapeField(file), reason));
            code = ExitFailure;
        }
        writeRecord({reason.isEmpty() ? detectFileType(file) : QString(), file});
    }
    return code;
}

} // namespace lumen::cli
