// The save-folder dialog's rules without the dialog: which typed folders
// are taken, what is created, stored and remembered, and what is refused.

#include "download_window/folder_history.h"
#include "download_window/save_folder_session.h"
#include "engine/naming.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "support/fake_prompter.h"
#include "support/files.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace lumen;
using namespace lumen::test;

namespace
{

// A home folder, a working folder the program was started in, the
// application and per-user folders of the history file, and a settings
// file, all under one temporary folder.
struct SessionRig {
    QTemporaryDir root;
    QByteArray oldHome = qgetenv("HOME");
    QString oldWorking = QDir::currentPath();
    FakePrompter prompter;
    AppSettings settings;
    std::unique_ptr<SettingsStore> store;

    SessionRig()
    {
        for (const char *d : {"home", "work", "app", "user"})
            QDir(root.path()).mkpath(QString::fromLatin1(d));
        qputenv("HOME", path("home").toUtf8());
        QDir::setCurrent(path("work"));
        store = std::make_unique<SettingsStore>(path("settings.ini"));
    }
    ~SessionRig()
    {
        QDir::setCurrent(oldWorking);
        qputenv("HOME", oldHome);
    }

    QString path(const QString &rel) const { return root.filePath(rel); }
    QString home() const { return path("home"); }
    QString history() const { return path("app/") + FolderHistoryFileName; }
    FolderHistoryLocation where() const { return {path("app"), path("user")}; }
    std::unique_ptr<SaveFolderSession> session()
    {
        return std::make_unique<SaveFolderSession>(settings, *store, prompter, where());
    }
    QString stored() const
    {
        return store->read(setting::SaveFolder.section, setting::SaveFolder.key, "<none>");
    }
    QStringList workingFolder() const
    {
        return QDir(path("work")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    // The placeholders of the tables: $HOME and $ROOT.
    QString expand(QString text) const
    {
        return text.replace("$HOME", home()).replace("$ROOT", root.path());
    }
};

} // namespace

class TestSaveFolderSession : public QObject
{
    Q_OBJECT

private slots:
    // What OK makes of a typed folder. An empty "stored" means the folder
    // is refused: nothing is created, stored or remembered.
    void typedFolders_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("messages");

        const QStringList none;
        QTest::newRow("home") << "~"
                              << "$HOME/" << none;
        QTest::newRow("under home") << "~/papers"
                                    << "$HOME/papers/" << none;
        QTest::newRow("deep under home, spaces around") << "  ~/papers/2026/  "
                                                        << "$HOME/papers/2026/" << none;
        QTest::newRow("complete path") << "$ROOT/new/sub"
                                       << "$ROOT/new/sub/" << none;
        QTest::newRow("complete path with dots") << "$ROOT/a/../b/./c/"
                                                 << "$ROOT/b/c/" << none;

        const QStringList full{SaveFolderSession::FullPathMessage};
        QTest::newRow("bare name") << "papers"
                                   << "" << full;
        QTest::newRow("dot") << "./papers"
                             << "" << full;
        QTest::newRow("dot dot") << "../papers"
                                 << "" << full;
        QTest::newRow("tilde glued to a name") << "~papers"
                                               << "" << full;
        QTest::newRow("another user's home") << "~other/papers"
                                             << "" << full;

        const QStringList wrong{SaveFolderSession::FolderErrorMessage};
        QTest::newRow("empty") << ""
                               << "" << wrong;
        QTest::newRow("blank") << "   "
                               << "" << wrong;
        QTest::newRow("a file in the way") << "$ROOT/file/sub"
                                           << "" << wrong;
        // A piece no file system holds: the folders before it are made and
        // taken, after the message.
        QTest::newRow("name too long")
            << "$ROOT/ok/" + QString(300, u'x') << "$ROOT/ok/" << QStringList{FolderNameErrorText};
    }
    void typedFolders()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QStringList, messages);
        SessionRig rig;
        writeFile(rig.path("file"), "x");
        writeFile(rig.history(), (rig.path("old/") + "\r\n").toUtf8());
        typed = rig.expand(typed);
        stored = rig.expand(stored);

        auto session = rig.session();
        const QString before = rig.settings.saveFolder;
        const bool closes = session->confirm(typed, true);

        QCOMPARE(closes, !stored.isEmpty());
        QCOMPARE(rig.prompter.messages(), messages);
        for (const FakePrompter::Shown &s : std::as_const(rig.prompter.shown))
            QCOMPARE(s.icon, Prompter::Icon::Critical);
        // Never a folder where the program happens to run.
        QCOMPARE(rig.workingFolder(), QStringList{});
        QVERIFY(rig.settings.useSourceFileName); // the naming is taken either way
        if (stored.isEmpty()) {
            QCOMPARE(rig.settings.saveFolder, before);
            QCOMPARE(rig.stored(), QStringLiteral("<none>"));
            QCOMPARE(readFile(rig.history()), (rig.path("old/") + "\r\n").toUtf8());
            QCOMPARE(QDir(rig.home()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                     QStringList{});
        } else {
            QVERIFY(QFileInfo(stored).isDir());
            QCOMPARE(rig.settings.saveFolder, stored);
            QCOMPARE(rig.stored(), stored);
            QCOMPARE(session->folderText(), stored);
            QVERIFY(!rig.settings.saveFolderDialogCancelled);
            QCOMPARE(readFile(rig.history()),
                     (rig.path("old/") + "\r\n" + stored + "\r\n").toUtf8());
        }
    }

    // The next opening shows what the last one chose, the history keeps the
    // order of use, and a folder chosen again is written again.
    void historyAcrossOpenings()
    {
        SessionRig rig;
        {
            auto first = rig.session();
            QCOMPARE(first->folders(), QStringList{});
            QCOMPARE(first->folderText(), defaultSaveFolder());
            QVERIFY(!first->useSourceFileName());
            QVERIFY(first->confirm("~/a", false));
            QVERIFY(!QFile::exists(rig.path("user/") + FolderHistoryFileName));
        }
        {
            auto second = rig.session();
            QCOMPARE(second->folders(), QStringList{rig.home() + "/a/"});
            QCOMPARE(second->folderText(), rig.home() + "/a/");
            QVERIFY(second->confirm(rig.path("b"), true));
        }
        {
            auto third = rig.session();
            QVERIFY(third->useSourceFileName());
            QVERIFY(third->confirm("~/a/", true));
        }
        const QString a = rig.home() + "/a/", b = rig.path("b/");
        QCOMPARE(readFile(rig.history()), (a + "\r\n" + b + "\r\n" + a + "\r\n").toUtf8());
        QCOMPARE(rig.session()->folders(), (QStringList{a, b}));
    }

    // Cancel keeps the stored folder and the naming, and says it was
    // cancelled; a refused OK before it changes nothing of that.
    void cancel()
    {
        SessionRig rig;
        rig.store->write(setting::SaveFolder, rig.path("kept/"));
        auto session = rig.session();
        QCOMPARE(session->folderText(), rig.path("kept/"));
        QVERIFY(!session->confirm("relative", false));
        session->cancel();
        QVERIFY(rig.settings.saveFolderDialogCancelled);
        QCOMPARE(rig.settings.saveFolder, rig.path("kept/"));
        QCOMPARE(rig.stored(), rig.path("kept/"));
        QVERIFY(!QFile::exists(rig.history()));
    }
};

QTEST_GUILESS_MAIN(TestSaveFolderSession)
#include "test_save_folder_session.moc"
