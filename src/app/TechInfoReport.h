#pragma once

#include <QString>

class QFanControl;
class QMySysInfo;

// The plain-text technical report that users attach to support requests: program and machine,
// every fan with its speeds and mode, every temperature key of the SMC with its reading.
// Each call reads all values afresh. Neither the temperature scale nor the precise-display
// setting play a part: readings are degrees Celsius with six significant digits.
namespace TechInfoUtils {

// "Thermora <version>, <machine>, <OS version>"; machine and OS empty without pSysInfo.
QString reportHeader(QMySysInfo* pSysInfo);
// "<name>-min{<min>}curr{<rpm>}max{<max>}mode{<mode text>}\n" per fan, in the fans' order.
QString fanLines(const QFanControl& controller);
// "<key> (<sensor name, empty when unknown>) - <reading>\n" per temperature key of the SMC.
QString sensorLines(QFanControl& controller);

QString technicalReport(QFanControl& controller, QMySysInfo* pSysInfo);

} // namespace TechInfoUtils
