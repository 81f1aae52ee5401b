#include "core/FanInfo.h"

#include "core/FanControl.h"
#include "core/SensorControl.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"

#include <QImage>
#include <QPixmap>
#include <QStringList>

// ---------------------------------------------------------------------------- FanControlMode

FanControlMode FanControlMode::automatic()
{
    FanControlMode mode;
    mode.m_Mode = ModeAutomatic;
    return mode;
}

FanControlMode FanControlMode::constant(int rpm)
{
    FanControlMode mode;
    mode.m_Mode = ModeConstant;
    mode.m_nConstantRpm = rpm;
    return mode;
}

FanControlMode FanControlMode::sensor(const QString& key, int start, int max)
{
    FanControlMode mode;
    mode.m_Mode = ModeSensor;
    mode.m_SensorKey = key;
    mode.m_nValueStart = start;
    mode.m_nValueMax = max;
    return mode;
}

QString FanControlMode::toString() const
{
    switch (m_Mode) {
    case ModeSensor:
        // One call: a "%1" inside the key must not be taken for a later placeholder.
        return QStringLiteral("2,%1,%2,%3")
            .arg(m_SensorKey, QString::number(m_nValueStart), QString::number(m_nValueMax));
    case ModeConstant:
        return QStringLiteral("1,%1").arg(m_nConstantRpm);
    case ModeAutomatic:
        return QStringLiteral("0");
    default:
        return QString();
    }
}

FanControlMode FanControlMode::fromString(const QString& text)
{
    FanControlMode mode;
    if (text.size() == 1) {
        mode.m_Mode = ModeAutomatic;
        return mode;
    }
    if (text.isEmpty()) {
        return mode;
    }
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (text.at(0) == QLatin1Char('2')) {
        if (parts.size() == 4) {
            mode.m_Mode = ModeSensor;
            mode.m_SensorKey = parts.at(1);
            mode.m_nValueStart = parts.at(2).toInt(); // not a number: 0
            mode.m_nValueMax = parts.at(3).toInt();
        }
    } else if (text.at(0) == QLatin1Char('1')) {
        // Without a second field there is no speed to hold: leave the mode undefined.
        if (parts.size() >= 2) {
            mode.m_Mode = ModeConstant;
            mode.m_nConstantRpm = parts.at(1).toInt();
        }
    }
    return mode;
}

// ---------------------------------------------------------------------------- FanInfo

FanInfo::FanInfo(QFanControl* pOwner, const QString& name)
    : m_Type(FanTypeGeneric), m_pFanControl(pOwner), m_Name(name)
{
    m_Type = GetTypeByName();
    m_pSensorControl = std::make_unique<SensorBasedControl>(this);
}

FanInfo::~FanInfo() = default;

FanType FanInfo::GetTypeByName() const
{
    if (m_Name == QLatin1String("ODD")) {
        return FanTypeOpticalDrive;
    }
    if (m_Name == QLatin1String("HDD")) {
        return FanTypeHardDrive;
    }
    if (m_Name == QLatin1String("CPU")) {
        return FanTypeProcessor;
    }
    return FanTypeGeneric;
}

void FanInfo::SetManual(bool bManual, bool bWriteNow)
{
    m_bManual.store(bManual);
    if (bWriteNow && m_pFanControl) {
        m_pFanControl->smc_set_fans_control_mode();
    }
}

void FanInfo::SetControlMode(const FanControlMode& mode)
{
    // The sensor is looked up before the mode is published, so that a worker copying the mode
    // never sees a sensor-based mode whose sensor is still to be resolved.
    FanControlMode newMode = mode;
    if (newMode.GetMode() == FanControlMode::ModeSensor) {
        newMode.setSensor(m_pFanControl ? m_pFanControl->sensorByKey(newMode.sensorKey())
                                        : nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_ControlMode = newMode;
        m_HeldBackFor.clear();
    }
    m_ControlModeJustChanged.storeRelease(1);
    SetManual(newMode.GetMode() != FanControlMode::ModeAutomatic, true);
}

FanControlMode FanInfo::GetControlMode() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_ControlMode;
}

QString FanInfo::heldBackFor() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_HeldBackFor;
}

void FanInfo::setHeldBackFor(const QString& sensorName)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_HeldBackFor = sensorName;
}

int FanInfo::updateSensorControl(int temperature)
{
    return m_pSensorControl->update(temperature);
}

void FanInfo::resetSensorControl()
{
    m_pSensorControl->reset();
}

void FanInfo::updateRpmValues(int rpm, int rpmMin, int rpmMax)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_nRpm = rpm;
    if (rpmMin != 0) {
        m_nRpmMin = rpmMin;
    }
    if (rpmMax != 0) {
        m_nRpmMax = rpmMax;
    }
}

int FanInfo::GetRPM() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nRpm;
}

int FanInfo::GetRPMMin() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nRpmMin;
}

int FanInfo::GetRPMMax() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nRpmMax;
}

QClock* FanInfo::clock() const
{
    return m_pFanControl ? m_pFanControl->clock() : QCoreServices::clock();
}

QString FanInfo::GetFanIconPathByType(FanType type, bool bForSensor, bool bLarge)
{
    static const char* const kTypePaths[] = {
        ":/Resources/disc.png",      ":/Resources/drive.png",   ":/Resources/drive_ssd.png",
        ":/Resources/processor.png", ":/Resources/airport.png",
    };
    QString path = bForSensor ? QString() : QStringLiteral(":/Resources/fan.png");
    if (type >= FanTypeOpticalDrive && type <= FanTypeAirport) {
        path = QLatin1String(kTypePaths[type]);
    }
    if (!path.isEmpty() && bLarge) {
        path.replace(QLatin1String(".png"), QLatin1String("_big.png"));
    }
    return path;
}

QIcon FanInfo::GetFanIconByType(FanType type, bool bForSensor, bool bLarge)
{
    const QString path = GetFanIconPathByType(type, bForSensor, bLarge);
    if (!path.isEmpty()) {
        ImageResourceUtils::registerImages();
        return QIcon(path);
    }
    QImage blank(16, 16, QImage::Format_ARGB32);
    blank.fill(Qt::transparent);
    return QIcon(QPixmap::fromImage(blank));
}
