#include "core/SensorControl.h"

#include "QsLog/QsLog.h"
#include "core/FanInfo.h"
#include "helpers/QClock.h"

#include <mutex>

#include <algorithm>

namespace {
// Reversals of the temperature within this many seconds of a change of tendency are ignored.
const qint64 kIgnoreReversalSecs = 11;
// A temperature that holds still this long lets the target creep at half rate.
const qint64 kCreepAfterSecs = 60;
// An unchanged speed is handed out again after this many seconds.
const quint32 kResendSecs = 31;
// Start and maximum temperatures are taken within +-this many degrees.
const int kTemperatureLimit = 1000;

} // namespace

// ---------------------------------------------------------------------------- QSensorSpeedBand

QSensorSpeedBand::QSensorSpeedBand(int nRpmMin, int nRpmMax, int nStart, int nMax)
    : rpmMin(nRpmMin), rpmMax(nRpmMax), start(nStart), max(std::max(nMax, nStart + 1))
{
    // Divided in double precision and truncated towards zero.
    step = static_cast<int>(static_cast<double>(rpmMax - rpmMin) / (max - start));
    mid = start + (max - start) / 2;
}

int QSensorSpeedBand::lo(int temperature) const
{
    // 64-bit so that an absurd temperature cannot overflow before the clamps apply.
    qint64 value = rpmMin + (qint64(temperature) - start - 1) * step;
    if (value < rpmMin) {
        value = rpmMin;
    }
    if (value > rpmMax - step) {
        value = rpmMax - step; // applied last: it wins over the lower limit
    }
    return static_cast<int>(value);
}

int QSensorSpeedBand::hi(int temperature) const
{
    return std::min(lo(temperature) + step, rpmMax);
}

// ---------------------------------------------------------------------------- SensorBasedControl

SensorBasedControl::SensorBasedControl(FanInfo* pFan)
    : m_pFan(pFan), m_FanName(pFan ? pFan->GetName() : QString())
{
    const QDateTime now = pFan ? pFan->clock()->now() : QDateTime::currentDateTime();
    m_DoNothingTime = now;
    m_IncreaseTime = now;
    m_DecreaseTime = now;
}

QString SensorBasedControl::tendencyName(int tendency)
{
    switch (tendency) {
    case TendencyUnknown:
        return QStringLiteral("TendencyUnknown");
    case TendencyIncrease:
        return QStringLiteral("TendencyIncrease");
    case TendencyDecrease:
        return QStringLiteral("TendencyDecrease");
    case TendencyDoNothing:
        return QStringLiteral("TendencyDoNothing");
    default:
        return QString();
    }
}

QString SensorBasedControl::getTendencyString() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return tendencyName(m_Tendency);
}

SensorBasedControl::Tendency SensorBasedControl::tendency() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Tendency;
}

int SensorBasedControl::targetRpm() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_TargetRpm;
}

int SensorBasedControl::lastTemperature() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_LastTemperature;
}

bool SensorBasedControl::isDoubleIncrease() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_DoubleIncrease;
}

bool SensorBasedControl::isHalfStep() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_HalfStep;
}

void SensorBasedControl::reset()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    resetLocked();
}

void SensorBasedControl::resetLocked()
{
    m_LastTemperature = -1;
    m_TargetRpm = -1;
    m_LastSetRpm = -1;
    m_LastSetTime = 0xFFFFFFFFu;
}

int SensorBasedControl::update(int temperature)
{
    if (temperature == 0 || !m_pFan) {
        return -1;
    }
    // Everything the fan knows is read before our own lock is taken: no lock inside another.
    const FanControlMode mode = m_pFan->GetControlMode();
    const int rpmMin = m_pFan->GetRPMMin();
    const int rpmMax = m_pFan->GetRPMMax();
    const int rpm = m_pFan->GetRPM();
    if (rpmMax <= 0 || rpmMax < rpmMin || rpmMin < 0) {
        return -1; // limits not read yet or nonsense: no speed can be trusted to be in range
    }
    const QDateTime now = m_pFan->clock()->now();
    const quint32 nowSecs = static_cast<quint32>(now.toSecsSinceEpoch());
    // Stored settings can hold any integer; no temperature lies beyond these, and keeping the
    // band's arithmetic inside them rules out overflow.
    const int start = qBound(-kTemperatureLimit, mode.valueStart(), kTemperatureLimit);
    const int max = qBound(-kTemperatureLimit, mode.valueMax(), kTemperatureLimit);

    std::lock_guard<std::mutex> lock(m_Mutex);
    if (temperature < start) {
        if (m_TargetRpm != rpmMin) {
            resetLocked();
            m_TargetRpm = rpmMin;
        }
        return output(nowSecs, rpmMin, rpmMax);
    }
    const QSensorSpeedBand band(rpmMin, rpmMax, start, max);
    const bool bAccepted = updateTendency(temperature, rpm, band, now);
    updateTarget(temperature, bAccepted, band, now);
    if (bAccepted) {
        m_LastTemperature = temperature;
    }
    return output(nowSecs, rpmMin, rpmMax);
}

void SensorBasedControl::setTendency(Tendency tendency, QDateTime* pStamp, const QDateTime& now)
{
    m_Tendency = tendency;
    if (pStamp) {
        *pStamp = now;
    }
}

bool SensorBasedControl::updateTendency(int t, int currentRpm, const QSensorSpeedBand& band,
                                        const QDateTime& now)
{
    const QString name = m_FanName;
    if (m_LastTemperature == -1) {
        // No history: settle where the fan already is when that fits the band, else climb.
        if (band.lo(t) < currentRpm && currentRpm < band.hi(t)) {
            m_TargetRpm = currentRpm;
            m_Tendency = TendencyDoNothing;
        } else {
            m_TargetRpm = band.lo(t);
            m_Tendency = TendencyIncrease;
            m_HalfStep = true;
            QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: HALF INCREASE ON").arg(name));
        }
        m_IncreaseTime = now;
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("%1: Tendency is set to %2, Temperature %3, RPM=%4")
                .arg(name, tendencyName(m_Tendency))
                .arg(t)
                .arg(currentRpm));
        return true;
    }

    if (t == m_LastTemperature) {
        if (m_Tendency == TendencyDoNothing && m_DoNothingTime.secsTo(now) >= kCreepAfterSecs) {
            m_HalfStep = true;
            if (t > band.mid) {
                m_Tendency = TendencyIncrease;
                QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: HALF INCREASE ON").arg(name));
            } else {
                m_Tendency = TendencyDecrease;
                QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: HALF DECREASE ON").arg(name));
            }
        }
        return true;
    }

    const bool bWasHalf = m_HalfStep;
    m_DoubleIncrease = false;
    m_HalfStep = false;
    bool bAccepted = true;
    const auto ignore = [&]() {
        bAccepted = false;
        QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: Ignoring temperature change").arg(name));
    };

    if (t < m_LastTemperature) {
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("%1: Temperature DECREASED to %2").arg(name).arg(t));
        switch (m_Tendency) {
        case TendencyDoNothing:
            setTendency(TendencyDecrease, &m_DecreaseTime, now);
            break;
        case TendencyDecrease:
            m_DecreaseTime = now;
            break;
        case TendencyIncrease:
            if (m_IncreaseTime.secsTo(now) < kIgnoreReversalSecs) {
                ignore();
            } else {
                setTendency(TendencyDoNothing, &m_DoNothingTime, now);
            }
            break;
        default:
            break;
        }
    } else {
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("%1: Temperature INCREASED to %2").arg(name).arg(t));
        switch (m_Tendency) {
        case TendencyDoNothing:
            if (m_DoNothingTime.secsTo(now) < kIgnoreReversalSecs) {
                ignore();
            } else {
                setTendency(TendencyIncrease, &m_IncreaseTime, now);
            }
            break;
        case TendencyDecrease:
            if (m_DecreaseTime.secsTo(now) < kIgnoreReversalSecs) {
                ignore();
            } else {
                setTendency(TendencyIncrease, &m_IncreaseTime, now);
            }
            break;
        case TendencyIncrease:
            if (!bWasHalf) {
                m_DoubleIncrease = true;
                QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: DOUBLE INCREASE ON").arg(name));
            } else {
                QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: HALF INCREASE OFF").arg(name));
            }
            break;
        default:
            break;
        }
    }
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("%1: Tendency is set to %2").arg(name, tendencyName(m_Tendency)));
    return bAccepted;
}

void SensorBasedControl::updateTarget(int t, bool bAccepted, const QSensorSpeedBand& band,
                                      const QDateTime& now)
{
    if (t > band.max) {
        m_TargetRpm = band.rpmMax;
        return;
    }
    const int x = bAccepted ? t : m_LastTemperature;
    const int lo = band.lo(x);
    const int hi = band.hi(x);
    const int extra = band.step / 3;
    if (m_Tendency == TendencyDecrease) {
        if (m_TargetRpm - hi > band.step) {
            m_TargetRpm -= extra;
            QLOG_INFO() << qUtf8Printable(
                QStringLiteral("%1: Subtracting extra %2 from current rpm %3")
                    .arg(m_FanName)
                    .arg(extra)
                    .arg(m_TargetRpm));
        }
        m_TargetRpm -= m_HalfStep ? 1 : 2;
        m_TargetRpm = std::max(m_TargetRpm, lo);
        if (m_TargetRpm == lo) {
            setTendency(TendencyDoNothing, &m_DoNothingTime, now);
            QLOG_INFO() << qUtf8Printable(
                QStringLiteral("%1: PEEK MIN RPM '%2' for current temperature, do nothing now")
                    .arg(m_FanName)
                    .arg(lo));
        }
    } else if (m_Tendency == TendencyIncrease) {
        if (lo - m_TargetRpm > 2 * band.step) {
            m_TargetRpm += extra;
            QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: Adding extra %2 from current rpm %3")
                                              .arg(m_FanName)
                                              .arg(extra)
                                              .arg(m_TargetRpm));
        }
        m_TargetRpm += m_DoubleIncrease ? 4 : (m_HalfStep ? 1 : 2);
        m_TargetRpm = std::min(m_TargetRpm, hi);
        if (m_TargetRpm == hi) {
            setTendency(TendencyDoNothing, &m_DoNothingTime, now);
            QLOG_INFO() << qUtf8Printable(
                QStringLiteral("%1: PEEK MAX RPM '%2' for current temperature, do nothing now")
                    .arg(m_FanName)
                    .arg(hi));
        }
    }
}

int SensorBasedControl::output(quint32 nowSecs, int rpmMin, int rpmMax)
{
    // The fan's limits can change between readings (the first full read replaces the zeros);
    // whatever the history, a speed outside them is never handed out.
    m_TargetRpm = std::clamp(m_TargetRpm, rpmMin, rpmMax);
    if (m_TargetRpm != m_LastSetRpm) {
        m_LastSetRpm = m_TargetRpm;
        QLOG_INFO() << qUtf8Printable(QStringLiteral("%1: Setting fan speed to").arg(m_FanName))
                    << m_TargetRpm;
        m_LastSetTime = nowSecs;
        return m_TargetRpm;
    }
    if (m_LastSetTime != 0xFFFFFFFFu && quint32(nowSecs - m_LastSetTime) >= kResendSecs) {
        m_LastSetTime = nowSecs;
        return m_TargetRpm;
    }
    return -1;
}
