#include "AppleSmcTreeUtils.h"

#include "smc/applesmc/AppleSmcUnitsUtils.h"
#include "smc/base/SmcCodecUtils.h"

#include <QDir>

#include <QFile>
#include <cmath>

using namespace AppleSmcUnitsUtils;

namespace AppleSmcTreeUtils {

namespace {

const QSimKey* findKey(const QVector<QSimKey>& keys, const QByteArray& key)
{
    for (const QSimKey& entry : keys) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

bool writeFile(const QString& dir, const std::string& name, const QByteArray& text, QString* pError)
{
    QFile file(dir + QLatin1Char('/') + QString::fromStdString(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size())
        return true;
    if (pError)
        *pError = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
}

QByteArray numberLine(long nValue)
{
    return QByteArray::number(static_cast<qlonglong>(nValue)) + '\n';
}

bool writeFan(const QVector<QSimKey>& keys, int fan, const QString& dir, QString* pError)
{
    static const struct
    {
        const char* suffix;
        const char* file;
    } kSpeeds[] = {{"Ac", "input"}, {"Mn", "min"}, {"Mx", "max"}, {"Tg", "output"}};
    const QByteArray prefix = "F" + QByteArray::number(fan);
    for (const auto& speed : kSpeeds) {
        const QSimKey* pKey = findKey(keys, prefix + speed.suffix);
        double dRpm = 0;
        // Fan speeds in the key's own type (fpe2 before the T2 chip, flt after), as whole RPM;
        // a value the driver could not show (negative, huge, not a number) writes no file.
        if (!pKey ||
            !SmcCodecUtils::decodeNumber(pKey->type.toStdString(), pKey->bytes.toStdString(),
                                         dRpm) ||
            !(dRpm >= 0 && dRpm <= kMaxRpm))
            continue;
        if (!writeFile(dir, fanFile(fan, speed.file), numberLine(static_cast<long>(dRpm)), pError))
            return false;
    }
    if (const QSimKey* pId = findKey(keys, prefix + "ID")) {
        const std::string label = labelFromFanId(
            reinterpret_cast<const unsigned char*>(pId->bytes.data()), size_t(pId->bytes.size()));
        if (!writeFile(dir, fanFile(fan, "label"), QByteArray::fromStdString(label) + '\n', pError))
            return false;
    }
    // Manual: the fan's bit of "FS! ", or on machines with per-fan mode keys "F<i>Md" reading 1
    // (the T2 driver shows the same file for both).
    const QSimKey* pMask = findKey(keys, "FS! ");
    const QSimKey* pMode = findKey(keys, prefix + "Md");
    if (pMask || pMode) {
        const bool bManual = (pMask && pMask->bytes.size() == 2 && fan < 8 &&
                              (static_cast<quint8>(pMask->bytes[1]) >> fan) & 1) ||
                             (pMode && pMode->bytes == QByteArray(1, 1));
        if (!writeFile(dir, fanFile(fan, "manual"), bManual ? "1\n" : "0\n", pError))
            return false;
    }
    return true;
}

} // namespace

bool writeTree(const QVector<QSimKey>& keys, const QString& dir, QString* pError)
{
    if (!QDir().mkpath(dir)) {
        if (pError)
            *pError = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    if (!writeFile(dir, "key_count", numberLine(keys.size()), pError))
        return false;

    const QSimKey* pCount = findKey(keys, "FNum");
    double dFans = 0;
    const int nFans = pCount && SmcCodecUtils::decodeNumber(pCount->type.toStdString(),
                                                            pCount->bytes.toStdString(), dFans)
                          ? static_cast<int>(qBound(0.0, dFans, double(kMaxFans)))
                          : 0;
    for (int fan = 0; fan < nFans; ++fan) {
        if (!writeFan(keys, fan, dir, pError))
            return false;
    }

    int number = 0;
    for (const QSimKey& entry : keys) {
        double dCelsius = 0;
        if (entry.key < QByteArray("T") || entry.key >= QByteArray("U") ||
            !SmcCodecUtils::isTemperatureType(entry.type.toStdString(),
                                              size_t(entry.bytes.size())) ||
            !SimDumpUtils::decodeNumber(entry.type, entry.bytes, dCelsius))
            continue;
        ++number;
        // The driver's steps: whole quarter degrees, rounded down.
        const long nMilli = 250 * static_cast<long>(std::floor(dCelsius * 4));
        if (!writeFile(dir, tempFile(number, "input"), numberLine(nMilli), pError) ||
            !writeFile(dir, tempFile(number, "label"), entry.key + '\n', pError))
            return false;
    }
    return true;
}

bool writeDmi(const QString& model, const QString& dir, QString* pError)
{
    return QDir().mkpath(dir) && writeFile(dir, "sys_vendor", "Apple Inc.\n", pError) &&
           writeFile(dir, "product_name", model.toUtf8() + '\n', pError);
}

} // namespace AppleSmcTreeUtils
