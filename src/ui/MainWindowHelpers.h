#pragma once

#include <QVector>

class QTempSensor;

namespace MainWindowHelpers {

// Where each sensor sits in the sensors table. Sensors keep their order; one heading row goes
// right before the first drive sensor, so SMC sensor j is row j and drive sensor j is row j + 1.
// nSeparatorRow receives the heading's row, or -1 when there is no drive. Null entries get -1.
QVector<int> sensorRows(const QVector<QTempSensor*>& sensors, int& nSeparatorRow);

} // namespace MainWindowHelpers
