#include "smc/applesmc/AppleSmcUnitsUtils.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace AppleSmcUnitsUtils {

namespace {
constexpr size_t kFanIdNameOffset = 4;
constexpr long kMillidegreesPerStep = 250;
constexpr int kSp78StepShift = 6;
} // namespace

std::string fanFile(int fan, const char* what)
{
    return "fan" + std::to_string(fan + 1) + "_" + what;
}

std::string tempFile(int number, const char* what)
{
    return "temp" + std::to_string(number) + "_" + what;
}

long rpmFromFanSpeed(const unsigned char* bytes)
{
    return static_cast<long>((static_cast<unsigned>(bytes[0]) << 8 | bytes[1]) >> 2);
}

bool fanSpeedFromRpm(long nRpm, unsigned char* bytes)
{
    if (nRpm < 0 || nRpm > kMaxRpm)
        return false;
    const unsigned nRaw = static_cast<unsigned>(nRpm) << 2;
    bytes[0] = static_cast<unsigned char>(nRaw >> 8);
    bytes[1] = static_cast<unsigned char>(nRaw & 0xFF);
    return true;
}

long millidegreesFromSp78(const unsigned char* bytes)
{
    const int16_t nRaw = static_cast<int16_t>(static_cast<uint16_t>(bytes[0] << 8 | bytes[1]));
    // An arithmetic shift: negative readings keep their sign.
    return kMillidegreesPerStep * static_cast<long>(nRaw >> kSp78StepShift);
}

bool sp78FromMillidegrees(long nMillidegrees, unsigned char* bytes)
{
    const long nSteps = nMillidegrees / kMillidegreesPerStep;
    const long nRaw = nSteps * (1L << kSp78StepShift);
    if (nRaw < INT16_MIN || nRaw > INT16_MAX)
        return false;
    const uint16_t nBits = static_cast<uint16_t>(static_cast<int16_t>(nRaw));
    bytes[0] = static_cast<unsigned char>(nBits >> 8);
    bytes[1] = static_cast<unsigned char>(nBits & 0xFF);
    return true;
}

bool parseNumber(const std::string& text, long& nValue)
{
    const std::string digits = stripLineEnd(text);
    if (digits.empty())
        return false;
    errno = 0;
    char* pEnd = nullptr;
    const long nParsed = std::strtol(digits.c_str(), &pEnd, 10);
    if (errno != 0 || pEnd == digits.c_str())
        return false;
    for (const char* p = pEnd; *p != '\0'; ++p) {
        if (*p != ' ' && *p != '\t')
            return false;
    }
    // strtol skips leading white space; the driver never writes any.
    if (digits[0] != '-' && (digits[0] < '0' || digits[0] > '9'))
        return false;
    nValue = nParsed;
    return true;
}

std::string stripLineEnd(const std::string& text)
{
    size_t nEnd = text.find('\0');
    if (nEnd == std::string::npos)
        nEnd = text.size();
    while (nEnd > 0 && (text[nEnd - 1] == '\n' || text[nEnd - 1] == '\r'))
        --nEnd;
    return text.substr(0, nEnd);
}

std::string labelFromFanId(const unsigned char* bytes, size_t nSize)
{
    std::string label;
    for (size_t i = kFanIdNameOffset; i < nSize && bytes[i] != 0; ++i)
        label += static_cast<char>(bytes[i]);
    return label;
}

} // namespace AppleSmcUnitsUtils
