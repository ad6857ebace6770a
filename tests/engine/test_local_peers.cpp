#include "support/local_nginx.h"
#include "support/local_proxy.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen::test;

// The stock peers other tests and the benchmarks lean on: they start, serve
// and proxy, and say what they saw.
class TestLocalPeers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QByteArray m_body;

    QNetworkReply *get(QNetworkAccessManager &nam, const QString &url)
    {
        QNetworkRequest request{QUrl(url)};
        request.setRawHeader("Accept-Encoding", "identity");
        QNetworkReply *reply = nam.get(request);
        reply->setParent(this);
        return reply;
    }

private slots:
    void initTestCase()
    {
        m_body = QByteArray(300000, 'x') + "end";
        QFile f(m_root.filePath("paper.pdf"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(m_body);
    }

    void nginxServesWithAndWithoutLength_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("withLength");
        QTest::newRow("plain") << "/paper.pdf" << true;
        QTest::newRow("chunked") << "/nolength/paper.pdf" << false;
    }
    void nginxServesWithAndWithoutLength()
    {
        QFETCH(QString, path);
        QFETCH(bool, withLength);
        LocalNginx nginx(m_root.path());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        QVERIFY(nginx.port() > 0);

        QNetworkAccessManager nam;
        QNetworkReply *reply = get(nam, nginx.url(path));
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->hasRawHeader("Content-Length"), withLength);
        QCOMPARE(reply->readAll(), m_body);
        QTRY_COMPARE(nginx.log().size(), 1);
        QVERIFY(nginx.log().first().contains("GET " + path));
    }

    void tinyproxyForwardsAndLogs()
    {
        LocalNginx nginx(m_root.path());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        LocalProxy proxy;
        QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));

        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", proxy.port()));
        const QString url = nginx.url("/paper.pdf");
        QNetworkReply *reply = get(nam, url);
        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), m_body);
        QTRY_VERIFY(proxy.log().join('\n').contains(url));
    }

    void stopsWithTheObject()
    {
        quint16 port = 0;
        {
            LocalProxy proxy;
            QVERIFY(proxy.start());
            port = proxy.port();
        }
        QVERIFY(!waitForLocalPort(port, 300));
    }
};

QTEST_GUILESS_MAIN(TestLocalPeers)
#include "test_local_peers.moc"
