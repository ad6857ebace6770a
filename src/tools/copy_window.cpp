#include "tools/copy_window.h"

#include "tools/copy_session.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace lumen
{

namespace
{

QLabel *label(const QString &name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QPushButton *button(const QString &name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

} // namespace

CopyWindow::CopyWindow(CopySession &session, QWidget *parent) : QDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("Form_Copy_Move"));
    setWindowTitle(session.caption());
    connect(&session, &CopySession::captionChanged, this, &QWidget::setWindowTitle);

    m_destination = new QComboBox(this);
    m_destination->setObjectName(QStringLiteral("Combo1"));
    m_destination->setEditable(true);
    m_destination->setInsertPolicy(QComboBox::NoInsert);
    m_destination->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_destination->setMinimumContentsLength(40);
    showHistory();
    connect(m_destination, &QComboBox::currentTextChanged, &session,
            &CopySession::setDestinationText);
    connect(&session, &CopySession::destinationTextChanged, this, [this](const QString &text) {
        if (m_destination->currentText() != text)
            m_destination->setEditText(text);
    });
    connect(&session, &CopySession::folderHistoryChanged, this, &CopyWindow::showHistory);
    QPushButton *browse = button(QStringLiteral("Command3"), QStringLiteral("浏览"), this);
    connect(browse, &QPushButton::clicked, &session, &CopySession::browse);

    auto *frame = new QGroupBox(QStringLiteral("如果同名文件已经存在"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    auto *frameLayout = new QVBoxLayout(frame);
    m_options = new QButtonGroup(this);
    const QStringList captions{
        QStringLiteral("跳过"),
        QStringLiteral("覆盖"),
        QStringLiteral("自动重命名"),
        QStringLiteral("文件大小和修改时间均相同：覆盖；否则：自动重命名"),
        QStringLiteral("文件大小相同：覆盖；否则：自动重命名"),
    };
    for (int i = 1; i <= captions.size(); ++i) {
        auto *option = new QRadioButton(captions.at(i - 1), frame);
        option->setObjectName(QStringLiteral("Option1_%1").arg(i));
        m_options->addButton(option, i);
        frameLayout->addWidget(option);
    }
    if (QAbstractButton *chosen = m_options->button(session.opIndex()))
        chosen->setChecked(true);
    connect(m_options, &QButtonGroup::idClicked, &session, &CopySession::setOpIndex);
    connect(&session, &CopySession::opIndexChanged, this, [this](int index) {
        if (QAbstractButton *chosen = m_options->button(index))
            chosen->setChecked(true);
    });

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    connect(&session, &CopySession::progressChanged, this, [this](int value, int maximum) {
        m_progress->setRange(0, qMax(1, maximum));
        m_progress->setValue(value);
    });
    m_current = label(QStringLiteral("Label3"), session.currentFile(), this);
    m_current->setTextFormat(Qt::PlainText);
    m_current->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(QLatin1Char('x')) * 40);
    connect(&session, &CopySession::currentFileChanged, m_current, &QLabel::setText);

    m_start = button(QStringLiteral("Command1"), copy_text::Start, this);
    connect(m_start, &QPushButton::clicked, &session, [this] { m_session.execute(true); });
    connect(&session, &CopySession::runningChanged, this, &CopyWindow::showRunning);
    QPushButton *close = button(QStringLiteral("Command2"), QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto *grid = new QGridLayout;
    grid->addWidget(label(QStringLiteral("Label1"), QStringLiteral("目的文件夹："), this), 0, 0);
    grid->addWidget(m_destination, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(frame, 1, 0, 1, 3);
    grid->addWidget(label(QStringLiteral("Label2"), QStringLiteral("进度;"), this), 2, 0);
    grid->addWidget(m_progress, 2, 1, 1, 2);
    grid->addWidget(label(QStringLiteral("Label4"), QStringLiteral("当前文件："), this), 3, 0);
    grid->addWidget(m_current, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_start);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);
    showRunning(session.isRunning());
}

void CopyWindow::showHistory()
{
    // Refilling the list must not change the text being typed.
    const QString text = m_session.destinationText();
    const QSignalBlocker block(m_destination);
    m_destination->clear();
    m_destination->addItems(m_session.folderHistory());
    m_destination->setEditText(text);
}

void CopyWindow::showRunning(bool running)
{
    m_start->setText(running ? copy_text::Stop : copy_text::Start);
}

void CopyWindow::done(int result)
{
    if (m_session.isRunning())
        m_session.execute(false); // the stop click, without the closing message
    QDialog::done(result);
}

} // namespace lumen
