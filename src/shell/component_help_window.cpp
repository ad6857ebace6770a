#include "shell/component_help_window.h"

#include "shell/cover_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumen
{

namespace
{

const QString InstallButtonText = QStringLiteral("复制安装命令，到终端中粘贴运行");
const QString AdminNoteText = QStringLiteral("(以下命令需要管理员权限)");

QLabel *addLabel(QWidget *window, QVBoxLayout *layout, const char *name, const QString &text)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    return label;
}

QPlainTextEdit *addText(QWidget *window, QVBoxLayout *layout, const char *name, const QString &text)
{
    auto *edit = new QPlainTextEdit(text, window);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    layout->addWidget(edit, 1);
    return edit;
}

// `Command3`: hands the install command over and closes the window.
void addInstallButton(QDialog *window, QVBoxLayout *layout)
{
    auto *button = new QPushButton(InstallButtonText, window);
    button->setObjectName(QStringLiteral("Command3"));
    layout->addWidget(button, 0, Qt::AlignHCenter);
    QObject::connect(button, &QPushButton::clicked, window, [window] {
        QGuiApplication::clipboard()->setText(installCommand());
        window->accept();
    });
}

} // namespace

ComponentHelpWindow::ComponentHelpWindow(const QString &osDescription, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Net35"));
    setWindowTitle(QStringLiteral("缺少运行组件"));
    setWindowIcon(programIcon());

    auto *layout = new QVBoxLayout(this);
    addLabel(this, layout, "Label5",
             QStringLiteral("如果您看到本窗口，说明您的操作系统缺少本软件需要的软件包，"
                            "本软件可能不能正常运行。"));
    addLabel(this, layout, "Label4", QStringLiteral("您的操作系统是：") + osDescription);
    addLabel(this, layout, "Label2",
             QStringLiteral("建议您用系统的软件包管理器安装以下Debian软件包："));
    addText(this, layout, "Text1", runtimePackages().join(QLatin1Char('\n')));
    addLabel(this, layout, "Label3", AdminNoteText);
    addText(this, layout, "Text2", installCommand())->setMaximumHeight(60);
    addInstallButton(this, layout);
    resize(560, 420);
}

PermissionHelpWindow::PermissionHelpWindow(const QString &programName, const QString &osDescription,
                                           const QList<PermissionEntry> &entries, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Net352"));
    setWindowTitle(QStringLiteral("软件运行权限不足，或者缺少运行组件"));
    setWindowIcon(programIcon());

    auto *layout = new QVBoxLayout(this);
    QLabel *name = addLabel(this, layout, "Label1", programName);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    addLabel(this, layout, "Label5",
             QStringLiteral("请找到安装本软件的目标文件夹，确认") + programName +
                 QStringLiteral("文件可以执行；程序文件夹可以读取，设置文件夹和下载文件夹"
                                "可以读写（例如在终端中运行：chmod u+rwx 文件夹）。"
                                "以下是它们现在的权限："));
    addText(this, layout, "Text1", permissionReport(entries).join(QLatin1Char('\n')));
    addLabel(this, layout, "Label4", QStringLiteral("您的操作系统是：") + osDescription);
    addLabel(this, layout, "Label2",
             QStringLiteral("如果按照以上设置，仍然出现此弹出框，建议您安装本软件需要的"
                            "Debian软件包。"));
    addLabel(this, layout, "Label3", AdminNoteText);
    addText(this, layout, "Text2", installCommand())->setMaximumHeight(60);
    addInstallButton(this, layout);
    resize(620, 460);
}

} // namespace lumen

// Compiled here rather than with every other view's meta-object code, so a
// program that shows only this window does not pull in the browser engine.
#include "moc_component_help_window.cpp"
