#include "core/QOverheatWatch.h"

#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "settings/PreferenceUtils.h"

namespace {
int thresholdSetting(const char* key, int nDefault)
{
    const int nValue = PreferenceUtils::getInt(QLatin1String(key));
    if (nValue == -1) {
        PreferenceUtils::setInt(QLatin1String(key), nDefault);
        return nDefault;
    }
    const bool bUsable = nValue >= QOverheatWatch::kLowestAlarmCelsius &&
                         nValue <= QOverheatWatch::kHighestAlarmCelsius;
    return bUsable ? nValue : nDefault;
}
} // namespace

QOverheatWatch::QOverheatWatch(int nCpuGpuCelsius, int nOtherCelsius)
    : m_nCpuGpuCelsius(nCpuGpuCelsius), m_nOtherCelsius(nOtherCelsius)
{}

void QOverheatWatch::setThresholds(int nCpuGpuCelsius, int nOtherCelsius)
{
    m_nCpuGpuCelsius = nCpuGpuCelsius;
    m_nOtherCelsius = nOtherCelsius;
}

void QOverheatWatch::loadThresholds()
{
    setThresholds(thresholdSetting(kCpuGpuSetting, kDefaultCpuGpuCelsius),
                  thresholdSetting(kOtherSetting, kDefaultOtherCelsius));
}

bool QOverheatWatch::isCpuGpuSensor(QTempSensor* pSensor)
{
    const QString key = pSensor->GetKey();
    return !pSensor->isHDD() &&
           (key.startsWith(QLatin1String("TC")) || key.startsWith(QLatin1String("TG")));
}

int QOverheatWatch::threshold(QTempSensor* pSensor) const
{
    return isCpuGpuSensor(pSensor) ? m_nCpuGpuCelsius : m_nOtherCelsius;
}

QOverheatWatch::Change QOverheatWatch::update(QTempSensor* pSensor, double celsius)
{
    if (!pSensor || !(celsius > 0.0)) { // no reading (0, or NaN for a failed sensor)
        return NoChange;
    }
    const int nThreshold = threshold(pSensor);
    if (!m_Overheated.contains(pSensor)) {
        if (celsius < nThreshold) {
            return NoChange;
        }
        m_Overheated.insert(pSensor);
        return EpisodeBegan;
    }
    if (celsius > nThreshold - kHysteresisCelsius) {
        return NoChange;
    }
    m_Overheated.remove(pSensor);
    return EpisodeEnded;
}

bool QOverheatWatch::isOverheated(QTempSensor* pSensor) const
{
    return m_Overheated.contains(pSensor);
}

QStringList QOverheatWatch::heldFans(const QVector<FanInfo*>& fans, const QString& entryFormat)
{
    QStringList held;
    for (FanInfo* pFan : fans) {
        const FanControlMode mode = pFan->GetControlMode();
        const int nMidpoint = (pFan->GetRPMMin() + pFan->GetRPMMax()) / 2;
        if (mode.GetMode() == FanControlMode::ModeConstant && mode.GetConstantRPM() < nMidpoint) {
            held << entryFormat.arg(pFan->GetName()).arg(mode.GetConstantRPM());
        }
    }
    return held;
}
