#pragma once

#include "engine/naming.h"
#include "engine/transfer_result.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace lumen
{

// What a transfer is asked to fetch.
struct TransferRequest {
    quint64 recordId = 0;
    QString url;  // as the record carries it
    QString path; // the target planned before the start (method two); method one
                  // plans its own once the response headers gave the type
    SameNamePolicy policy = SameNamePolicy::Rename;
    double maxFileSizeMB = 10;
};

// How the end of a transfer reaches the user. An announced end shows
// "完成下载:" with the record's name and plays the notice sounds; a quiet one
// (a method-two error or size-limit report) only counts as an end.
enum class TransferNotice { Announced, Quiet };

// The states of a single-connection request, by the number the connection
// panel shows before their text.
enum class ConnectionState {
    None = 0,
    Resolving = 1,
    Resolved = 2,
    Connecting = 3,
    Connected = 4,
    Requesting = 5,
    RequestSent = 6,
    ReceivingResponse = 7,
    ResponseReceived = 8,
    Disconnecting = 9,
    Disconnected = 10,
    Error = 11,
    Completed = 12,
};

// One download of either method: the single connection, or one slot of the
// multi-connection method. A transfer finds its record by id and writes the
// record's progress, sizes, name, type and state itself; its end is told by
// ended() with its result, at most once per start, possibly before start()
// returns.
class Transfer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // False (nothing done) while this transfer runs, or when the record is
    // not in the list.
    virtual bool start(const TransferRequest &request) = 0;
    // A stop request. The single connection ends its record as cancelled and
    // tells it by ended(); a slot drops its read without a word, and the one
    // who stopped it marks the record.
    virtual void cancel() = 0;
    virtual bool isActive() const = 0;
    // The record of the current (or last) start.
    virtual quint64 recordId() const = 0;

signals:
    void ended(quint64 recordId, lumen::TransferNotice notice, const lumen::TransferResult &result);
};

} // namespace lumen
