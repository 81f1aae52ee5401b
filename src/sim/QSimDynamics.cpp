#include "sim/QSimDynamics.h"
#include "sim/SimRandomUtils.h"

#include <cmath>
#include <limits>

using SimRandomUtils::mix;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Whatever a dump holds, the model works inside these bounds: a float key may hold 7.9e28 or
// NaN, and no such value may reach an integer conversion or swamp the arithmetic.
constexpr int kMaxFans = 32;
constexpr double kMaxRpm = 100000.0;
constexpr double kMinCelsius = -100.0;
constexpr double kMaxCelsius = 300.0;

QByteArray fanKey(const char* format, int nFan)
{
    return QByteArray(format).replace("%u", QByteArray::number(nFan));
}

// Temperatures are signed fixed point ("sp78", "sp96"...), single floats or 48.16 fixed point
// ("ioft"); a "T" key of another
// type (a count, a flag) is not a reading and keeps its value.
bool isTemperatureType(const QSimKey& key)
{
    double dValue = 0;
    return (key.type.startsWith("sp") || key.type == "flt " || key.type == "ioft") &&
           SimDumpUtils::decodeNumber(key.type, key.bytes, dValue);
}

} // namespace

QSimDynamics::QSimDynamics(const QSimDynamicsParams& params) : m_Params(params)
{
    // Parameters come from files too; keep them where the model stays finite.
    m_Params.dAmbient = qBound(kMinCelsius, m_Params.dAmbient, 100.0);
    m_Params.dAirflow = qBound(0.0, m_Params.dAirflow, 100.0);
    m_Params.dRampRpmPerSec = qBound(1.0, m_Params.dRampRpmPerSec, kMaxRpm);
    m_Params.dNoise = qBound(0.0, m_Params.dNoise, 10.0);
    for (auto& row : m_Params.sensors)
        row.second.dTauSecs = std::max(0.1, row.second.dTauSecs);
    m_Params.defaults.dTauSecs = std::max(0.1, m_Params.defaults.dTauSecs);
}

double QSimDynamics::readNumber(const QVector<QSimKey>& table, int nIndex, double dDefault,
                                double dLow, double dHigh) const
{
    double dValue = dDefault;
    if (nIndex < 0 ||
        !SimDumpUtils::decodeNumber(table.at(nIndex).type, table.at(nIndex).bytes, dValue) ||
        std::isnan(dValue))
        return dDefault;
    return qBound(dLow, dValue, dHigh);
}

double QSimDynamics::readRpm(const QVector<QSimKey>& table, int nIndex, double dDefault) const
{
    return readNumber(table, nIndex, dDefault, 0.0, kMaxRpm);
}

void QSimDynamics::bind(const QVector<QSimKey>& table, const QHash<QByteArray, int>& index,
                        const QSimFanModes* pModes)
{
    m_pModes = pModes;
    m_Fans.clear();
    m_Sensors.clear();
    m_nMaskIndex = index.value("FS! ", -1);
    const int nFans =
        static_cast<int>(readNumber(table, index.value("FNum", -1), 0, 0, double(kMaxFans)));
    for (int i = 0; i < nFans; ++i) {
        Fan fan;
        fan.nAc = index.value(fanKey("F%uAc", i), -1);
        fan.nTg = index.value(fanKey("F%uTg", i), -1);
        fan.nMn = index.value(fanKey("F%uMn", i), -1);
        fan.nMx = index.value(fanKey("F%uMx", i), -1);
        if (fan.nAc < 0 || fan.nMx < 0)
            break; // the controller's fans are numbered without gaps
        fan.dActual = readRpm(table, fan.nAc, 0);
        fan.dAutoTarget = fan.dActual;
        m_Fans.append(fan);
    }
    for (int i = 0; i < table.size(); ++i) {
        const QSimKey& key = table.at(i);
        if (!key.key.startsWith('T') || !isTemperatureType(key))
            continue;
        Sensor sensor;
        sensor.nIndex = i;
        sensor.key = key.key;
        sensor.dTemp = readNumber(table, i, 0, kMinCelsius, kMaxCelsius);
        sensor.bDead = sensor.dTemp == 0.0;
        sensor.bProcessor = key.key.startsWith("TC");
        sensor.params = m_Params.sensor(key.key);
        sensor.dAlpha = 1.0 - std::exp(-(kStepMsecs / 1000.0) / sensor.params.dTauSecs);
        m_Sensors.append(sensor);
    }
    // The dump was taken at idle with the fans it shows: derive each sensor's idle rise so that
    // this is a steady state.
    const double dCooling = 1.0 + m_Params.dAirflow * airflowShare(table);
    for (Sensor& sensor : m_Sensors)
        sensor.dIdleRise = std::max(0.0, sensor.dTemp - m_Params.dAmbient) * dCooling -
                           loadAt(0) * sensor.params.dLoadHeat;
    for (Sensor& sensor : m_Sensors)
        sensor.dIdleRise = std::max(0.0, sensor.dIdleRise);
}

double QSimDynamics::airflowShare(const QVector<QSimKey>& table) const
{
    double dShare = 0, dWeights = 0;
    for (int i = 0; i < m_Fans.size(); ++i) {
        const double dMax = readRpm(table, m_Fans.at(i).nMx, 0);
        const double dWeight = i < m_Params.fanAirflow.size() ? m_Params.fanAirflow.at(i) : 1.0;
        dWeights += dWeight;
        if (dMax > 0)
            dShare += dWeight * qBound(0.0, m_Fans.at(i).dActual / dMax, 1.0);
    }
    return dWeights > 0 ? dShare / dWeights : 0.0;
}

double QSimDynamics::hottestProcessor() const
{
    double dHottest = -1e9, dHottestAny = -1e9;
    for (const Sensor& sensor : m_Sensors) {
        if (sensor.bDead)
            continue;
        dHottestAny = std::max(dHottestAny, sensor.dTemp);
        if (sensor.bProcessor)
            dHottest = std::max(dHottest, sensor.dTemp);
    }
    return dHottest > -1e9 ? dHottest : dHottestAny;
}

double QSimDynamics::loadAt(double dSimSecs) const
{
    return m_dLoadOverride >= 0 ? std::min(1.0, m_dLoadOverride) : m_Params.loadAt(dSimSecs);
}

void QSimDynamics::step(const QVector<QSimKey>& table, double dSimSecs)
{
    const double dt = kStepMsecs / 1000.0;
    const quint8 nMask = m_nMaskIndex >= 0 && table.at(m_nMaskIndex).bytes.size() >= 2
                             ? static_cast<quint8>(table.at(m_nMaskIndex).bytes.at(1))
                             : 0;
    const double dHottest = hottestProcessor();
    const double dCurve =
        qBound(0.0, (dHottest - m_Params.dAutoLow) / (m_Params.dAutoHigh - m_Params.dAutoLow), 1.0);
    for (int i = 0; i < m_Fans.size(); ++i) {
        Fan& fan = m_Fans[i];
        const double dMin = readRpm(table, fan.nMn, 0);
        const double dMax = std::max(dMin, readRpm(table, fan.nMx, dMin));
        fan.dAutoTarget = dMin + (dMax - dMin) * dCurve;
        const bool bManual =
            (i < 8 && (nMask & (1u << i))) || (m_pModes && m_pModes->isManual(table, i));
        const double dTarget =
            bManual ? qBound(dMin, readRpm(table, fan.nTg, dMin), dMax) : fan.dAutoTarget;
        const double dMaxChange = m_Params.dRampRpmPerSec * dt;
        fan.dActual += qBound(-dMaxChange, dTarget - fan.dActual, dMaxChange);
    }
    const double dLoad = loadAt(dSimSecs);
    const double dCooling = 1.0 + m_Params.dAirflow * airflowShare(table);
    for (Sensor& sensor : m_Sensors) {
        if (sensor.bDead)
            continue;
        // A dump's reading at the top of the range plus a load would pass it: bounded, so that
        // a sensor relaxes towards a value the range holds and never leaves it.
        const double dSteady = qBound(
            kMinCelsius,
            m_Params.dAmbient + (sensor.dIdleRise + dLoad * sensor.params.dLoadHeat) / dCooling,
            kMaxCelsius);
        sensor.dTemp += (dSteady - sensor.dTemp) * sensor.dAlpha;
    }
}

double QSimDynamics::noise(const Sensor& sensor, double dSimSecs) const
{
    // One value per sensor and simulated second, from the seed alone.
    const quint64 nSecond = static_cast<quint64>(std::max(0.0, std::floor(dSimSecs)));
    const quint64 nHash =
        mix(m_Params.nSeed ^ mix(SimDumpUtils::packCode(sensor.key) ^ mix(nSecond)));
    const double dUnit = static_cast<double>(nHash >> 11) / static_cast<double>(1ULL << 53);
    return (dUnit * 2.0 - 1.0) * m_Params.dNoise;
}

void QSimDynamics::store(QVector<QSimKey>& table, double dSimSecs) const
{
    // Targets are left as the last client wrote them: an automatic fan ignores its target key,
    // and a written target reads back until the next write.
    for (const Fan& fan : m_Fans) {
        QSimKey& actual = table[fan.nAc];
        SimDumpUtils::encodeNumber(actual.type, fan.dActual, actual.bytes);
    }
    for (const Sensor& sensor : m_Sensors) {
        QSimKey& key = table[sensor.nIndex];
        if (sensor.bForced) {
            // A forced reading may lie outside a signed type's range (a faulty sensor showing
            // 130 degrees has 0x82 in its first byte): store it with the unsigned layout.
            const QByteArray type = key.type.startsWith("sp") ? "fp" + key.type.mid(2) : key.type;
            SimDumpUtils::encodeNumber(type, sensor.dForced, key.bytes);
        } else if (!sensor.bDead)
            SimDumpUtils::encodeNumber(key.type, sensor.dTemp + noise(sensor, dSimSecs), key.bytes);
    }
}

void QSimDynamics::setForcedTemperature(const QByteArray& key, double dCelsius)
{
    for (Sensor& sensor : m_Sensors) {
        if (sensor.key == key) {
            sensor.bForced = !std::isnan(dCelsius);
            sensor.dForced = dCelsius;
        }
    }
}

double QSimDynamics::temperature(const QByteArray& key) const
{
    for (const Sensor& sensor : m_Sensors) {
        if (sensor.key == key)
            return sensor.dTemp;
    }
    return kNaN;
}

double QSimDynamics::fanSpeed(int nFan) const
{
    return nFan >= 0 && nFan < m_Fans.size() ? m_Fans.at(nFan).dActual : kNaN;
}
