#pragma once

#include "sim/QSimFanModes.h"
#include "sim/QSimProfile.h"
#include "sim/SimDumpUtils.h"

#include <QHash>
#include <QVector>

// The thermal and fan model behind the simulated controller. It works on the key table in fixed
// sub-steps, so its state at a given simulated time does not depend on how often it was asked.
//
// Fans: each fan i of "FNum" with F<i>Ac, F<i>Mn and F<i>Mx, in whatever numeric type the keys
// have (fpe2, flt ...). Under manual control (bit i of the second byte of "FS! ", or its
// "F<i>Md" reading 1, see QSimFanModes) the actual speed ramps to F<i>Tg clamped to min..max;
// otherwise to the controller's own speed, a line from min to max as the hottest processor sensor
// goes from auto.low to auto.high; F<i>Tg keeps whatever a client last wrote there. Temperatures:
// every "T" key of a temperature type (spXY, flt, ioft) relaxes towards
//     ambient + (idle rise + load x load heat) / (1 + airflow x fan share)
// with its own time constant; the idle rise is taken from the dump's reading so that an idle
// machine stays where the dump was taken. A sensor that reads 0 in the dump stays 0.
class QSimDynamics
{
public:
    static constexpr qint64 kStepMsecs = 100;

    explicit QSimDynamics(const QSimDynamicsParams& params = QSimDynamicsParams());

    const QSimDynamicsParams& params() const { return m_Params; }

    // Takes the fans and sensors of the table and their current values as the starting state;
    // pModes (may be null, must outlive the model) tells which fans their mode key makes manual.
    void bind(const QVector<QSimKey>& table, const QHash<QByteArray, int>& index,
              const QSimFanModes* pModes = nullptr);

    // Integrates one sub-step ending at dSimSecs (simulated seconds since the start).
    void step(const QVector<QSimKey>& table, double dSimSecs);
    // Writes the current state into the table in each key's own type.
    void store(QVector<QSimKey>& table, double dSimSecs) const;

    // Load from 0 to 1 instead of the schedule; negative follows the schedule again.
    void setLoadOverride(double dLoad) { m_dLoadOverride = dLoad; }
    double loadAt(double dSimSecs) const;

    // A sensor that reports this temperature whatever the model says (NaN clears it).
    void setForcedTemperature(const QByteArray& key, double dCelsius);

    // Model state, for tests and benchmarks (noise-free). NaN for unknown keys or fans.
    double temperature(const QByteArray& key) const;
    double fanSpeed(int nFan) const;
    int fanCount() const { return m_Fans.size(); }
    int sensorCount() const { return m_Sensors.size(); }

private:
    struct Fan
    {
        int nAc = -1, nTg = -1, nMn = -1, nMx = -1;
        double dActual = 0;
        double dAutoTarget = 0;
    };
    struct Sensor
    {
        int nIndex = -1;
        QByteArray key;
        double dTemp = 0;
        double dIdleRise = 0;
        double dAlpha = 0; // share of the way to the steady value covered in one sub-step
        QSimSensorParams params;
        bool bDead = false;
        bool bProcessor = false;
        double dForced = 0;
        bool bForced = false;
    };

    // A key's value bounded to dLow..dHigh; dDefault when missing, unreadable or NaN.
    double readNumber(const QVector<QSimKey>& table, int nIndex, double dDefault, double dLow,
                      double dHigh) const;
    double readRpm(const QVector<QSimKey>& table, int nIndex, double dDefault) const;
    double airflowShare(const QVector<QSimKey>& table) const;
    double hottestProcessor() const;
    double noise(const Sensor& sensor, double dSimSecs) const;

    QSimDynamicsParams m_Params;
    QVector<Fan> m_Fans;
    QVector<Sensor> m_Sensors;
    int m_nMaskIndex = -1;
    const QSimFanModes* m_pModes = nullptr;
    double m_dLoadOverride = -1;
};
