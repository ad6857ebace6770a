#include "settings/product_site.h"

#include "engine/app_title.h"
#include "engine/shell.h"
#include "engine/url_policy.h"

#include "lumen_build_info.h"

namespace lumen
{

namespace
{
// An http or https address with a host, ending in "/"; empty otherwise.
QUrl siteRoot(const QString &text)
{
    QUrl url(text.trimmed());
    if (text.trimmed().isEmpty() || !url.isValid() || !isFetchableUrl(url) || url.host().isEmpty())
        return {};
    if (!url.path().endsWith(u'/'))
        url.setPath(url.path() + u'/');
    return url;
}
} // namespace

QUrl defaultProductSiteRoot()
{
    return siteRoot(QStringLiteral(LUMEN_PRODUCT_SITE));
}

QUrl productSiteRoot()
{
    // Set, even to nothing, the environment wins: an empty value switches
    // the site off for one run of a build that names one.
    if (qEnvironmentVariableIsSet(ProductSiteVariable))
        return siteRoot(qEnvironmentVariable(ProductSiteVariable));
    return defaultProductSiteRoot();
}

QUrl productSitePage(const QString &relative)
{
    const QUrl root = productSiteRoot();
    return root.isEmpty() ? QUrl() : root.resolved(QUrl(relative));
}

QUrl makerHomePage()
{
    return productSiteRoot();
}

QUrl programPage()
{
    return productSitePage(ProductProgramName + u'/');
}

QUrl customSoftwarePage()
{
    return productSitePage(QStringLiteral("softmake.htm"));
}

QString supportMailbox()
{
    return QStringLiteral("support@lumenarc.org");
}

bool openUrlInBrowser(Shell &shell, const QUrl &address, bool newWindow)
{
    Q_UNUSED(newWindow);
    if (!isFetchableUrl(address))
        return false;
    return shell.openUrl(address.toString(QUrl::FullyEncoded));
}

QString suggestionSubject()
{
    return QStringLiteral("我要对[") + ApplicationTitle + QStringLiteral("]提建议");
}

QString suggestionBody(const QDate &today)
{
    // Each label is followed by room to write in, the date closes it.
    struct Field {
        const char16_t *label;
        int spaces;
    };
    static const Field fields[] = {{u" 姓名：", 10}, {u" Email：", 11}, {u" 联系地址：", 11},
                                   {u" 邮编：", 14}, {u" 电话：", 20},  {u" 日期：", 0}};
    QString body = QStringLiteral("软件名称：") + ApplicationTitle;
    for (const Field &f : fields)
        body += QString::fromUtf16(f.label) + QString(f.spaces, u' ');
    return body + today.toString(QStringLiteral("yyyy-MM-dd"));
}

bool mailSuggestion(Shell &shell, const QDate &today)
{
    return shell.composeMail(supportMailbox(), suggestionSubject(), suggestionBody(today));
}

} // namespace lumen
