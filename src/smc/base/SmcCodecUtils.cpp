#include "smc/base/SmcCodecUtils.h"

#include "helpers/HexUtils.h"

#include <algorithm>
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

namespace {

enum class NumberKind
{
    None,
    FixedPoint, // nBits fraction bits, signed or not
    Integer,    // signed or not
    Flag,
    Float,
    Ioft,
};

struct NumberLayout
{
    NumberKind kind = NumberKind::None;
    bool bSigned = false;
    int nFractionBits = 0;
};

NumberLayout layoutOf(const std::string& type, size_t nSize)
{
    NumberLayout layout;
    if (type.size() != 4)
        return layout;
    if (nSize == 2 && (startsWith(type, "sp") || startsWith(type, "fp")) &&
        HexUtils::digitValue(type[2]) >= 0 && HexUtils::digitValue(type[3]) >= 0) {
        layout.kind = NumberKind::FixedPoint;
        layout.bSigned = type[0] == 's';
        layout.nFractionBits = HexUtils::digitValue(type[3]);
    } else if ((type == "ui8 " || type == "si8 ")   ? nSize == 1
               : (type == "ui16" || type == "si16") ? nSize == 2
               : (type == "ui32" || type == "si32") ? nSize == 4
                                                    : false) {
        layout.kind = NumberKind::Integer;
        layout.bSigned = type[0] == 's';
    } else if (type == "flag" && nSize == 1) {
        layout.kind = NumberKind::Flag;
    } else if (type == "flt " && nSize == 4) {
        layout.kind = NumberKind::Float;
    } else if (type == "ioft" && nSize == 8) {
        layout.kind = NumberKind::Ioft;
    }
    return layout;
}

uint64_t readBigEndian(const unsigned char* bytes, size_t nSize)
{
    uint64_t nValue = 0;
    for (size_t i = 0; i < nSize; ++i)
        nValue = (nValue << 8) | bytes[i];
    return nValue;
}

uint64_t readLittleEndian(const unsigned char* bytes, size_t nSize)
{
    uint64_t nValue = 0;
    for (size_t i = nSize; i > 0; --i)
        nValue = (nValue << 8) | bytes[i - 1];
    return nValue;
}

void writeBigEndian(uint64_t nValue, unsigned char* bytes, size_t nSize)
{
    for (size_t i = nSize; i > 0; --i, nValue >>= 8)
        bytes[i - 1] = static_cast<unsigned char>(nValue & 0xFF);
}

void writeLittleEndian(uint64_t nValue, unsigned char* bytes, size_t nSize)
{
    for (size_t i = 0; i < nSize; ++i, nValue >>= 8)
        bytes[i] = static_cast<unsigned char>(nValue & 0xFF);
}

// The raw integer of an nBits-wide field, sign-extended when signed.
double signedRaw(uint64_t nRaw, size_t nBits, bool bSigned)
{
    if (bSigned && (nRaw >> (nBits - 1)) != 0)
        return static_cast<double>(nRaw) - std::ldexp(1.0, static_cast<int>(nBits));
    return static_cast<double>(nRaw);
}

// dRaw rounded and clamped to an nBits-wide field, as the field's bit pattern.
uint64_t fieldBits(double dRaw, size_t nBits, bool bSigned)
{
    const double dRange = std::ldexp(1.0, static_cast<int>(nBits));
    const double dLow = bSigned ? -dRange / 2 : 0.0;
    const double dHigh = (bSigned ? dRange / 2 : dRange) - 1;
    const double dRounded = std::round(dRaw);
    const double dClamped = dRounded < dLow ? dLow : (dRounded > dHigh ? dHigh : dRounded);
    const uint64_t nMask = nBits >= 64 ? ~uint64_t(0) : (uint64_t(1) << nBits) - 1;
    return static_cast<uint64_t>(static_cast<int64_t>(dClamped)) & nMask;
}

double highestBelowTwoTo64()
{
    return std::nextafter(std::ldexp(1.0, 64), 0.0);
}

} // namespace

bool isNumericType(const std::string& type, size_t nSize)
{
    return layoutOf(type, nSize).kind != NumberKind::None;
}

bool isTemperatureType(const std::string& type, size_t nSize)
{
    return (type == "sp78" && nSize == 2) || (type == "flt " && nSize == 4) ||
           (type == "ioft" && nSize == 8);
}

bool decodeNumber(const std::string& type, const unsigned char* bytes, size_t nSize, double& dValue)
{
    const NumberLayout layout = layoutOf(type, nSize);
    const size_t nBits = nSize * 8;
    double dResult = 0;
    switch (layout.kind) {
    case NumberKind::None:
        return false;
    case NumberKind::FixedPoint:
        dResult = signedRaw(readBigEndian(bytes, nSize), nBits, layout.bSigned) /
                  std::ldexp(1.0, layout.nFractionBits);
        break;
    case NumberKind::Integer:
        dResult = signedRaw(readBigEndian(bytes, nSize), nBits, layout.bSigned);
        break;
    case NumberKind::Flag:
        dResult = bytes[0] != 0 ? 1 : 0;
        break;
    case NumberKind::Float:
        dResult = floatFromLittleEndian(reinterpret_cast<const char*>(bytes));
        if (!std::isfinite(dResult))
            return false;
        break;
    case NumberKind::Ioft:
        // The top raw values round up to 2^64 as doubles; keep them below it.
        dResult = std::ldexp(
            std::min(static_cast<double>(readLittleEndian(bytes, nSize)), highestBelowTwoTo64()),
            -16);
        break;
    }
    dValue = dResult;
    return true;
}

bool decodeNumber(const std::string& type, const std::string& bytes, double& dValue)
{
    return decodeNumber(type, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                        dValue);
}

bool encodeNumber(const std::string& type, double dValue, unsigned char* bytes, size_t nSize)
{
    const NumberLayout layout = layoutOf(type, nSize);
    if (layout.kind == NumberKind::None || !std::isfinite(dValue))
        return false;
    const size_t nBits = nSize * 8;
    switch (layout.kind) {
    case NumberKind::None:
        return false;
    case NumberKind::FixedPoint:
        writeBigEndian(fieldBits(std::ldexp(dValue, layout.nFractionBits), nBits, layout.bSigned),
                       bytes, nSize);
        break;
    case NumberKind::Integer:
        writeBigEndian(fieldBits(dValue, nBits, layout.bSigned), bytes, nSize);
        break;
    case NumberKind::Flag:
        bytes[0] = dValue != 0 ? 1 : 0;
        break;
    case NumberKind::Float: {
        const float fValue = static_cast<float>(dValue);
        uint32_t nFloatBits = 0;
        std::memcpy(&nFloatBits, &fValue, sizeof nFloatBits);
        writeLittleEndian(nFloatBits, bytes, nSize);
        break;
    }
    case NumberKind::Ioft: {
        // All 64 bits: every value a read can give writes back unchanged.
        const double dRaw = std::round(std::ldexp(dValue, 16));
        const double dClamped = dRaw < 0 ? 0 : std::min(dRaw, highestBelowTwoTo64());
        writeLittleEndian(static_cast<uint64_t>(dClamped), bytes, nSize);
        break;
    }
    }
    return true;
}

std::string decodeValue(const std::string& type, const std::string& bytes)
{
    const size_t nSize = bytes.size();
    double dValue = 0;
    if (decodeFixedPoint(type, bytes, dValue))
        return number(dValue);
    if (type == "ioft" && decodeNumber(type, bytes, dValue))
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
