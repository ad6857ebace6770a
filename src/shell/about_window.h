#pragma once

#include <QDialog>
#include <QLabel>

class QFrame;
class QPlainTextEdit;
class QPushButton;

namespace lumen
{

class AboutSession;

// A label that acts as a link: it shows the pointing hand, says when the
// mouse enters or leaves it, and reports a click.
class LinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit LinkLabel(const QString &text, QWidget *parent = nullptr);

signals:
    void clicked();
    void hovered(bool inside);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
};

// `frmAbout`: the product, its version, the maker's lines with their links,
// and the system information to copy into a problem report. It is a dialog;
// its finished() signal tells the start-up window to check for updates
// once more.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    explicit AboutWindow(AboutSession &session, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    // `模拟网址下划线`: the line under the link the mouse is on.
    void underline(QLabel *label, bool inside);
    void copyInformation();

    AboutSession &m_session;
    QFrame *m_underline = nullptr;    // Line2
    QPlainTextEdit *m_text = nullptr; // Text1
    bool m_started = false;
};

} // namespace lumen
