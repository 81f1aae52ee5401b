#pragma once

// The simulator daemon and the key-writing tool as real processes, for the tests that run them,
// and key access over the daemon's socket.
#include "smc/QSmcControlMac.h"
#include "smc/sim/QSmcTransportSocket.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <csignal>
#include <cstring>

struct QProcessRun
{
    int nExitCode = -1; // -1: crashed or did not end
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end with the simulator socket in its environment (none when empty).
inline QProcessRun runProgram(const QString& program, const QStringList& args,
                              const QString& socketPath = QString())
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("THERMORA_SMC_SOCKET");
    if (!socketPath.isEmpty())
        env.insert("THERMORA_SMC_SOCKET", socketPath);
    process.setProcessEnvironment(env);
    process.start(program, args);
    QProcessRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.nExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// One simulator daemon for the life of the object; stopped with SIGTERM at the end.
class QSimDaemonProcess
{
public:
    ~QSimDaemonProcess() { stop(); }

    // Starts it on socketPath; its ready line, empty when it did not come up.
    QString start(const QString& socketPath, const QStringList& args)
    {
        m_Process.start(TestSupport::binDir() + "/thermora-smcsim",
                        QStringList{"--socket", socketPath} + args);
        while (m_Process.waitForStarted(20000) && !m_Process.canReadLine()) {
            if (!m_Process.waitForReadyRead(20000))
                return QString();
        }
        return QString::fromUtf8(m_Process.readLine()).trimmed();
    }
    // Signals it and waits; its exit code, -1 when it was not running or did not end normally.
    int stop(int nSignal = SIGTERM)
    {
        if (m_Process.state() == QProcess::NotRunning)
            return -1;
        ::kill(pid_t(m_Process.processId()), nSignal);
        if (!m_Process.waitForFinished(20000)) {
            m_Process.kill();
            m_Process.waitForFinished();
        }
        return m_Process.exitStatus() == QProcess::NormalExit ? m_Process.exitCode() : -1;
    }

    QProcess m_Process;
};

// The value of a key, or "failed".
inline QByteArray readKey(QSmcControlMac& smc, const char* key)
{
    SMCVal_t val;
    if (smc.SMCReadKey(key, &val) != 0)
        return "failed";
    return QByteArray(reinterpret_cast<const char*>(val.bytes), int(qMin(val.dataSize, 32u)));
}

inline int writeKey(QSmcControlMac& smc, const char* key, const QByteArray& bytes)
{
    SMCVal_t val;
    std::memset(&val, 0, sizeof val);
    std::memcpy(val.key, key, 4);
    val.dataSize = uint32_t(bytes.size());
    std::memcpy(val.bytes, bytes.constData(), size_t(bytes.size()));
    return smc.SMCWriteKey(val);
}
