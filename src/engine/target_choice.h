#pragma once

#include "engine/naming.h"

#include <QString>
#include <QtGlobal>

namespace lumen
{

struct DownloadItem;

// What the same-name policy makes of the name a record's file is to take.
// The one place that decides it: the scheduler before a request, method one
// once the response headers gave the type, method two before it starts a
// slot, and the store step once the body is complete all ask here, so that
// a name means the same thing at every step.
struct TargetChoice {
    enum class Kind {
        Store,         // nothing is in the way (rename numbered past what is): store under path
        Replace,       // overwrite: a file or link the new file may replace stands at path
        Skip,          // skip: a file (or link) already stands under the name
        CannotReplace, // something stands there that may not be replaced: a read-only
                       // file, a folder, a pipe, a file in a folder that is not writable
        Wait,          // another running transfer holds the name: decide again after it
        NoPath,        // the name gives no safe path inside the folder
    };
    Kind kind = Kind::NoPath;
    QString name;            // the record's name for the file (numbered by rename)
    QString path;            // folder + name (+ "." + type); empty for NoPath
    qint64 existingSize = 0; // length of what is in the way (Skip, CannotReplace)
};

// The decision for folder + name (+ "." + type) under policy, looking at the
// file system and at the names that running transfers hold:
//
// | at the name                 | Skip          | Overwrite     | Rename          |
// |-----------------------------|---------------|---------------|-----------------|
// | nothing                     | Store         | Store         | Store           |
// | a file or a link            | Skip          | Replace       | Store, numbered |
// | a read-only file            | Skip          | CannotReplace | Store, numbered |
// | a folder, pipe, device      | CannotReplace | CannotReplace | Store, numbered |
// | a name a transfer holds     | Wait          | Wait          | Store, numbered |
//
// A link is replaced as a link, never written through. A folder or pipe at
// the name is no file that "already exists": skipping would report a file
// that is not there, so the record fails instead.
TargetChoice chooseTarget(const QString &folder, const QString &name, const QString &type,
                          SameNamePolicy policy, const NameReservations *reserved = nullptr);

// Shows in the record what a Skip or CannotReplace choice means for it:
// Finished with "已存在，跳过" or Failed with "无法替换", both size texts
// giving the length of what is in the way. Other kinds change nothing.
void showNameRefusal(DownloadItem &item, TargetChoice::Kind kind, qint64 existingSize);

// True when a file standing at path may be replaced by a new one: a regular
// file its owner may write in a folder that is writable, or a link (the link
// itself is replaced, never written through). Nothing at path counts as
// replaceable.
bool isReplaceable(const QString &path);

} // namespace lumen
