#include "shell/cover_window.h"

#include "shell/about_window.h"
#include "shell/startup_session.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

// Outside any namespace, as the resource compiler names it.
static void initProgramResources()
{
    Q_INIT_RESOURCE(lumenarc);
}

namespace lumen
{

QIcon programIcon()
{
    static const QIcon icon = [] {
        initProgramResources();
        return QIcon(QStringLiteral(":/lumenarc/lumenarc.png"));
    }();
    return icon;
}

CoverWindow::CoverWindow(StartupSession &session, QWidget *parent)
    : QWidget(parent), m_session(session)
{
    setObjectName(QStringLiteral("fCover"));
    setWindowTitle(session.windowTitle());
    setWindowIcon(programIcon());

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(programIcon().pixmap(96, 96));
    picture->setAlignment(Qt::AlignCenter);

    auto *title = new QLabel(session.windowTitle(), this);
    title->setObjectName(QStringLiteral("labelTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);

    m_version = new QLabel(session.versionText(), this);
    m_version->setObjectName(QStringLiteral("Label1"));
    m_version->setAlignment(Qt::AlignCenter);

    m_notice = new LinkLabel(session.notice(), this);
    m_notice->setObjectName(QStringLiteral("Label2"));
    m_notice->setStyleSheet(QStringLiteral("color: #d00000;"));
    m_notice->setAlignment(Qt::AlignCenter);
    m_notice->setVisible(!session.notice().isEmpty());

    m_loading = new QLabel(StartupSession::LoadingText, this);
    m_loading->setObjectName(QStringLiteral("Label3"));
    m_loading->setStyleSheet(QStringLiteral("color: #e07000;"));
    m_loading->setAlignment(Qt::AlignCenter);
    m_loading->setVisible(session.isLoading());

    auto *fixedNotice = new QLabel(StartupSession::FixedNoticeText, this);
    fixedNotice->setObjectName(QStringLiteral("Label4"));
    fixedNotice->setAlignment(Qt::AlignCenter);
    fixedNotice->setWordWrap(true);

    m_search = new QPushButton(StartupSession::SearchButtonText, this);
    m_search->setObjectName(QStringLiteral("Command1"));
    m_search->setEnabled(session.isSearchEnabled());
    m_search->setDefault(true);
    m_exit = new QPushButton(StartupSession::ExitButtonText, this);
    m_exit->setObjectName(QStringLiteral("Command3"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_search);
    buttons->addSpacing(24);
    buttons->addWidget(m_exit);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->addWidget(picture);
    layout->addWidget(title);
    layout->addWidget(m_version);
    layout->addWidget(m_notice);
    layout->addWidget(m_loading);
    layout->addStretch();
    layout->addWidget(fixedNotice);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    resize(560, 380);

    connect(&session, &StartupSession::loadingChanged, m_loading, &QWidget::setVisible);
    connect(&session, &StartupSession::searchEnabledChanged, m_search, &QWidget::setEnabled);
    connect(&session, &StartupSession::noticeChanged, this, [this](const QString &notice) {
        m_notice->setText(notice);
        m_notice->setVisible(!notice.isEmpty());
    });
    connect(m_notice, &LinkLabel::clicked, &session, &StartupSession::openProductPage);
    connect(m_search, &QPushButton::clicked, this, &CoverWindow::openSearch);
    connect(m_exit, &QPushButton::clicked, this, &QWidget::close);
}

void CoverWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_session.exitProgram();
}

void CoverWindow::openSearch()
{
    hide();
    m_session.openSearch();
}

} // namespace lumen

// Compiled here rather than with every other view's meta-object code, so a
// program that shows only this window does not pull in the browser engine.
#include "moc_cover_window.cpp"
