#include "download_window/save_folder_dialog.h"

#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "engine/naming.h"
#include "engine/prompter.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace lumen
{

const QString SaveFolderDialog::Caption = QStringLiteral("选择下载保存路径－澜图软件");
const QString SaveFolderDialog::FolderErrorMessage = QStringLiteral("文件夹设置错误！");
const QString SaveFolderDialog::BrowsePrompt = QStringLiteral("请选择要浏览的文件夹:");

namespace
{

QString withSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

template <typename W> W *named(W *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

QString BrowseForFolder(Prompter &prompter, const QString &initial, const QString &prompt)
{
    QString start = initial.trimmed().isEmpty() ? QDir::rootPath() : initial;
    // The folder holding the last piece: /a/b/ and /a/file.pdf start at /a/.
    const qsizetype cut = start.left(start.size() - 1).lastIndexOf(u'/');
    if (cut >= 0)
        start = start.left(cut + 1);
    if (!QFileInfo(start).isDir())
        start = QDir::rootPath();
    const std::optional<QString> picked = prompter.pickFolder(prompt, start);
    if (!picked || picked->isEmpty())
        return initial;
    return withSlash(*picked);
}

SaveFolderDialog::SaveFolderDialog(AppSettings &settings, SettingsStore &store, Prompter &prompter,
                                   FolderHistoryLocation history, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_store(store), m_prompter(prompter),
      m_history(std::move(history))
{
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(Caption);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    if (parent)
        setWindowIcon(parent->windowIcon());

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
    connect(browse, &QPushButton::clicked, this, [this] {
        m_folder->setEditText(BrowseForFolder(m_prompter, m_folder->currentText(), BrowsePrompt));
    });

    // Load: the naming last used this run, the history, the stored folder.
    (m_settings.useSourceFileName ? m_sourceName : m_titleName)->setChecked(true);
    if (const std::optional<QStringList> folders = LoadFolderHistory(m_history.readPath()))
        m_folder->addItems(*folders);
    loadSaveFolder(m_store, m_settings);
    m_folder->setEditText(m_settings.saveFolder);
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
    m_settings.useSourceFileName = m_sourceName->isChecked();
    const FolderPathResult made = CreateFolderPath(withSlash(m_folder->currentText()));
    if (made.badName)
        m_prompter.message(FolderNameErrorText, Prompter::Icon::Critical);
    const QString folder = made.path;
    if (folder.isEmpty()) {
        m_prompter.message(FolderErrorMessage, Prompter::Icon::Critical);
        return;
    }
    const QString chosen = withSlash(folder);
    m_folder->setEditText(chosen);
    storeSaveFolder(m_store, m_settings, chosen);
    // Appended even when listed already: the file keeps the order of use,
    // the reader drops the repeats.
    m_folder->addItem(chosen.trimmed());
    SaveFolderHistory(folders(), m_history.writePath());
    QDialog::accept();
}

void SaveFolderDialog::reject()
{
    m_settings.saveFolderDialogCancelled = true;
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
    SaveFolderDialog dialog(settings, m_store, m_prompter, m_history, m_parent);
    dialog.exec();
}

} // namespace lumen
