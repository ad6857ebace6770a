#pragma once

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace lumen
{

class CopySession;

// Form_Copy_Move: the copy window. A view over CopySession: the destination
// box with the folder history, the folder picker button, the five same-name
// options, the progress bar, the current file and the start / stop button.
class CopyWindow : public QDialog
{
    Q_OBJECT
public:
    explicit CopyWindow(CopySession &session, QWidget *parent = nullptr);

protected:
    // Closing the window stops a run under way.
    void done(int result) override;

private:
    void showHistory();
    void showRunning(bool running);

    CopySession &m_session;
    QComboBox *m_destination = nullptr;
    QButtonGroup *m_options = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_current = nullptr;
    QPushButton *m_start = nullptr;
};

} // namespace lumen
