#include "smc/SmcValueUtils.h"
#include "smc/base/SmcCodecUtils.h"

#include <QtGlobal>

namespace SmcValueUtils {

namespace {
// Fan speeds: unsigned fixed point with two fraction bits. Temperatures are read as unsigned
// 8.8 fixed point, so that every negative "sp78" reading lands at 128 or above.
const std::string kFanSpeedType = "fpe2";
const std::string kUnsignedTemperatureType = "fp88";
} // namespace

int decodeFanSpeed(const unsigned char* bytes)
{
    double dRpm = 0;
    SmcCodecUtils::decodeNumber(kFanSpeedType, bytes, 2, dRpm);
    return static_cast<int>(dRpm); // the fraction dropped
}

void encodeFanSpeed(int nRpm, unsigned char* bytes)
{
    SmcCodecUtils::encodeNumber(kFanSpeedType, qBound(0, nRpm, kMaxFanSpeed), bytes, 2);
}

double decodeTemperature(const unsigned char* bytes)
{
    double dCelsius = 0;
    SmcCodecUtils::decodeNumber(kUnsignedTemperatureType, bytes, 2, dCelsius);
    return dCelsius;
}

bool isValidTemperature(double dCelsius)
{
    return dCelsius < kInvalidTemperature;
}

bool isFanManual(const unsigned char* bytes, int nFan)
{
    if (nFan < 0 || nFan >= kMaxMaskFans)
        return false;
    return (bytes[1] >> nFan) & 1;
}

uint8_t decodeFanModeMask(const unsigned char* bytes)
{
    return bytes[1];
}

void encodeFanModeMask(uint8_t mask, unsigned char* bytes)
{
    bytes[0] = 0x00;
    bytes[1] = mask;
}

uint8_t withFanManual(uint8_t mask, int nFan, bool bManual)
{
    if (nFan < 0 || nFan >= kMaxMaskFans)
        return mask;
    const uint8_t bit = static_cast<uint8_t>(1u << nFan);
    return bManual ? static_cast<uint8_t>(mask | bit) : static_cast<uint8_t>(mask & ~bit);
}

uint32_t decodeKeyCount(const unsigned char* bytes)
{
    return SmcCodecUtils::decodeKeyCount(bytes);
}

int decodeUnsignedByte(const unsigned char* bytes)
{
    return bytes[0];
}

QString decodeFanIdentification(const unsigned char* bytes)
{
    const char* name = reinterpret_cast<const char*>(bytes + 4);
    return QString::fromLatin1(name, static_cast<int>(qstrnlen(name, 12)));
}

uint32_t _strtoul(const char* str, int size)
{
    return SmcCodecUtils::packCode(str, size > 0 ? static_cast<size_t>(size) : 0);
}

void _ultostr(char* str, uint32_t value)
{
    SmcCodecUtils::unpackCode(str, value);
}

QString toHex(const unsigned char* bytes, int nSize)
{
    return QString::fromStdString(SmcCodecUtils::toHex(bytes, nSize > 0 ? size_t(nSize) : 0));
}

bool parseHex(const QByteArray& text, QByteArray* pBytes, QString* pError)
{
    std::string bytes;
    std::string error;
    if (!SmcCodecUtils::parseHex(text.toStdString(), &bytes, &error)) {
        if (pError)
            *pError = QString::fromStdString(error);
        return false;
    }
    if (pBytes)
        *pBytes = QByteArray::fromStdString(bytes);
    return true;
}

} // namespace SmcValueUtils
