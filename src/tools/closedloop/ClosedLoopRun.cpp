#include "ClosedLoopRun.h"

#include "QsLog/QsLog.h"
#include "core/CurveControl.h"
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
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTextStream>

#include <cmath>
#include <ctime>
#include <functional>
#include <memory>

namespace {

double threadCpuSecs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Sees every call on its way to the simulator: measures the simulator's CPU time, so that it
// can be taken out of the controller's share, and reports every write.
class QWatchingTransport : public QSmcTransport
{
public:
    using WriteSink = std::function<void(const SMCKeyData_t&)>;
    QWatchingTransport(QSmcTransport* pInner, WriteSink sink)
        : m_pInner(pInner), m_Sink(std::move(sink))
    {}
    bool open() override { return m_pInner->open(); }
    void close() override { m_pInner->close(); }
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override
    {
        if (input.command == SmcCmdWriteBytes)
            m_Sink(input);
        const double dStart = threadCpuSecs();
        const int result = m_pInner->call(selector, input, output);
        m_dSimCpuSecs += threadCpuSecs() - dStart;
        return result;
    }
    QString machineModel() override { return m_pInner->machineModel(); }
    double simCpuSecs() const { return m_dSimCpuSecs; }

private:
    std::unique_ptr<QSmcTransport> m_pInner;
    WriteSink m_Sink;
    double m_dSimCpuSecs = 0;
};

struct ParsedMode
{
    FanControlMode mode;
    bool bCurve = false;
    CurveControl curve;
    bool bValid = false;
    QString error;
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
    } else if (text.startsWith(QLatin1String("curve:"))) {
        parsed.bCurve = true;
        parsed.bValid = CurveControl::parse(text.mid(6), parsed.curve, &parsed.error);
        // The fan is taken over at the curve's lowest speed; the curve commands it from there.
        if (parsed.bValid)
            parsed.mode = FanControlMode::constant(qMax(1, parsed.curve.points().first().rpm));
    }
    if (!parsed.bValid)
        parsed.error =
            QStringLiteral("bad mode \"%1\"%2: use auto, constant:RPM, "
                           "sensor:KEY,START,MAX or curve:KEY,T1:R1,T2:R2[,...][,hyst=H]")
                .arg(text, parsed.error.isEmpty() ? QString() : ": " + parsed.error);
    return parsed;
}

QString followedKey(const ParsedMode& parsed)
{
    if (parsed.bCurve)
        return parsed.curve.sensorKey();
    return parsed.mode.GetMode() == FanControlMode::ModeSensor ? parsed.mode.sensorKey()
                                                               : QString();
}

// The watched sensor: the one asked for, else the mode's own, else the first processor sensor
// in the sensor table's order.
QTempSensor* pickWatched(const QFanControl& controller, const QString& asked,
                         const QString& followed)
{
    if (!asked.isEmpty() || !followed.isEmpty())
        return controller.sensorByKey(asked.isEmpty() ? followed : asked);
    QTempSensor* pBest = nullptr;
    for (QTempSensor* pSensor : controller.sensors()) {
        const int nRow = QTempSensor::tableRow(pSensor->GetKey());
        if (pSensor->GetKey().startsWith(QLatin1String("TC")) && nRow >= 0 &&
            (!pBest || nRow < QTempSensor::tableRow(pBest->GetKey())))
            pBest = pSensor;
    }
    return pBest || controller.sensors().isEmpty() ? pBest : controller.sensors().first();
}

bool loadSimulator(const ClosedLoopOptions& options, QSimSmc& sim, QVector<QSimLoadPhase>& schedule,
                   QString& dynamics, QString* pError)
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
        dynamics = QStringLiteral("the profile's (%1)").arg(QFileInfo(path).fileName());
    } else {
        profile.model = options.model;
        profile.dumpPath = options.dumpPath;
        dynamics = QStringLiteral("default (a bare dump; --dynamics FILE gives others)");
    }
    if (!options.dynamicsPath.isEmpty()) {
        QSimProfile source;
        if (!QSimProfile::loadDynamics(options.dynamicsPath, source, pError))
            return false;
        profile.dynamics = source.dynamics;
        dynamics = QStringLiteral("from %1").arg(options.dynamicsPath);
    }
    if (!options.bProfileSchedule || profile.dynamics.schedule.isEmpty())
        profile.dynamics.schedule = standardSchedule(options.dMinutes);
    schedule = profile.dynamics.schedule;
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

bool checkFaults(const QVector<ClosedLoopFault>& faults, QSimSmc& sim, QString* pError)
{
    QByteArray bytes;
    for (const ClosedLoopFault& fault : faults) {
        const bool bKnown = fault.kind == ClosedLoopFault::FaultRead
                                ? sim.value(fault.key, bytes)
                                : !std::isnan(sim.temperature(fault.key));
        if (!bKnown) {
            *pError = QStringLiteral("the fault's key %1 is not a %2 of this machine")
                          .arg(QString::fromLatin1(fault.key),
                               fault.kind == ClosedLoopFault::FaultRead ? "key" : "sensor");
            return false;
        }
    }
    return true;
}

void applyFault(const ClosedLoopFault& fault, QSimSmc& sim)
{
    if (fault.kind == ClosedLoopFault::FaultRead)
        sim.setReadFault(fault.key, true);
    else
        sim.setHotSensor(fault.key, fault.kind == ClosedLoopFault::FaultHot ? 130.0 : 0.0);
}

int wholeDegrees(double dCelsius)
{
    return int(std::floor(qBound(-1000.0, dCelsius, 1000.0) + 0.5));
}

// Everything one run keeps while it steps.
class QRunner
{
public:
    QRunner(const ClosedLoopOptions& options, ClosedLoopSummary& summary)
        : m_Options(options), m_Summary(summary), m_Sim(&m_Clock)
    {}
    bool run(QString* pError);

private:
    bool setUp(QString* pError);
    bool openCsv(QString* pError);
    void onWrite(const SMCKeyData_t& input);
    void updatePass();
    void controlPass();
    void recordSecond(double dSecs);
    static void noteHandBack(ClosedLoopFanSummary& fan, bool bFollowing, double dSecs);
    ClosedLoopPhase phaseAt(double dSecs) const;
    bool controlled(int nFan) const { return m_Options.nFan < 0 || m_Options.nFan == nFan; }

    const ClosedLoopOptions& m_Options;
    ClosedLoopSummary& m_Summary;
    QManualClock m_Clock;
    QPreferences m_Preferences{nullptr}; // no backend: every run is a first start
    QSimSmc m_Sim;
    struct DriveSourceReset // the simulator's drive source must not outlive the simulator
    {
        ~DriveSourceReset() { QDriveSource::setInstance(nullptr); }
    } m_ResetDriveSource;
    std::unique_ptr<QMySysInfo> m_pSysInfo;
    QWatchingTransport* m_pTransport = nullptr;
    std::unique_ptr<QSmcControlMac> m_pSmc;
    std::unique_ptr<QFanControl> m_pController;
    ParsedMode m_Mode;
    QVector<CurveControl> m_Curves; // one per fan in curve mode
    QTempSensor* m_pWatched = nullptr;
    QTempSensor* m_pFollowed = nullptr;
    QVector<QSimLoadPhase> m_Schedule;
    QVector<ClosedLoopPhase> m_SchedulePhases;
    ClosedLoopPhase m_Phase = PhaseIdle;
    QHash<QByteArray, QByteArray> m_KeyTypes; // the simulated machine's key types
    QVector<int> m_LastWritten; // per fan: last target written, and the direction it moved
    QVector<int> m_LastDirection;
    QFile m_Csv;
    QTextStream m_Out;
    qint64 m_nStart = 0;
    double m_dPassCpu = 0;
};

bool QRunner::run(QString* pError)
{
    QElapsedTimer realTime;
    realTime.start();
    if (!setUp(pError) || !openCsv(pError))
        return false;
    QVector<bool> faultDone(m_Options.faults.size());
    for (int i = 0; i < m_Options.faults.size(); ++i)
        faultDone[i] = m_Options.faults[i].dAtSecs <= 0; // applied before the first reading
    const double dSimCpu0 = m_pTransport->simCpuSecs();
    m_nStart = m_Clock.msecsSinceEpoch();
    const qint64 nEnd = m_nStart + qRound64(m_Options.dMinutes * 60000.0);
    qint64 nNextControl = m_nStart + 1000, nNextUpdate = m_nStart + 1500;
    while (qMin(nNextControl, nNextUpdate) <= nEnd) {
        const bool bControl = nNextControl <= nNextUpdate;
        m_Clock.setMsecsSinceEpoch(bControl ? nNextControl : nNextUpdate);
        const double dSecs = (m_Clock.msecsSinceEpoch() - m_nStart) / 1000.0;
        m_Phase = phaseAt(dSecs);
        for (int i = 0; i < m_Options.faults.size(); ++i) {
            if (!faultDone[i] && dSecs >= m_Options.faults[i].dAtSecs) {
                applyFault(m_Options.faults[i], m_Sim);
                faultDone[i] = true;
            }
        }
        const double dCpu = threadCpuSecs();
        bControl ? controlPass() : updatePass();
        m_dPassCpu += threadCpuSecs() - dCpu;
        if (bControl) {
            nNextControl += 1000;
            recordSecond(dSecs);
        } else {
            nNextUpdate += 1500;
        }
    }
    m_Summary.dSimSecs = (nEnd - m_nStart) / 1000.0;
    m_Summary.dControllerCpuSecs = m_dPassCpu - (m_pTransport->simCpuSecs() - dSimCpu0);
    for (int i = 0; i < m_Summary.fans.size(); ++i) {
        const FanInfo* pFan = m_pController->GetFan(i);
        m_Summary.fans[i].name = pFan->GetName();
        m_Summary.fans[i].nMin = pFan->GetRPMMin();
        m_Summary.fans[i].nMax = pFan->GetRPMMax();
    }
    m_Summary.drives = driveLines(*m_pController);
    m_Summary.dRealSecs = realTime.elapsed() / 1000.0;
    return true;
}

bool QRunner::setUp(QString* pError)
{
    m_Mode = parseMode(m_Options.modeText);
    if (!m_Mode.bValid) {
        *pError = m_Mode.error;
        return false;
    }
    m_Summary.modeText = m_Options.modeText;
    QCoreServices::setClock(&m_Clock);
    QCoreServices::setPreferences(&m_Preferences);
    if (!loadSimulator(m_Options, m_Sim, m_Schedule, m_Summary.dynamics, pError) ||
        !checkFaults(m_Options.faults, m_Sim, pError))
        return false;
    m_SchedulePhases = schedulePhases(m_Schedule);
    for (const QSimKey& key : m_Sim.keys())
        m_KeyTypes.insert(key.key, key.type);
    m_pSysInfo = std::make_unique<QMySysInfo>([this] { return m_Sim.model(); });
    m_Summary.model = m_pSysInfo->machineName();
    QCoreServices::setSysInfo(m_pSysInfo.get());

    m_pTransport = new QWatchingTransport(new QSmcTransportInProcess(&m_Sim),
                                          [this](const SMCKeyData_t& input) { onWrite(input); });
    m_pSmc = std::make_unique<QSmcControlMac>(m_pTransport);
    m_pSmc->useDirectWrites();
    if (!m_pSmc->Open()) {
        *pError = QStringLiteral("the simulated SMC did not open");
        return false;
    }
    m_pController = std::make_unique<QFanControl>(m_pSmc.get(), &m_Clock);
    // The unlock's retries wait on the simulated clock, as every other wait here does.
    m_pController->setSleep([this](int nMsecs) { m_Clock.advanceMsecs(nMsecs); });
    m_pController->Init();
    const int nFans = m_pController->fanCount();
    if (m_Options.nFan >= nFans) {
        *pError = QStringLiteral("no fan %1: the machine has %2").arg(m_Options.nFan).arg(nFans);
        return false;
    }
    for (QTempSensor* pSensor : m_pController->sensors()) {
        if (dynamic_cast<QTempSensorSmart*>(pSensor))
            continue; // drives have lines of their own
        m_Summary.sensors << QStringLiteral("%1  %2").arg(pSensor->GetKey(),
                                                          pSensor->GetDisplayName());
    }
    const QString followed = followedKey(m_Mode);
    m_pFollowed = followed.isEmpty() ? nullptr : m_pController->sensorByKey(followed);
    m_pWatched = pickWatched(*m_pController, m_Options.watchKey, followed);
    if ((!followed.isEmpty() && !m_pFollowed) || (!m_Options.watchKey.isEmpty() && !m_pWatched)) {
        *pError = QStringLiteral("sensor %1 is not among the sensors the controller shows")
                      .arg(!followed.isEmpty() && !m_pFollowed ? followed : m_Options.watchKey);
        return false;
    }
    m_Summary.watchedKey = m_pWatched ? m_pWatched->GetKey() : QString();
    m_Summary.nMaxTemperature = m_Options.nMaxTemperature >= 0
                                    ? m_Options.nMaxTemperature
                                    : modeMaxTemperature(m_Options.modeText);
    QSet<QString> needed; // the sensors an update pass reads with the window hidden
    for (const QString& key : {m_Summary.watchedKey, followed}) {
        if (!key.isEmpty())
            needed << key;
    }
    m_Summary.nReadFloor = nFans + needed.size();

    // Faults from second 0 are there from the first reading on, after the sensors were found.
    for (const ClosedLoopFault& fault : m_Options.faults) {
        if (fault.dAtSecs <= 0)
            applyFault(fault, m_Sim);
    }
    // One full update so that every fan knows its minimum and maximum, then the mode.
    FanControlLoopUtils::runUpdatePass(*m_pController, m_pController->sensors(), false, true,
                                       QString());
    m_Summary.fans.resize(nFans);
    m_LastWritten.fill(-1, nFans);
    m_LastDirection.fill(0, nFans);
    m_Curves.fill(m_Mode.curve, nFans);
    for (int i = 0; i < nFans; ++i) {
        m_Summary.fans[i].bControlled = controlled(i);
        m_Summary.fans[i].dActualLow = m_Summary.fans[i].dActualHigh = m_Sim.fanSpeed(i);
        if (!controlled(i))
            continue;
        m_pController->GetFan(i)->resetSensorControl();
        m_pController->GetFan(i)->SetControlMode(m_Mode.mode);
    }
    return true;
}

bool QRunner::openCsv(QString* pError)
{
    m_Summary.csvPath = m_Options.csvPath;
    if (m_Options.csvPath.isEmpty())
        return true;
    m_Csv.setFileName(m_Options.csvPath);
    if (!m_Csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *pError = QStringLiteral("cannot write %1: %2").arg(m_Options.csvPath, m_Csv.errorString());
        return false;
    }
    m_Out.setDevice(&m_Csv);
    m_Out << "time_s,load,phase,watched_c";
    for (int i = 0; i < m_Summary.fans.size(); ++i)
        m_Out << ",fan" << i << "_target,fan" << i << "_actual";
    m_Out << ",smc_reads,smc_writes\n";
    return true;
}

void QRunner::onWrite(const SMCKeyData_t& input)
{
    ClosedLoopPhaseStats& stats = m_Summary.phases[m_Phase];
    ++stats.nToolStarts; // the program starts the key-writing tool for every write
    const QByteArray key = SimDumpUtils::unpackCode(input.key);
    // The mask, or on newer machines the mode keys and the unlock: the fans' manual state.
    if (key == "FS! " || key == "Ftst" || (key.startsWith('F') && key.endsWith("Md"))) {
        ++stats.nMaskWrites;
        return;
    }
    const int nFan = key.at(1) - '0';
    if (key.at(0) != 'F' || !key.endsWith("Tg") || nFan < 0 || nFan >= m_LastWritten.size())
        return;
    ++stats.nTargetWrites;
    double dTarget = 0; // in the key's own type
    SimDumpUtils::decodeNumber(m_KeyTypes.value(key, "fpe2"),
                               QByteArray(reinterpret_cast<const char*>(input.bytes),
                                          int(qMin<uint32_t>(input.dataSize, 32))),
                               dTarget);
    const int nTarget = static_cast<int>(dTarget);
    ClosedLoopFanSummary& fan = m_Summary.fans[nFan];
    fan.nTargetLow = fan.nTargetLow < 0 ? nTarget : qMin(fan.nTargetLow, nTarget);
    fan.nTargetHigh = qMax(fan.nTargetHigh, nTarget);
    const int nDirection = m_LastWritten[nFan] < 0 || nTarget == m_LastWritten[nFan]
                               ? 0
                               : (nTarget > m_LastWritten[nFan] ? 1 : -1);
    if (nDirection != 0 && m_LastDirection[nFan] != 0 && nDirection != m_LastDirection[nFan])
        ++stats.nReversals;
    if (nDirection != 0)
        m_LastDirection[nFan] = nDirection;
    m_LastWritten[nFan] = nTarget;
}

void QRunner::updatePass()
{
    const quint64 nReads0 = m_Sim.readCount();
    FanControlLoopUtils::runUpdatePass(*m_pController, m_pController->sensors(), true, false,
                                       m_Summary.watchedKey);
    // A curve's sensor is the harness's to read, as the program would for a mode of its own.
    if (m_Mode.bCurve && m_pFollowed != m_pWatched)
        m_pController->UpdateTempSensor(m_pFollowed);
    ClosedLoopPhaseStats& stats = m_Summary.phases[m_Phase];
    stats.nUpdateReads += m_Sim.readCount() - nReads0;
    ++stats.nUpdatePasses;
}

void QRunner::controlPass()
{
    if (!m_Mode.bCurve) {
        FanControlLoopUtils::runControlPass(*m_pController);
        return;
    }
    const double dValue = m_pFollowed->GetValue();
    for (int i = 0; i < m_Curves.size(); ++i) {
        const FanInfo* pFan = m_pController->GetFan(i);
        // The curve obeys the program's fail-safe as its own modes do.
        if (!controlled(i) || !m_pController->checkFollowedSensor(i, m_pFollowed) || dValue == 0.0)
            continue;
        const int rpm = m_Curves[i].update(m_pFollowed->GetValueInt(), pFan->GetRPMMin(),
                                           pFan->GetRPMMax(), quint32(m_Clock.secsSinceEpoch()));
        if (rpm >= 0)
            m_pController->SetFanRPM(i, rpm);
    }
}

void QRunner::noteHandBack(ClosedLoopFanSummary& fan, bool bFollowing, double dSecs)
{
    const bool bWasHeld = fan.dHandBackSecs >= 0 && fan.dTakenAgainSecs < 0;
    if (!bFollowing && !bWasHeld) {
        if (fan.dHandBackSecs < 0)
            fan.dHandBackSecs = dSecs;
        fan.dTakenAgainSecs = -1;
    } else if (bFollowing && bWasHeld) {
        fan.dTakenAgainSecs = dSecs;
    }
}

void QRunner::recordSecond(double dSecs)
{
    m_Sim.advance(); // the model's state at this second, not at the last call
    ClosedLoopPhaseStats& stats = m_Summary.phases[m_Phase];
    // A failed sensor's value is stale: the machine's own temperature tells what the fans did.
    const double dTemp = !m_pWatched ? 0.0
                         : m_pWatched->isFailed()
                             ? m_Sim.temperature(m_pWatched->GetKey().toLatin1())
                             : m_pWatched->GetValue();
    stats.dTempPeak = stats.nSecs == 0 ? dTemp : qMax(stats.dTempPeak, dTemp);
    stats.dTempSum += dTemp;
    ++stats.nSecs;
    double dRpmSum = 0;
    int nControlled = 0;
    bool bAllFull = true;
    for (int i = 0; i < m_Summary.fans.size(); ++i) {
        const double dActual = m_Sim.fanSpeed(i);
        ClosedLoopFanSummary& fan = m_Summary.fans[i];
        fan.dActualLow = qMin(fan.dActualLow, dActual);
        fan.dActualHigh = qMax(fan.dActualHigh, dActual);
        if (!fan.bControlled)
            continue;
        noteHandBack(fan, m_pController->GetFan(i)->heldBackFor().isEmpty(), dSecs);
        ++nControlled;
        dRpmSum += dActual;
        stats.dRpmPeak = qMax(stats.dRpmPeak, dActual);
        bAllFull = bAllFull && dActual >= 0.99 * m_pController->GetFan(i)->GetRPMMax();
    }
    stats.dRpmSum += nControlled ? dRpmSum / nControlled : 0.0;
    // The controller works in whole degrees: 55.4 is not above a maximum of 55.
    if (m_Summary.nMaxTemperature >= 0 && wholeDegrees(dTemp) > m_Summary.nMaxTemperature) {
        ++stats.nSecsAboveMax;
        stats.nSecsFullAboveMax += bAllFull ? 1 : 0;
    }
    if (!m_Csv.isOpen())
        return;
    static const char* const kPhaseNames[] = {"idle", "sustained", "bursts"};
    m_Out << dSecs << ',' << m_Sim.currentLoad() << ',' << kPhaseNames[m_Phase] << ',' << dTemp;
    for (int i = 0; i < m_Summary.fans.size(); ++i)
        m_Out << ',' << m_LastWritten[i] << ',' << qRound(m_Sim.fanSpeed(i));
    m_Out << ',' << m_Sim.readCount() << ',' << m_Sim.writeCount() << '\n';
}

ClosedLoopPhase QRunner::phaseAt(double dSecs) const
{
    double dCycle = 0;
    for (const QSimLoadPhase& phase : m_Schedule)
        dCycle += phase.dSecs;
    if (dCycle <= 0)
        return PhaseIdle;
    double dInCycle = std::fmod(dSecs, dCycle);
    for (int i = 0; i < m_Schedule.size(); ++i) {
        if (dInCycle < m_Schedule[i].dSecs)
            return m_SchedulePhases[i];
        dInCycle -= m_Schedule[i].dSecs;
    }
    return m_SchedulePhases.last();
}

} // namespace

bool ClosedLoopFault::parse(const QString& text, ClosedLoopFault& fault)
{
    const int nColon = text.indexOf(QLatin1Char(':'));
    const int nAt = text.lastIndexOf(QLatin1Char('@'));
    const QString kind = text.left(nColon);
    const QByteArray key = text.mid(nColon + 1, nAt - nColon - 1).toLatin1();
    bool bOk = false;
    const double dAt = text.mid(nAt + 1).toDouble(&bOk);
    const QStringList kinds = {"read", "hot", "zero"};
    if (nColon < 0 || nAt < nColon || key.size() != 4 || !kinds.contains(kind) || !bOk ||
        !(dAt >= 0))
        return false;
    fault.kind = static_cast<Kind>(kinds.indexOf(kind));
    fault.key = key;
    fault.dAtSecs = dAt;
    return true;
}

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

QVector<ClosedLoopPhase> schedulePhases(const QVector<QSimLoadPhase>& schedule)
{
    // Bursts are the entries much shorter than the longest loaded one.
    double dLongest = 0;
    for (const QSimLoadPhase& phase : schedule) {
        if (phase.dLoad >= 0.2)
            dLongest = qMax(dLongest, phase.dSecs);
    }
    QVector<ClosedLoopPhase> phases;
    for (const QSimLoadPhase& phase : schedule) {
        if (phase.dLoad < 0.2 && phase.dSecs > 0.25 * dLongest)
            phases.append(PhaseIdle);
        else
            phases.append(phase.dSecs >= 0.5 * dLongest ? PhaseSustained : PhaseBursts);
    }
    return phases;
}

int modeMaxTemperature(const QString& modeText)
{
    const ParsedMode parsed = parseMode(modeText);
    if (!parsed.bValid)
        return -1;
    if (parsed.bCurve)
        return parsed.curve.topTemperature();
    return parsed.mode.GetMode() == FanControlMode::ModeSensor ? parsed.mode.valueMax() : -1;
}

QString modeSensorKey(const QString& modeText)
{
    const ParsedMode parsed = parseMode(modeText);
    return parsed.bValid ? followedKey(parsed) : QString();
}

bool runClosedLoop(const ClosedLoopOptions& options, ClosedLoopSummary& summary, QString* pError)
{
    // The program runs with logging off unless the user turned it on.
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::OffLevel);
    bool bOk = false;
    {
        QRunner runner(options, summary);
        bOk = runner.run(pError);
    }
    QCoreServices::setSysInfo(nullptr);
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setClock(nullptr);
    return bOk;
}
