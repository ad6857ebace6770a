// The one decision every step of a download asks before a file takes a
// name: what the same-name policy makes of what stands there.

#include "engine/target_choice.h"

#include "engine/download_item.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace lumen;
using Kind = TargetChoice::Kind;

Q_DECLARE_METATYPE(lumen::SameNamePolicy)
Q_DECLARE_METATYPE(lumen::TargetChoice::Kind)

namespace
{

// What stands under "Report.pdf" before the decision.
enum class Occupant {
    Nothing,
    File,
    ReadOnlyFile,
    Folder,
    Pipe,
    LinkToFile,
    DanglingLink,
    Reserved,     // a running transfer holds the name; nothing is on disk
    FileReserved, // a file, and a running transfer will store under the name too
};

} // namespace

Q_DECLARE_METATYPE(Occupant)

class TestTargetChoice : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<SameNamePolicy>("policy");
        QTest::addColumn<Occupant>("occupant");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("name"); // the name to store under

        const SameNamePolicy skip = SameNamePolicy::Skip;
        const SameNamePolicy over = SameNamePolicy::Overwrite;
        const SameNamePolicy rename = SameNamePolicy::Rename;
        struct Row {
            const char *what;
            Occupant occupant;
            Kind skip, over, rename;
        };
        const QList<Row> rows = {
            {"missing", Occupant::Nothing, Kind::Store, Kind::Store, Kind::Store},
            {"existing file", Occupant::File, Kind::Skip, Kind::Replace, Kind::Store},
            {"read-only file", Occupant::ReadOnlyFile, Kind::Skip, Kind::CannotReplace,
             Kind::Store},
            {"folder at the name", Occupant::Folder, Kind::CannotReplace, Kind::CannotReplace,
             Kind::Store},
            {"pipe at the name", Occupant::Pipe, Kind::CannotReplace, Kind::CannotReplace,
             Kind::Store},
            {"link to a file", Occupant::LinkToFile, Kind::Skip, Kind::Replace, Kind::Store},
            {"dangling link", Occupant::DanglingLink, Kind::Skip, Kind::Replace, Kind::Store},
            {"reserved name", Occupant::Reserved, Kind::Wait, Kind::Wait, Kind::Store},
            {"file and reserved name", Occupant::FileReserved, Kind::Wait, Kind::Wait, Kind::Store},
        };
        for (const Row &r : rows) {
            // Rename steps past anything in the way; an empty name slot keeps the name.
            const QString numbered = r.occupant == Occupant::Nothing ? "Report" : "Report[001]";
            QTest::addRow("skip, %s", r.what) << skip << r.occupant << r.skip << "Report";
            QTest::addRow("overwrite, %s", r.what) << over << r.occupant << r.over << "Report";
            QTest::addRow("rename, %s", r.what) << rename << r.occupant << r.rename << numbered;
        }
    }
    void choice()
    {
        QFETCH(SameNamePolicy, policy);
        QFETCH(Occupant, occupant);
        QFETCH(Kind, kind);
        QFETCH(QString, name);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString target = dir.filePath("Report.pdf");
        const QByteArray old = "the user's own notes";
        auto writeOld = [&](const QString &path) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        };
        NameReservations reserved;
        switch (occupant) {
        case Occupant::Nothing:
            break;
        case Occupant::File:
            writeOld(target);
            break;
        case Occupant::ReadOnlyFile:
            writeOld(target);
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup));
            break;
        case Occupant::Folder:
            QVERIFY(QDir().mkdir(target));
            break;
        case Occupant::Pipe:
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
            break;
        case Occupant::LinkToFile:
            writeOld(dir.filePath("elsewhere.pdf"));
            QVERIFY(QFile::link(dir.filePath("elsewhere.pdf"), target));
            break;
        case Occupant::DanglingLink:
            QVERIFY(QFile::link(dir.filePath("gone.pdf"), target));
            break;
        case Occupant::Reserved:
            QVERIFY(reserved.reserve(target));
            break;
        case Occupant::FileReserved:
            writeOld(target);
            QVERIFY(reserved.reserve(target));
            break;
        }

        const TargetChoice got = chooseTarget(dir.path(), "Report", "pdf", policy, &reserved);
        QCOMPARE(got.kind, kind);
        QCOMPARE(got.name, name);
        QCOMPARE(got.path, dir.filePath(name + ".pdf"));
        if (kind == Kind::Skip && occupant != Occupant::DanglingLink)
            QCOMPARE(got.existingSize, qint64(old.size()));
        if (kind == Kind::CannotReplace && occupant == Occupant::ReadOnlyFile)
            QCOMPARE(got.existingSize, qint64(old.size()));
        // Deciding touches nothing.
        if (occupant == Occupant::File || occupant == Occupant::ReadOnlyFile) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), old);
        }
    }

    // Names that give no single safe file inside the folder are refused by
    // every policy before anything is looked at.
    void noSafePath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::newRow("empty name") << "dir"
                                    << ""
                                    << "pdf";
        QTest::newRow("no folder") << ""
                                   << "Report"
                                   << "pdf";
        QTest::newRow("separator in the name") << "dir"
                                               << "a/b"
                                               << "pdf";
        QTest::newRow("separator in the type") << "dir"
                                               << "a"
                                               << "p/df";
        QTest::newRow("parent folder") << "dir"
                                       << ".."
                                       << "";
        QTest::newRow("NUL in the name") << "dir" << QString("a") + QChar(0) + "b"
                                         << "pdf";
    }
    void noSafePath()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QTemporaryDir dir;
        const QString in = folder.isEmpty() ? QString() : dir.filePath(folder);
        for (SameNamePolicy policy :
             {SameNamePolicy::Skip, SameNamePolicy::Overwrite, SameNamePolicy::Rename}) {
            const TargetChoice got = chooseTarget(in, name, type, policy);
            QCOMPARE(got.kind, Kind::NoPath);
            QVERIFY(got.path.isEmpty());
        }
    }

    // What the record shows for a choice that stops the download.
    void refusalTexts_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<DownloadState>("state");
        QTest::addColumn<QString>("percent");
        QTest::newRow("skip") << Kind::Skip << DownloadState::Finished << RecordText::ExistsSkipped;
        QTest::newRow("cannot replace")
            << Kind::CannotReplace << DownloadState::Failed << RecordText::CannotReplace;
        QTest::newRow("store changes nothing")
            << Kind::Store << DownloadState::Downloading << QString("12%");
    }
    void refusalTexts()
    {
        QFETCH(Kind, kind);
        QFETCH(DownloadState, state);
        QFETCH(QString, percent);
        DownloadItem item;
        item.state = DownloadState::Downloading;
        item.size = 100;
        item.received = 12;
        showNameRefusal(item, kind, 1234);
        QCOMPARE(item.state, state);
        QCOMPARE(percentColumnText(item), percent);
        const bool stops = kind == Kind::Skip || kind == Kind::CannotReplace;
        QCOMPARE(sizeColumnText(item), stops ? QString("1234") : QString("100"));
        QCOMPARE(receivedColumnText(item), stops ? QString("1234") : QString("12"));
    }
};

QTEST_GUILESS_MAIN(TestTargetChoice)
#include "test_target_choice.moc"
