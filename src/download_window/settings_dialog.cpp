#include "download_window/settings_dialog.h"

#include "engine/app_title.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace lumen
{

namespace
{
// Positions are kept in twips, 15 to a pixel, as the dialog was laid out.
QRect twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

template <typename W>
W *placed(QWidget *parent, const char *name, const QRect &at, const QString &text = QString())
{
    auto *w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    if constexpr (std::is_base_of_v<QLabel, W> || std::is_base_of_v<QAbstractButton, W>)
        w->setText(text);
    w->setGeometry(at);
    return w;
}

const QString HintStyle = QStringLiteral("color: grey;");
} // namespace

SettingsDialog::SettingsDialog(const SettingsDialogValues &initial, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fOption"));
    setWindowTitle(QStringLiteral("设置"));
    setFixedSize(9400 / 15, 4500 / 15);

    placed<QLabel>(this, "Label1", twips(135, 105, 2000, 255), QStringLiteral("下载方式："));
    auto *frame = placed<QFrame>(this, "Picture3", twips(135, 375, 8985, 1800));
    frame->setFrameShape(QFrame::StyledPanel);

    m_methodOne =
        placed<QRadioButton>(frame, "Option1", twips(120, 90, 8600, 300),
                             QStringLiteral("下载方式一 (支持HTTP，单线程，代理服务器下载)"));
    m_proxyOn = placed<QCheckBox>(frame, "Check1", twips(480, 450, 4000, 300),
                                  QStringLiteral("下载使用代理服务器"));
    placed<QLabel>(frame, "Label14", twips(480, 810, 700, 300), QStringLiteral("地址："));
    m_address = placed<QLineEdit>(frame, "Text6", twips(1200, 780, 3000, 330));
    auto *hostHint = placed<QLabel>(frame, "Label6", twips(4300, 810, 4600, 300),
                                    QStringLiteral("(如：proxy.lab.net 或者 192.168.1.10)"));
    hostHint->setStyleSheet(HintStyle);
    placed<QLabel>(frame, "Label15", twips(480, 1170, 700, 300), QStringLiteral("端口："));
    m_port = placed<QLineEdit>(frame, "Text8", twips(1200, 1140, 885, 330));
    auto *portHint = placed<QLabel>(frame, "Label10", twips(2200, 1170, 4000, 300),
                                    QStringLiteral("(如：3128 或者 80 等等)"));
    portHint->setStyleSheet(HintStyle);
    m_methodTwo = placed<QRadioButton>(frame, "Option2", twips(120, 1440, 8600, 300),
                                       QStringLiteral("下载方式二 (支持HTTP，多线程下载)"));

    m_askFolder = placed<QCheckBox>(this, "Check2", twips(195, 2550, 6000, 300),
                                    QStringLiteral("提取网页信息时，提示下载保存路径"));
    // The size box sits in the blank of "下载文件大小不超过：       MB".
    placed<QLabel>(this, "Label2", twips(180, 3135, 2700, 300),
                   QStringLiteral("下载文件大小不超过："));
    m_maxSize = placed<QLineEdit>(this, "Text1", twips(2900, 3100, 900, 330));
    placed<QLabel>(this, "Label2Unit", twips(3900, 3135, 600, 300), QStringLiteral("MB"));

    auto *ok =
        placed<QPushButton>(this, "Command1", twips(2400, 3800, 1400, 420), QStringLiteral("确定"));
    auto *close =
        placed<QPushButton>(this, "Command2", twips(5400, 3800, 1400, 420), QStringLiteral("关闭"));
    ok->setDefault(true);

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
