#pragma once

#include "engine/download_item.h"

#include <QString>

namespace lumen::test
{

// Sets a record's figures so that its size, received and percent columns
// show the given texts: plain numbers, "N%" (out of the given size, or of
// 100 when none is given), and the notes and status texts the engine
// writes. Lets tests state a record as the list shows it.
inline void showFigures(DownloadItem &it, const QString &size, const QString &received = QString(),
                        const QString &percent = QString())
{
    bool numeric = false;
    it.size = -1;
    it.received = -1;
    it.sizeNote = SizeNote::None;
    if (const qint64 n = size.toLongLong(&numeric); numeric && !size.trimmed().isEmpty())
        it.size = n;
    else if (size == RecordText::SizeUnknown)
        it.sizeNote = SizeNote::Unannounced;
    else if (size == RecordText::WaitingAgain)
        it.sizeNote = SizeNote::WaitingAgain;
    if (const qint64 n = received.toLongLong(&numeric); numeric)
        it.received = n;
    if (percent.endsWith(QLatin1Char('%'))) {
        const qint64 pct = percent.chopped(1).toLongLong();
        if (it.size <= 0)
            it.size = 100;
        if (it.received < 0)
            it.received = it.size * pct / 100;
    } else if (percent == RecordText::Cancelled) {
        it.percentNote = PercentNote::Cancelled;
        it.outcome = Outcome::Cancelled;
    } else if (percent == RecordText::FileMissing) {
        it.percentNote = PercentNote::FileMissing;
    } else if (percent == RecordText::BadProxy) {
        it.percentNote = PercentNote::ProxyUnusable;
    } else if (percent == RecordText::BigFileSkipped) {
        it.outcome = Outcome::SkippedTooLarge;
    } else if (percent == RecordText::ExistsSkipped) {
        it.outcome = Outcome::SkippedExists;
    } else if (percent == RecordText::CannotReplace) {
        it.outcome = Outcome::CannotReplace;
    }
}

} // namespace lumen::test
