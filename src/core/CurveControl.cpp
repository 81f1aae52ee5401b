#include "core/CurveControl.h"

#include <QStringList>

#include <algorithm>

namespace {

bool fail(QString* pError, const QString& message)
{
    if (pError)
        *pError = message;
    return false;
}

} // namespace

bool CurveControl::parse(const QString& text, CurveControl& curve, QString* pError)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.first().size() != 4)
        return fail(pError, QStringLiteral("the curve must start with a four-character sensor "
                                           "key, got \"%1\"")
                                .arg(parts.first()));
    QVector<QCurvePoint> points;
    int nHysteresis = 0;
    for (int i = 1; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        bool bOk = false;
        if (part.startsWith(QLatin1String("hyst="))) {
            nHysteresis = part.mid(5).toInt(&bOk);
            if (!bOk || nHysteresis < 0 || i != parts.size() - 1)
                return fail(pError,
                            QStringLiteral("\"%1\": hyst=H comes last, H 0 or more").arg(part));
            continue;
        }
        const QStringList pair = part.split(QLatin1Char(':'));
        QCurvePoint point;
        bool bRpm = false;
        if (pair.size() == 2) {
            point.temperature = pair.at(0).toInt(&bOk);
            point.rpm = pair.at(1).toInt(&bRpm);
        }
        if (!bOk || !bRpm || point.rpm < 0 || point.temperature < 1 || point.temperature > 127)
            return fail(pError, QStringLiteral("\"%1\" is not a point TEMPERATURE:RPM").arg(part));
        if (!points.isEmpty() && point.temperature <= points.last().temperature)
            return fail(pError, QStringLiteral("the curve's temperatures must rise, %1 does not")
                                    .arg(point.temperature));
        points.append(point);
    }
    if (points.size() < 2)
        return fail(pError, QStringLiteral("a curve needs at least two points"));
    curve = CurveControl(parts.first(), points, nHysteresis);
    return true;
}

CurveControl::CurveControl(const QString& sensorKey, const QVector<QCurvePoint>& points,
                           int hysteresis)
    : m_SensorKey(sensorKey), m_Points(points), m_nHysteresis(std::max(0, hysteresis))
{}

int CurveControl::rpmAt(int temperature) const
{
    if (m_Points.isEmpty())
        return 0;
    if (temperature <= m_Points.first().temperature)
        return m_Points.first().rpm;
    for (int i = 1; i < m_Points.size(); ++i) {
        const QCurvePoint& lo = m_Points.at(i - 1);
        const QCurvePoint& hi = m_Points.at(i);
        if (temperature <= hi.temperature) {
            // 64-bit so that wide speed ranges cannot overflow the product.
            const qint64 nRise = qint64(hi.rpm - lo.rpm) * (temperature - lo.temperature);
            return lo.rpm + int(nRise / (hi.temperature - lo.temperature));
        }
    }
    return m_Points.last().rpm;
}

int CurveControl::update(int temperature, int rpmMin, int rpmMax, quint32 nowSecs)
{
    if (temperature == 0 || rpmMax <= 0 || rpmMax < rpmMin || m_Points.isEmpty())
        return -1;
    // Rising readings are followed at once; falling ones only past the hysteresis, after which
    // the curve trails them H degrees above.
    if (m_nApplied == kNoHistory || temperature > m_nApplied)
        m_nApplied = temperature;
    else if (temperature < m_nApplied - m_nHysteresis)
        m_nApplied = temperature + m_nHysteresis;
    const int rpm = std::min(std::max(rpmAt(m_nApplied), rpmMin), rpmMax);
    if (rpm != m_nLastSetRpm ||
        (m_nLastSetTime != 0xFFFFFFFFu && quint32(nowSecs - m_nLastSetTime) >= kResendSecs)) {
        m_nLastSetRpm = rpm;
        m_nLastSetTime = nowSecs;
        return rpm;
    }
    return -1;
}

void CurveControl::reset()
{
    m_nApplied = kNoHistory;
    m_nLastSetRpm = -1;
    m_nLastSetTime = 0xFFFFFFFFu;
}
