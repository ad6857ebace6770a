#pragma once

#include "engine/download_item.h"
#include "engine/target_choice.h"

#include <QString>
#include <QtGlobal>

namespace lumen
{

class DownloadList;

// How a transfer ended, in the words of whatever said so: Qt's error text,
// the operating system's, the server's status line, or the byte counts of a
// body that stopped short. The pool writes outcome and reason into the
// record; a transfer never leaves them to be guessed afterwards.
struct TransferResult {
    Outcome outcome = Outcome::None; // None: the record went back to waiting
    QString reason;                  // empty for a document
    qint64 bytes = -1;               // body bytes received (stored, for a document); -1 unknown
    // The server asked to come back after this long (429, 503); -1: it did
    // not. The record went back to waiting, and reason is the status line.
    qint64 retryAfterMs = -1;

    static TransferResult failed(const QString &reason, qint64 bytes = -1)
    {
        return {Outcome::Failed, reason, bytes};
    }
    static TransferResult retryLater(int httpStatus, const QString &httpPhrase, qint64 waitMs);
};

// The ends both methods share, worded alike whichever method saw them.

// A body that stopped before its end: "body ended at 30000 of 100000
// bytes" (total 0 or less: "body ended at 30000 bytes"), then ": detail"
// when Qt named a cause.
QString cutBodyReason(qint64 received, qint64 total, const QString &detail);

// A file that could not be made or written in folder, with the system's
// reason: "cannot write in /papers: No space left on device".
QString writeFailureReason(const QString &folder, const QString &error);

// A body over the size limit (announced, or grown past it).
QString overLimitReason(qint64 bytes, double limitMB);

// The same-name rule kept the file at path (Skip), or found one there it may
// not replace (CannotReplace).
TransferResult nameRefusalResult(TargetChoice::Kind kind, const QString &path);

// A body now stored under the record's name: a document, or a web page (the
// detected type is htm or html) with the answer's status line as reason
// ("HTTP 403 Forbidden").
TransferResult storedResult(const DownloadList &list, quint64 recordId, int httpStatus,
                            const QString &httpPhrase, qint64 bytes);

} // namespace lumen
