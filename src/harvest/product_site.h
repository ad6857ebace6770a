#pragma once

#include <QDate>
#include <QString>
#include <QUrl>

namespace lumen
{

class Shell;

// The maker's own web pages: the home page, the program page (also the
// home of the update check's version file), the custom-software page and
// the support mailbox. All pages hang below one root so that a test (or an
// installation with a mirror) can move them together: the environment
// variable LUMENARC_PRODUCT_SITE replaces the root, e.g. with the local
// site's http://127.0.0.1:PORT/; a value that is not an http or https
// address is ignored.
inline constexpr char ProductSiteVariable[] = "LUMENARC_PRODUCT_SITE";

// The root, ending in "/".
QUrl productSiteRoot();
QUrl defaultProductSiteRoot();
// The name the program pages are filed under: the desktop program's name,
// whichever executable asks.
inline const QString ProductProgramName = QStringLiteral("lumenarc");

QUrl makerHomePage();      // 作者网站－澜图软件
QUrl programPage();        // 最新版本: the root, the program's name, "/"
QUrl customSoftwarePage(); // 软件定制: "softmake.htm"
QString supportMailbox();

// OpenUrlInBrowser: opens the address in the desktop's web browser. A
// desktop has one way to do that here, so a new window and the same window
// end at the same handler; the flag stays for the callers' sake. Only http
// and https addresses are handed on. Returns whether the desktop took it.
bool openUrlInBrowser(Shell &shell, const QUrl &address, bool newWindow);

// MailSuggestion: a new mail to the support mailbox whose subject names the
// program and whose body is a short form for the user's details, dated.
bool mailSuggestion(Shell &shell, const QDate &today = QDate::currentDate());
// The subject and body it uses.
QString suggestionSubject();
QString suggestionBody(const QDate &today);

} // namespace lumen
