#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QtGlobal>

#include <optional>

class QNetworkReply;

namespace lumen
{

// A server that is overloaded (503) or rate-limits us (429) says when to
// come back; its answer is no document and no page to keep.

// Longest wait a server may ask for: a record must not sleep for hours on
// one answer.
constexpr qint64 MaxRetryWaitMs = 10 * 60 * 1000;
// The wait when the answer names none (or names one we cannot read).
constexpr qint64 DefaultRetryWaitMs = 30 * 1000;
// Answers of this kind in a row after which the record fails.
constexpr int MaxRetryAnswers = 5;

bool asksToRetryLater(int httpStatus);

// The wait a Retry-After value asks for, from nowUtc: delay seconds, or an
// HTTP date (a date already past means no wait). Capped at MaxRetryWaitMs;
// empty or unreadable gives DefaultRetryWaitMs.
qint64 retryWaitMs(QByteArrayView retryAfter, const QDateTime &nowUtc);

// For a reply: the wait when its status asks to retry later, else empty.
std::optional<qint64> retryWaitFor(const QNetworkReply &reply, const QDateTime &nowUtc);

} // namespace lumen
