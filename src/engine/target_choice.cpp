#include "engine/target_choice.h"

#include "engine/download_item.h"

#include <QFileInfo>

namespace lumen
{

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

TargetChoice chooseTarget(const QString &folder, const QString &name, const QString &type,
                          SameNamePolicy policy, const NameReservations *reserved)
{
    TargetChoice choice;
    choice.name = name;
    if (policy == SameNamePolicy::Rename) {
        // Numbering steps past files, folders, links and held names alike.
        const SavePath numbered = renameSavePath(folder, name, type, policy, reserved);
        if (numbered.path.isEmpty())
            return choice;
        choice.kind = TargetChoice::Kind::Store;
        choice.name = numbered.name;
        choice.path = numbered.path;
        return choice;
    }

    const SavePath plain = renameSavePath(folder, name, type, SameNamePolicy::Overwrite);
    if (plain.path.isEmpty())
        return choice;
    choice.path = plain.path;
    if (reserved && reserved->isReserved(choice.path)) {
        choice.kind = TargetChoice::Kind::Wait;
        return choice;
    }

    // The name as a record may carry it ("file:///..." included).
    const QFileInfo existing(localFilePath(choice.path));
    const bool link = existing.isSymLink();
    if (!link && !existing.exists()) {
        choice.kind = TargetChoice::Kind::Store;
        return choice;
    }
    choice.existingSize = existing.size();
    const bool aFile = link || existing.isFile();
    if (policy == SameNamePolicy::Skip)
        choice.kind = aFile ? TargetChoice::Kind::Skip : TargetChoice::Kind::CannotReplace;
    else
        choice.kind = isReplaceable(existing.filePath()) ? TargetChoice::Kind::Replace
                                                         : TargetChoice::Kind::CannotReplace;
    return choice;
}

void showNameRefusal(DownloadItem &item, TargetChoice::Kind kind, qint64 existingSize)
{
    if (kind != TargetChoice::Kind::Skip && kind != TargetChoice::Kind::CannotReplace)
        return;
    const bool skipped = kind == TargetChoice::Kind::Skip;
    item.state = skipped ? DownloadState::Finished : DownloadState::Failed;
    item.size = existingSize;
    item.received = existingSize;
    item.outcome = skipped ? Outcome::SkippedExists : Outcome::CannotReplace;
}

} // namespace lumen
