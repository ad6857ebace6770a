#pragma once

#include "engine/shell.h"

#include <QList>

namespace lumen::test
{

// Records every request in order as "kind<TAB>argument" and answers with
// `result` (true unless a test sets it), so a test can script a desktop that
// has no text editor or no system-information program.
class FakeShell final : public Shell
{
public:
    QStringList requests;
    bool result = true;
    bool hasSystemInformation = true;

    bool openFile(const QString &path) override { return record("openFile", path); }
    bool openFolder(const QString &path) override { return record("openFolder", path); }
    bool openUrl(const QString &url) override { return record("openUrl", url); }
    bool showFileInFolder(const QString &path) override { return record("showFileInFolder", path); }
    bool openInTextEditor(const QString &path) override { return record("openInTextEditor", path); }
    bool startSystemInformation() override
    {
        requests << QStringLiteral("startSystemInformation\t");
        return hasSystemInformation;
    }
    bool composeMail(const QString &address, const QString &subject, const QString &body) override
    {
        return record("composeMail",
                      address + QLatin1Char('\t') + subject + QLatin1Char('\t') + body);
    }

private:
    bool record(const char *kind, const QString &argument)
    {
        requests << QString::fromLatin1(kind) + QLatin1Char('\t') + argument;
        return result;
    }
};

} // namespace lumen::test
