// The cookie file holds the user's sign-in sessions: it must never be
// readable by other local users, whatever the umask or an older file says.

#include "harvest/shared_cookie_jar.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QNetworkCookie>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace lumen;

namespace
{

int modeOf(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QNetworkCookie sessionToken()
{
    QNetworkCookie c("token", "s3cret");
    c.setDomain("127.0.0.1");
    c.setPath("/");
    c.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(1));
    return c;
}

} // namespace

class TestSharedCookieJar : public QObject
{
    Q_OBJECT

    mode_t m_umask = 0;

private slots:
    // The widest umask: whatever the jar does not close itself stays open.
    void init() { m_umask = ::umask(0); }
    void cleanup() { ::umask(m_umask); }

    void newFileIsOwnerOnly()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("profile");
        const QString path = folder + "/cookies.txt";
        SharedCookieJar jar;
        QVERIFY(jar.setStorageFile(path));
        QVERIFY(jar.insertCookie(sessionToken()));
        QVERIFY(jar.save());
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(modeOf(folder), 0700);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("token=s3cret"));
    }

    void existingFileIsClosedOnStart_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("readable by all") << 0644;
        QTest::newRow("writable by the group") << 0660;
        QTest::newRow("already owner-only") << 0600;
    }
    void existingFileIsClosedOnStart()
    {
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("cookies.txt");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(sessionToken().toRawForm() + '\n');
        }
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        SharedCookieJar jar;
        QVERIFY(jar.setStorageFile(path));
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(jar.cookies().size(), 1);
        // Written again, it stays closed.
        QVERIFY(jar.deleteCookie(sessionToken()));
        QVERIFY(jar.save());
        QCOMPARE(modeOf(path), 0600);
    }
};

QTEST_GUILESS_MAIN(TestSharedCookieJar)
#include "test_shared_cookie_jar.moc"
