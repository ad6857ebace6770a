#pragma once

#include <QString>
#include <QStringList>

namespace lumen::cli
{

// Exit codes of every subcommand.
enum ExitCode : int {
    ExitOk = 0,      // the command ran; per-item failures are in its output
    ExitFailure = 1, // the command could not do its work
    ExitUsage = 2,   // wrong arguments: nothing was done
};

// A field of an output line with tab, CR, LF and backslash written as
// \t, \r, \n and \\, and every other control character (C0, C1, DEL) and
// bidirectional control as \xNN or \uNNNN, so that every record stays one
// line of tab-separated fields whatever a title or path holds, and nothing
// from the network drives the terminal.
QString escapeField(const QString &field);

// One output line on stdout: the fields escaped and joined by tabs, UTF-8,
// flushed.
void writeRecord(const QStringList &fields);

// A message on stderr, prefixed with "lumenarc-get: ".
void writeError(const QString &message);

// A usage message on stderr: writeError(message) followed by the usage text
// of the command, and returns ExitUsage.
int usageError(const QString &message, const QString &usage);

// The usage text on stdout, as asked for with --help; returns ExitOk.
int printHelp(const QString &usage);

} // namespace lumen::cli
