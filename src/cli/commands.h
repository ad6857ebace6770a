#pragma once

#include <QStringList>

namespace lumen::cli
{

// A subcommand of lumenarc-get. args are the arguments after the command's
// name; the answer is the process exit code (see cli_output.h).
using CommandFunction = int (*)(const QStringList &args);

// lumenarc-get detect FILE...: one line "TYPE<TAB>FILE" per file, in order.
int runDetect(const QStringList &args);

// lumenarc-get download [OPTIONS] [URL...]: downloads the URLs with the
// download engine and prints the final list, one record per line.
int runDownload(const QStringList &args);

// lumenarc-get cache list | copy DEST | clear: the embedded browser's cache
// as the cache tool sees it (see cache_command.cpp for the options).
int runCache(const QStringList &args);

// lumenarc-get harvest [OPTIONS] URL: harvests the search results page (or,
// with --all, every page of the search) in a browser without a window and
// prints the harvest list; with --download downloads every row and prints
// the download list instead. Needs the application made by
// initWebEngine(true) and QApplication.
int runHarvest(const QStringList &args);

} // namespace lumen::cli
