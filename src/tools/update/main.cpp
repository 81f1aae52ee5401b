// thermora-update: installs a downloaded update archive into the tree of an installed program,
// the same way the program does it itself, from the command line.
//
//   thermora-update --archive FILE --sha256 HEX --program EXE [--relaunch-after PID]
//
// THERMORA_UPDATE_KILL_AT=<step> kills the tool as that step begins (0 verify, 1 unpack,
// 2 check, 3 swap, 4 keep-old, 5 relaunch): a way to prove that an install cut short at any
// point leaves a working program.
#include "QsLog/QsLog.h"
#include "update/QUpdateInstaller.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {
int install(const QCoreApplication& app)
{
    QCommandLineParser parser;
    parser.addOption(
        {QStringLiteral("archive"), QStringLiteral("Update archive."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("sha256"), QStringLiteral("Its SHA-256."), QStringLiteral("hex")});
    parser.addOption(
        {QStringLiteral("program"), QStringLiteral("Installed program."), QStringLiteral("exe")});
    parser.addOption({QStringLiteral("relaunch-after"),
                      QStringLiteral("Start the program when this process has ended."),
                      QStringLiteral("pid")});
    parser.addHelpOption();
    if (!parser.parse(app.arguments()) || !parser.isSet(QStringLiteral("archive")) ||
        !parser.isSet(QStringLiteral("program"))) {
        fprintf(stderr, "thermora-update: %s\n",
                qPrintable(parser.errorText().isEmpty()
                               ? QStringLiteral("--archive and --program are required")
                               : parser.errorText()));
        return 2;
    }

    QUpdateInstaller installer(parser.value(QStringLiteral("program")));
    bool bOk = false;
    const int nKillAt = qEnvironmentVariableIntValue("THERMORA_UPDATE_KILL_AT", &bOk);
    if (bOk) {
        installer.stepHook = [nKillAt](QUpdateInstaller::Step step) {
            if (step == nKillAt)
                raise(SIGKILL);
        };
    }
    if (installer.kind() != QUpdateInstaller::TreeInstall) {
        fprintf(stderr, "thermora-update: %s is not in a folder tree this user owns\n",
                qPrintable(installer.root()));
        return 1;
    }
    const bool bInstalled = installer.prepare(parser.value(QStringLiteral("archive")),
                                              parser.value(QStringLiteral("sha256"))) &&
                            installer.commit();
    if (!bInstalled) {
        fprintf(stderr, "thermora-update: %s\n", qPrintable(installer.errorMessage()));
        return 1;
    }
    if (parser.isSet(QStringLiteral("relaunch-after")))
        installer.relaunchAfterExit(parser.value(QStringLiteral("relaunch-after")).toLongLong());
    printf("thermora-update: installed into %s\n", qPrintable(installer.root()));
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int nResult = install(app);
    // The logger's writer thread ends while the application object still exists.
    QsLogging::Logger::destroyInstance();
    return nResult;
}
