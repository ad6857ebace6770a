#include "harvest/web_engine_profile.h"

#include "engine/app_title.h"
#include "engine/download_engine.h"
#include "harvest/shared_cookie_jar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace lumen
{

namespace
{

QString sharedFolderOverride;
QPointer<WebEngineProfile> sharedProfile;

// The engine widens a cookie with a domain to the domain's subdomains; a
// cookie meant for one server only goes without domain, with that server as
// its origin.
QNetworkCookie engineForm(const QNetworkCookie &cookie)
{
    QNetworkCookie c = cookie;
    if (!c.domain().startsWith(u'.'))
        c.setDomain(QString());
    return c;
}

QUrl originOf(const QNetworkCookie &cookie)
{
    if (cookie.domain().startsWith(u'.'))
        return QUrl();
    QUrl url;
    url.setScheme(cookie.isSecure() ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(cookie.domain());
    url.setPath(cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path());
    return url;
}

} // namespace

void initWebEngine(bool headless)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef Q_OS_UNIX
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
    // A page nobody looks at (no view, a window minimised during a walk
    // through the pages) would otherwise be treated as a background page,
    // whose script engine collects its garbage after every few megabytes:
    // each collection walks the whole document, about a second on a page of
    // a hundred thousand entries, so reading such a page took many of them.
    static const QByteArray foreground = "--disable-renderer-backgrounding";
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.split(' ').contains(foreground)) {
        if (!flags.isEmpty())
            flags += ' ';
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + foreground);
    }
}

WebEngineProfile::WebEngineProfile(const QString &storageFolder, QObject *parent)
    : QObject(parent),
      m_storageFolder(storageFolder.isEmpty() ? defaultStorageFolder() : storageFolder)
{
    QDir().mkpath(m_storageFolder);
    // Cookies, cache and local storage of the user's sessions: nobody else
    // may look into the folder.
    QFile::setPermissions(m_storageFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_profile = new QWebEngineProfile(QStringLiteral("browser"), this);
    m_profile->setPersistentStoragePath(m_storageFolder);
    m_profile->setCachePath(QDir(m_storageFolder).filePath(QStringLiteral("cache")));
    // The jar keeps the cookies that outlive a run and hands them to the
    // engine at start. The engine's own cookie file cannot be listed by the
    // program (kept cookies raise no signal when the engine reads them), so a
    // sign-in it remembered would reach the browser but not the downloads.
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);

    m_jar = new SharedCookieJar(this);
    m_jar->setStorageFile(QDir(m_storageFolder).filePath(QStringLiteral("cookies.txt")));
    QWebEngineCookieStore *store = m_profile->cookieStore();
    for (const QNetworkCookie &c : m_jar->cookies())
        store->setCookie(engineForm(c), originOf(c));
    connect(store, &QWebEngineCookieStore::cookieAdded, m_jar, &SharedCookieJar::mirrorInsert);
    connect(store, &QWebEngineCookieStore::cookieRemoved, m_jar, &SharedCookieJar::mirrorRemove);
    // A session a download request received (for instance a server that
    // signs in by a cookie on its first answer) reaches the browser too.
    connect(m_jar, &SharedCookieJar::cookiesReceived, store,
            [store](const QList<QNetworkCookie> &cookies, const QUrl &url) {
                for (const QNetworkCookie &c : cookies)
                    store->setCookie(c, url);
            });
}

WebEngineProfile::~WebEngineProfile()
{
    // The profile goes first, while the jar it feeds still exists.
    m_profile->cookieStore()->disconnect(m_jar);
    delete m_profile;
    m_profile = nullptr;
}

WebEngineProfile *WebEngineProfile::shared()
{
    if (!sharedProfile) {
        sharedProfile = new WebEngineProfile(sharedFolderOverride, QCoreApplication::instance());
        // The engine shuts down while the application object is destroyed,
        // before that object deletes its children; a profile released after
        // that crashes. Routines run in the reverse order of their
        // registration, and the engine registered its own when the profile
        // started it, so this one runs first.
        qAddPostRoutine([] { delete sharedProfile.data(); });
    }
    return sharedProfile;
}

void WebEngineProfile::setSharedStorageFolder(const QString &folder)
{
    sharedFolderOverride = folder;
}

QString WebEngineProfile::defaultStorageFolder()
{
    // Filed under the application's title, like the settings, and not under
    // the running program's name: a sign-in made in the desktop program is
    // the one the command-line tool downloads with, and the other way round.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(ApplicationTitle + QStringLiteral("/browser"));
}

void WebEngineProfile::shareSessionsWith(DownloadEngine &engine) const
{
    for (QNetworkAccessManager *manager : engine.networkManagers())
        m_jar->attachTo(manager);
}

} // namespace lumen
