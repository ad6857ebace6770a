#pragma once

#include <QDate>
#include <QString>
#include <QUrl>

namespace lumen
{

class Shell;

// The maker's own web pages: the home page, the program page (also the
// home of the update check's version file), the custom-software page and
// the support mailbox. All pages hang below one root, the product site, so
// that a test (or an installation with a mirror) moves them together. The
// root is the environment variable LUMENARC_PRODUCT_SITE when it is set,
// else the build's LUMEN_PRODUCT_SITE; a value that is not an http or https
// address counts as none. Until the project publishes a site the root is
// empty: the pages are empty too, nothing opens for them, and the update
// check is skipped without a word, so no user is sent to a host that does
// not exist.
inline constexpr char ProductSiteVariable[] = "LUMENARC_PRODUCT_SITE";

// The root, ending in "/"; empty when there is no product site.
QUrl productSiteRoot();
// The build's root (empty unless the build named one).
QUrl defaultProductSiteRoot();
// The name the program pages are filed under: the desktop program's name,
// whichever executable asks.
inline const QString ProductProgramName = QStringLiteral("lumenarc");

// A page below the root; empty when there is no product site.
QUrl productSitePage(const QString &relative);
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
