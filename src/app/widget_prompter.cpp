#include "app/widget_prompter.h"

#include "engine/app_title.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>

namespace lumen
{

QString WidgetPrompter::boxTitle(const QString &title)
{
    return title.isEmpty() ? ApplicationTitle : title;
}

QMessageBox::Icon WidgetPrompter::boxIcon(Icon icon)
{
    switch (icon) {
    case Icon::None:
        return QMessageBox::NoIcon;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons WidgetPrompter::boxButtons(Buttons buttons)
{
    switch (buttons) {
    case Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    }
    return QMessageBox::Yes | QMessageBox::No;
}

Prompter::Answer WidgetPrompter::answerFor(Buttons buttons, QMessageBox::StandardButton clicked)
{
    const bool offered = boxButtons(buttons).testFlag(clicked);
    if (offered) {
        switch (clicked) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        default:
            break;
        }
    }
    return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
}

QWidget *WidgetPrompter::parentWindow() const
{
    if (m_parent)
        return m_parent;
    return QApplication::activeWindow();
}

void WidgetPrompter::message(const QString &text, Icon icon, const QString &title)
{
    QMessageBox box(boxIcon(icon), boxTitle(title), text, QMessageBox::Ok, parentWindow());
    box.exec();
}

Prompter::Answer WidgetPrompter::question(const QString &text, Buttons buttons, Icon icon,
                                          const QString &title)
{
    QMessageBox box(boxIcon(icon), boxTitle(title), text, boxButtons(buttons), parentWindow());
    box.exec();
    return answerFor(buttons, box.standardButton(box.clickedButton()));
}

std::optional<QString> WidgetPrompter::inputText(const QString &prompt, const QString &title,
                                                 const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parentWindow(), boxTitle(title), prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> WidgetPrompter::saveFileName(const QString &title,
                                                    const QString &suggestedName,
                                                    const QString &filter)
{
    const QString path =
        QFileDialog::getSaveFileName(parentWindow(), boxTitle(title), suggestedName, filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> WidgetPrompter::openFileName(const QString &title, const QString &filter)
{
    const QString path =
        QFileDialog::getOpenFileName(parentWindow(), boxTitle(title), QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> WidgetPrompter::pickFolder(const QString &title, const QString &startFolder)
{
    const QString folder =
        QFileDialog::getExistingDirectory(parentWindow(), boxTitle(title), startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

} // namespace lumen
