#include "download_window/url_replace_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lumen
{

UrlReplaceDialog::UrlReplaceDialog(Replace replace, QWidget *parent)
    : QDialog(parent), m_replace(std::move(replace))
{
    setObjectName(QStringLiteral("UrlReplace"));
    setWindowTitle(QStringLiteral("网址批量替换"));

    auto *findLabel = new QLabel(QStringLiteral("所有网址中的字符串："), this);
    findLabel->setObjectName(QStringLiteral("Label1"));
    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("Text1"));
    auto *replaceLabel = new QLabel(QStringLiteral("将被全部替换为字符串："), this);
    replaceLabel->setObjectName(QStringLiteral("Label2"));
    m_replacement = new QLineEdit(this);
    m_replacement->setObjectName(QStringLiteral("Text2"));
    auto *replaceButton = new QPushButton(QStringLiteral("替换"), this);
    replaceButton->setObjectName(QStringLiteral("Command1"));
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    replaceButton->setDefault(true);

    auto *grid = new QGridLayout(this);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(m_find, 0, 1);
    grid->addWidget(replaceLabel, 1, 0);
    grid->addWidget(m_replacement, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(replaceButton);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    m_find->setMinimumWidth(320);

    // The texts go as typed: blanks around them are part of what is found.
    connect(replaceButton, &QPushButton::clicked, this, [this] {
        if (m_replace && m_replace(m_find->text(), m_replacement->text()))
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ModalUrlReplaceOpener::open(QWidget *owner, const UrlReplaceDialog::Replace &replace)
{
    UrlReplaceDialog dialog(replace, owner);
    dialog.exec();
}

} // namespace lumen
