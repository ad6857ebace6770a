#pragma once

#include <QString>
#include <QStringList>

namespace lumen
{

// Everything the system asks the desktop to do for it: open a document or a
// folder with the program the user chose for it, show a file selected in its
// folder, start a text editor or a system-information program, compose a
// mail. The desktop program answers with the desktop's own services, tests
// with a record they can assert on. No method takes a command line: programs
// get argument lists, so no name from the network reaches a shell.
class Shell
{
public:
    virtual ~Shell() = default;

    // Each returns false when the desktop could not do it (no handler, no
    // such program, the file vanished), so the caller can say so.
    virtual bool openFile(const QString &path) = 0;
    virtual bool openFolder(const QString &path) = 0;
    virtual bool openUrl(const QString &url) = 0;
    // Opens the folder holding the file with the file selected where the
    // file manager can, else just the folder.
    virtual bool showFileInFolder(const QString &path) = 0;
    // Opens a text file in the desktop's text editor, whatever its name ends
    // in (a ".pdf" holding a login page must not go to a PDF viewer).
    virtual bool openInTextEditor(const QString &path) = 0;
    // Starts the system-information program; false when none is installed.
    virtual bool startSystemInformation() = 0;
    // Opens the user's mail program on a new message.
    virtual bool composeMail(const QString &address, const QString &subject,
                             const QString &body) = 0;
};

} // namespace lumen
