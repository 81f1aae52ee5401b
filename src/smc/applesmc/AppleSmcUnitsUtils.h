#pragma once

#include <cstddef>
#include <string>

// The applesmc driver's file units and names against the controller's value formats. The
// backend converts files into key values with them, the fake-tree generator the other way.
namespace AppleSmcUnitsUtils {

// The highest fan speed a two-byte fan speed value can hold; the driver shows whole RPM.
constexpr long kMaxRpm = 16383;
// Fans 0..9 have key names ("F0Ac".."F9Ac"); the driver numbers them from 1.
constexpr int kMaxFans = 10;

// "fan<fan + 1>_<what>" and "temp<number>_<what>" (number counted from 1, as the driver does).
std::string fanFile(int fan, const char* what);
std::string tempFile(int number, const char* what);

// "sp78" temperatures are signed 1/256 degrees, big-endian; the driver shows 250 millidegrees
// per step of 1/4 degree (the low six bits are dropped).
long millidegreesFromSp78(const unsigned char* bytes);
bool sp78FromMillidegrees(long nMillidegrees, unsigned char* bytes);

// A decimal number as the driver writes it: optional sign, digits, then only white space or
// NULs. False for anything else (empty, garbage, out of the long range).
bool parseNumber(const std::string& text, long& nValue);

// Text of a file without its line break and trailing NULs (blanks are kept: keys such as
// "FS! " end in one).
std::string stripLineEnd(const std::string& text);

// A fan's label is its identification value from the fifth byte on, up to the first NUL.
std::string labelFromFanId(const unsigned char* bytes, size_t nSize);

} // namespace AppleSmcUnitsUtils
