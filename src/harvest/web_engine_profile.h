#pragma once

#include <QObject>
#include <QString>

class QWebEngineProfile;

namespace lumen
{

class DownloadEngine;
class SharedCookieJar;

// Must run before the application object is created by any front that uses
// the embedded browser. With headless set, the browser renders without a
// screen (the command-line tool), unless a platform was chosen explicitly.
// Running as root, the engine's sandbox cannot start, so it is switched off
// there only. Pages are kept in the foreground whether shown or not.
void initWebEngine(bool headless);

// The one persistent browser profile of the program: every browser view and
// the downloads share its cookies, so a sign-in made in any browser carries
// over to later downloads from the same server. Its cookies, cache and local
// storage live in a folder of the per-user data folder, filed under the
// application's title, so that every program of the application (the desktop
// program, the command-line tool) shares the one profile.
class WebEngineProfile : public QObject
{
    Q_OBJECT
public:
    // storageFolder: where the profile keeps its data; empty means
    // defaultStorageFolder(). Tests give a temporary folder.
    explicit WebEngineProfile(const QString &storageFolder = QString(), QObject *parent = nullptr);
    ~WebEngineProfile() override;

    // The program-wide profile, created on first use (owned by the
    // application object). setSharedStorageFolder() before the first call
    // moves it elsewhere.
    static WebEngineProfile *shared();
    static void setSharedStorageFolder(const QString &folder);
    static QString defaultStorageFolder();

    QWebEngineProfile *profile() const { return m_profile; }
    // Mirrors the profile's cookies; give it to every network manager that
    // downloads (SharedCookieJar::attachTo).
    SharedCookieJar *cookieJar() const { return m_jar; }
    QString storageFolder() const { return m_storageFolder; }

    // Downloads go as the user the browser signed in: every network manager
    // of the engine takes this profile's cookies, and the cookies servers
    // set on downloads reach the browser. The profile must outlive the
    // engine.
    void shareSessionsWith(DownloadEngine &engine) const;

private:
    QString m_storageFolder;
    QWebEngineProfile *m_profile = nullptr;
    SharedCookieJar *m_jar = nullptr;
};

} // namespace lumen
