#include "harvest/shared_cookie_jar.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSaveFile>
#include <QTimer>

namespace lumen
{

SharedCookieJar::SharedCookieJar(QObject *parent) : QNetworkCookieJar(parent) {}

SharedCookieJar::~SharedCookieJar()
{
    if (m_savePending)
        save();
}

void SharedCookieJar::attachTo(QNetworkAccessManager *manager)
{
    QObject *owner = parent();
    manager->setCookieJar(this);
    setParent(owner);
}

void SharedCookieJar::mirrorInsert(const QNetworkCookie &cookie)
{
    // insertCookie replaces a cookie of the same name, domain and path.
    insertCookie(cookie);
}

void SharedCookieJar::mirrorRemove(const QNetworkCookie &cookie)
{
    deleteCookie(cookie);
}

bool SharedCookieJar::insertCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::insertCookie(cookie);
    if (changed)
        scheduleSave();
    return changed;
}

bool SharedCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::updateCookie(cookie);
    if (changed)
        scheduleSave();
    return changed;
}

bool SharedCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    const bool changed = QNetworkCookieJar::deleteCookie(cookie);
    if (changed)
        scheduleSave();
    return changed;
}

namespace
{

// Session tokens are the user's sign-in: only the user may read them.
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

bool SharedCookieJar::setStorageFile(const QString &path)
{
    m_storageFile = path;
    QFile file(path);
    if (!file.exists())
        return true;
    // A file an earlier version left readable by others is closed now.
    constexpr QFileDevice::Permissions Others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (file.permissions() & Others)
        file.setPermissions(OwnerOnly);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> kept = allCookies();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        for (const QNetworkCookie &c : QNetworkCookie::parseCookies(line)) {
            if (c.isSessionCookie() || c.expirationDate() <= now || c.domain().isEmpty())
                continue;
            kept.append(c);
        }
    }
    setAllCookies(kept);
    return true;
}

void SharedCookieJar::scheduleSave()
{
    if (m_storageFile.isEmpty() || m_savePending)
        return;
    // A sign-in sets several cookies at once; write them together.
    m_savePending = true;
    QTimer::singleShot(0, this, [this] {
        if (m_savePending)
            save();
    });
}

bool SharedCookieJar::save()
{
    m_savePending = false;
    if (m_storageFile.isEmpty())
        return false;
    const QString folder = QFileInfo(m_storageFile).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, OwnerOnly | QFileDevice::ExeOwner);
    QSaveFile file(m_storageFile);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The new file is made with the usual mode; close it before the first
    // byte goes in (an existing file's mode is carried over otherwise).
    if (!file.setPermissions(OwnerOnly)) {
        file.cancelWriting();
        return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QNetworkCookie &c : allCookies()) {
        // Session cookies end with the program, as in any browser.
        if (c.isSessionCookie() || c.expirationDate() <= now)
            continue;
        file.write(c.toRawForm(QNetworkCookie::Full) + '\n');
    }
    return file.commit();
}

bool SharedCookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url)
{
    const bool stored = QNetworkCookieJar::setCookiesFromUrl(cookieList, url);
    if (!cookieList.isEmpty())
        emit cookiesReceived(cookieList, url);
    return stored;
}

} // namespace lumen
