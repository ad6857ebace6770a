#include "app/desktop_shell.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lumen;
using lumen::test::writeFile;

class TestDesktopShell : public QObject
{
    Q_OBJECT

private slots:
    void mailtoUrl_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("link");

        QTest::newRow("address only") << "help@example.org"
                                      << ""
                                      << "" << QByteArray("mailto:help@example.org");
        QTest::newRow("blanks are %20, not +")
            << "help@example.org"
            << "a b+c"
            << "" << QByteArray("mailto:help@example.org?subject=a%20b%2Bc");
        QTest::newRow("text outside ASCII as UTF-8")
            << "help@example.org"
            << "下载"
            << "" << QByteArray("mailto:help@example.org?subject=%E4%B8%8B%E8%BD%BD");
        QTest::newRow("line breaks become CRLF")
            << "help@example.org"
            << ""
            << "one\ntwo\r\nthree"
            << QByteArray("mailto:help@example.org?body=one%0D%0Atwo%0D%0Athree");
        QTest::newRow("a subject cannot add a field")
            << "help@example.org"
            << "x&cc=evil@example.org"
            << "b"
            << QByteArray("mailto:help@example.org?subject=x%26cc%3Devil%40example.org&body=b");
        QTest::newRow("an address cannot add a field")
            << " help@example.org?bcc=evil@example.org "
            << ""
            << "" << QByteArray("mailto:help@example.org%3Fbcc%3Devil@example.org");
        QTest::newRow("no address") << ""
                                    << "s"
                                    << "" << QByteArray("mailto:?subject=s");
    }
    void mailtoUrl()
    {
        QFETCH(QString, address);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QByteArray, link);
        const QUrl url = DesktopShell::mailtoUrl(address, subject, body);
        QVERIFY2(url.isValid(), qPrintable(url.errorString()));
        QCOMPARE(url.toEncoded(), link);
    }

    void execArguments_data()
    {
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("args");

        const QString f = "/data/paper.pdf";
        QTest::newRow("%U") << "gnome-text-editor %U" << f << QStringList{"gnome-text-editor", f};
        QTest::newRow("%F after options") << "mousepad --disable-server %F" << f
                                          << QStringList{"mousepad", "--disable-server", f};
        QTest::newRow("%f and %u") << "ed1 %f" << f << QStringList{"ed1", f};
        QTest::newRow("no field code: the file goes last")
            << "leafpad" << f << QStringList{"leafpad", f};
        QTest::newRow("other field codes dropped")
            << "kwrite %i --caption %c %U %k" << f << QStringList{"kwrite", "--caption", f};
        QTest::newRow("%% is a percent sign")
            << "ed --zoom=100%% %f" << f << QStringList{"ed", "--zoom=100%", f};
        QTest::newRow("field code inside an argument")
            << "ed --file=%f" << f << QStringList{"ed", "--file=" + f};
        QTest::newRow("quoted program with a blank")
            << "\"/opt/My Editor/edit\" %f" << f << QStringList{"/opt/My Editor/edit", f};
        QTest::newRow("escapes inside quotes")
            << "ed \"--title=\\\"a\\\" \\$HOME \\\\ \\`x\\`\" %f" << f
            << QStringList{"ed", "--title=\"a\" $HOME \\ `x`", f};
        QTest::newRow("blanks and tabs between arguments")
            << "ed \t  -n   %f  " << f << QStringList{"ed", "-n", f};
        QTest::newRow("empty quoted argument kept")
            << "ed \"\" %f" << f << QStringList{"ed", "", f};
        // The file reaches the program as one argument, however it is named:
        // nothing of it is split or read by a shell.
        const QString nasty = "/data/a b; rm -rf ~ $(reboot) \"q\" %f.txt";
        QTest::newRow("file name taken literally") << "ed %f" << nasty << QStringList{"ed", nasty};
        QTest::newRow("unterminated quote") << "ed \"oops %f" << f << QStringList();
        QTest::newRow("nothing to start") << "   " << f << QStringList();
        QTest::newRow("only a dropped field code") << "%i" << f << QStringList();
    }
    void execArguments()
    {
        QFETCH(QString, exec);
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QCOMPARE(DesktopShell::execArguments(exec, file), args);
    }

    void parseDesktopEntry_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("exec");
        QTest::addColumn<bool>("terminal");

        QTest::newRow("plain") << "[Desktop Entry]\nName=Text Editor\nExec=gedit %U\n"
                               << true << "gedit %U" << false;
        QTest::newRow("actions and translations ignored")
            << "[Desktop Entry]\nExec[de]=nope\nExec=kate -b %U\n"
               "[Desktop Action new]\nExec=kate --new\n"
            << true << "kate -b %U" << false;
        QTest::newRow("value escapes undone")
            << "[Desktop Entry]\nExec=\"/opt/a\\sb/ed\" \"x\\\\\\\\y\" %f\n"
            << true << "\"/opt/a b/ed\" \"x\\\\y\" %f" << false;
        QTest::newRow("terminal program") << "[Desktop Entry]\nTerminal=true\nExec=vim %F\n"
                                          << true << "vim %F" << true;
        QTest::newRow("Exec outside the entry group")
            << "[Other]\nExec=x\n[Desktop Entry]\nName=y\n"
            << false << "" << false;
        QTest::newRow("comments and CRLF")
            << "# c\r\n[Desktop Entry]\r\n# Exec=no\r\nExec = ed %f\r\n"
            << true << "ed %f" << false;
    }
    void parseDesktopEntry()
    {
        QFETCH(QString, text);
        QFETCH(bool, found);
        QFETCH(QString, exec);
        QFETCH(bool, terminal);
        const auto entry = DesktopShell::parseDesktopEntry(text);
        QCOMPARE(entry.has_value(), found);
        if (!entry)
            return;
        QCOMPARE(entry->exec, exec);
        QCOMPARE(entry->terminal, terminal);
        // The escaped quoting still splits as the program expects.
        if (QTest::currentDataTag() == QByteArray("value escapes undone"))
            QCOMPARE(DesktopShell::execArguments(entry->exec, "f"),
                     (QStringList{"/opt/a b/ed", "x\\y", "f"}));
    }

    void findDesktopFile()
    {
        QTemporaryDir user;
        QTemporaryDir system;
        writeFile(system.path() + "/org.example.Editor.desktop", "[Desktop Entry]\n");
        writeFile(user.path() + "/org.example.Editor.desktop", "[Desktop Entry]\n");
        QDir(system.path()).mkdir("kde");
        writeFile(system.path() + "/kde/kwrite.desktop", "[Desktop Entry]\n");
        writeFile(system.path() + "/notes.txt", "not an entry");
        const QStringList folders{user.path(), system.path()};

        // The user's own entry overrides the system's.
        QCOMPARE(DesktopShell::findDesktopFile("org.example.Editor.desktop", folders),
                 user.path() + "/org.example.Editor.desktop");
        QCOMPARE(DesktopShell::findDesktopFile("kde-kwrite.desktop", folders),
                 system.path() + "/kde/kwrite.desktop");
        QCOMPARE(DesktopShell::findDesktopFile("missing.desktop", folders), QString());
        // A desktop file id names an entry, never a path of its own.
        QCOMPARE(DesktopShell::findDesktopFile("../" + QDir(system.path()).dirName() +
                                                   "/kde/kwrite.desktop",
                                               {system.path() + "/kde"}),
                 QString());
        QCOMPARE(DesktopShell::findDesktopFile("notes.txt", folders), QString());
        QCOMPARE(DesktopShell::findDesktopFile("", folders), QString());
    }

    void findSystemInformationProgram()
    {
        QTemporaryDir bin;
        QCOMPARE(DesktopShell::findSystemInformationProgram({bin.path()}), QString());

        auto install = [&](const QString &name) {
            const QString path = bin.path() + "/" + name;
            writeFile(path, "#!/bin/sh\n");
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            return path;
        };
        // A file of that name that is not a program does not count.
        writeFile(bin.path() + "/hardinfo2", "not executable");
        const QString center = install("kinfocenter");
        QCOMPARE(DesktopShell::findSystemInformationProgram({bin.path()}), center);
        const QString hardinfo = install("hardinfo");
        QCOMPARE(DesktopShell::findSystemInformationProgram({bin.path()}), hardinfo);
    }

    // Requests the desktop must not even see: they fail before any program
    // or service is asked.
    void refusals()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + "/paper.pdf";
        writeFile(file, "%PDF-1.4");
        const QString missing = dir.path() + "/gone.pdf";
        DesktopShell shell;

        QVERIFY(!shell.openFile(missing));
        QVERIFY(!shell.openFile(dir.path())); // a folder is not a file
        QVERIFY(!shell.openFolder(file));
        QVERIFY(!shell.openFolder(dir.path() + "/none"));
        QVERIFY(!shell.showFileInFolder(missing));
        QVERIFY(!shell.openInTextEditor(missing));
        QVERIFY(!shell.openInTextEditor(dir.path()));
        // Only web addresses go to the browser.
        for (const QString &url :
             {QUrl::fromLocalFile(file).toString(), QStringLiteral("javascript:alert(1)"),
              QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("http://"), QString()})
            QVERIFY2(!shell.openUrl(url), qPrintable(url));
    }
};

QTEST_GUILESS_MAIN(TestDesktopShell)
#include "test_desktop_shell.moc"
