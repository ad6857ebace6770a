#include "cli/cli_output.h"
#include "cli/commands.h"
#include "engine/type_detection.h"

namespace lumen::cli
{

namespace
{
const QString Usage = QStringLiteral("usage: lumenarc-get detect [--] FILE...\n"
                                     "Prints one line per file: the type its content shows "
                                     "(empty when unknown), a tab, the file.");
} // namespace

int runDetect(const QStringList &args)
{
    QStringList files;
    bool options = true;
    for (const QString &arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
        } else if (options && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("detect: unknown option %1").arg(arg), Usage);
        } else {
            files << arg;
        }
    }
    if (files.isEmpty())
        return usageError(QStringLiteral("detect: no file given"), Usage);
    for (const QString &file : files)
        writeRecord({detectFileType(file), file});
    return ExitOk;
}

} // namespace lumen::cli
