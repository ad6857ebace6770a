#include "shell/about_window.h"

#include "shell/about_session.h"
#include "shell/cover_window.h"

#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lumen
{

LinkLabel::LinkLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void LinkLabel::enterEvent(QEnterEvent *event)
{
    QLabel::enterEvent(event);
    emit hovered(true);
}

void LinkLabel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    emit hovered(false);
}

AboutWindow::AboutWindow(AboutSession &session, QWidget *parent)
    : QDialog(parent), m_session(session)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(session.caption());
    setWindowIcon(programIcon());

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picIcon"));
    picture->setPixmap(programIcon().pixmap(64, 64));

    auto *name = new QLabel(session.productName(), this);
    name->setObjectName(QStringLiteral("lsoftname"));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    name->setFont(big);

    auto *version = new QLabel(session.versionText(), this);
    version->setObjectName(QStringLiteral("lblVersion"));

    auto *credit = new QLabel(session.creditText(), this);
    credit->setObjectName(QStringLiteral("Label1"));

    const QString linkStyle = QStringLiteral("color: #1a56c4;");
    auto *productPage = new LinkLabel(session.productPageText(), this);
    productPage->setObjectName(QStringLiteral("Label2"));
    productPage->setStyleSheet(linkStyle);
    productPage->setToolTip(session.productPage().toString());
    // Without a product site there is no page to go to.
    productPage->setVisible(session.hasProductPage());

    auto *repository = new LinkLabel(session.repositoryText(), this);
    repository->setObjectName(QStringLiteral("Label4"));
    repository->setStyleSheet(linkStyle);
    repository->setToolTip(session.repositoryHome().toString());

    auto *hint = new QLabel(session.reportHintText(), this);
    hint->setObjectName(QStringLiteral("Label5"));
    hint->setWordWrap(true);

    auto *mail = new LinkLabel(session.mailText(), this);
    mail->setObjectName(QStringLiteral("Label7"));
    mail->setStyleSheet(linkStyle);

    m_underline = new QFrame(this);
    m_underline->setObjectName(QStringLiteral("Line2"));
    m_underline->setFrameShape(QFrame::NoFrame);
    m_underline->setStyleSheet(QStringLiteral("background-color: #1a56c4;"));
    m_underline->hide();

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("Text1"));
    m_text->setReadOnly(true);
    m_text->setPlainText(session.systemInformation());

    auto *copy = new QPushButton(QStringLiteral("复制信息"), this);
    copy->setObjectName(QStringLiteral("Command1"));
    auto *sysInfo = new QPushButton(QStringLiteral("系统信息(&S)..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);

    auto *heading = new QVBoxLayout;
    heading->addWidget(name);
    heading->addWidget(version);
    auto *top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(heading, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(copy);
    buttons->addStretch();
    buttons->addWidget(sysInfo);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(credit);
    layout->addWidget(productPage);
    layout->addWidget(repository);
    layout->addWidget(hint);
    layout->addWidget(mail);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);
    resize(520, 420);

    for (LinkLabel *link : {productPage, repository, mail}) {
        connect(link, &LinkLabel::hovered, this,
                [this, link](bool inside) { underline(link, inside); });
    }
    connect(productPage, &LinkLabel::clicked, &session, &AboutSession::openProductPage);
    connect(repository, &LinkLabel::clicked, &session, &AboutSession::openRepository);
    connect(mail, &LinkLabel::clicked, &session, &AboutSession::mailMaker);
    connect(&session, &AboutSession::systemInformationChanged, m_text,
            &QPlainTextEdit::setPlainText);
    connect(copy, &QPushButton::clicked, this, &AboutWindow::copyInformation);
    connect(sysInfo, &QPushButton::clicked, &session, &AboutSession::startSystemInformation);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void AboutWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        m_session.start();
    }
}

void AboutWindow::underline(QLabel *label, bool inside)
{
    if (!inside) {
        m_underline->hide();
        return;
    }
    // Under the label's text, from its left edge to its right edge.
    const QRect r = label->geometry();
    const int width = qMin(r.width(), label->sizeHint().width());
    m_underline->setGeometry(r.left(), r.bottom(), width, 1);
    m_underline->raise();
    m_underline->show();
}

void AboutWindow::copyInformation()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_session.systemInformation());
}

} // namespace lumen

// Compiled here rather than with every other view's meta-object code, so a
// program that shows only this window does not pull in the browser engine.
#include "moc_about_window.cpp"
