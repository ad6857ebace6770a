#pragma once

#include "engine/prompter.h"

#include <QList>
#include <QQueue>
#include <QStringList>
#include <QTest>

#include <functional>

namespace lumen::test
{

// Records every box shown and answers from queues a test fills beforehand.
// A question box answers only what the test scripted: a real one waits for
// the user, so a question nobody scripted fails the running test (and is
// answered with its No or Cancel button, so the code goes on as a careful
// user would take it). An empty text queue cancels inputs and file dialogs.
class FakePrompter final : public Prompter
{
public:
    struct Shown {
        QString kind; // "message", "question", "input", "save", "open", "folder"
        QString text;
        Icon icon = Icon::None;
        QString title;
    };

    QList<Shown> shown;
    QQueue<Answer> answers;
    QQueue<std::optional<QString>> texts;
    // The questions asked with no answer scripted.
    QStringList unscripted;
    // Runs while a question or an input box is open, as events the box's
    // own loop serves (a timer, a click elsewhere) would.
    std::function<void()> whileOpen;

    void message(const QString &text, Icon icon, const QString &title) override
    {
        shown.append({"message", text, icon, title});
    }
    Answer question(const QString &text, Buttons buttons, Icon icon, const QString &title) override
    {
        shown.append({"question", text, icon, title});
        if (whileOpen)
            whileOpen();
        if (!answers.isEmpty())
            return answers.dequeue();
        unscripted.append(text);
        const QByteArray why = "a question box nobody scripted an answer for: " + text.toUtf8();
        if (QTest::currentTestFunction())
            QTest::qFail(why.constData(), __FILE__, __LINE__);
        else
            qCritical("%s", why.constData());
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    std::optional<QString> inputText(const QString &prompt, const QString &title,
                                     const QString &) override
    {
        shown.append({"input", prompt, Icon::None, title});
        if (whileOpen)
            whileOpen();
        return nextText();
    }
    std::optional<QString> saveFileName(const QString &title, const QString &suggested,
                                        const QString &) override
    {
        shown.append({"save", suggested, Icon::None, title});
        return nextText();
    }
    std::optional<QString> openFileName(const QString &title, const QString &) override
    {
        shown.append({"open", QString(), Icon::None, title});
        return nextText();
    }
    std::optional<QString> pickFolder(const QString &title, const QString &start) override
    {
        shown.append({"folder", start, Icon::None, title});
        return nextText();
    }

    QStringList messages() const
    {
        QStringList out;
        for (const auto &s : shown)
            out << s.text;
        return out;
    }

private:
    std::optional<QString> nextText() { return texts.isEmpty() ? std::nullopt : texts.dequeue(); }
};

} // namespace lumen::test
