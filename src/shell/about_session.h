#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

namespace lumen
{

class Prompter;
class Shell;

// `frmAbout`'s texts and actions without the window: the product and
// version, the maker's lines and links, and the system information a user
// copies into a problem report, filled in shortly after the window opens.
class AboutSession : public QObject
{
    Q_OBJECT
    // The description of this computer the window's text box shows.
    Q_PROPERTY(QString systemInformation READ systemInformation NOTIFY systemInformationChanged)
public:
    // The delayed fill: the window is on screen before the system is
    // described.
    static constexpr int FillDelayMs = 100;

    static const QString LoadingText;             // "正在加载信息，请稍候...\r\n"
    static const QString NoSystemInformationText; // "此时系统信息不可用"

    // The links: the product page (empty when the program has no product
    // site) and the repository's home page.
    AboutSession(Shell &shell, Prompter &prompter, const QString &osDescription,
                 const QUrl &productPage, const QUrl &repositoryHome, QObject *parent = nullptr);

    QString caption() const;     // "关于『<title>』 "
    QString productName() const; // `lsoftname`
    QString versionText() const; // "版本 1.0.0"
    // The maker's lines, `Label1` to `Label7`.
    QString creditText() const;      // Label1
    QString productPageText() const; // Label2, a link
    QString repositoryText() const;  // Label4, a link
    QString reportHintText() const;  // Label5
    QString mailText() const;        // Label7, a link
    bool hasProductPage() const { return m_productPage.isValid() && !m_productPage.isEmpty(); }
    QUrl productPage() const { return m_productPage; }
    QUrl repositoryHome() const { return m_repositoryHome; }

    QString systemInformation() const { return m_systemInformation; }

public slots:
    // Starts the delay after which the system information is filled in.
    void start();
    // `StartSysInfo`: the desktop's system-information program, or the
    // message that there is none.
    void startSystemInformation();
    void openProductPage();
    void openRepository();
    void mailMaker();

signals:
    void systemInformationChanged(const QString &text);

private:
    void fill();

    Shell &m_shell;
    Prompter &m_prompter;
    QString m_osDescription;
    QUrl m_productPage;
    QUrl m_repositoryHome;
    QTimer m_timer; // the delayed fill, once
    QString m_systemInformation;
};

} // namespace lumen
