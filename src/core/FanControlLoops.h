#pragma once

#include <QString>
#include <QVector>

#include <functional>

class QFanControl;
class QTempSensor;

// The bodies of the window's two periodic workers, one pass each, free of threads and timing,
// so that the window, the tests and the simulation harness drive them alike. The caller owns
// the schedule: the update pass about every 1.5 s, the control pass about every 1 s.
namespace FanControlLoopUtils {

// A constant-speed fan is commanded again when its speed is further than this from the target.
constexpr int kConstantRpmTolerance = 30;

// What an update pass reports. Every member may be left empty.
struct UpdatePassHooks
{
    std::function<bool()> stopRequested;            // tested after each fan and each sensor
    std::function<void(int)> fanUpdated;            // fan index
    std::function<void(int, double)> sensorUpdated; // sensors-table row, degrees Celsius;
                                                    // NaN: no valid value to show
    std::function<void()> smcLinkChanged;           // the controller stopped or resumed answering
};

// One update pass. Reads every fan's current speed (and minimum and maximum unless
// bCurrentOnly), then the sensors of `sensors` (the list the worker copied at its start):
// all of them while the window is visible; while it is hidden only the one shown in the menu
// bar (traySensorKey) and those followed by sensor-based fans. A drive sensor's row is its
// index + 1 (the separator row sits before the drives) and it reports its whole degrees.
// A failed sensor (QTempSensor::isFailed) reports NaN. While the controller does not answer
// (QFanControl::beginUpdatePass) nothing is read: every fan is reported and every sensor
// reports NaN. Returns false when stopRequested answered true.
bool runUpdatePass(QFanControl& controller, const QVector<QTempSensor*>& sensors, bool bCurrentOnly,
                   bool bWindowVisible, const QString& traySensorKey,
                   const UpdatePassHooks& hooks = UpdatePassHooks());

// One control pass over every fan: a constant-speed fan (its speed held within the fan's
// minimum and maximum once they are known) is commanded when its speed drifted
// more than kConstantRpmTolerance from the target or its mode was just changed (then the mark
// is cleared); a sensor-based fan feeds its sensor's rounded value (unless exactly 0.0) to its
// sensor-based control and writes the speed it answers, unless the sensor has failed: then the
// fan is handed back to the system until the sensor reads again
// (QFanControl::checkFollowedSensor). Automatic and undefined modes write nothing. Writes
// nothing at all in read-only mode or while the controller does not answer; when it answers
// again the modes are applied first (QFanControl::reapplyModesIfDue). Returns false when
// stopRequested answered true (tested after each fan).
bool runControlPass(QFanControl& controller,
                    const std::function<bool()>& stopRequested = std::function<bool()>());

} // namespace FanControlLoopUtils
