#include "core/FanControlLoops.h"

#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QCoreServices.h"

#include <QSet>

#include <cstdlib>

namespace {
bool stopped(const std::function<bool()>& stopRequested)
{
    return stopRequested && stopRequested();
}

void controlConstantFan(QFanControl& controller, int index, FanInfo* pFan,
                        const FanControlMode& mode)
{
    int target = mode.GetConstantRPM();
    const int rpmMax = pFan->GetRPMMax();
    const int rpmMin = pFan->GetRPMMin();
    if (rpmMax > 0 && rpmMin <= rpmMax) {
        // A hand-edited speed the fan cannot reach would be written again every second.
        target = qBound(rpmMin, target, rpmMax);
    }
    const int current = pFan->GetRPM();
    if (current == -1) {
        return; // not read yet
    }
    const bool bJustChanged = pFan->isControlModeJustChanged();
    if (std::abs(current - target) > FanControlLoopUtils::kConstantRpmTolerance || bJustChanged) {
        controller.SetFanRPM(index, target);
        if (bJustChanged) {
            pFan->resetControlModeJustChanged();
        }
    }
}

void controlSensorFan(QFanControl& controller, int index, FanInfo* pFan, const FanControlMode& mode)
{
    const QTempSensor* pSensor = mode.getSensor();
    if (!controller.checkFollowedSensor(index, pSensor) || pSensor->GetValue() == 0.0) {
        return; // no sensor, a failed one, or never read
    }
    const int rpm = pFan->updateSensorControl(pSensor->GetValueInt());
    if (rpm != -1) {
        controller.SetFanRPM(index, rpm);
    }
}

// Every fan and sensor row reported without a value, while the controller does not answer.
bool reportUnanswered(QFanControl& controller, const QVector<QTempSensor*>& sensors,
                      const FanControlLoopUtils::UpdatePassHooks& hooks)
{
    for (int i = 0; i < controller.fanCount() && hooks.fanUpdated; ++i)
        hooks.fanUpdated(i);
    for (int j = 0; j < sensors.size() && hooks.sensorUpdated; ++j)
        hooks.sensorUpdated(sensors.at(j)->isHDD() ? j + 1 : j, qQNaN());
    return !stopped(hooks.stopRequested);
}

double shownValue(QTempSensor* pSensor)
{
    if (pSensor->isFailed())
        return qQNaN();
    return pSensor->isHDD() ? pSensor->GetValueInt() : pSensor->GetValue();
}

bool readAll(QFanControl& controller, const QVector<QTempSensor*>& sensors, bool bCurrentOnly,
             bool bWindowVisible, const QString& traySensorKey,
             const FanControlLoopUtils::UpdatePassHooks& hooks)
{
    QSet<QString> neededKeys;
    for (int i = 0; i < controller.fanCount(); ++i) {
        controller.UpdateFanInfo(i, bCurrentOnly);
        if (!bWindowVisible) {
            const FanControlMode mode = controller.GetFan(i)->GetControlMode();
            if (mode.GetMode() == FanControlMode::ModeSensor && mode.getSensor()) {
                neededKeys.insert(mode.getSensor()->GetKey());
            }
        }
        if (stopped(hooks.stopRequested)) {
            return false;
        }
        if (hooks.fanUpdated) {
            hooks.fanUpdated(i);
        }
    }
    for (int j = 0; j < sensors.size(); ++j) {
        QTempSensor* pSensor = sensors.at(j);
        const bool bUpdate = bWindowVisible || pSensor->GetKey() == traySensorKey ||
                             neededKeys.contains(pSensor->GetKey());
        if (bUpdate) {
            controller.UpdateTempSensor(pSensor);
        }
        if (stopped(hooks.stopRequested)) {
            return false;
        }
        if (bUpdate && hooks.sensorUpdated) {
            hooks.sensorUpdated(pSensor->isHDD() ? j + 1 : j, shownValue(pSensor));
        }
    }
    return true;
}
} // namespace

bool FanControlLoopUtils::runUpdatePass(QFanControl& controller,
                                        const QVector<QTempSensor*>& sensors, bool bCurrentOnly,
                                        bool bWindowVisible, const QString& traySensorKey,
                                        const UpdatePassHooks& hooks)
{
    bool bResumed = false;
    const bool bRead = controller.beginUpdatePass(&bResumed);
    if (bResumed && hooks.smcLinkChanged)
        hooks.smcLinkChanged();
    if (!bRead)
        return reportUnanswered(controller, sensors, hooks);
    if (!readAll(controller, sensors, bCurrentOnly, bWindowVisible, traySensorKey, hooks))
        return false;
    if (!controller.endUpdatePass())
        return true;
    if (hooks.smcLinkChanged)
        hooks.smcLinkChanged();
    return reportUnanswered(controller, sensors, hooks);
}

bool FanControlLoopUtils::runControlPass(QFanControl& controller,
                                         const std::function<bool()>& stopRequested)
{
    if (QCoreServices::isReadOnly() || controller.isSmcLost()) {
        return true;
    }
    controller.reapplyModesIfDue();
    for (int i = 0; i < controller.fanCount(); ++i) {
        FanInfo* pFan = controller.GetFan(i);
        if (!pFan) {
            continue;
        }
        const FanControlMode mode = pFan->GetControlMode();
        if (mode.GetMode() == FanControlMode::ModeConstant) {
            controlConstantFan(controller, i, pFan, mode);
        } else if (mode.GetMode() == FanControlMode::ModeSensor) {
            controlSensorFan(controller, i, pFan, mode);
        }
        if (stopped(stopRequested)) {
            return false;
        }
    }
    controller.keepFansUnlocked();
    return true;
}
