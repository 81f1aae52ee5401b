#include "app/TechInfoReport.h"

#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"

#include "helpers/QClock.h"

QString TechInfoUtils::reportHeader(QMySysInfo* pSysInfo)
{
    const QString machine = pSysInfo ? pSysInfo->machineName() : QString();
    const QString os = pSysInfo ? pSysInfo->OS_GetOSVersionString() : QString();
    return QStringLiteral("%1 %2, %3, %4")
        .arg(QLatin1String(kThermoraProgramName), QLatin1String(kThermoraVersion), machine, os);
}

QString TechInfoUtils::fanLines(const QFanControl& controller)
{
    QString lines;
    for (const FanInfo* pFan : controller.fans()) {
        if (!pFan)
            continue;
        // One multi-argument call: a "%" in a fan's name is not taken for a place holder.
        lines += QStringLiteral("%1-min{%2}curr{%3}max{%4}mode{%5}\n")
                     .arg(pFan->GetName(), QString::number(pFan->GetRPMMin()),
                          QString::number(pFan->GetRPM()), QString::number(pFan->GetRPMMax()),
                          pFan->GetControlMode().toString());
        const QString heldBackFor = pFan->heldBackFor();
        if (!heldBackFor.isEmpty())
            lines +=
                QStringLiteral("  handed back to the system: %1 not readable\n").arg(heldBackFor);
    }
    return lines;
}

QString TechInfoUtils::sensorLines(QFanControl& controller)
{
    QString lines;
    for (const QString& key : controller.loadAllTempSensors()) {
        const double value = controller.smc_get_temp(key.toLatin1().constData());
        QString name;
        QTempSensor::IsSensorSupported(key, name);
        lines += QStringLiteral("%1 (%2) - %3").arg(key, name, QString::number(value, 'g', 6));
        const QTempSensor* pSensor = controller.sensorByKey(key);
        if (pSensor && pSensor->isFailed())
            lines += QStringLiteral(" - failed, no valid reading since %1")
                         .arg(QClock::timeOfDay(pSensor->failedSinceMsecs()));
        lines += QLatin1Char('\n');
    }
    return lines;
}

QString TechInfoUtils::technicalReport(QFanControl& controller, QMySysInfo* pSysInfo)
{
    const QString sensors = sensorLines(controller);
    return QStringLiteral("%1\n\nFans:\n%2\n\nTempSensors:\n%3")
        .arg(reportHeader(pSysInfo), fanLines(controller), sensors);
}
