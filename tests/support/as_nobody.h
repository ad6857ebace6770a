#pragma once

// File permissions bind every user but root, and the suite may well run as
// root (CI does). A case about a permission error runs itself again there,
// in a child process of the same test program under the unprivileged user
// nobody, so the error path is taken for real:
//
//     void unreadableFile()
//     {
//         LUMEN_RUN_AS_NOBODY_UNDER_ROOT();
//         ... the case, which now meets the permissions it sets ...
//     }

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace lumen::test
{

// Whether a file's permissions can keep this process out.
inline bool permissionsBindUs()
{
    return ::geteuid() != 0;
}

// Runs the current test function (and data row) in a child of this program
// as nobody and returns why it did not pass; empty when it passed. The
// child gets a home and a temporary folder of nobody's own, and runs a copy
// of the program kept there: the build tree may lie below a folder nobody
// cannot enter.
inline QString runCurrentCaseAsNobody()
{
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return QStringLiteral("there is no user nobody to run the case as");
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;

    QTemporaryDir home;
    if (!home.isValid())
        return QStringLiteral("no temporary folder: ") + home.errorString();
    const QString program = home.filePath(QStringLiteral("test-program"));
    if (!QFile::copy(QCoreApplication::applicationFilePath(), program))
        return QStringLiteral("cannot copy the test program to ") + program;
    if (::chown(QFile::encodeName(home.path()).constData(), uid, gid) != 0 ||
        ::chown(QFile::encodeName(program).constData(), uid, gid) != 0)
        return QStringLiteral("cannot give the folder to nobody");

    // Qt Test names a case on its command line as function:row and in its
    // report as function(row).
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const char *tag = QTest::currentDataTag();
    const QString row = tag ? QString::fromUtf8(tag) : QString();
    const QString testCase = row.isEmpty() ? function : function + QLatin1Char(':') + row;
    const QString shownAs = function + QLatin1Char('(') + row + QLatin1Char(')');

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("TMPDIR"), home.path());

    QProcess child;
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                 QStringLiteral("--clear-groups"), QStringLiteral("--"), program, testCase});
    if (!child.waitForStarted(10000))
        return QStringLiteral("setpriv did not start: ") + child.errorString();
    if (!child.waitForFinished(300000)) {
        child.kill();
        child.waitForFinished();
        return QStringLiteral("the case did not end as nobody");
    }
    const QString output = QString::fromUtf8(child.readAll());
    // Passed, and not skipped: the line of the case itself says PASS.
    const QRegularExpression passed(
        QStringLiteral("^PASS   : \\w+::%1$").arg(QRegularExpression::escape(shownAs)),
        QRegularExpression::MultilineOption);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
        !passed.match(output).hasMatch() || !output.contains(QLatin1String(" 0 skipped")))
        return QStringLiteral("as nobody the case did not pass:\n") + output;
    return QString();
}

} // namespace lumen::test

// Under root, runs the current case as nobody instead, passing or failing
// with it, and returns; otherwise lets the case go on.
#define LUMEN_RUN_AS_NOBODY_UNDER_ROOT()                                                           \
    do {                                                                                           \
        if (!::lumen::test::permissionsBindUs()) {                                                 \
            const QString whyNot = ::lumen::test::runCurrentCaseAsNobody();                        \
            QVERIFY2(whyNot.isEmpty(), qPrintable(whyNot));                                        \
            return;                                                                                \
        }                                                                                          \
    } while (false)
