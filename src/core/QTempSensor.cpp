#include "core/QTempSensor.h"

#include "core/FanControl.h"
#include "core/QMySysInfo.h"
#include "core/SysInfoHelpers.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"

#include <mutex>

#include <climits>
#include <cmath>

namespace {

// When a sensor-table row applies.
enum class Applies
{
    Always,
    MacPro,
    NotMacPro,
    ModelNotIMac11_3Or13_1,
    ModelIMac11_3Or13_1,
    ModelNotIMac13_1Or13_2,
    ModelIMac13_1Or13_2,
    NotMacProModelNotIMac13_1,
    NotMacProModelIMac13_1,
    MacProModelNotMacPro4_1,
    MacProModelMacPro4_1,
    NotMacProModelMacMini3_1,
    T2,           // Intel machines with the T2 chip
    AppleSilicon, // every Apple-silicon generation
    M1OrM2,
    M3OrLater,
};

// A row's name is English text; rows of the newer machines also carry the id of their name in
// the language files ("SensorNames/<id>") and, for numbered names ("GPU %1"), the number.
struct SensorRow
{
    const char* key;
    const char* name;
    Applies applies;
    const char* id = nullptr;
    int nNumber = 0;
};

using namespace SysInfoHelpers;

bool rowApplies(Applies applies, const QTempSensor::MachineFacts& machine)
{
    const int nCode = machine.nModelCode;
    const bool bIMac11_3Or13_1 = nCode == ModelIMac11_3 || nCode == ModelIMac13_1;
    const bool bIMac13_1Or13_2 = nCode == ModelIMac13_1 || nCode == ModelIMac13_2;
    switch (applies) {
    case Applies::Always:
        return true;
    case Applies::MacPro:
        return machine.bMacPro;
    case Applies::NotMacPro:
        return !machine.bMacPro;
    case Applies::ModelNotIMac11_3Or13_1:
        return !bIMac11_3Or13_1;
    case Applies::ModelIMac11_3Or13_1:
        return bIMac11_3Or13_1;
    case Applies::ModelNotIMac13_1Or13_2:
        return !bIMac13_1Or13_2;
    case Applies::ModelIMac13_1Or13_2:
        return bIMac13_1Or13_2;
    case Applies::NotMacProModelNotIMac13_1:
        return !machine.bMacPro && nCode != ModelIMac13_1;
    case Applies::NotMacProModelIMac13_1:
        return !machine.bMacPro && nCode == ModelIMac13_1;
    case Applies::MacProModelNotMacPro4_1:
        return machine.bMacPro && nCode != ModelMacPro4_1;
    case Applies::MacProModelMacPro4_1:
        return machine.bMacPro && nCode == ModelMacPro4_1;
    case Applies::NotMacProModelMacMini3_1:
        return !machine.bMacPro && nCode == ModelMacMini3_1;
    case Applies::T2:
        return machine.nGeneration == GenerationT2;
    case Applies::AppleSilicon:
        return isAppleSilicon(machine.nGeneration);
    case Applies::M1OrM2:
        return machine.nGeneration == GenerationM1 || machine.nGeneration == GenerationM2;
    case Applies::M3OrLater:
        return machine.nGeneration >= GenerationM3;
    }
    return false;
}

// The SMC temperature keys shown to the user, in lookup order: the first applicable row with
// an equal key names the sensor. Some machines move a sensor to a key that differs only in
// case, or number their drive bays from 1. The rows of the newer machines come first: they
// give some keys of the older table (TB0T, TW0P) the meaning those keys have there.
const SensorRow kSensorTable[] = {
    // Apple silicon, every generation: the Linux kernel's SMC device trees
    // (arch/arm64/boot/dts/apple/hwmon-common.dtsi, hwmon-laptop.dtsi) and the Asahi Linux
    // wiki page HW:SMC; TCMb/TCMz the CPU die's average and maximum.
    {"TCMb", "CPU Die Average", Applies::AppleSilicon, "cpuDieAverage"},
    {"TCMz", "CPU Die Maximum", Applies::AppleSilicon, "cpuDieMaximum"},
    {"TB0T", "Battery Hotspot", Applies::AppleSilicon, "batteryHotspot"},
    {"TCHP", "Charge Regulator", Applies::AppleSilicon, "chargeRegulator"},
    {"TW0P", "Wi-Fi/Bluetooth Module", Applies::AppleSilicon, "wirelessModule"},
    {"TH0x", "SSD (NAND Flash)", Applies::AppleSilicon, "ssdNand"},
    {"TaLP", "Airflow Left", Applies::AppleSilicon, "airflowLeft"},
    {"TaRF", "Airflow Right", Applies::AppleSilicon, "airflowRight"},
    // M1 and M2: per-cluster CPU sensors Tp.., GPU Tg.., memory.
    {"Tp01", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 1},
    {"Tp05", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 2},
    {"Tp0D", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 3},
    {"Tp0H", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 4},
    {"Tp0L", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 5},
    {"Tp0P", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 6},
    {"Tp0X", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 7},
    {"Tp0b", "CPU Performance Cores %1", Applies::M1OrM2, "cpuPerformanceCores", 8},
    {"Tp09", "CPU Efficiency Cores %1", Applies::M1OrM2, "cpuEfficiencyCores", 1},
    {"Tp0T", "CPU Efficiency Cores %1", Applies::M1OrM2, "cpuEfficiencyCores", 2},
    {"Tg05", "GPU %1", Applies::M1OrM2, "gpu", 1},
    {"Tg0D", "GPU %1", Applies::M1OrM2, "gpu", 2},
    {"Tg0L", "GPU %1", Applies::M1OrM2, "gpu", 3},
    {"Tg0T", "GPU %1", Applies::M1OrM2, "gpu", 4},
    {"Tm02", "Memory %1", Applies::M1OrM2, "memory", 1},
    // M3 and later: efficiency cores Te.., performance cores and GPU Tf...
    {"Te05", "CPU Efficiency Cores %1", Applies::M3OrLater, "cpuEfficiencyCores", 1},
    {"Te0S", "CPU Efficiency Cores %1", Applies::M3OrLater, "cpuEfficiencyCores", 2},
    {"Tf04", "CPU Performance Cores %1", Applies::M3OrLater, "cpuPerformanceCores", 1},
    {"Tf09", "CPU Performance Cores %1", Applies::M3OrLater, "cpuPerformanceCores", 2},
    {"Tf0A", "CPU Performance Cores %1", Applies::M3OrLater, "cpuPerformanceCores", 3},
    {"Tf14", "GPU %1", Applies::M3OrLater, "gpu", 1},
    {"Tf18", "GPU %1", Applies::M3OrLater, "gpu", 2},
    {"Tm0p", "Memory %1", Applies::M3OrLater, "memory", 1},
    // Intel with the T2 chip (MacBook Pro, MacBook Air, iMac, Mac mini): the Intel key names of
    // the public SMC key lists, with the keys these machines added.
    {"TCXC", "CPU PECI", Applies::T2, "cpuPeci"},
    {"TA0V", "Ambient", Applies::T2, "ambient"},
    {"TB0T", "Battery", Applies::T2, "battery"},
    {"TG0P", "GPU Proximity", Applies::T2, "gpuProximity"},
    {"TM0P", "Memory Proximity", Applies::T2, "memoryProximity"},
    {"TPCD", "Platform Controller Hub", Applies::T2, "platformControllerHub"},
    {"TH0a", "SSD %1", Applies::T2, "ssd", 1},
    {"TH0b", "SSD %1", Applies::T2, "ssd", 2},
    {"Ts1P", "Right Palm Rest", Applies::T2, "rightPalmRest"},
    {"TaLC", "Airflow Left", Applies::T2, "airflowLeft"},
    {"TaRC", "Airflow Right", Applies::T2, "airflowRight"},
    // Intel before the T2 chip, and what the newer machines share with it.
    {"TA0P", "Ambient", Applies::ModelNotIMac11_3Or13_1},
    {"TA0p", "Ambient", Applies::ModelIMac11_3Or13_1},
    {"TA1P", "Ambient 2", Applies::Always},
    {"TB0T", "Bottom Enclosure", Applies::Always},
    {"TB1T", "Battery Point 1", Applies::Always},
    {"TB2T", "Battery Point 2", Applies::Always},
    {"TC0H", "CPU Heatsink", Applies::Always},
    {"TC0C", "CPU A Core 0", Applies::MacPro},
    {"TC1C", "CPU A Core 1", Applies::MacPro},
    {"TC2C", "CPU B Core 0", Applies::MacPro},
    {"TC3C", "CPU B Core 1", Applies::MacPro},
    {"TC0C", "CPU Core 0", Applies::NotMacProModelNotIMac13_1},
    {"TC1C", "CPU Core 1", Applies::NotMacProModelNotIMac13_1},
    {"TC0c", "CPU Core 0", Applies::NotMacProModelIMac13_1},
    {"TC1c", "CPU Core 1", Applies::NotMacProModelIMac13_1},
    {"TC0D", "CPU Diode", Applies::Always},
    {"TC0P", "CPU Proximity", Applies::Always},
    {"TCAC", "CPU A core from PCECI", Applies::Always},
    {"TCBC", "CPU B core from PCECI", Applies::Always},
    {"TCAH", "CPU A HeatSink", Applies::Always},
    {"TCBH", "CPU B HeatSink", Applies::Always},
    {"Te1P", "PCIE Ambient", Applies::Always},
    {"Te1S", "PCIE slot 1", Applies::Always},
    {"Te2S", "PCIE slot 2", Applies::Always},
    {"Te3S", "PCIE slot 3", Applies::Always},
    {"Te4S", "PCIE slot 4", Applies::Always},
    {"TG0D", "GPU Diode", Applies::Always},
    {"TG0H", "GPU Heatsink", Applies::Always},
    {"TH0P", "Drive Bay 0", Applies::MacProModelNotMacPro4_1},
    {"TH1P", "Drive Bay 1", Applies::MacProModelNotMacPro4_1},
    {"TH2P", "Drive Bay 2", Applies::MacProModelNotMacPro4_1},
    {"TH3P", "Drive Bay 3", Applies::MacProModelNotMacPro4_1},
    {"TH1P", "Drive Bay 0", Applies::MacProModelMacPro4_1},
    {"TH2P", "Drive Bay 1", Applies::MacProModelMacPro4_1},
    {"TH3P", "Drive Bay 2", Applies::MacProModelMacPro4_1},
    {"TH4P", "Drive Bay 3", Applies::MacProModelMacPro4_1},
    {"TH0P", "HDD case", Applies::NotMacProModelMacMini3_1},
    {"TO0P", "Optical Drive", Applies::Always},
    {"TL0P", "LCD proximity", Applies::ModelNotIMac13_1Or13_2},
    {"TL0p", "LCD proximity", Applies::ModelIMac13_1Or13_2},
    {"TM0S", "DIMM Module 1", Applies::Always},
    {"TM1S", "DIMM Module 2", Applies::Always},
    {"Tm0P", "Mem Controller", Applies::Always},
    {"TN0H", "IOH HeatSink", Applies::MacPro},
    {"TN0H", "Northbridge", Applies::NotMacPro},
    {"TN0P", "Northbridge Point 1", Applies::Always},
    {"TN0D", "Northbridge Chip", Applies::Always},
    {"Tp1P", "Power Supply Primary", Applies::Always},
    {"Tp2P", "Power Supply Secondary", Applies::Always},
    {"Tp0C", "PSU1 Inlet Ambient", Applies::Always},
    {"Tp1C", "PSU1 Secondary Component", Applies::Always},
    {"Ts0P", "Left Palm Rest", Applies::Always},
    {"TW0P", "Airport Card", Applies::Always},
};

// The row's name in the user's language when the language files have it, else the English
// text of the table (the older rows have no id and always show their English text).
QString rowName(const SensorRow& row)
{
    QString name = QLatin1String(row.name);
    if (row.id) {
        const QString key = QStringLiteral("SensorNames/") + QLatin1String(row.id);
        const QString localized = LocalizationHelpers::text(key);
        if (localized != key)
            name = localized;
    }
    return row.nNumber > 0 ? name.arg(row.nNumber) : name;
}

const int kProposedFloor = 20;
const int kProposedCeiling = 100;
const int kProposedMargin = 5;

} // namespace

QTempSensor::QTempSensor() = default;

QTempSensor::~QTempSensor() = default;

void QTempSensor::setKey(const QString& key)
{
    m_Key = key;
    m_DisplayName = key;
    IsSensorSupported(key, m_DisplayName);
}

FanType QTempSensor::GetFanType()
{
    if (m_Key.startsWith(QLatin1String("TC")))
        return FanTypeProcessor;
    if (m_Key == QLatin1String("TW0P"))
        return FanTypeAirport;
    if (m_Key == QLatin1String("TO0P"))
        return FanTypeOpticalDrive;
    return FanTypeGeneric; // a sensor without an icon
}

bool QTempSensor::isHDD()
{
    return false;
}

int QTempSensor::GetProposedMin()
{
    return qMax(GetValueInt() - kProposedMargin, kProposedFloor);
}

int QTempSensor::GetProposedMax()
{
    return qMin(GetValueInt() + kProposedMargin, kProposedCeiling);
}

void QTempSensor::UpdateValue(QFanControl* pController)
{
    if (!pController)
        return;
    const double value = readSmcSensorTemperature(pController, m_Key.toLocal8Bit());
    // -1.0 is the controller's "unreadable or out of range"; a sensor that stopped answering
    // reads 0.0. Either way the previous value stays.
    const bool bValid = value != -1.0 && value != 0.0;
    if (bValid)
        SetValue(value);
    noteReading(bValid, pController->clock()->msecsSinceEpoch());
}

bool QTempSensor::isFailed() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Health.isFailed();
}

qint64 QTempSensor::failedSinceMsecs() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Health.failedSinceMsecs();
}

bool QTempSensor::noteReading(bool bValid, qint64 nNowMsecs)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Health.noteReading(bValid, nNowMsecs);
}

void QTempSensor::SetDisplayName(const QString& name)
{
    m_DisplayName = name;
}

double QTempSensor::GetValue() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Value;
}

int QTempSensor::GetValueInt() const
{
    const double rounded = std::floor(GetValue() + 0.5);
    // A drive that reports nonsense must not turn into undefined behaviour here.
    if (std::isnan(rounded))
        return 0;
    return static_cast<int>(
        qBound(static_cast<double>(INT_MIN), rounded, static_cast<double>(INT_MAX)));
}

void QTempSensor::SetValue(double value)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Value = value;
}

bool QTempSensor::IsSensorSupported(const QString& key, QString& name)
{
    return IsSensorSupported(machineFacts(), key, name);
}

bool QTempSensor::IsSensorSupported(const MachineFacts& machine, const QString& key, QString& name)
{
    for (const SensorRow& row : kSensorTable) {
        if (key == QLatin1String(row.key) && rowApplies(row.applies, machine)) {
            name = rowName(row);
            return true;
        }
    }
    return false;
}

int QTempSensor::tableRow(const QString& key)
{
    int nRow = 0;
    for (const SensorRow& row : kSensorTable) {
        if (key == QLatin1String(row.key))
            return nRow;
        ++nRow;
    }
    return -1;
}

QTempSensor::MachineFacts QTempSensor::machineFacts()
{
    // A function-local static is initialised exactly once, even by concurrent first calls.
    static const MachineFacts facts = [] {
        MachineFacts result;
        if (const QMySysInfo* pSysInfo = QCoreServices::sysInfo()) {
            result.bMacPro = pSysInfo->isMacPro();
            result.nModelCode = pSysInfo->macModel();
            result.nGeneration = pSysInfo->macGeneration();
        }
        return result;
    }();
    return facts;
}
