#include "engine/store_body.h"

#include "engine/part_file.h"
#include "engine/type_detection.h"

#include <QFileInfo>

namespace lumen
{

namespace
{

// Names taken between decision and move are decided again this many times.
constexpr int MaxStoreAttempts = 5;

QString pathFor(const QString &folder, const QString &name, const QString &type)
{
    const QString dir = folderWithSeparator(folder);
    const QString fileName = type.isEmpty() ? name : name + QLatin1Char('.') + type;
    if (dir.isEmpty() || name.isEmpty() || !isSafeFileName(fileName))
        return QString();
    return dir + fileName;
}

bool present(const QFileInfo &fi)
{
    return fi.exists() || fi.isSymLink();
}

} // namespace

bool isReplaceable(const QString &path)
{
    const QFileInfo fi(path);
    if (fi.isSymLink())
        return true;
    if (!fi.exists())
        return true;
    return fi.isFile() && (fi.permissions() & QFileDevice::WriteOwner) &&
           QFileInfo(fi.absolutePath()).isWritable();
}

StoreOutcome storeBody(PartFile &part, const QString &folder, const QString &name,
                       const QString &fileType, SameNamePolicy policy,
                       const NameReservations &reserved)
{
    StoreOutcome out;
    const QString detected = detectFileType(part.partPath());
    out.fileType = detected.isEmpty() ? fileType : detected;
    out.name = name;

    for (int attempt = 0; attempt < MaxStoreAttempts; ++attempt) {
        out.name = name;
        QString path = pathFor(folder, name, out.fileType);
        if (path.isEmpty())
            break;
        const QFileInfo existing(path);
        // Another transfer will store under this name: numbering keeps both
        // bodies, whatever the policy.
        SameNamePolicy effective = policy;
        if (reserved.isReserved(path))
            effective = SameNamePolicy::Rename;

        PartFile::Existing mode = PartFile::Existing::Keep;
        if (effective == SameNamePolicy::Skip && present(existing)) {
            out.kind = StoreOutcome::Kind::ExistsSkipped;
            out.existingSize = existing.size();
            part.discard();
            return out;
        }
        if (effective == SameNamePolicy::Overwrite && present(existing)) {
            if (!isReplaceable(path)) {
                out.kind = StoreOutcome::Kind::CannotReplace;
                out.existingSize = existing.size();
                part.discard();
                return out;
            }
            mode = PartFile::Existing::Replace;
        }
        if (effective == SameNamePolicy::Rename) {
            const SavePath numbered =
                renameSavePath(folder, name, out.fileType, SameNamePolicy::Rename, &reserved);
            if (numbered.path.isEmpty())
                break;
            out.name = numbered.name;
            path = numbered.path;
        }
        if (part.commit(path, mode)) {
            out.kind = StoreOutcome::Kind::Stored;
            out.path = path;
            return out;
        }
        if (!part.nameWasTaken())
            break;
    }
    part.discard();
    out.kind = StoreOutcome::Kind::Failed;
    return out;
}

} // namespace lumen
