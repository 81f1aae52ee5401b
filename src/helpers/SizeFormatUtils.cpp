#include "helpers/SizeFormatUtils.h"

namespace SizeFormatUtils {

QString formatSize(qint64 nBytes, const QStringList& units)
{
    const qint64 kKilo = 1024;
    const qint64 kMega = kKilo * 1024;
    const qint64 kGiga = kMega * 1024;
    const auto unit = [&units](int n) { return units.value(n); };
    const QString join = QStringLiteral("%1 %2");
    if (nBytes <= kKilo)
        return join.arg(nBytes).arg(unit(0));
    int nUnit = 3;
    qint64 nDivisor = kGiga;
    if (nBytes <= kMega) {
        nUnit = 1;
        nDivisor = kKilo;
    } else if (nBytes <= kGiga) {
        nUnit = 2;
        nDivisor = kMega;
    }
    const double value = static_cast<double>(nBytes) / static_cast<double>(nDivisor);
    return join.arg(value, 0, 'g', 3).arg(unit(nUnit));
}

} // namespace SizeFormatUtils
