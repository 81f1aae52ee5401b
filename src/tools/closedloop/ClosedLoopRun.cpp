#include "ClosedLoopRun.h"

#include "QsLog/QsLog.h"
#include "core/FanControl.h"
#include "core/FanControlLoops.h"
#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"
#include "core/QTempSensorSmart.h"
#include "core/drives/sim/QDriveSourceSim.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"
#include "sim/QSimSmc.h"
#include "smc/QSmcControlMac.h"
#include "smc/QSmcTransportInProcess.h"
#include "smc/SmcValueUtils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <ctime>
#include <memory>

namespace {

double threadCpuSecs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Measures the CPU time spent inside the simulator, so that it can be taken out of the
// controller's share.
class QTimedTransport : public QSmcTransport
{
public:
    explicit QTimedTransport(QSmcTransport* pInner) : m_pInner(pInner) {}
    bool open() override { return m_pInner->open(); }
    void close() override { m_pInner->close(); }
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        const double dStart = threadCpuSecs();
        const int result = m_pInner->call(selector, input, output);
        m_dSimCpuSecs += threadCpuSecs() - dStart;
        return result;
    }
    QString machineModel() override { return m_pInner->machineModel(); }
    double simCpuSecs() const { return m_dSimCpuSecs; }

private:
    std::unique_ptr<QSmcTransport> m_pInner;
    double m_dSimCpuSecs = 0;
};

struct ParsedMode
{
    FanControlMode mode;
    bool bValid = false;
};

ParsedMode parseMode(const QString& text)
{
    ParsedMode parsed;
    if (text == QLatin1String("auto")) {
        parsed.mode = FanControlMode::automatic();
        parsed.bValid = true;
    } else if (text.startsWith(QLatin1String("constant:"))) {
        bool bOk = false;
        const int rpm = text.mid(9).toInt(&bOk);
        parsed.mode = FanControlMode::constant(rpm);
        parsed.bValid = bOk && rpm > 0;
    } else if (text.startsWith(QLatin1String("sensor:"))) {
        const QStringList parts = text.mid(7).split(QLatin1Char(','));
        bool bStart = false, bMax = false;
        if (parts.size() == 3 && parts[0].size() == 4) {
            parsed.mode =
                FanControlMode::sensor(parts[0], parts[1].toInt(&bStart), parts[2].toInt(&bMax));
            parsed.bValid = bStart && bMax;
        }
    }
    return parsed;
}

QTempSensor* pickFollowedSensor(const QFanControl& controller, const FanControlMode& mode)
{
    if (mode.GetMode() == FanControlMode::ModeSensor)
        return controller.sensorByKey(mode.sensorKey());
    // Without a sensor of its own the run follows the first processor sensor shown.
    for (QTempSensor* pSensor : controller.sensors()) {
        if (pSensor->GetKey().startsWith(QLatin1String("TC")))
            return pSensor;
    }
    return controller.sensors().isEmpty() ? nullptr : controller.sensors().first();
}

int readTarget(QSimSmc& sim, int nFan)
{
    QByteArray bytes;
    if (!sim.value(QStringLiteral("F%1Tg").arg(nFan).toLatin1(), bytes) || bytes.size() < 2)
        return 0;
    return SmcValueUtils::decodeFanSpeed(reinterpret_cast<const unsigned char*>(bytes.constData()));
}

bool loadSimulator(const ClosedLoopOptions& options, QSimSmc& sim, QString* pError)
{
    QSimProfile profile;
    if (!options.profile.isEmpty()) {
        const QString path = QSimProfile::find(
            options.profile,
            QSimProfile::defaultSearchDirs(QCoreApplication::applicationDirPath()));
        if (path.isEmpty()) {
            *pError = QStringLiteral("no profile named %1").arg(options.profile);
            return false;
        }
        if (!QSimProfile::load(path, profile, pError))
            return false;
    } else {
        profile.model = options.model;
        profile.dumpPath = options.dumpPath;
    }
    if (!options.bProfileSchedule)
        profile.dynamics.schedule = standardSchedule(options.dMinutes);
    if (!sim.loadProfile(profile, pError))
        return false;
    sim.setModel(profile.model);
    for (const QStringList& drive : options.drives) {
        if (!sim.drives().addReplayed(drive.at(0), drive.at(1), pError))
            return false;
    }
    // The controller finds the simulated machine's drives, as the program does.
    QDriveSource::setInstance(new QDriveSourceSim(
        [&sim](uint32_t nCommand, uint32_t nDrive, int32_t& nResult, QByteArray& block) {
            nResult = sim.drives().request(nCommand, nDrive, block);
            return true;
        }));
    return true;
}

// One line per drive sensor, read now: name, kind, value and proposed range.
QStringList driveLines(const QFanControl& controller)
{
    QStringList lines;
    for (QTempSensor* pSensor : controller.sensors()) {
        auto* pDrive = dynamic_cast<QTempSensorSmart*>(pSensor);
        if (!pDrive)
            continue;
        pDrive->UpdateValue(nullptr);
        lines << QStringLiteral("%1  %2  %3 C  proposed %4-%5 C")
                     .arg(pDrive->GetDisplayName().isEmpty() ? QStringLiteral("(unnamed)")
                                                             : pDrive->GetDisplayName(),
                          pDrive->isSSD() ? QStringLiteral("SSD") : QStringLiteral("HDD"))
                     .arg(pDrive->GetValueInt())
                     .arg(pDrive->GetProposedMin())
                     .arg(pDrive->GetProposedMax());
    }
    return lines;
}

} // namespace

QVector<QSimLoadPhase> standardSchedule(double dMinutes)
{
    // Proportions of a 30-minute day: 5 idle, 12 sustained, 5 of bursts, 8 idle.
    const double dScale = dMinutes / 30.0 * 60.0;
    QVector<QSimLoadPhase> schedule{{0.05, 5 * dScale}, {0.85, 12 * dScale}};
    for (int i = 0; i < 5; ++i) {
        schedule.append({1.0, 0.5 * dScale});
        schedule.append({0.3, 0.5 * dScale});
    }
    schedule.append({0.05, 8 * dScale});
    return schedule;
}

bool runClosedLoop(const ClosedLoopOptions& options, ClosedLoopSummary& summary, QString* pError)
{
    QElapsedTimer realTime;
    realTime.start();
    const ParsedMode parsed = parseMode(options.modeText);
    if (!parsed.bValid) {
        *pError = QStringLiteral("bad mode \"%1\": use auto, constant:RPM or sensor:KEY,START,MAX")
                      .arg(options.modeText);
        return false;
    }

    // The program runs with logging off unless the user turned it on.
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::OffLevel);
    QManualClock clock;
    QCoreServices::setClock(&clock);
    QPreferences preferences(nullptr); // no backend: every run is a first start
    QCoreServices::setPreferences(&preferences);

    QSimSmc sim(&clock);
    struct DriveSourceReset // the simulator's drive source must not outlive the simulator
    {
        ~DriveSourceReset() { QDriveSource::setInstance(nullptr); }
    } resetDriveSource;
    if (!loadSimulator(options, sim, pError))
        return false;
    QMySysInfo sysInfo([&sim] { return sim.model(); });
    summary.model = sysInfo.machineName();
    QCoreServices::setSysInfo(&sysInfo);

    auto* pTimed = new QTimedTransport(new QSmcTransportInProcess(&sim));
    QSmcControlMac smc(pTimed);
    smc.useDirectWrites();
    if (!smc.Open()) {
        *pError = QStringLiteral("the simulated SMC did not open");
        return false;
    }

    QFanControl controller(&smc, &clock);
    controller.Init();
    const int nFans = controller.fanCount();
    if (options.nFan >= nFans) {
        *pError = QStringLiteral("no fan %1: the machine has %2").arg(options.nFan).arg(nFans);
        return false;
    }
    for (QTempSensor* pSensor : controller.sensors())
        summary.sensors << QStringLiteral("%1  %2").arg(pSensor->GetKey(),
                                                        pSensor->GetDisplayName());
    if (parsed.mode.GetMode() == FanControlMode::ModeSensor &&
        !controller.sensorByKey(parsed.mode.sensorKey())) {
        *pError = QStringLiteral("sensor %1 is not among the sensors the controller shows")
                      .arg(parsed.mode.sensorKey());
        return false;
    }
    QTempSensor* pFollowed = pickFollowedSensor(controller, parsed.mode);
    summary.followedKey = pFollowed ? pFollowed->GetKey() : QString();
    if (parsed.mode.GetMode() == FanControlMode::ModeSensor)
        summary.nMaxTemperature = parsed.mode.valueMax();

    // One full update so that every fan knows its minimum and maximum, then the mode.
    FanControlLoopUtils::runUpdatePass(controller, controller.sensors(), false, true, QString());
    for (int i = 0; i < nFans; ++i) {
        if (options.nFan >= 0 && options.nFan != i)
            continue;
        controller.GetFan(i)->resetSensorControl();
        controller.GetFan(i)->SetControlMode(parsed.mode);
    }

    QFile csv(options.csvPath);
    QTextStream out(&csv);
    if (!options.csvPath.isEmpty()) {
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            *pError = QStringLiteral("cannot write %1: %2").arg(options.csvPath, csv.errorString());
            return false;
        }
        out << "time_s,load,followed_c";
        for (int i = 0; i < nFans; ++i)
            out << ",fan" << i << "_target,fan" << i << "_actual";
        out << ",smc_reads,smc_writes\n";
    }

    QVector<int> lastTarget(nFans);
    summary.fans.resize(nFans);
    for (int i = 0; i < nFans; ++i)
        lastTarget[i] = readTarget(sim, i);

    const quint64 nReads0 = sim.readCount(), nWrites0 = sim.writeCount();
    const qint64 nStart = clock.msecsSinceEpoch();
    const qint64 nEnd = nStart + qRound64(options.dMinutes * 60000.0);
    qint64 nNextControl = nStart + 1000, nNextUpdate = nStart + 1500;
    double dPassCpu = 0, dTempSum = 0;
    int nSamples = 0;
    const double dSimCpu0 = pTimed->simCpuSecs();
    while (qMin(nNextControl, nNextUpdate) <= nEnd) {
        const bool bControl = nNextControl <= nNextUpdate;
        clock.setMsecsSinceEpoch(bControl ? nNextControl : nNextUpdate);
        const double dCpu = threadCpuSecs();
        if (bControl)
            FanControlLoopUtils::runControlPass(controller);
        else
            FanControlLoopUtils::runUpdatePass(controller, controller.sensors(), true, false,
                                               summary.followedKey);
        dPassCpu += threadCpuSecs() - dCpu;
        if (!bControl) {
            nNextUpdate += 1500;
            continue;
        }
        nNextControl += 1000;

        sim.advance(); // the model's state at this second, not at the last call
        const double dSecs = (clock.msecsSinceEpoch() - nStart) / 1000.0;
        const double dTemp = pFollowed ? pFollowed->GetValue() : 0.0;
        dTempSum += dTemp;
        ++nSamples;
        summary.dTempMax = nSamples == 1 ? dTemp : qMax(summary.dTempMax, dTemp);
        if (summary.nMaxTemperature >= 0 && dTemp > summary.nMaxTemperature)
            ++summary.nSecsAboveMax;
        if (csv.isOpen())
            out << dSecs << ',' << sim.currentLoad() << ',' << dTemp;
        for (int i = 0; i < nFans; ++i) {
            const int nTarget = readTarget(sim, i);
            if (nTarget != lastTarget[i])
                ++summary.fans[i].nTargetChanges;
            lastTarget[i] = nTarget;
            if (csv.isOpen())
                out << ',' << nTarget << ',' << qRound(sim.fanSpeed(i));
        }
        if (csv.isOpen())
            out << ',' << (sim.readCount() - nReads0) << ',' << (sim.writeCount() - nWrites0)
                << '\n';
    }

    summary.dSimSecs = (nEnd - nStart) / 1000.0;
    summary.dTempMean = nSamples ? dTempSum / nSamples : 0.0;
    summary.nReads = sim.readCount() - nReads0;
    summary.nWrites = sim.writeCount() - nWrites0;
    summary.dControllerCpuSecs = dPassCpu - (pTimed->simCpuSecs() - dSimCpu0);
    for (int i = 0; i < nFans; ++i) {
        const FanInfo* pFan = controller.GetFan(i);
        summary.fans[i].name = pFan->GetName();
        summary.fans[i].nMin = pFan->GetRPMMin();
        summary.fans[i].nMax = pFan->GetRPMMax();
        summary.fans[i].dFinalActual = sim.fanSpeed(i);
        summary.fans[i].nFinalTarget = lastTarget[i];
    }
    summary.drives = driveLines(controller);
    QCoreServices::setSysInfo(nullptr);
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setClock(nullptr);
    summary.dRealSecs = realTime.elapsed() / 1000.0;
    return true;
}

QString formatSummary(const ClosedLoopOptions& options, const ClosedLoopSummary& summary)
{
    QString text;
    QTextStream out(&text);
    const double dMinutes = summary.dSimSecs / 60.0;
    out << "machine            " << summary.model << "\n";
    out << "mode               " << options.modeText
        << (options.nFan >= 0 ? QStringLiteral(" on fan %1").arg(options.nFan)
                              : QStringLiteral(" on every fan"))
        << "\n";
    out << "simulated          " << dMinutes << " min in " << summary.dRealSecs << " s real\n";
    out << "sensors shown      " << summary.sensors.size() << "\n";
    for (const QString& sensor : summary.sensors)
        out << "    " << sensor << "\n";
    out << "drive sensors      " << summary.drives.size() << "\n";
    for (const QString& drive : summary.drives)
        out << "    " << drive << "\n";
    out << "fans               " << summary.fans.size() << "\n";
    for (int i = 0; i < summary.fans.size(); ++i) {
        const ClosedLoopFanSummary& fan = summary.fans[i];
        out << "    " << i << "  " << fan.name << "  min " << fan.nMin << "  max " << fan.nMax
            << "  final target " << fan.nFinalTarget << "  final actual "
            << qRound(fan.dFinalActual) << "  target changes/min "
            << QString::number(fan.nTargetChanges / dMinutes, 'f', 2) << "\n";
    }
    out << "followed sensor    " << (summary.followedKey.isEmpty() ? "-" : summary.followedKey)
        << "  mean " << QString::number(summary.dTempMean, 'f', 1) << " C  max "
        << QString::number(summary.dTempMax, 'f', 1) << " C\n";
    if (summary.nMaxTemperature >= 0)
        out << "above maximum      " << summary.nSecsAboveMax << " s (max "
            << summary.nMaxTemperature << " C)\n";
    else
        out << "above maximum      - (the mode has no maximum)\n";
    out << "SMC reads/min      " << QString::number(summary.nReads / dMinutes, 'f', 1) << "\n";
    out << "SMC writes/min     " << QString::number(summary.nWrites / dMinutes, 'f', 1) << "\n";
    out << "controller CPU     "
        << QString::number(summary.dControllerCpuSecs * 1000.0 / (dMinutes / 60.0), 'f', 1)
        << " ms per simulated hour\n";
    return text;
}
