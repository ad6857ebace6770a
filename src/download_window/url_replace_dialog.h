#pragma once

#include <QDialog>

#include <functional>

class QLineEdit;

namespace lumen
{

// UrlReplace, "网址批量替换": a text to find in every record's address and
// referring page, and its replacement. "替换" asks the given function, which
// replaces (or refuses, with its own message); the dialog closes only when
// the replacement was made.
class UrlReplaceDialog : public QDialog
{
    Q_OBJECT
public:
    // Answers whether the replacement was made.
    using Replace = std::function<bool(const QString &findText, const QString &replacement)>;

    explicit UrlReplaceDialog(Replace replace, QWidget *parent = nullptr);

private:
    Replace m_replace;
    QLineEdit *m_find = nullptr;
    QLineEdit *m_replacement = nullptr;
};

// How the download window opens the dialog, so that tests can answer it
// without a modal loop.
class UrlReplaceOpener
{
public:
    virtual ~UrlReplaceOpener() = default;
    virtual void open(QWidget *owner, const UrlReplaceDialog::Replace &replace) = 0;
};

class ModalUrlReplaceOpener final : public UrlReplaceOpener
{
public:
    void open(QWidget *owner, const UrlReplaceDialog::Replace &replace) override;
};

} // namespace lumen
