#pragma once

#include "engine/naming.h"
#include "engine/target_choice.h"

#include <QString>
#include <QtGlobal>

namespace lumen
{

class PartFile;

// Where a complete body ended up.
struct StoreOutcome {
    enum class Kind {
        Stored,        // under path
        ExistsSkipped, // the skip policy found the final name taken; the body is gone
        CannotReplace, // the overwrite policy found a file it may not replace
        Failed,        // no safe name, or the move failed; the body is gone
    };
    Kind kind = Kind::Failed;
    QString name;            // the record's name for the stored file (numbered by rename)
    QString fileType;        // the type it is stored under
    QString path;            // the stored file
    qint64 existingSize = 0; // the file in the way (ExistsSkipped, CannotReplace)
    QString existingPath;    // where it stands
    QString error;           // why a Failed body could not be stored
};

// Moves a complete body from its partial file onto its final name, deciding
// that name only now that the body's type is known: the type detected from
// the content when detection names one, else fileType. The same-name policy
// is applied to that final path as chooseTarget decides: Skip keeps an
// existing file and drops the body, Overwrite replaces a file it may write
// (a read-only one, a folder or a pipe is refused), Rename numbers the name
// past existing files and names reserved by other running transfers. A name
// another transfer holds is numbered whatever the policy, as a complete body
// cannot wait. The caller frees its own reservation first. Nothing but the
// complete body ever appears under a final name, and a name taken between
// the decision and the move is decided afresh, never overwritten (except by
// Overwrite, whose point that is). Whatever the outcome, the partial file is
// gone afterwards.
StoreOutcome storeBody(PartFile &part, const QString &folder, const QString &name,
                       const QString &fileType, SameNamePolicy policy,
                       const NameReservations &reserved);

} // namespace lumen
