#pragma once

#include <QtGlobal>

namespace lumen
{

class DownloadList;

// CorrectFileType: renames the record's stored file to the type its content
// shows and updates Name and FileType. True when renamed.
bool CorrectFileType(DownloadList &list, quint64 recordId);

} // namespace lumen
