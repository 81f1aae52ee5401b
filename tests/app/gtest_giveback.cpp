// The give-back of the fans as real processes: the program, with the setting on and a fan at a
// constant speed against the simulator daemon, is killed with SIGKILL; the fans must be back
// under the system's control ("FS! " 0) within 2 seconds, every time.
#include "smc/SmcGiveBackUtils.h"
#include "smc/base/QSmcSocketClient.h"
#include "smc/base/SmcProtocolUtils.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

// The second byte of "FS! ", or -1 when it cannot be read.
int manualMask(const std::string& socket)
{
    QSmcSocketClient client(socket);
    SMCVal_t val;
    if (!client.open() || SmcProtocolUtils::readKey(&client, "FS! ", &val) != 0)
        return -1;
    return val.bytes[1];
}

// Milliseconds until the mask satisfies the test, or -1 after nTimeoutMs.
template <typename Test> qint64 waitForMask(const std::string& socket, int nTimeoutMs, Test test)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < nTimeoutMs) {
        if (test(manualMask(socket)))
            return timer.elapsed();
        QThread::msleep(10);
    }
    return -1;
}

TEST(GiveBack, SigkillOfTheProgramGivesTheFansBackWithinTwoSeconds)
{
    int argc = 1;
    char name[] = "gtest_giveback";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    const QString socket = dir.filePath("smc.sock");
    QProcess daemon;
    daemon.start(
        TestSupport::binDir() + "/thermora-smcsim",
        {"--socket", socket, "--profile", TestSupport::profilesDir() + "/MacBookPro8,2.profile"});
    ASSERT_TRUE(daemon.waitForStarted());
    ASSERT_GE(waitForMask(socket.toStdString(), 10000, [](int n) { return n >= 0; }), 0);

    // The fan 0 constant at 3000 RPM, the give-back on, in this run's own settings.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("THERMORA_SMC_SOCKET", socket);
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    {
        QSettings settings(dir.filePath("config/brightfold/thermora.conf"), QSettings::IniFormat);
        settings.setValue(SmcGiveBackUtils::kGiveBackSetting, 1);
        settings.setValue("Fan_0", "1,3000");
    }

    for (int run = 0; run < 20; ++run) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(TestSupport::binDir() + "/thermora", {"/minimized"});
        ASSERT_TRUE(program.waitForStarted());
        ASSERT_GE(waitForMask(socket.toStdString(), 20000, [](int n) { return n > 0 && (n & 1); }),
                  0)
            << "run " << run << ": the fan was not taken over";
        program.kill();
        program.waitForFinished();
        const qint64 nMs = waitForMask(socket.toStdString(), 2000, [](int n) { return n == 0; });
        ASSERT_GE(nMs, 0) << "run " << run << ": the fans were not given back within 2 s";
        // ...and stay given back, also when a write the program had started lands late.
        if (run % 4 == 3) {
            QThread::msleep(1500 - qMin<qint64>(nMs, 1500));
            ASSERT_EQ(manualMask(socket.toStdString()), 0) << "run " << run;
        }
    }
    daemon.terminate();
    daemon.waitForFinished();
}

} // namespace
