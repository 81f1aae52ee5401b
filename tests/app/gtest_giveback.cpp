// The give-back of the fans with the program and its watch as real processes and real signals.
#include "settings/QPreferences.h"
#include "smc/SmcGiveBackUtils.h"
#include "smc/base/QSmcSocketClient.h"
#include "smc/base/SmcKeyToolUtils.h"
#include "smc/base/SmcProtocolUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Milliseconds until the manual mask (-1: unreadable) passes the test; -1 after nTimeoutMs.
qint64 waitForMask(const QString& socket, int nTimeoutMs, const std::function<bool(int)>& test)
{
    QElapsedTimer timer;
    for (timer.start(); timer.elapsed() < nTimeoutMs; QThread::msleep(10)) {
        QSmcSocketClient client(socket.toStdString());
        SMCVal_t val;
        const bool bRead = client.open() && SmcProtocolUtils::readKey(&client, "FS! ", &val) == 0;
        if (test(bRead ? val.bytes[1] : -1))
            return timer.elapsed();
    }
    return -1;
}

// The program checks its tool's rights before the fans get their stored modes and waits on a
// warning while they are missing. A copy of the program beside a tool with its rights (root
// owned, set-user-ID, no write bit) starts straight through; the tests run as root.
QString programWithToolRights(const QTemporaryDir& dir)
{
    const QString bin = dir.filePath("bin");
    const QString tool = bin + "/smc";
    QDir().mkpath(bin);
    if (!QFile::copy(TestSupport::binDir() + "/thermora", bin + "/thermora") ||
        !QFile::copy(TestSupport::binDir() + "/smc", tool) ||
        ::chown(QFile::encodeName(tool).constData(), 0, 0) != 0 ||
        ::chmod(QFile::encodeName(tool).constData(), 04555) != 0)
        return QString();
    QFile::link(TestSupport::binDir() + "/../share", dir.filePath("share"));
    return bin + "/thermora";
}

// The program's watch: its one child running "smc --give-back"; -1 when there is none.
qint64 watchOf(const QProcess& program)
{
    QProcess pgrep;
    pgrep.start("pgrep", {"-P", QString::number(program.processId()), "-f", "give-back"});
    pgrep.waitForFinished();
    const QList<QByteArray> pids = pgrep.readAllStandardOutput().trimmed().split('\n');
    return pids.size() == 1 && !pids[0].isEmpty() ? pids[0].toLongLong() : -1;
}

// The program with the give-back on (silence limit 2 s) and fan 0 at a constant speed against
// the simulator daemon. Stopped (SIGSTOP) its fans are given back after the limit, taken again
// once it runs, and given back again at its next stop; a watch killed is replaced within 2 s,
// reaped and logged; a SIGTERM to the watch and the program together (logout) gives the fans
// back; then the program is killed with SIGKILL 20 times: each time "FS! " must read 0 within
// 2 seconds.
TEST(GiveBack, HungTerminatedKilledProgramAndALostWatch)
{
    QTemporaryDir dir;
    const QString programPath = programWithToolRights(dir);
    if (programPath.isEmpty())
        GTEST_SKIP() << "the tool's rights cannot be set here (not root?)";
    const QString socket = dir.filePath("smc.sock");
    QProcess daemon;
    daemon.start(
        TestSupport::binDir() + "/thermora-smcsim",
        {"--socket", socket, "--profile", TestSupport::profilesDir() + "/MacBookPro8,2.profile"});
    ASSERT_GE(waitForMask(socket, 10000, [](int n) { return n >= 0; }), 0);
    QSettings settings(dir.filePath("config/brightfold/thermora.conf"), QSettings::IniFormat);
    settings.setValue("GiveBackFans", 1);
    settings.setValue("Fan_0", "1,3000");
    settings.setValue("EnableLog", 1);
    settings.sync();
    QDir().mkpath(dir.filePath("Desktop")); // the log's folder
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("THERMORA_SMC_SOCKET", QFile::encodeName(socket));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qputenv(SmcKeyToolUtils::kSilenceLimitEnv, "2000");
    const auto released = [](int n) { return n >= 0 && !(n & 1); };
    const auto zero = [](int n) { return n == 0; };
    // Another instance of this user may run at that moment: then it ends at once, try again.
    const auto startProgram = [&](QProcess& program) {
        for (int nBusy = 0; nBusy < 100; ++nBusy) {
            program.setStandardInputFile(QProcess::nullDevice());
            program.start(programPath, {"/minimized"});
            const auto taken = [&program](int n) {
                return program.state() == QProcess::NotRunning || (n > 0 && (n & 1));
            };
            if (waitForMask(socket, 20000, taken) >= 0 && program.state() != QProcess::NotRunning)
                return true;
            program.waitForFinished();
        }
        return false;
    };

    QProcess program;
    ASSERT_TRUE(startProgram(program));
    ASSERT_LT(waitForMask(socket, 3500, released), 0) << "given back while it runs";
    for (int stop = 0; stop < 2; ++stop) {
        ASSERT_EQ(::kill(pid_t(program.processId()), SIGSTOP), 0);
        EXPECT_GE(waitForMask(socket, 5000, released), 0) << "stop " << stop;
        ASSERT_EQ(::kill(pid_t(program.processId()), SIGCONT), 0);
        EXPECT_GE(waitForMask(socket, 15000, [](int n) { return n > 0 && (n & 1); }), 0) << stop;
    }
    const qint64 nWatch = watchOf(program);
    ASSERT_GT(nWatch, 0);
    ASSERT_EQ(::kill(pid_t(nWatch), SIGKILL), 0);
    qint64 nNewWatch = -1;
    QElapsedTimer timer;
    for (timer.start(); timer.elapsed() < 2500 && nNewWatch <= 0; QThread::msleep(50))
        nNewWatch = watchOf(program) != nWatch ? watchOf(program) : -1;
    ASSERT_GT(nNewWatch, 0) << "no new watch";
    EXPECT_TRUE(::kill(pid_t(nWatch), 0) == -1 && errno == ESRCH) << "the old watch is a zombie";
    ASSERT_EQ(::kill(pid_t(nNewWatch), SIGTERM), 0);
    program.terminate();
    EXPECT_GE(waitForMask(socket, 2000, zero), 0) << "not given back at SIGTERM";
    program.waitForFinished();
    QFile log(dir.filePath("Desktop/Thermora.log")); // one Warn line for the lost watch
    EXPECT_TRUE(log.open(QIODevice::ReadOnly) &&
                QRegularExpression("\\nWARN .* Give-back: watch " + QString::number(nWatch) +
                                   " ended by signal 9")
                    .match(log.readAll())
                    .hasMatch());

    for (int run = 0; run < 20; ++run) {
        ASSERT_TRUE(startProgram(program)) << "the program keeps ending before it takes the fan";
        program.kill();
        program.waitForFinished();
        const qint64 nMs = waitForMask(socket, 2000, zero);
        ASSERT_GE(nMs, 0) << "run " << run;
        // ...and 0 again soon after a write the program had started lands late.
        QThread::msleep(run % 4 == 3 ? 1500 - qMin<qint64>(nMs, 1500) : 0);
        ASSERT_GE(waitForMask(socket, 1000, zero), 0) << run;
    }
    qunsetenv(SmcKeyToolUtils::kSilenceLimitEnv);
    daemon.kill();
}

// Switching the give-back off after its watch has ended (tool missing its rights, killed)
// leaves the program running, and a later start gets a watch of its own.
TEST(GiveBack, StoppingAnEndedWatchKeepsTheProgram)
{
    for (int round = 0; round < 2; ++round) {
        const qint64 nPid = SmcGiveBackUtils::startWatch("/bin/true");
        ASSERT_GT(nPid, 0);
        siginfo_t info{};
        ASSERT_EQ(waitid(P_PID, id_t(nPid), &info, WEXITED | WNOWAIT), 0); // ended, not reaped
        EXPECT_EQ(SmcGiveBackUtils::startWatch("/bin/true"), nPid);        // one watch at a time
        SmcGiveBackUtils::stopWatch();
        EXPECT_EQ(waitpid(pid_t(nPid), nullptr, WNOHANG), -1); // reaped by the stop
    }
}

// Missing or unreadable, the setting is stored as off; only a stored 1 turns it on, whatever
// other number a hand-edited file holds.
TEST(GiveBack, OnlyAStoredOneTurnsItOn)
{
    QTemporaryDir dir;
    QPreferences prefs(dir.filePath("settings.ini"));
    const std::pair<const char*, const char*> rows[] = {
        {nullptr, "0"}, {"1", "1"}, {"0", "0"}, {"2", "2"}, {"yes", "0"}}; // unreadable: off
    for (const auto& [stored, after] : rows) {
        if (stored)
            prefs.setString(SmcGiveBackUtils::kGiveBackSetting, stored);
        else
            prefs.remove(SmcGiveBackUtils::kGiveBackSetting);
        EXPECT_EQ(SmcGiveBackUtils::isWanted(&prefs), stored && QByteArray(stored) == "1");
        EXPECT_EQ(prefs.getString(SmcGiveBackUtils::kGiveBackSetting), QString(after));
    }
}
