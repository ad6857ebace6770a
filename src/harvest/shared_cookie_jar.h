#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QUrl>

class QNetworkAccessManager;

namespace lumen
{

// The cookie jar every download request uses. The embedded browser keeps the
// user's sessions in its own store; a bridge on the browser side mirrors that
// store into this jar, so a sign-in made in a browser view is sent along by
// later downloads from the same server. Cookies a server sets on a download
// request are announced, so the bridge can hand them back to the browser.
//
// The jar is also where sessions outlive the program: cookies with an expiry
// date are kept in a file (written after every change, never half-written)
// and read back at the next start, both for the downloads and, through the
// bridge, for the browser.
class SharedCookieJar : public QNetworkCookieJar
{
    Q_OBJECT
public:
    explicit SharedCookieJar(QObject *parent = nullptr);
    ~SharedCookieJar() override;

    // Lets the manager use this jar while its lifetime stays with its owner.
    // (A manager otherwise adopts the jar and deletes it with itself, which
    // would leave every other manager sharing it with a dangling jar.)
    // The jar must outlive the manager.
    void attachTo(QNetworkAccessManager *manager);

    // Mirror of a change in the browser's store; announces nothing, so the
    // bridge never echoes a cookie back to where it came from.
    void mirrorInsert(const QNetworkCookie &cookie);
    void mirrorRemove(const QNetworkCookie &cookie);

    QList<QNetworkCookie> cookies() const { return allCookies(); }

    // Reads the cookies kept in the file (expired ones dropped) and keeps
    // every later change there. The file is the user's alone (0600): an
    // existing one that others may read is closed here, and it is written
    // owner-only from its first byte. False when an existing file cannot be
    // read.
    bool setStorageFile(const QString &path);
    QString storageFile() const { return m_storageFile; }
    // Writes the file now instead of at the next turn of the event loop.
    bool save();

    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) override;

    bool insertCookie(const QNetworkCookie &cookie) override;
    bool updateCookie(const QNetworkCookie &cookie) override;
    bool deleteCookie(const QNetworkCookie &cookie) override;

signals:
    // A server set cookies on a request made through this jar.
    void cookiesReceived(const QList<QNetworkCookie> &cookies, const QUrl &url);

private:
    void scheduleSave();

    QString m_storageFile;
    bool m_savePending = false;
};

} // namespace lumen
