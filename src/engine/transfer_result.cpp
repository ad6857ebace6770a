#include "engine/transfer_result.h"

#include "engine/download_list.h"
#include "engine/requeue.h"

#include <QDir>

namespace lumen
{

QString cutBodyReason(qint64 received, qint64 total, const QString &detail)
{
    QString text = total > 0
                       ? QStringLiteral("body ended at %1 of %2 bytes").arg(received).arg(total)
                       : QStringLiteral("body ended at %1 bytes").arg(received);
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    return text;
}

QString writeFailureReason(const QString &folder, const QString &error)
{
    return QStringLiteral("cannot write in %1: %2")
        .arg(QDir::toNativeSeparators(QDir::cleanPath(folder)), error);
}

QString overLimitReason(qint64 bytes, double limitMB)
{
    return QStringLiteral("%1 bytes, over the size limit of %2 MB")
        .arg(bytes)
        .arg(plainDecimalText(limitMB));
}

TransferResult nameRefusalResult(TargetChoice::Kind kind, const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (kind == TargetChoice::Kind::Skip)
        return {Outcome::SkippedExists, QStringLiteral("%1 exists").arg(shown)};
    return {Outcome::CannotReplace, QStringLiteral("%1 exists and cannot be replaced").arg(shown)};
}

TransferResult TransferResult::retryLater(int httpStatus, const QString &httpPhrase, qint64 waitMs)
{
    QString status = QStringLiteral("HTTP %1").arg(httpStatus);
    if (!httpPhrase.isEmpty())
        status += QLatin1Char(' ') + httpPhrase;
    TransferResult result{Outcome::None, status, -1};
    result.retryAfterMs = qMax<qint64>(0, waitMs);
    return result;
}

TransferResult storedResult(const DownloadList &list, quint64 recordId, int httpStatus,
                            const QString &httpPhrase, qint64 bytes)
{
    const qint64 row = list.rowOfId(recordId);
    if (row < 0 || !isWebPageType(list.at(row).fileType))
        return {Outcome::Document, QString(), bytes};
    QString status = QStringLiteral("HTTP %1").arg(httpStatus);
    if (!httpPhrase.isEmpty())
        status += QLatin1Char(' ') + httpPhrase;
    return {Outcome::WebPage, httpStatus > 0 ? status : QStringLiteral("a web page came"), bytes};
}

} // namespace lumen
