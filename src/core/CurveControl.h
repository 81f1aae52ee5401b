#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

// One point of a fan curve: at this temperature (whole degrees Celsius) the fan runs this speed.
struct QCurvePoint
{
    int temperature = 0;
    int rpm = 0;
};

// Fan-curve control, the way fan daemons commonly drive fans: the speed is a piecewise linear
// function of the temperature through the points (flat beyond the first and the last), clamped
// to the fan's range. On the way down the curve is read H degrees above the temperature until
// the temperature has fallen H degrees below where the curve was last read, so a reading that
// wobbles by less than H never lowers the fan. A speed is handed out when it changed, and an
// unchanged one again once the last was handed out kResendSecs or more ago, as sensor-based
// control does. The caller passes the time from the same clock it gives sensor-based control.
class CurveControl
{
public:
    static constexpr quint32 kResendSecs = 31;

    // Reads "KEY,T1:R1,T2:R2[,T3:R3...][,hyst=H]": a four-character sensor key, at least two
    // points with rising temperatures and speeds of 0 or more, H of 0 or more (default 0).
    // On error returns false with *pError set and leaves curve alone.
    static bool parse(const QString& text, CurveControl& curve, QString* pError);

    CurveControl() = default;
    CurveControl(const QString& sensorKey, const QVector<QCurvePoint>& points, int hysteresis);

    const QString& sensorKey() const { return m_SensorKey; }
    const QVector<QCurvePoint>& points() const { return m_Points; }
    int hysteresis() const { return m_nHysteresis; }
    // The temperature of the last point, where the curve reaches its top speed.
    int topTemperature() const { return m_Points.isEmpty() ? 0 : m_Points.last().temperature; }

    // The curve's speed at a temperature, before the fan's range is applied.
    int rpmAt(int temperature) const;

    // One step for a temperature in whole degrees. Returns the speed to write now, within
    // rpmMin..rpmMax, or -1 for nothing to write. A reading of 0 (a failed read) or a fan whose
    // range is not known (rpmMax 0 or below rpmMin) gives -1 and changes nothing.
    int update(int temperature, int rpmMin, int rpmMax, quint32 nowSecs);
    // Forgets the history: the next reading is taken as it comes.
    void reset();

    // Where the curve was last read; kNoHistory before the first reading.
    static constexpr int kNoHistory = -1000;
    int appliedTemperature() const { return m_nApplied; }

private:
    QString m_SensorKey;
    QVector<QCurvePoint> m_Points;
    int m_nHysteresis = 0;
    int m_nApplied = kNoHistory;
    int m_nLastSetRpm = -1;
    quint32 m_nLastSetTime = 0xFFFFFFFFu;
};
