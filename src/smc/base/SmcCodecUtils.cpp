#include "smc/base/SmcCodecUtils.h"

#include "helpers/HexUtils.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace SmcCodecUtils {

namespace {

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7e;
}

uint64_t bigEndian(const std::string& bytes)
{
    uint64_t nValue = 0;
    for (char c : bytes)
        nValue = (nValue << 8) | static_cast<uint8_t>(c);
    return nValue;
}

bool startsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Seven significant digits, the shortest form ("45.5", "1e-05").
std::string number(double dValue)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", dValue);
    return text;
}

template <typename T> std::string integer(T nValue)
{
    return std::to_string(nValue);
}

// Text with everything that would break the line or the parser's view of it replaced.
std::string printableText(const std::string& bytes)
{
    std::string text;
    for (char c : bytes) {
        if (c == '\0')
            break;
        text += isPrintable(c) ? c : '.';
    }
    return text;
}

std::string fitted(const std::string& text)
{
    std::string result = text.substr(0, 4);
    result.resize(4, ' ');
    return result;
}

bool fail(std::string* pError, const std::string& reason)
{
    if (pError)
        *pError = reason;
    return false;
}

} // namespace

uint32_t packCode(const char* chars, size_t nSize)
{
    uint32_t nCode = 0;
    for (size_t i = 0; i < nSize && i < 4; ++i)
        nCode = (nCode << 8) | static_cast<unsigned char>(chars[i]);
    return nCode;
}

void unpackCode(char* chars, uint32_t nCode)
{
    for (int i = 0; i < 4; ++i)
        chars[i] = static_cast<char>((nCode >> (24 - 8 * i)) & 0xFF);
    chars[4] = '\0';
}

uint32_t packKey(const char* key)
{
    char chars[4] = {0, 0, 0, 0};
    if (key)
        std::memcpy(chars, key, strnlen(key, 4));
    return packCode(chars, 4);
}

bool isValidKey(const std::string& key)
{
    if (key.size() != 4)
        return false;
    for (char c : key) {
        if (!isPrintable(c))
            return false;
    }
    return true;
}

std::string toHex(const unsigned char* bytes, size_t nSize)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(nSize * 2);
    for (size_t i = 0; i < nSize; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

bool parseHex(const std::string& text, std::string* pBytes, std::string* pError)
{
    if (text.size() % 2 != 0)
        return fail(pError, "odd number of hexadecimal digits");
    if (text.size() / 2 > kMaxValueSize)
        return fail(pError, "more than " + integer(kMaxValueSize) + " bytes");
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int nHigh = HexUtils::digitValue(text[i], true);
        const int nLow = HexUtils::digitValue(text[i + 1], true);
        if (nHigh < 0 || nLow < 0)
            return fail(pError, "not a lower-case hexadecimal digit at position " +
                                    integer(nHigh < 0 ? i + 1 : i + 2));
        bytes += static_cast<char>((nHigh << 4) | nLow);
    }
    if (pBytes)
        *pBytes = bytes;
    return true;
}

uint32_t decodeKeyCount(const unsigned char* bytes)
{
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           uint32_t(bytes[3]);
}

bool decodeFixedPoint(const std::string& type, const std::string& bytes, double& dValue)
{
    if (bytes.size() != 2 || type.size() != 4 ||
        (!startsWith(type, "sp") && !startsWith(type, "fp")))
        return false;
    const int nFraction = HexUtils::digitValue(type[3]);
    if (nFraction < 0 || HexUtils::digitValue(type[2]) < 0)
        return false;
    const uint16_t nRaw = static_cast<uint16_t>(bigEndian(bytes));
    const double dRaw = type[0] == 's' ? static_cast<int16_t>(nRaw) : nRaw;
    dValue = dRaw / static_cast<double>(1 << nFraction);
    return true;
}

float floatFromLittleEndian(const char* bytes)
{
    uint32_t nBits = 0;
    for (int i = 3; i >= 0; --i)
        nBits = (nBits << 8) | static_cast<uint8_t>(bytes[i]);
    float fValue = 0;
    std::memcpy(&fValue, &nBits, sizeof fValue);
    return fValue;
}

bool decodeNumber(const std::string& type, const std::string& bytes, double& dValue)
{
    const size_t nSize = bytes.size();
    if (decodeFixedPoint(type, bytes, dValue))
        return true;
    if ((type == "ui8 " && nSize == 1) || (type == "ui16" && nSize == 2) ||
        (type == "ui32" && nSize == 4)) {
        dValue = static_cast<double>(bigEndian(bytes));
        return true;
    }
    if (type == "flt " && nSize == 4) {
        const double dFloat = floatFromLittleEndian(bytes.data());
        if (dFloat != dFloat)
            return false; // not a number
        dValue = dFloat;
        return true;
    }
    return false;
}

std::string decodeValue(const std::string& type, const std::string& bytes)
{
    const size_t nSize = bytes.size();
    double dValue = 0;
    if (decodeFixedPoint(type, bytes, dValue))
        return number(dValue);
    if ((type == "ui8 " && nSize == 1) || (type == "ui16" && nSize == 2) ||
        (type == "ui32" && nSize == 4))
        return integer(bigEndian(bytes));
    if (type == "si8 " && nSize == 1)
        return integer(static_cast<int>(static_cast<int8_t>(bigEndian(bytes))));
    if (type == "si16" && nSize == 2)
        return integer(static_cast<int16_t>(bigEndian(bytes)));
    if (type == "si32" && nSize == 4)
        return integer(static_cast<int32_t>(bigEndian(bytes)));
    if (type == "flag" && nSize == 1)
        return bytes[0] ? "true" : "false";
    if (type == "flt " && nSize == 4)
        return number(floatFromLittleEndian(bytes.data()));
    if (startsWith(type, "ch8"))
        return '"' + printableText(bytes) + '"';
    if (type == "{fds" && nSize == 16)
        return '"' + printableText(bytes.substr(4)) + '"';
    return std::string();
}

std::string formatDumpLine(const std::string& key, const std::string& type,
                           const std::string& bytes)
{
    std::string line = "  " + fitted(key) + "  [" + fitted(type) + "]  ";
    const std::string value = decodeValue(type, bytes);
    if (!value.empty())
        line += value + ' ';
    line += "(bytes";
    for (char c : bytes)
        line += ' ' + toHex(reinterpret_cast<const unsigned char*>(&c), 1);
    line += ')';
    return line;
}

} // namespace SmcCodecUtils
