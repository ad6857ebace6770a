#include "download_window/save_folder_dialog.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace lumen
{

const QString SaveFolderDialog::Caption = QStringLiteral("选择下载保存路径－澜图软件");

namespace
{

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

SaveFolderDialog::SaveFolderDialog(SaveFolderSession &session, QWidget *parent)
    : QDialog(parent), m_session(session)
{
    build();
}

SaveFolderDialog::SaveFolderDialog(AppSettings &settings, SettingsStore &store, Prompter &prompter,
                                   FolderHistoryLocation history, QWidget *parent)
    : QDialog(parent), m_ownSession(std::make_unique<SaveFolderSession>(settings, store, prompter,
                                                                        std::move(history))),
      m_session(*m_ownSession)
{
    build();
}

SaveFolderDialog::~SaveFolderDialog() = default;

void SaveFolderDialog::build()
{
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(Caption);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    if (parentWidget())
        setWindowIcon(parentWidget()->windowIcon());

    m_folder = named(new QComboBox(this), "Combo1");
    m_folder->setEditable(true);
    m_folder->setInsertPolicy(QComboBox::NoInsert);
    m_folder->setMinimumWidth(500);
    auto *browse = named(new QPushButton(QStringLiteral("..."), this), "Command1");
    m_sourceName = named(new QRadioButton(QStringLiteral("原文件名"), this), "Option1");
    m_titleName = named(new QRadioButton(QStringLiteral("文章标题名称"), this), "Option2");
    auto *naming = new QButtonGroup(this);
    naming->addButton(m_sourceName);
    naming->addButton(m_titleName);
    auto *ok = named(new QPushButton(QStringLiteral("确定"), this), "Command2");
    auto *cancel = named(new QPushButton(QStringLiteral("取消"), this), "Command3");
    ok->setDefault(true);

    auto *grid = new QGridLayout(this);
    grid->addWidget(named(new QLabel(QStringLiteral("保存到文件夹："), this), "Label1"), 0, 0);
    grid->addWidget(m_folder, 0, 1, 1, 2);
    grid->addWidget(browse, 0, 3);
    grid->addWidget(named(new QLabel(QStringLiteral("保存文件名为："), this), "Label3"), 1, 0);
    grid->addWidget(m_sourceName, 1, 1);
    grid->addWidget(m_titleName, 1, 2);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 2, 0, 1, 4);

    connect(ok, &QPushButton::clicked, this, &SaveFolderDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SaveFolderDialog::reject);
    connect(browse, &QPushButton::clicked, this,
            [this] { m_folder->setEditText(m_session.browse(m_folder->currentText())); });

    // What the session loaded: the naming last used this run, the history,
    // the stored folder.
    (m_session.useSourceFileName() ? m_sourceName : m_titleName)->setChecked(true);
    m_folder->addItems(m_session.folders());
    m_folder->setEditText(m_session.folderText());
    // The drop-down is as wide as its longest folder.
    m_folder->view()->setMinimumWidth(m_folder->view()->sizeHintForColumn(0) + 24);
}

QStringList SaveFolderDialog::folders() const
{
    QStringList out;
    for (int i = 0; i < m_folder->count(); ++i)
        out << m_folder->itemText(i);
    return out;
}

void SaveFolderDialog::accept()
{
    if (!m_session.confirm(m_folder->currentText(), m_sourceName->isChecked()))
        return;
    m_folder->setEditText(m_session.folderText());
    QDialog::accept();
}

void SaveFolderDialog::reject()
{
    m_session.cancel();
    QDialog::reject();
}

DialogSaveFolderChooser::DialogSaveFolderChooser(SettingsStore &store, Prompter &prompter,
                                                 FolderHistoryLocation history,
                                                 QWidget *parentWindow)
    : m_store(store), m_prompter(prompter), m_history(std::move(history)), m_parent(parentWindow)
{
}

void DialogSaveFolderChooser::chooseSaveFolder(AppSettings &settings)
{
    SaveFolderSession session(settings, m_store, m_prompter, m_history);
    SaveFolderDialog dialog(session, m_parent);
    dialog.exec();
}

} // namespace lumen
