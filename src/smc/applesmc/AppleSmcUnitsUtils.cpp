#include "smc/applesmc/AppleSmcUnitsUtils.h"
#include "smc/base/SmcCodecUtils.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace AppleSmcUnitsUtils {

namespace {
constexpr size_t kFanIdNameOffset = 4;
constexpr long kMillidegreesPerStep = 250;
constexpr double kStepsPerDegree = 4.0;
} // namespace

std::string fanFile(int fan, const char* what)
{
    return "fan" + std::to_string(fan + 1) + "_" + what;
}

std::string tempFile(int number, const char* what)
{
    return "temp" + std::to_string(number) + "_" + what;
}

long millidegreesFromSp78(const unsigned char* bytes)
{
    double dCelsius = 0;
    SmcCodecUtils::decodeNumber("sp78", bytes, 2, dCelsius);
    // Whole quarter degrees, rounded down: negative readings keep their sign.
    return kMillidegreesPerStep * static_cast<long>(std::floor(dCelsius * kStepsPerDegree));
}

bool sp78FromMillidegrees(long nMillidegrees, unsigned char* bytes)
{
    const long nSteps = nMillidegrees / kMillidegreesPerStep;
    const double dCelsius = static_cast<double>(nSteps) / kStepsPerDegree;
    if (dCelsius < -128.0 || dCelsius >= 128.0)
        return false;
    return SmcCodecUtils::encodeNumber("sp78", dCelsius, bytes, 2);
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
