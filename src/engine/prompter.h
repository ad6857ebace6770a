#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace lumen
{

// Every box the system shows goes through this interface: the windows answer
// with real dialogs, the command-line tool with its options, tests with a
// script they can assert on.
class Prompter
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum class Buttons { YesNo, YesNoCancel, OkCancel };
    enum class Answer { Yes, No, Cancel, Ok };

    virtual ~Prompter() = default;

    // A modal message with an OK button. An empty title means the
    // application title.
    virtual void message(const QString &text, Icon icon = Icon::Information,
                         const QString &title = QString()) = 0;
    virtual Answer question(const QString &text, Buttons buttons = Buttons::YesNo,
                            Icon icon = Icon::Question, const QString &title = QString()) = 0;
    // nullopt when the user cancels.
    virtual std::optional<QString> inputText(const QString &prompt,
                                             const QString &title = QString(),
                                             const QString &defaultText = QString()) = 0;
    virtual std::optional<QString> saveFileName(const QString &title, const QString &suggestedName,
                                                const QString &filter = QString()) = 0;
    virtual std::optional<QString> openFileName(const QString &title,
                                                const QString &filter = QString()) = 0;
    virtual std::optional<QString> pickFolder(const QString &title,
                                              const QString &startFolder = QString()) = 0;
};

} // namespace lumen
