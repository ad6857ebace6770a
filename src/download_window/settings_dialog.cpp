#include "download_window/settings_dialog.h"

#include "engine/app_title.h"
#include "settings/window_geometry.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lumen
{

namespace
{

template <typename W> W *named(W *widget, const char *name, const QString &text = QString())
{
    widget->setObjectName(QString::fromLatin1(name));
    if constexpr (std::is_base_of_v<QLabel, W> || std::is_base_of_v<QAbstractButton, W>)
        widget->setText(text);
    return widget;
}

// A box that is at least as wide as its designed width in twips.
QLineEdit *textBox(QWidget *parent, const char *name, int widthTwips)
{
    auto *box = named(new QLineEdit(parent), name);
    box->setMinimumWidth(twipsToPixels(widthTwips));
    return box;
}

// A row of the dialog: the widgets left to right, the rest of the width
// left empty.
QHBoxLayout *row(std::initializer_list<QWidget *> widgets, int indent = 0)
{
    auto *r = new QHBoxLayout;
    r->setSpacing(6);
    if (indent > 0)
        r->addSpacing(indent);
    for (QWidget *w : widgets)
        r->addWidget(w);
    r->addStretch(1);
    return r;
}

const QString HintStyle = QStringLiteral("color: grey;");

// The dialog as it was designed, in twips: it may grow, never shrink below.
constexpr int DesignWidthTwips = 9400;
constexpr int DesignHeightTwips = 4500;
constexpr int IndentTwips = 360;

} // namespace

SettingsDialog::SettingsDialog(const SettingsDialogValues &initial, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fOption"));
    setWindowTitle(QStringLiteral("设置"));
    setMinimumSize(twipsToPixels(DesignWidthTwips), twipsToPixels(DesignHeightTwips));

    auto *methodLabel = named(new QLabel(this), "Label1", QStringLiteral("下载方式："));
    auto *frame = named(new QFrame(this), "Picture3");
    frame->setFrameShape(QFrame::StyledPanel);

    m_methodOne = named(new QRadioButton(frame), "Option1",
                        QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"));
    m_proxyOn = named(new QCheckBox(frame), "Check1", QStringLiteral("下载使用代理服务器"));
    auto *addressLabel = named(new QLabel(frame), "Label14", QStringLiteral("地址："));
    m_address = textBox(frame, "Text6", 3000);
    auto *hostHint =
        named(new QLabel(frame), "Label6", QStringLiteral("(如：proxy.lab.net 或者 192.168.1.10)"));
    hostHint->setStyleSheet(HintStyle);
    auto *portLabel = named(new QLabel(frame), "Label15", QStringLiteral("端口："));
    m_port = textBox(frame, "Text8", 885);
    auto *portHint = named(new QLabel(frame), "Label10", QStringLiteral("(如：3128 或者 80 等等)"));
    portHint->setStyleSheet(HintStyle);
    m_methodTwo = named(new QRadioButton(frame), "Option2",
                        QStringLiteral("下载方式二 (支持HTTP，多线程下载)"));
    // The two labels of the proxy rows share one width, so that their
    // boxes start under each other.
    const int labelWidth =
        std::max(addressLabel->sizeHint().width(), portLabel->sizeHint().width());
    addressLabel->setMinimumWidth(labelWidth);
    portLabel->setMinimumWidth(labelWidth);

    const int indent = twipsToPixels(IndentTwips);
    auto *frameRows = new QVBoxLayout(frame);
    frameRows->addWidget(m_methodOne);
    frameRows->addLayout(row({m_proxyOn}, indent));
    frameRows->addLayout(row({addressLabel, m_address, hostHint}, indent));
    frameRows->addLayout(row({portLabel, m_port, portHint}, indent));
    frameRows->addWidget(m_methodTwo);

    m_askFolder =
        named(new QCheckBox(this), "Check2", QStringLiteral("提取网页信息时，提示下载保存路径"));
    // The size box sits in the blank of "下载文件大小不超过：       MB".
    auto *sizeLabel = named(new QLabel(this), "Label2", QStringLiteral("下载文件大小不超过："));
    m_maxSize = textBox(this, "Text1", 900);
    auto *sizeUnit = named(new QLabel(this), "Label2Unit", QStringLiteral("MB"));

    auto *ok = named(new QPushButton(this), "Command1", QStringLiteral("确定"));
    auto *close = named(new QPushButton(this), "Command2", QStringLiteral("关闭"));
    for (QPushButton *b : {ok, close})
        b->setMinimumWidth(twipsToPixels(1400));
    ok->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(2);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    buttons->addWidget(close);
    buttons->addStretch(2);

    auto *rows = new QVBoxLayout(this);
    rows->addWidget(methodLabel);
    rows->addWidget(frame);
    rows->addSpacing(6);
    rows->addWidget(m_askFolder);
    rows->addLayout(row({sizeLabel, m_maxSize, sizeUnit}));
    rows->addStretch(1);
    rows->addLayout(buttons);

    // Load: every value as it stands.
    m_proxyOn->setChecked(initial.proxyEnabled);
    m_address->setText(initial.proxyAddress);
    m_port->setText(initial.proxyPort);
    (initial.downloadMethod == DownloadMethod::MultiConnection ? m_methodTwo : m_methodOne)
        ->setChecked(true);
    m_askFolder->setChecked(initial.promptForSaveFolder);
    m_maxSize->setText(initial.maxFileSizeText);

    connect(ok, &QPushButton::clicked, this, [this] {
        emit confirmed(values());
        accept();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}

SettingsDialogValues SettingsDialog::values() const
{
    SettingsDialogValues v;
    v.downloadMethod = m_methodTwo->isChecked() ? DownloadMethod::MultiConnection
                                                : DownloadMethod::SingleConnection;
    v.proxyEnabled = m_proxyOn->isChecked();
    v.proxyAddress = m_address->text();
    v.proxyPort = m_port->text();
    v.promptForSaveFolder = m_askFolder->isChecked();
    v.maxFileSizeText = m_maxSize->text();
    return v;
}

void ModalSettingsDialogOpener::open(QWidget *owner, const SettingsDialogValues &initial,
                                     const Confirm &confirm)
{
    SettingsDialog dialog(initial, owner);
    QObject::connect(&dialog, &SettingsDialog::confirmed, &dialog, confirm);
    dialog.exec();
}

} // namespace lumen
