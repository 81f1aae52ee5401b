// Throughput of the simulated controller: calls in process and over the daemon's socket, and
// the cost of catching the thermal model up after a long pause.

#include "helpers/QClock.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "smc/QSmcTransportSocket.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <thread>

namespace {

QString g_BinDir; // the benchmark's folder: profiles are looked up from there

bool loadTower(QSimSmc& sim)
{
    QString error;
    return sim.loadProfile(QStringLiteral("MacPro4,1"), QSimProfile::defaultSearchDirs(g_BinDir),
                           &error);
}

SMCKeyData_t readRequest(const char* key)
{
    SMCKeyData_t input;
    std::memset(&input, 0, sizeof input);
    input.command = SmcCmdReadBytes;
    input.key = SimDumpUtils::packCode(QByteArray(key, 4));
    input.dataSize = 2;
    return input;
}

void BM_InProcessRead(benchmark::State& state)
{
    QManualClock clock;
    QSimSmc sim(&clock);
    if (!loadTower(sim)) {
        state.SkipWithError("MacPro4,1 profile not found (set THERMORA_PROFILES_DIR)");
        return;
    }
    const SMCKeyData_t input = readRequest("TC0C");
    SMCKeyData_t output;
    for (auto _ : state) {
        clock.advanceMsecs(10); // a sub-step every tenth call
        benchmark::DoNotOptimize(sim.call(kSmcMethodSelector, input, output));
    }
    state.counters["calls/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InProcessRead);

void BM_CatchUpOneHour(benchmark::State& state)
{
    QManualClock clock;
    QSimSmc sim(&clock);
    if (!loadTower(sim)) {
        state.SkipWithError("MacPro4,1 profile not found (set THERMORA_PROFILES_DIR)");
        return;
    }
    for (auto _ : state) {
        clock.advanceSecs(3600);
        sim.advance();
    }
    state.counters["sim-hours/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CatchUpOneHour)->Unit(benchmark::kMillisecond);

void BM_SocketRead(benchmark::State& state)
{
    QSimSmc sim;
    QTemporaryDir dir(QDir::tempPath() + "/simb-XXXXXX");
    if (!loadTower(sim) || !dir.isValid()) {
        state.SkipWithError("MacPro4,1 profile not found (set THERMORA_PROFILES_DIR)");
        return;
    }
    QSimServer server(sim);
    QString error;
    const QString path = dir.filePath("b.sock");
    if (!server.listen(path, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    std::thread serving([&server] { server.run(); });
    {
        QSmcTransportSocket transport(path);
        if (transport.open()) {
            const SMCKeyData_t input = readRequest("TC0C");
            SMCKeyData_t output;
            for (auto _ : state)
                benchmark::DoNotOptimize(transport.call(kSmcMethodSelector, input, output));
            state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                           benchmark::Counter::kIsRate);
        } else {
            state.SkipWithError("cannot connect");
        }
    }
    server.stop();
    serving.join();
}
BENCHMARK(BM_SocketRead);

} // namespace

int main(int argc, char** argv)
{
    g_BinDir = QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
