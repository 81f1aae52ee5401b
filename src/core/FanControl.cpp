#include "core/FanControl.h"
#include "settings/PreferenceUtils.h"

#include "QsLog/QsLog.h"
#include "core/CacheCheckHelpers.h"
#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"
#include "core/QTempSensorSmart.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/SmcValueUtils.h"
#include "smc/base/SmcCodecUtils.h"
#include "smc/smc.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
// Per-fan keys carry the fan index as one digit ("F%uAc"), so no more fans can be addressed.
const int kMaxAddressableFans = 10;
// The manual bit is asserted again before a speed write this many seconds after the last one.
const quint32 kManualReassertSecs = 3;
const char* const kFanModeMaskKey = "FS! ";
// Per-fan mode keys: 0 automatic, 1 manual, 3 the system holds the fan. "Ftst" unlocks them.
const char* const kFanModeKeyFormat = "F%uMd";
const char* const kUnlockKey = "Ftst";
const int kModeManual = 1;
const int kModeSystemHolds = 3;
// While the system holds a fan after the unlock, taking it is tried this often, this long.
const int kHoldRetryMsecs = 100;
const qint64 kHoldGiveUpMsecs = 10000;
// The system takes unlocked fans back after 60 s without a write; a write this often keeps them.
const qint64 kKeepUnlockedMsecs = 30000;
// The layouts older controllers use, for keys whose type the key index does not tell.
const QSmcKeyTypes::Type kFanSpeedType{"fpe2", 2};
const QSmcKeyTypes::Type kTemperatureType{"sp78", 2};
const QSmcKeyTypes::Type kModeType{"ui8 ", 1};
// Temperatures in other types than "sp78" outside this range are not readings.
const double kLowestTemperature = -40.0;
const double kHighestTemperature = 150.0;

// A per-fan key such as "F1Ac" from its format and the fan index.
QByteArray fanKey(const char* format, int index)
{
    return QByteArray(format)
        .replace("%u", QByteArray::number(index))
        .replace("%i", QByteArray::number(index));
}

// The name of a fan the controller does not name ("Fan 1"), in the user's language.
QString defaultFanName(int index)
{
    return LocalizationHelpers::format(QStringLiteral("MainWindow/fanNameDefault"),
                                       QStringLiteral("Fan %1"), 1)
        .arg(index);
}

QString settingKeyForFan(int index)
{
    return QStringLiteral("Fan_%1").arg(index);
}

QString shortestNumber(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// Whether the settings' discovery cache may be used on this start; logs why not (Info, once).
// nControllerFans: "FNum" as read at this start.
bool useCachedLists(int nControllerFans)
{
    const QString fans = PreferenceUtils::getString(QStringLiteral("Fans"));
    if (fans.isEmpty()) {
        return false;
    }
    QMySysInfo* pSysInfo = QCoreServices::sysInfo();
    if (pSysInfo) {
        pSysInfo->machineName(); // the start-up's lookup, unless a caller skipped it
    }
    const QString replacedModel = pSysInfo ? pSysInfo->replacedMachine() : QString();
    const QString problem = CacheCheckHelpers::cacheProblem(
        fans, PreferenceUtils::getString(QStringLiteral("TempSensors")), nControllerFans,
        replacedModel);
    if (!problem.isEmpty()) {
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("QFanControl::Init - cached fans and sensors do not fit this "
                           "machine (%1), discovering afresh")
                .arg(problem));
        return false;
    }
    if (nControllerFans < 0) {
        QLOG_WARN() << qUtf8Printable(
            QStringLiteral("LoadCachedFansAndTempSensors - FNum cannot be read, keeping the "
                           "%1 cached fans")
                .arg(fans.split(QLatin1Char(',')).size()));
    }
    return true;
}

} // namespace

double readSmcSensorTemperature(QFanControl* pController, const QByteArray& key)
{
    return pController ? pController->smc_get_temp(key.constData()) : -1.0;
}

QFanControl::QFanControl(QSmcControl* pSmc, QClock* pClock)
    : m_pSmc(pSmc ? pSmc : QSmcControl::instance()), m_pClock(pClock), m_KeyTypes(m_pSmc),
      m_Sleep([](int nMsecs) { std::this_thread::sleep_for(std::chrono::milliseconds(nMsecs)); })
{
    for (std::atomic<int>& nTarget : m_nLastTargetRpm) {
        nTarget.store(-1); // none written yet
    }
}

void QFanControl::setSleep(std::function<void(int)> sleep)
{
    m_Sleep = std::move(sleep);
}

QFanControl::~QFanControl()
{
    saveFansControlMode();
    qDeleteAll(m_Fans);
    qDeleteAll(m_AllSensors);
    qDeleteAll(m_SmartSensors);
}

QClock* QFanControl::clock() const
{
    return m_pClock ? m_pClock : QCoreServices::clock();
}

// ---------------------------------------------------------------------------- start-up

void QFanControl::Init()
{
    QLOG_INFO() << qUtf8Printable(QStringLiteral("QFanControl::Init"));
    const int nFanCount = readFanCount(); // the one read of "FNum" at start
    if (!useCachedLists(nFanCount)) {
        QLOG_INFO() << qUtf8Printable(QStringLiteral("QFanControl::Init - first start"));
        LoadFansAndTempSensors(nFanCount);
        QLOG_INFO() << qUtf8Printable(QStringLiteral("QFanControl::Init - SaveFansAndTempSensors"));
        SaveFansAndTempSensors();
    } else {
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("QFanControl::Init - LoadCachedFansAndTempSensors"));
        LoadCachedFansAndTempSensors();
    }
    QLOG_INFO() << qUtf8Printable(QStringLiteral("QFanControl::Init - FilterSupportedTempSensors"));
    FilterSupportedTempSensors();
    detectFanFamily();
    QLOG_INFO() << qUtf8Printable(QStringLiteral("QFanControl::Init - smc_get_fans_control_mode"));
    smc_get_fans_control_mode();
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("QFanControl::Init - QTempSensorSmart::LoadAvailableSensors"));
    const QVector<QTempSensorSmart*> drives = QTempSensorSmart::LoadAvailableSensors();
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("QFanControl::Init: number of supported SMC sensors: %1")
            .arg(m_Sensors.size()));
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("QFanControl::Init: number of supported SMART sensors: %1")
            .arg(drives.size()));
    for (QTempSensorSmart* pDrive : drives) {
        if (pDrive) {
            m_Sensors.append(pDrive);
            m_SmartSensors.append(pDrive);
        }
    }
    for (int i = 0; i < m_Fans.size(); ++i) {
        if (!m_LastManualTime.contains(i)) {
            m_LastManualTime.insert(i, 0);
        }
    }
    LoadFansControlMode();
}

int QFanControl::readFanCount()
{
    unsigned char value[1] = {0};
    if (readKey("FNum", value, 1) != 0) {
        return -1;
    }
    const int nCount = SmcValueUtils::decodeUnsignedByte(value);
    if (nCount > kMaxAddressableFans) {
        QLOG_WARN() << qUtf8Printable(
            QStringLiteral("QFanControl: FNum reports %1 fans, only %2 can be addressed")
                .arg(nCount)
                .arg(kMaxAddressableFans));
        return kMaxAddressableFans;
    }
    return nCount;
}

void QFanControl::LoadFansAndTempSensors(int nCount)
{
    // nCount < 0 (unreadable): no fans
    for (int i = 0; i < nCount; ++i) {
        QString name = smc_get_fan_name(i);
        if (name.isEmpty()) {
            name = defaultFanName(i);
        }
        m_Fans.append(new FanInfo(this, name));
    }
    LoadTempSensors();
}

void QFanControl::LoadTempSensors()
{
    QVector<QString> keys;
    m_pSmc->LoadTempSensors(keys);
    for (const QString& key : qAsConst(keys)) {
        addSensor(key);
    }
}

void QFanControl::addSensor(const QString& key)
{
    QTempSensor* pSensor = new QTempSensor();
    pSensor->setKey(key);
    m_AllSensors.append(pSensor);
}

QString QFanControl::smc_get_fan_name(int index)
{
    unsigned char value[17] = {0};
    if (readKey(fanKey("F%iID", index), value, 16) != 0) {
        return QString();
    }
    return SmcValueUtils::decodeFanIdentification(value).trimmed();
}

void QFanControl::SaveFansAndTempSensors()
{
    QStringList names;
    for (const FanInfo* pFan : qAsConst(m_Fans)) {
        names.append(pFan->GetName());
    }
    QStringList keys;
    for (const QTempSensor* pSensor : qAsConst(m_AllSensors)) {
        keys.append(pSensor->GetKey());
    }
    PreferenceUtils::setString(QStringLiteral("Fans"), names.join(QLatin1Char(',')));
    PreferenceUtils::setString(QStringLiteral("TempSensors"), keys.join(QLatin1Char(',')));
}

void QFanControl::LoadCachedFansAndTempSensors()
{
    // Checked by useCachedLists: as many fans as the controller has, every key an SMC key.
    const QStringList names =
        PreferenceUtils::getString(QStringLiteral("Fans")).split(QLatin1Char(','));
    const QStringList keys =
        PreferenceUtils::getString(QStringLiteral("TempSensors")).split(QLatin1Char(','));
    for (int i = 0; i < names.size(); ++i) {
        const QString& name = names.at(i);
        m_Fans.append(new FanInfo(this, name.trimmed().isEmpty() ? defaultFanName(i) : name));
    }
    QSet<QString> seen; // a hand-edited list may repeat a key; the first one counts
    for (const QString& key : keys) {
        if (!seen.contains(key)) {
            seen.insert(key);
            addSensor(key);
        }
    }
    // Plain UTF-16 code-unit order: upper-case names come before lower-case ones.
    std::sort(m_AllSensors.begin(), m_AllSensors.end(),
              [](const QTempSensor* a, const QTempSensor* b) {
                  return QString::compare(a->GetDisplayName(), b->GetDisplayName(),
                                          Qt::CaseSensitive) < 0;
              });
}

void QFanControl::FilterSupportedTempSensors()
{
    for (QTempSensor* pSensor : qAsConst(m_AllSensors)) {
        QString name;
        if (!QTempSensor::IsSensorSupported(pSensor->GetKey(), name)) {
            continue;
        }
        const double t = smc_get_temp(pSensor->GetKey().toUtf8().constData());
        if (t == -1.0 || t == 0.0) {
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("FilterSupportedTempSensors - skipping sensor %1 with value of %2")
                    .arg(pSensor->GetKey(), shortestNumber(t)));
            continue;
        }
        m_Sensors.append(pSensor);
    }
}

void QFanControl::detectFanFamily()
{
    // Every fan key's type is looked up here once, not in the first update pass.
    for (int i = 0; i < m_Fans.size(); ++i) {
        for (const char* format : {"F%uAc", "F%uMn", "F%uMx", "F%uTg"}) {
            m_KeyTypes.typeOf(fanKey(format, i), kFanSpeedType);
        }
    }
    // The per-fan mode keys win over a mask that may be there as well: on such machines the
    // mask does not hand the fans back.
    if (!m_Fans.isEmpty() && m_KeyTypes.has(fanKey(kFanModeKeyFormat, 0))) {
        m_Family = m_KeyTypes.has(kUnlockKey) ? FamilyUnlock : FamilyPerFanMode;
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("QFanControl::Init - fans are taken through their mode keys%1")
                .arg(m_Family == FamilyUnlock ? QStringLiteral(" after the unlock") : QString()));
    }
}

void QFanControl::smc_get_fans_control_mode()
{
    if (m_Family != FamilyMask) {
        for (int i = 0; i < m_Fans.size(); ++i) {
            double dMode = 0;
            const bool bManual = readNumber(fanKey(kFanModeKeyFormat, i), kModeType, dMode) &&
                                 int(dMode) == kModeManual;
            m_Fans.at(i)->SetManual(bManual, false);
            QLOG_INFO() << "Fan " << i << (bManual ? ": manual" : ": auto");
        }
        return;
    }
    unsigned char value[2] = {0, 0};
    if (readKey(kFanModeMaskKey, value, 2) != 0) {
        // Nothing known about the controller's flags: assume it regulates every fan itself,
        // which is also what a zeroed mask says. Stored modes take fans over again below.
        QLOG_WARN() << qUtf8Printable(
            QStringLiteral("smc_get_fans_control_mode - cannot read the fan mode mask, "
                           "taking every fan as automatic"));
        value[0] = value[1] = 0;
    }
    for (int i = 0; i < m_Fans.size(); ++i) {
        const bool bManual = SmcValueUtils::isFanManual(value, i);
        m_Fans.at(i)->SetManual(bManual, false);
        QLOG_INFO() << "Fan " << i << (bManual ? ": manual" : ": auto");
    }
}

void QFanControl::LoadFansControlMode()
{
    for (int i = 0; i < m_Fans.size(); ++i) {
        FanInfo* pFan = m_Fans.at(i);
        const QString text = PreferenceUtils::getString(settingKeyForFan(i));
        if (text.isEmpty()) {
            // A manual fan without a stored mode keeps its manual bit and its undefined mode.
            if (!pFan->IsManual()) {
                pFan->SetControlMode(FanControlMode::automatic());
            }
            continue;
        }
        const FanControlMode mode = FanControlMode::fromString(text);
        switch (mode.GetMode()) {
        case FanControlMode::ModeSensor:
            if (!sensorByKey(mode.sensorKey())) {
                // Nothing would update a manual fan's target: hand it back to the controller.
                // The mode stays undefined, so the stored text survives for a later start.
                QLOG_WARN() << qUtf8Printable(
                    QStringLiteral("LoadFansControlMode - fan %1: sensor %2 of the stored "
                                   "mode is not available, fan left to the system")
                        .arg(i)
                        .arg(mode.sensorKey()));
                if (pFan->IsManual()) {
                    pFan->SetManual(false, true);
                }
                break;
            }
            pFan->SetControlMode(mode);
            break;
        case FanControlMode::ModeConstant:
            if (mode.GetConstantRPM() < 1 || mode.GetConstantRPM() > SmcValueUtils::kMaxFanSpeed) {
                QLOG_WARN() << qUtf8Printable(
                    QStringLiteral("LoadFansControlMode - fan %1: stored speed in '%2' is "
                                   "not usable, using automatic")
                        .arg(i)
                        .arg(text));
                pFan->SetControlMode(FanControlMode::automatic());
                break;
            }
            pFan->SetControlMode(mode);
            break;
        case FanControlMode::ModeAutomatic:
            pFan->SetControlMode(mode);
            break;
        default:
            // Undefined would mark the fan manual with no target ever written; give it back to
            // the controller instead.
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("LoadFansControlMode - fan %1: unreadable stored mode '%2', "
                               "using automatic")
                    .arg(i)
                    .arg(text));
            pFan->SetControlMode(FanControlMode::automatic());
            break;
        }
    }
}

// ---------------------------------------------------------------------------- lookups

FanInfo* QFanControl::GetFan(int index) const
{
    return (index >= 0 && index < m_Fans.size()) ? m_Fans.at(index) : nullptr;
}

int QFanControl::fanIndex(const FanInfo* pFan) const
{
    for (int i = 0; i < m_Fans.size(); ++i) {
        if (m_Fans.at(i) == pFan) {
            return i;
        }
    }
    return -1;
}

QTempSensor* QFanControl::sensorByKey(const QString& key) const
{
    for (QTempSensor* pSensor : m_Sensors) {
        if (pSensor->GetKey() == key) {
            return pSensor;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------- running

void QFanControl::UpdateFanInfo(int index, bool bCurrentOnly)
{
    FanInfo* pFan = GetFan(index);
    if (!pFan) {
        return;
    }
    // A failed read counts as 0 RPM; a zero minimum or maximum keeps the last one.
    const int nCurrent = readRpm(fanKey("F%uAc", index));
    const int nMinimum = bCurrentOnly ? 0 : readRpm(fanKey("F%uMn", index));
    const int nMaximum = bCurrentOnly ? 0 : readRpm(fanKey("F%uMx", index));
    pFan->updateRpmValues(nCurrent, nMinimum, nMaximum);
}

int QFanControl::readRpm(const QByteArray& key)
{
    double dRpm = 0;
    if (!readNumber(key, kFanSpeedType, dRpm)) {
        return 0;
    }
    return static_cast<int>(qBound(0.0, dRpm, double(SmcValueUtils::kMaxFanSpeed))); // whole RPM
}

void QFanControl::UpdateTempSensor(QTempSensor* pSensor)
{
    if (pSensor) {
        pSensor->UpdateValue(this);
    }
}

double QFanControl::smc_get_temp(const char* key)
{
    if (!key) {
        return -1.0;
    }
    const QSmcKeyTypes::Type type = m_KeyTypes.typeOf(QByteArray(key), kTemperatureType);
    const bool bSp78Rule =
        type.code == "sp78" || !SmcCodecUtils::isTemperatureType(type.code, size_t(type.nSize));
    unsigned char value[SmcValueUtils::kMaxValueSize] = {0};
    if (readKey(QByteArray(key), value, bSp78Rule ? 2 : static_cast<unsigned char>(type.nSize)) !=
        0) {
        return -1.0;
    }
    // "sp78" keeps its own rule: read unsigned, 128 and above (every negative reading) invalid.
    double t = -1.0;
    const bool bValid =
        bSp78Rule ? SmcValueUtils::isValidTemperature(t = SmcValueUtils::decodeTemperature(value))
                  : SmcCodecUtils::decodeNumber(type.code, value, size_t(type.nSize), t) &&
                        t >= kLowestTemperature && t <= kHighestTemperature;
    if (!bValid) {
        QLOG_WARN() << qUtf8Printable(
            QStringLiteral("smc_get_temp - skipping sensor %1 with value of %2")
                .arg(QString::fromLatin1(key), shortestNumber(t)));
        return -1.0;
    }
    return t;
}

bool QFanControl::TurnFanToManualModeIfNeeded(int index)
{
    FanInfo* pFan = GetFan(index);
    const quint32 now = static_cast<quint32>(clock()->secsSinceEpoch());
    const quint32 last = m_LastManualTime.value(index, 0);
    bool bAsserted = false;
    if (quint32(now - last) >= kManualReassertSecs) {
        pFan->SetManual(true, true);
        m_LastMaskCheckTime[index] = now;
        bAsserted = true;
    } else if (takeMaskCheckTurn(index, now) && maskLacksFan(index)) {
        // Commanded again this soon: a fan that is not where it was told to be, or one on the
        // move. The controller forgets the mask after a wake from sleep or a restart and then
        // runs the fan itself, so make sure the bit is still there, at most once per period so
        // that a fan on the move does not cost a read with every write.
        if (!m_MaskLossLogged.value(index, false)) {
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("SetFanRPM - fan %1 lost its manual bit, setting it again")
                    .arg(index));
            m_MaskLossLogged[index] = true;
        }
        pFan->SetManual(true, true);
        bAsserted = true;
    }
    m_LastManualTime[index] = now;
    return bAsserted;
}

void QFanControl::waitWhileSystemHolds(int index)
{
    const QByteArray key = fanKey(kFanModeKeyFormat, index);
    const qint64 nGiveUp = clock()->msecsSinceEpoch() + kHoldGiveUpMsecs;
    double dMode = 0;
    // Bounded by the tries as well as by the clock: a clock that stands still ends it too.
    for (int nTry = 0; readNumber(key, kModeType, dMode) && int(dMode) == kModeSystemHolds;
         ++nTry) {
        if (nTry >= kHoldGiveUpMsecs / kHoldRetryMsecs || clock()->msecsSinceEpoch() >= nGiveUp) {
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("SetFanRPM - fan %1: the system still holds it after %2 s")
                    .arg(index)
                    .arg(kHoldGiveUpMsecs / 1000));
            return;
        }
        m_Sleep(kHoldRetryMsecs);
        writeNumber(key, kModeManual, kModeType);
    }
}

bool QFanControl::takeMaskCheckTurn(int index, quint32 now)
{
    if (quint32(now - m_LastMaskCheckTime.value(index, 0)) < kManualReassertSecs) {
        return false;
    }
    m_LastMaskCheckTime[index] = now;
    return true;
}

bool QFanControl::maskLacksFan(int index)
{
    if (m_Family != FamilyMask) {
        double dMode = 0;
        return readNumber(fanKey(kFanModeKeyFormat, index), kModeType, dMode) &&
               int(dMode) != kModeManual;
    }
    unsigned char value[2] = {0, 0};
    if (index >= SmcValueUtils::kMaxMaskFans || readKey(kFanModeMaskKey, value, 2) != 0) {
        return false; // no bit to repair, or nothing known
    }
    if (SmcValueUtils::isFanManual(value, index)) {
        m_MaskLossLogged[index] = false;
        return false;
    }
    return true;
}

int QFanControl::SetFanRPM(int index, int rpm)
{
    FanInfo* pFan = GetFan(index);
    if (!pFan) {
        return -1;
    }
    // The caller decided on a copy of the mode; if the user has handed the fan back to the
    // system since, taking it over again would undo that choice.
    if (pFan->GetControlMode().isAutomatic()) {
        return -1;
    }
    if (TurnFanToManualModeIfNeeded(index) && m_Family == FamilyUnlock) {
        waitWhileSystemHolds(index);
    }
    const int nTarget = qBound(0, rpm, SmcValueUtils::kMaxFanSpeed);
    m_nLastTargetRpm[index].store(nTarget);
    return writeNumber(fanKey("F%uTg", index), nTarget, kFanSpeedType);
}

void QFanControl::keepFansUnlocked()
{
    if (m_Family != FamilyUnlock ||
        clock()->msecsSinceEpoch() - m_nLastWriteMsecs.load() < kKeepUnlockedMsecs) {
        return;
    }
    for (int i = 0; i < m_Fans.size() && i < kMaxAddressableFans; ++i) {
        const int nTarget = m_nLastTargetRpm[i].load();
        if (m_Fans.at(i)->IsManual() && nTarget >= 0) {
            writeNumber(fanKey("F%uTg", i), nTarget, kFanSpeedType); // the same target again
            return;
        }
    }
}

void QFanControl::setFanModeKeys()
{
    bool bAnyManual = false;
    for (const FanInfo* pFan : qAsConst(m_Fans)) {
        bAnyManual = bAnyManual || pFan->IsManual();
    }
    if (m_Family == FamilyUnlock && bAnyManual) {
        writeNumber(kUnlockKey, 1, kModeType); // before any fan can be taken
    }
    for (int i = 0; i < m_Fans.size(); ++i) {
        writeNumber(fanKey(kFanModeKeyFormat, i), m_Fans.at(i)->IsManual() ? kModeManual : 0,
                    kModeType);
    }
    if (m_Family == FamilyUnlock && !bAnyManual) {
        writeNumber(kUnlockKey, 0, kModeType);
    }
    QLOG_INFO() << "Set fans mode keys, any manual:" << bAnyManual;
}

void QFanControl::smc_set_fans_control_mode()
{
    if (m_Family != FamilyMask) {
        setFanModeKeys();
        return;
    }
    uint8_t mask = 0;
    for (int i = 0; i < m_Fans.size(); ++i) {
        if (!m_Fans.at(i)->IsManual()) {
            continue;
        }
        if (i >= SmcValueUtils::kMaxMaskFans) {
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("smc_set_fans_control_mode - fan %1 cannot be put under "
                               "manual control, the mask holds %2 fans")
                    .arg(i)
                    .arg(SmcValueUtils::kMaxMaskFans));
            continue;
        }
        mask = SmcValueUtils::withFanManual(mask, i, true);
    }
    unsigned char value[2] = {0, 0};
    SmcValueUtils::encodeFanModeMask(mask, value);
    writeKey(kFanModeMaskKey, value, 2);
    QLOG_INFO() << "Set fans mode" << static_cast<int>(mask);
}

void QFanControl::saveFansControlMode()
{
    for (int i = 0; i < m_Fans.size(); ++i) {
        const FanControlMode mode = m_Fans.at(i)->GetControlMode();
        if (mode.GetMode() == FanControlMode::ModeUndefined) {
            continue;
        }
        PreferenceUtils::setString(settingKeyForFan(i), mode.toString());
    }
}

QVector<QString> QFanControl::loadAllTempSensors()
{
    QVector<QString> keys;
    m_pSmc->LoadTempSensors(keys);
    return keys;
}

// ---------------------------------------------------------------------------- fail-safe

bool QFanControl::checkFollowedSensor(int index, const QTempSensor* pSensor)
{
    FanInfo* pFan = GetFan(index);
    if (!pFan || !pSensor) {
        return false;
    }
    const bool bHeld = !pFan->heldBackFor().isEmpty();
    if (pSensor->isFailed()) {
        if (!bHeld) {
            QLOG_WARN() << qUtf8Printable(
                QStringLiteral("fan %1: sensor %2 (%3) gives no valid reading since %4, fan "
                               "handed back to the system")
                    .arg(index)
                    .arg(pSensor->GetKey(), pSensor->GetDisplayName(),
                         QClock::timeOfDay(pSensor->failedSinceMsecs())));
            pFan->setHeldBackFor(pSensor->GetDisplayName());
            pFan->SetManual(false, true);
        }
        return false;
    }
    if (bHeld) {
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("fan %1: sensor %2 reads again, fan follows it again")
                .arg(index)
                .arg(pSensor->GetKey()));
        pFan->setHeldBackFor(QString());
        // Start over from the present temperature; the first write takes the fan again.
        pFan->resetSensorControl();
    }
    return true;
}

bool QFanControl::beginUpdatePass(bool* pChanged)
{
    if (pChanged) {
        *pChanged = false;
    }
    m_nReadsAnswered.store(0);
    m_nReadsFailed.store(0);
    const qint64 now = clock()->msecsSinceEpoch();
    if (!m_Link.isLost()) {
        return true;
    }
    if (!m_Link.isRetryDue(now)) {
        return false;
    }
    unsigned char value[4] = {0};
    const bool bAnswered = m_pSmc->ReadKey(probeKey().constData(), value, sizeof value) == 0;
    if (!m_Link.noteRetry(bAnswered, now)) {
        return false;
    }
    QLOG_INFO() << "SMC answers again, applying the fans' modes";
    m_bReapplyDue.store(true); // before writes are allowed again: the control pass applies
    m_bSmcLost.store(false);
    m_nSmcLostSinceMsecs.store(-1);
    if (pChanged) {
        *pChanged = true;
    }
    return true;
}

bool QFanControl::endUpdatePass()
{
    const qint64 now = clock()->msecsSinceEpoch();
    if (!m_Link.notePass(m_nReadsAnswered.load(), m_nReadsFailed.load(), now)) {
        return false;
    }
    QLOG_WARN() << "SMC not responding: no read of the last update pass was answered; "
                   "writes stop until it answers again";
    m_nSmcLostSinceMsecs.store(m_Link.lostSinceMsecs());
    m_bSmcLost.store(true);
    return true;
}

void QFanControl::reapplyModesIfDue()
{
    if (!m_bReapplyDue.exchange(false)) {
        return;
    }
    // The next write of each fan sets its manual bit again (the controller may have restarted
    // with an empty mask, see TurnFanToManualModeIfNeeded): constant speeds are commanded at
    // once, sensor-based control starts over from the present temperature.
    for (FanInfo* pFan : qAsConst(m_Fans)) {
        if (pFan->GetControlMode().isAutomatic() || !pFan->heldBackFor().isEmpty()) {
            continue;
        }
        pFan->markControlModeJustChanged();
        pFan->resetSensorControl();
    }
}

QByteArray QFanControl::probeKey() const
{
    if (!m_Fans.isEmpty()) {
        return fanKey("F%uAc", 0);
    }
    if (!m_Sensors.isEmpty()) {
        return m_Sensors.first()->GetKey().toLatin1();
    }
    return QByteArrayLiteral("#KEY");
}

// ---------------------------------------------------------------------------- key access

bool QFanControl::readNumber(const QByteArray& key, const QSmcKeyTypes::Type& fallback,
                             double& dValue)
{
    const QSmcKeyTypes::Type type = m_KeyTypes.typeOf(key, fallback);
    unsigned char value[SmcValueUtils::kMaxValueSize] = {0};
    return readKey(key, value, static_cast<unsigned char>(type.nSize)) == 0 &&
           SmcCodecUtils::decodeNumber(type.code, value, size_t(type.nSize), dValue);
}

int QFanControl::writeNumber(const QByteArray& key, double dValue,
                             const QSmcKeyTypes::Type& fallback)
{
    const QSmcKeyTypes::Type type = m_KeyTypes.typeOf(key, fallback);
    unsigned char value[SmcValueUtils::kMaxValueSize] = {0};
    if (!SmcCodecUtils::encodeNumber(type.code, dValue, value, size_t(type.nSize))) {
        QLOG_WARN() << "cannot write" << key.constData() << "as" << type.code.c_str();
        return -1;
    }
    return writeKey(key, value, static_cast<unsigned char>(type.nSize));
}

int QFanControl::readKey(const QByteArray& key, unsigned char* pBuffer, unsigned char size)
{
    const int nResult = m_pSmc->ReadKey(key.constData(), pBuffer, size);
    ++(nResult == 0 ? m_nReadsAnswered : m_nReadsFailed);
    return nResult;
}

int QFanControl::writeKey(const QByteArray& key, const unsigned char* pBuffer, unsigned char size)
{
    if (QCoreServices::isReadOnly()) {
        QLOG_DEBUG() << "read-only mode, not writing" << key.constData();
        return -1;
    }
    if (m_bSmcLost.load()) {
        // Each write would start the key-writing tool for nothing; the modes are applied again
        // when the controller answers.
        QLOG_DEBUG() << "SMC not responding, not writing" << key.constData();
        return -1;
    }
    m_nLastWriteMsecs.store(clock()->msecsSinceEpoch());
    return m_pSmc->WriteKey(key.constData(), pBuffer, size);
}
