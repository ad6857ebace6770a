#pragma once

#include "engine/prompter.h"

#include <QMessageBox>
#include <QPointer>

class QWidget;

namespace lumen
{

// The desktop's answer to every box the system shows: message boxes titled
// with the application title, input boxes, file dialogs and the folder
// picker, each modal over the window the user is working in.
class WidgetPrompter final : public Prompter
{
public:
    // The window the boxes centre on; without one, the active window.
    void setParentWindow(QWidget *window) { m_parent = window; }

    void message(const QString &text, Icon icon, const QString &title) override;
    Answer question(const QString &text, Buttons buttons, Icon icon, const QString &title) override;
    std::optional<QString> inputText(const QString &prompt, const QString &title,
                                     const QString &defaultText) override;
    std::optional<QString> saveFileName(const QString &title, const QString &suggestedName,
                                        const QString &filter) override;
    std::optional<QString> openFileName(const QString &title, const QString &filter) override;
    std::optional<QString> pickFolder(const QString &title, const QString &startFolder) override;

    // The pieces that decide what a box looks like and what its answer
    // means, apart from showing it.
    static QString boxTitle(const QString &title);
    static QMessageBox::Icon boxIcon(Icon icon);
    static QMessageBox::StandardButtons boxButtons(Buttons buttons);
    // The answer for the button that closed the box. A box closed without
    // a button (Escape, the title bar) answers as its most cautious button
    // does: Cancel where there is one, else No.
    static Answer answerFor(Buttons buttons, QMessageBox::StandardButton clicked);

private:
    QWidget *parentWindow() const;

    QPointer<QWidget> m_parent;
};

} // namespace lumen
