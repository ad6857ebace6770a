#pragma once

#include <QIcon>
#include <QWidget>

class QLabel;
class QPushButton;

namespace lumen
{

class LinkLabel;
class StartupSession;

// The program's icon; every window wears it.
QIcon programIcon();

// `fCover`, the start-up window: the product, its version, the notice to
// researchers, and the doors to the search window and out of the program.
// It is the first window and the last: closing it asks for the end of the
// program. It only shows the start-up work; the program starts that work
// whichever window comes first.
class CoverWindow : public QWidget
{
    Q_OBJECT
public:
    explicit CoverWindow(StartupSession &session, QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void openSearch();

    StartupSession &m_session;
    QLabel *m_version = nullptr;     // Label1
    LinkLabel *m_notice = nullptr;   // Label2
    QLabel *m_loading = nullptr;     // Label3
    QPushButton *m_search = nullptr; // Command1
    QPushButton *m_exit = nullptr;   // Command3
};

} // namespace lumen
