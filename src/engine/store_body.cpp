#include "engine/store_body.h"

#include "engine/part_file.h"
#include "engine/transfer_result.h"
#include "engine/type_detection.h"

namespace lumen
{

namespace
{

// Names taken between decision and move are decided again this many times.
constexpr int MaxStoreAttempts = 5;

} // namespace

StoreOutcome storeBody(PartFile &part, const QString &folder, const QString &name,
                       const QString &fileType, SameNamePolicy policy,
                       const NameReservations &reserved)
{
    StoreOutcome out;
    // Detection reads the file: every byte taken must be on the disk first.
    if (!part.flush()) {
        out.error = writeFailureReason(folder, part.errorString());
        part.discard();
        out.kind = StoreOutcome::Kind::Failed;
        return out;
    }
    const QString detected = detectFileType(part.partPath());
    out.fileType = detected.isEmpty() ? fileType : detected;
    out.name = name;

    for (int attempt = 0; attempt < MaxStoreAttempts; ++attempt) {
        TargetChoice target = chooseTarget(folder, name, out.fileType, policy, &reserved);
        // Another transfer will store under this name, and a complete body
        // cannot wait for it: numbering keeps both bodies, whatever the policy.
        if (target.kind == TargetChoice::Kind::Wait)
            target = chooseTarget(folder, name, out.fileType, SameNamePolicy::Rename, &reserved);
        out.name = target.name;
        PartFile::Existing mode = PartFile::Existing::Keep;
        switch (target.kind) {
        case TargetChoice::Kind::Skip:
        case TargetChoice::Kind::CannotReplace:
            out.kind = target.kind == TargetChoice::Kind::Skip ? StoreOutcome::Kind::ExistsSkipped
                                                               : StoreOutcome::Kind::CannotReplace;
            out.existingSize = target.existingSize;
            out.existingPath = target.path;
            part.discard();
            return out;
        case TargetChoice::Kind::NoPath:
        case TargetChoice::Kind::Wait:
            part.discard();
            out.kind = StoreOutcome::Kind::Failed;
            out.error = unsafeNameReason(folder, name, out.fileType);
            return out;
        case TargetChoice::Kind::Replace:
            mode = PartFile::Existing::Replace;
            break;
        case TargetChoice::Kind::Store:
            break;
        }
        if (part.commit(target.path, mode)) {
            out.kind = StoreOutcome::Kind::Stored;
            out.path = target.path;
            return out;
        }
        out.error = part.errorString();
        if (!part.nameWasTaken())
            break;
    }
    part.discard();
    out.kind = StoreOutcome::Kind::Failed;
    return out;
}

} // namespace lumen
