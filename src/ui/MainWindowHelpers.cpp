#include "ui/MainWindowHelpers.h"

#include "core/QTempSensor.h"

namespace MainWindowHelpers {

QVector<int> sensorRows(const QVector<QTempSensor*>& sensors, int& nSeparatorRow)
{
    nSeparatorRow = -1;
    QVector<int> rows;
    rows.reserve(sensors.size());
    int nRow = 0;
    for (QTempSensor* pSensor : sensors) {
        if (!pSensor) {
            rows.append(-1);
            ++nRow; // the row stays, empty, so that later rows keep their place
            continue;
        }
        if (nSeparatorRow == -1 && pSensor->isHDD()) {
            nSeparatorRow = nRow;
            ++nRow;
        }
        rows.append(nRow);
        ++nRow;
    }
    return rows;
}

} // namespace MainWindowHelpers
