#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <optional>

class QNetworkReply;
class QNetworkRequest;

namespace lumen
{

// What a partial file needs to be continued by a later attempt: whose bytes
// they are (the URL) and which version of the document (its validator and
// whole length). It lives in a small file beside the partial file, written
// as soon as the response headers are in, so that it outlives a program
// that is killed mid-body.
struct ResumeMeta {
    QString url;             // as requested
    QByteArray etag;         // the entity tag as sent, or empty
    QByteArray lastModified; // the Last-Modified date as sent, or empty
    qint64 length = -1;      // the whole document's bytes; -1 unknown

    // The validator If-Range carries: a strong entity tag, else the date.
    // A weak tag may not be used to join byte ranges.
    QByteArray validator() const;
    // Only a known version of known length can be continued: anything else
    // could splice two versions into one file.
    bool resumable() const { return length > 0 && !validator().isEmpty(); }
};

// The file beside partPath that holds its ResumeMeta.
QString resumeMetaPath(const QString &partPath);
// Empty when there is none, or it cannot be read as one.
std::optional<ResumeMeta> readResumeMeta(const QString &partPath);
// Replaces the sidecar in one step (a kill leaves the old one or the new
// one, never half of either). It is not synced to the disk: it only has to
// outlive the program, and a lost one means starting over, not a bad file.
bool writeResumeMeta(const QString &partPath, const ResumeMeta &meta, QString *error = nullptr);
void removeResumeMeta(const QString &partPath);

// The meta of a whole answer (status 200) to url. length: the body's
// announced length, 0 or less when none was.
ResumeMeta resumeMetaFor(const QNetworkReply &reply, const QString &url, qint64 length);

// Asks for the bytes from offset on, of the version meta names only.
void askForRest(QNetworkRequest &request, qint64 offset, const ResumeMeta &meta);

// What an answer to askForRest means for the partial file.
enum class RangeAnswer {
    Append,  // 206 with exactly the rest of the same version: append the body
    Whole,   // a whole answer (the document changed, or ranges are not served):
             // start the partial file over with this body
    Refetch, // a range that does not join the bytes there (another start or
             // length, a different tag), or 416: ask again without a range
};
RangeAnswer judgeRangeAnswer(const QNetworkReply &reply, qint64 offset, const ResumeMeta &meta);

// "bytes first-last/complete"; complete is -1 for "*". False when value is
// not of that form.
bool parseContentRange(QByteArrayView value, qint64 *first, qint64 *last, qint64 *complete);

// A partial file left for targetPath whose sidecar names url goes, with the
// sidecar. A partial file of anyone else (another URL, no sidecar) stays.
void removeLeftoverPart(const QString &targetPath, const QString &url);

} // namespace lumen
