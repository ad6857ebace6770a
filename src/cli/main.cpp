#include "cli/cli_output.h"
#include "cli/commands.h"
#include "cli/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

using namespace lumen::cli;

namespace
{

struct Command {
    const char *name;
    CommandFunction run;
    const char *summary;
};

// One line per subcommand.
constexpr Command Commands[] = {
    {"detect", runDetect, "detect FILE...    print the type each file's content shows"},
    {"download", runDownload, "download [OPTIONS] [URL...]  download the URLs into a folder"},
    {"cache", runCache, "cache [--cache-dir DIR] list | copy DEST | clear  the browser's cache"},
    {"harvest", nullptr,
     "harvest [--all] [--download] [OPTIONS] URL  harvest a search, download it"},
};

// The commands that drive the embedded browser live in a companion program
// ("lumenarc-get-NAME"), so that the others never load the browser engine:
// beside this one in the build, in ../libexec/lumenarc/ relative to it once
// installed (the companion is no command of its own on PATH). The companion takes
// over this process: same arguments after the command's name, same standard
// streams, same exit code.
QString companionPath(const QString &name)
{
    const QString file = QStringLiteral("lumenarc-get-") + name;
    const QDir own(QCoreApplication::applicationDirPath());
    const QString beside = own.filePath(file);
    if (QFileInfo(beside).isExecutable())
        return beside;
    const QString installed =
        QDir::cleanPath(own.filePath(QStringLiteral("../libexec/lumenarc/") + file));
    if (QFileInfo(installed).isExecutable())
        return installed;
    return beside; // named in the error when neither is there
}

int handOver(const QString &name, int argc, char **argv)
{
    const QString path = companionPath(name);
    const QByteArray file = QFile::encodeName(path);
    std::vector<char *> args;
    args.push_back(const_cast<char *>(file.constData()));
    for (int i = 2; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(file.constData(), args.data());
    writeError(QStringLiteral("cannot start %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return ExitFailure;
}

QString usage()
{
    QString text = QStringLiteral("usage: lumenarc-get <command> [arguments]\ncommands:");
    for (const Command &c : Commands)
        text += QStringLiteral("\n  ") + QString::fromUtf8(c.summary);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return usageError(QStringLiteral("no command given"), usage());
    const QString name = args.at(1);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
        name == QLatin1String("help")) {
        return printHelp(usage());
    }
    for (const Command &c : Commands) {
        if (name != QLatin1String(c.name))
            continue;
        // The command's name only: its arguments may carry a cookie or a
        // password.
        qCDebug(lumen::lcCli) << "command starts:" << name;
        if (!c.run)
            return handOver(name, argc, argv);
        const int status = c.run(args.mid(2));
        qCDebug(lumen::lcCli) << "command ends:" << name << "exit status" << status;
        return status;
    }
    return usageError(QStringLiteral("unknown command %1").arg(name), usage());
}
