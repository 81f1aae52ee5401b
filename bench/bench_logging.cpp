// Costs of a log statement and of a settings read. A disabled statement should cost one level
// comparison; an enabled one formats on the caller and hands the line to the writer thread.
// Figures only.
#include "QsLog/QsLog.h"
#include "settings/QPreferences.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Swallows lines, so the figure is the logger's own cost, not the disk's.
class QNullDestination : public QsLogging::Destination
{
public:
    void write(const QString&, QsLogging::Level) override {}
    bool isValid() override { return true; }
};

void BM_DisabledStatement(benchmark::State& state)
{
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::OffLevel);
    int nRpm = 1200;
    for (auto _ : state) {
        QLOG_DEBUG() << "fan" << 0 << "rpm" << nRpm;
        benchmark::DoNotOptimize(nRpm);
    }
}
BENCHMARK(BM_DisabledStatement);

void BM_EnabledStatementToNull(benchmark::State& state)
{
    QsLogging::Logger& logger = QsLogging::Logger::instance();
    logger.setLoggingLevel(QsLogging::TraceLevel);
    static bool bAdded = false;
    if (!bAdded) {
        logger.addDestination(QsLogging::DestinationPtr(new QNullDestination));
        bAdded = true;
    }
    int nRpm = 1200;
    for (auto _ : state)
        QLOG_DEBUG() << "fan" << 0 << "rpm" << nRpm << QStringLiteral("F0Ac");
    logger.waitForWrites();
    logger.setLoggingLevel(QsLogging::OffLevel);
}
BENCHMARK(BM_EnabledStatementToNull);

void BM_EnabledStatementToFile(benchmark::State& state)
{
    QTemporaryDir dir;
    QsLogging::DestinationPtr file = QsLogging::DestinationFactory::MakeFileDestination(
        dir.filePath(QStringLiteral("Thermora.log")), QsLogging::EnableLogRotation,
        QsLogging::MaxSizeBytes(1024 * 1024), QsLogging::MaxOldLogCount(2));
    const QString line = QStringLiteral(
        "DEBUG 2026-01-01T00:00:00.123 src/core/FanControl.cpp @ 321 fan 0 rpm 1200 ");
    for (auto _ : state)
        file->write(line, QsLogging::DebugLevel);
}
BENCHMARK(BM_EnabledStatementToFile);

void BM_CachedSettingsRead(benchmark::State& state)
{
    QTemporaryDir dir;
    QPreferences prefs(dir.filePath(QStringLiteral("bench.ini")));
    prefs.setString(QStringLiteral("traySensor"), QStringLiteral("TC0P"));
    for (auto _ : state)
        benchmark::DoNotOptimize(prefs.getString(QStringLiteral("traySensor")));
}
BENCHMARK(BM_CachedSettingsRead);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    QsLogging::Logger::destroyInstance();
    return 0;
}
