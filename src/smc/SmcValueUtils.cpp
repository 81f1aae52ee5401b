#include "smc/SmcValueUtils.h"
#include "helpers/HexUtils.h"

#include <QtGlobal>

namespace SmcValueUtils {

int decodeFanSpeed(const unsigned char* bytes)
{
    return ((bytes[0] << 8) | bytes[1]) >> 2;
}

void encodeFanSpeed(int nRpm, unsigned char* bytes)
{
    const int nClamped = qBound(0, nRpm, kMaxFanSpeed);
    bytes[0] = static_cast<unsigned char>((nClamped >> 6) & 0xFF);
    bytes[1] = static_cast<unsigned char>((nClamped << 2) & 0xFF);
}

double decodeTemperature(const unsigned char* bytes)
{
    return bytes[0] + bytes[1] / 256.0;
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
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
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
    uint32_t total = 0;
    for (int i = 0; i < size && i < 4; ++i)
        total = (total << 8) | static_cast<unsigned char>(str[i]);
    return total;
}

void _ultostr(char* str, uint32_t value)
{
    str[0] = static_cast<char>((value >> 24) & 0xFF);
    str[1] = static_cast<char>((value >> 16) & 0xFF);
    str[2] = static_cast<char>((value >> 8) & 0xFF);
    str[3] = static_cast<char>(value & 0xFF);
    str[4] = '\0';
}

bool isValidKey(const QByteArray& key)
{
    if (key.size() != 4)
        return false;
    for (char c : key) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

bool isValidKey(const char* key)
{
    return key && isValidKey(QByteArray(key, static_cast<int>(qstrnlen(key, 5))));
}

QString toHex(const unsigned char* bytes, int nSize)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(nSize * 2);
    for (int i = 0; i < nSize; ++i) {
        text.append(QLatin1Char(digits[bytes[i] >> 4]));
        text.append(QLatin1Char(digits[bytes[i] & 0x0F]));
    }
    return text;
}

namespace {
bool fail(QString* pError, const QString& reason)
{
    if (pError)
        *pError = reason;
    return false;
}
} // namespace

bool parseHex(const QByteArray& text, QByteArray* pBytes, QString* pError)
{
    if (text.size() % 2 != 0)
        return fail(pError, QStringLiteral("odd number of hexadecimal digits"));
    if (text.size() / 2 > kMaxValueSize)
        return fail(pError, QStringLiteral("more than %1 bytes").arg(kMaxValueSize));
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    for (int i = 0; i < text.size(); i += 2) {
        const int nHigh = HexUtils::digitValue(text.at(i), true);
        const int nLow = HexUtils::digitValue(text.at(i + 1), true);
        if (nHigh < 0 || nLow < 0)
            return fail(pError, QStringLiteral("not a lower-case hexadecimal digit at position %1")
                                    .arg(nHigh < 0 ? i + 1 : i + 2));
        bytes.append(static_cast<char>((nHigh << 4) | nLow));
    }
    if (pBytes)
        *pBytes = bytes;
    return true;
}

} // namespace SmcValueUtils
