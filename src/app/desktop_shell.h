#pragma once

#include "engine/shell.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace lumen
{

// The desktop's own services behind the Shell seam: the user's chosen
// programs through QDesktopServices, the file manager's "show this item"
// request over the session bus, and programs started with argument lists,
// never through a shell.
class DesktopShell final : public QObject, public Shell
{
    Q_OBJECT
public:
    explicit DesktopShell(QObject *parent = nullptr);

    bool openFile(const QString &path) override;
    bool openFolder(const QString &path) override;
    bool openUrl(const QString &url) override;
    bool showFileInFolder(const QString &path) override;
    bool openInTextEditor(const QString &path) override;
    bool startSystemInformation() override;
    bool composeMail(const QString &address, const QString &subject, const QString &body) override;

    // --- the parts that decide, apart from the desktop ----------------------

    // A mailto: link whose address, subject and body are percent-encoded, so
    // that a "?" or "&" in any of them cannot add fields of its own. Line
    // breaks in the body become CRLF, as mail links carry them.
    static QUrl mailtoUrl(const QString &address, const QString &subject, const QString &body);

    // What a desktop entry (.desktop file) starts.
    struct DesktopEntry {
        QString exec;          // the Exec value, escapes of the file format undone
        bool terminal = false; // a program that needs a terminal around it
    };
    // Reads the [Desktop Entry] group of a .desktop file's text; nullopt when
    // it has no Exec line there.
    static std::optional<DesktopEntry> parseDesktopEntry(const QString &text);

    // The program and its arguments for an Exec value opening `file`: the
    // value is split as the desktop entry format quotes it, the file field
    // codes (%f %F %u %U) become the file, %% a percent sign, and every other
    // field code is dropped. Without a file field code the file goes last.
    // Empty when the value cannot be split (an unterminated quote).
    static QStringList execArguments(const QString &exec, const QString &file);

    // The .desktop file of a desktop file id within the applications folders
    // given (a "-" in the id may stand for a subfolder); empty when none.
    static QString findDesktopFile(const QString &desktopId, const QStringList &applicationFolders);

    // The first system-information program found in the folders given.
    static QString findSystemInformationProgram(const QStringList &searchFolders);

private:
    // The command line of the desktop's text editor, looked up once.
    QStringList textEditorCommand(const QString &file);

    bool m_editorLookedUp = false;
    std::optional<DesktopEntry> m_editor;
};

} // namespace lumen
