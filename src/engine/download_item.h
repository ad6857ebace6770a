#pragma once

#include <QString>
#include <QtGlobal>

namespace lumen
{

// The four states of a record; the numbers are what the list shows as the
// row's icon and what exports and tests see.
enum class DownloadState : int { Waiting = 1, Downloading = 2, Finished = 3, Failed = 4 };

// How a record's last download ended, for the researcher who has to know
// which records brought their document and why the others did not. A
// record that has not ended (waiting, or downloading) has None. Stored
// values keep their numbers: journals written by one version are read by
// the next.
enum class Outcome : int {
    None = 0,
    Document = 1,        // stored, and its content is the document asked for
    WebPage = 2,         // stored, but what came is a web page (a sign-in or error page)
    SkippedExists = 3,   // "已存在，跳过": the same-name rule kept the file there
    SkippedTooLarge = 4, // "大文件，跳过": over the size limit, nothing kept
    CannotReplace = 5,   // "无法替换": the file there may not be replaced
    Failed = 6,          // the transfer failed; the record's reason says why
    Cancelled = 7,       // "下载取消": stopped by the user or by the program's end
};

// Texts the engine writes into records.
namespace RecordText
{
inline const QString WaitingAgain = QStringLiteral("等待重新下载");
inline const QString SizeUnknown = QStringLiteral("未知");
inline const QString BigFileSkipped = QStringLiteral("大文件，跳过");
inline const QString ExistsSkipped = QStringLiteral("已存在，跳过");
inline const QString CannotReplace = QStringLiteral("无法替换");
inline const QString Cancelled = QStringLiteral("下载取消");
// The proxy of the single-connection method names no usable port.
inline const QString BadProxy = QStringLiteral("代理服务器设置有误");
// The disk check found no file where the record says its file is.
inline const QString FileMissing = QStringLiteral("不存在");
} // namespace RecordText

// What the size column says instead of a number.
enum class SizeNote : int {
    None = 0,
    Unannounced = 1,  // "未知": a single-connection body of unannounced size began
    WaitingAgain = 2, // "等待重新下载": the single connection was busy at the start
};

// What the percent column says instead of the progress or the outcome's text.
enum class PercentNote : int {
    None = 0,
    FileMissing = 1,   // "不存在": the disk check found no file
    ProxyUnusable = 2, // "代理服务器设置有误"
    Cancelled = 3,     // "下载取消": a streaming single-connection body was stopped
};

// One file to fetch. Numbers are kept as numbers and the outcome as what it
// is; the texts the list shows are derived from them (sizeColumnText,
// receivedColumnText, percentColumnText), never stored beside them.
struct DownloadItem {
    quint64 id = 0;       // stable identity: running transfers find their record by it
    QString name;         // file name without extension, already sanitised
    QString fileType;     // extension without the dot, may be empty
    qint64 size = -1;     // total bytes once known; -1 while unknown or not started
    qint64 received = -1; // bytes received so far; -1 before a download starts
    SizeNote sizeNote = SizeNote::None;
    PercentNote percentNote = PercentNote::None;
    QString folder;   // save folder
    QString baseFlag; // never set by the system
    QString url;      // unique within the list
    QString referer;  // page sent as Referer, or empty
    // The file this record itself stored: set when a download commits its
    // file, followed by type corrections, cleared when the record is queued
    // again. Deleting "the record's file" deletes this path and nothing else,
    // so a record that never stored anything can never remove a file that
    // merely carries the same name.
    QString storedPath;
    DownloadState state = DownloadState::Waiting;
    Outcome outcome = Outcome::None;
    // Why the record ended as it did, in the words of the system that said
    // it ("Connection refused", "No space left on device", "HTTP 403
    // Forbidden", "body ended at 30000 of 100000 bytes"); empty for a
    // document, and cleared whenever the record is queued again.
    QString reason;
    // Answers in a row that asked to come back later (429, 503); the record
    // fails at the limit. Set back by any other answer and by a re-queue.
    int retryAnswers = 0;
};

// The record's progress as the list shows it: the integer part of the
// percentage, then "%" ("37%"). total must be above 0.
QString percentText(qint64 received, qint64 total);

// The texts of the size, received and percent columns, derived from the
// record: plain decimal numbers, the notes ("未知", "等待重新下载",
// "不存在", ...), the status text of a skip, a refusal or a cancel, or empty
// before a download starts. Views and exports all show these.
QString sizeColumnText(const DownloadItem &item);
QString receivedColumnText(const DownloadItem &item);
QString percentColumnText(const DownloadItem &item);

// How the record ended as the counts, the marks and the problems filter see
// it: its own outcome, or for a record that ended without one (a list of an
// older version, or a state set by hand) what its state says: a finished
// record brought its document, a failed one failed. None while it has not
// ended.
Outcome endedAs(const DownloadItem &item);

// Whether the researcher has to look at the record: it failed, was
// cancelled, could not replace the file there, brought a web page instead
// of the document, or was skipped as too large. A document, a file that was
// already there and a record not yet ended are not problems.
bool isProblem(const DownloadItem &item);

// The outcome in the words the window uses ("文献", "网页（不是文献）", ...);
// empty for None.
QString outcomeText(Outcome outcome);

// The name column's tooltip: the name, how the record ended and, when there
// is one, the reason the system gave.
QString recordToolTip(const DownloadItem &item);

// Clears everything a download wrote into the record's figures and its
// end: sizes, notes, outcome and reason. The record looks as if it had
// never been started.
void clearProgress(DownloadItem &item);

// A number as plain decimal text, never in exponent form ("0.00001", not
// "1e-05"); whole numbers carry no fraction ("10"). Texts that other readers
// test as numbers are written with it.
QString plainDecimalText(double value);

} // namespace lumen
