// SMC access costs: one key read round trip and one temperature-key enumeration, against the
// in-process simulator and against the simulator daemon over its socket, and the CPU time of
// one write by the key-writing tool. Figures only.
#include "sim/QSimSmc.h"
#include "sim/SimDumpUtils.h"
#include "smc/QSmcControlMac.h"
#include "smc/QSmcTransportInProcess.h"
#include "smc/QSmcTransportSocket.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

// Counts the key layer's calls into the backend.
class QCountingSmc : public QSmcControlMac
{
public:
    using QSmcControlMac::QSmcControlMac;

    int OS_GetKeyInfoByIndex(int index, applesmc_entry* entry) override
    {
        ++m_nCalls;
        return QSmcControlMac::OS_GetKeyInfoByIndex(index, entry);
    }
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        ++m_nCalls;
        return QSmcControlMac::OS_ReadKey(key, buffer, size);
    }

    std::atomic<qint64> m_nCalls{0};
};

QSimKey makeKey(const QByteArray& key, const QByteArray& type, const QByteArray& bytes)
{
    QSimKey k;
    k.key = key;
    k.type = type;
    k.bytes = bytes;
    return k;
}

// A controller of 1,500 keys: 150 temperature keys among fan, voltage, current, power and
// lower-case keys, as the larger machines have.
QVector<QSimKey> largeTable()
{
    QVector<QSimKey> keys;
    keys.append(makeKey("FNum", "ui8 ", QByteArray("\x02", 1)));
    keys.append(makeKey("FS! ", "ui16", QByteArray(2, '\0')));
    for (int fan = 0; fan < 2; ++fan) {
        for (const char* suffix : {"Ac", "Mn", "Mx", "Tg"})
            keys.append(makeKey(QByteArray("F") + QByteArray::number(fan) + suffix, "fpe2",
                                QByteArray("\x1f\x40", 2)));
    }
    const char* prefixes[] = {"I", "P", "V", "M", "B", "L", "a", "m", "t"};
    int n = 0;
    while (keys.size() < 1500 - 150 - 1) {
        const QByteArray key = QByteArray(prefixes[n % 9]) +
                               QByteArray::number(n / 9, 36).rightJustified(3, '0').toUpper();
        keys.append(makeKey(key, n % 3 ? "ui16" : "sp78", QByteArray("\x00\x10", 2)));
        ++n;
    }
    for (int i = 0; i < 150; ++i) {
        const QByteArray key =
            "T" + QByteArray::number(i, 36).rightJustified(2, '0').toUpper() + (i % 2 ? "P" : "D");
        keys.append(makeKey(key, i % 10 ? "sp78" : "ui16", QByteArray("\x2d\x80", 2)));
    }
    SimDumpUtils::finishTable(keys);
    return keys;
}

QString binDir()
{
    const QString dir = qEnvironmentVariable("THERMORA_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/../bin") : dir;
}

// The simulator daemon serving the large table, started once for the benchmarks that need it.
class QDaemon
{
public:
    static QDaemon& instance()
    {
        static QDaemon daemon;
        return daemon;
    }

    QString socketPath() const
    {
        return m_bReady ? m_Dir.filePath(QStringLiteral("sim.sock")) : QString();
    }

    ~QDaemon()
    {
        m_Process.terminate();
        if (!m_Process.waitForFinished(5000))
            m_Process.kill();
    }

private:
    QDaemon()
    {
        const QString dump = m_Dir.filePath(QStringLiteral("large.dump"));
        QString error;
        if (!SimDumpUtils::saveDumpFile(dump, largeTable(), &error)) {
            fprintf(stderr, "%s\n", qPrintable(error));
            return;
        }
        m_Process.setProgram(binDir() + QStringLiteral("/thermora-smcsim"));
        m_Process.setArguments({QStringLiteral("--socket"),
                                m_Dir.filePath(QStringLiteral("sim.sock")),
                                QStringLiteral("--dump"), dump});
        m_Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_Process.start();
        m_bReady = m_Process.waitForReadyRead(10000) &&
                   m_Process.readAllStandardOutput().startsWith("thermora-smcsim: serving");
    }

    QTemporaryDir m_Dir;
    QProcess m_Process;
    bool m_bReady = false;
};

std::unique_ptr<QCountingSmc> openSocketSmc(benchmark::State& state)
{
    const QString socketPath = QDaemon::instance().socketPath();
    std::unique_ptr<QCountingSmc> pSmc(new QCountingSmc(new QSmcTransportSocket(socketPath)));
    if (socketPath.isEmpty() || !pSmc->Open()) {
        state.SkipWithError("the simulator daemon could not be started");
        return nullptr;
    }
    return pSmc;
}

void BM_ReadKeyInProcess(benchmark::State& state)
{
    auto pSim = QSharedPointer<QSimSmc>::create();
    pSim->setKeys(largeTable());
    QSmcControlMac smc(new QSmcTransportInProcess(pSim));
    smc.Open();
    unsigned char bytes[2];
    for (auto _ : state) {
        benchmark::DoNotOptimize(smc.ReadKey("T10P", bytes, 2));
    }
}
BENCHMARK(BM_ReadKeyInProcess);

void BM_ReadKeySocket(benchmark::State& state)
{
    auto pSmc = openSocketSmc(state);
    if (!pSmc)
        return;
    unsigned char bytes[2];
    for (auto _ : state) {
        benchmark::DoNotOptimize(pSmc->ReadKey("T10P", bytes, 2));
    }
}
BENCHMARK(BM_ReadKeySocket)->UseRealTime();

void reportEnumeration(benchmark::State& state, QCountingSmc& smc, int nSensors)
{
    state.counters["backend_calls"] = benchmark::Counter(static_cast<double>(smc.m_nCalls.load()),
                                                         benchmark::Counter::kAvgIterations);
    state.counters["sensors"] = nSensors;
    state.counters["keys"] = smc.keyCount();
}

void BM_LoadTempSensorsInProcess(benchmark::State& state)
{
    auto pSim = QSharedPointer<QSimSmc>::create();
    pSim->setKeys(largeTable());
    QCountingSmc smc(new QSmcTransportInProcess(pSim));
    smc.Open();
    int nSensors = 0;
    for (auto _ : state) {
        QVector<QString> keys;
        smc.LoadTempSensors(keys);
        nSensors = keys.size();
    }
    reportEnumeration(state, smc, nSensors);
}
BENCHMARK(BM_LoadTempSensorsInProcess);

void BM_LoadTempSensorsSocket(benchmark::State& state)
{
    auto pSmc = openSocketSmc(state);
    if (!pSmc)
        return;
    int nSensors = 0;
    for (auto _ : state) {
        QVector<QString> keys;
        pSmc->LoadTempSensors(keys);
        nSensors = keys.size();
    }
    reportEnumeration(state, *pSmc, nSensors);
}
BENCHMARK(BM_LoadTempSensorsSocket)->UseRealTime();

double cpuSeconds(const rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// One write by the key-writing tool, started as a child the way the program starts it for every
// target speed: its CPU time (user + system of the reaped children) per write. Sensor-based
// control starts it dozens of times a minute.
void BM_ToolWrite(benchmark::State& state)
{
    const QString socketPath = QDaemon::instance().socketPath();
    if (socketPath.isEmpty()) {
        state.SkipWithError("the simulator daemon could not be started");
        return;
    }
    QByteArray tool = QFile::encodeName(binDir() + QStringLiteral("/smc"));
    QByteArray socketEnv = "THERMORA_SMC_SOCKET=" + QFile::encodeName(socketPath);
    QByteArray args[] = {"-k", "F0Tg", "-w", "1f40"};
    char* argv[] = {tool.data(),    args[0].data(), args[1].data(),
                    args[2].data(), args[3].data(), nullptr};
    char* envp[] = {socketEnv.data(), nullptr};

    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    int nFailed = 0;
    for (auto _ : state) {
        pid_t pid = 0;
        int nStatus = 0;
        if (posix_spawn(&pid, tool.constData(), nullptr, nullptr, argv, envp) != 0 ||
            waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
            ++nFailed;
    }
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    state.counters["tool_cpu_us_per_write"] = benchmark::Counter(
        (cpuSeconds(after) - cpuSeconds(before)) * 1e6, benchmark::Counter::kAvgIterations);
    state.counters["failed_writes"] = nFailed;
}
BENCHMARK(BM_ToolWrite)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // for starting the daemon as a child process
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
