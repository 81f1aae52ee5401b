#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The byte-level SMC codec in plain C++, shared by the key-writing tool and the program's
// value helpers (SmcValueUtils, SimDumpUtils), so both read and write keys the same way.
namespace SmcCodecUtils {

// The largest value the controller holds.
constexpr size_t kMaxValueSize = 32;

// Up to four characters packed with the first one most significant (fewer count as zero).
uint32_t packCode(const char* chars, size_t nSize);
// Four characters and a NUL into chars (which must hold five).
void unpackCode(char* chars, uint32_t nCode);
// A key handed over as NUL-terminated text, packed without reading past its terminator.
uint32_t packKey(const char* key);

// True for exactly four printable ASCII characters (0x20..0x7e), blanks included.
bool isValidKey(const std::string& key);

// Lower-case hexadecimal text, two digits per byte, no separators.
std::string toHex(const unsigned char* bytes, size_t nSize);
// Strict inverse of toHex: an even number of lower-case digits, at most 32 bytes. Anything
// else is refused with a one-line reason in pError and leaves pBytes untouched.
bool parseHex(const std::string& text, std::string* pBytes, std::string* pError = nullptr);

// "#KEY": unsigned 32-bit big-endian.
uint32_t decodeKeyCount(const unsigned char* bytes);

// "spXY"/"fpXY": signed or unsigned 16-bit fixed point with Y (hexadecimal) fraction bits.
bool decodeFixedPoint(const std::string& type, const std::string& bytes, double& dValue);
// An IEEE single in little-endian order, as "flt " keys hold it.
float floatFromLittleEndian(const char* bytes);

// Numbers by their key's own type and size, the one place values are turned into numbers and
// back. The numeric types:
//   "fpXY", "spXY"  2 bytes big-endian, unsigned / signed, Y (a hexadecimal digit) fraction bits
//                   ("fpe2": fan speeds, RPM x 4; "sp78": 1/256 degrees);
//   "ui8 ", "ui16", "ui32", "si8 ", "si16", "si32"  big-endian integers of 1, 2 and 4 bytes;
//   "flag"          1 byte, 0 or 1 (any other byte reads as 1);
//   "flt "          4 bytes, an IEEE single in little-endian order;
//   "ioft"          8 bytes, unsigned fixed point with 16 fraction bits, little-endian.
// Any other type, or a size that does not fit the type, is not numeric.
bool isNumericType(const std::string& type, size_t nSize);
// The types temperature sensors come in: "sp78" (2 bytes) on Intel Macs, "flt " (4) and "ioft"
// (8) on T2 and Apple-silicon ones. Other fixed-point "T" keys are limits and factors.
bool isTemperatureType(const std::string& type, size_t nSize);
// False for a type that is not numeric and for a float that is not finite; dValue is then left
// as it was.
bool decodeNumber(const std::string& type, const unsigned char* bytes, size_t nSize,
                  double& dValue);
bool decodeNumber(const std::string& type, const std::string& bytes, double& dValue);
// Writes dValue into nSize bytes in the type's layout, rounded to the nearest step the type can
// hold and clamped to its range. False (bytes untouched) for a type that is not numeric or a
// value that is not finite.
bool encodeNumber(const std::string& type, double dValue, unsigned char* bytes, size_t nSize);

// The human-readable value of common types (sp78, fpe2, ui8/16/32, si8/16/32, flag, ch8*,
// {fds, flt ...); empty when the type has no readable form or the size does not fit it.
std::string decodeValue(const std::string& type, const std::string& bytes);
// One key dump line without a line break: "  TC0P  [sp78]  45.5 (bytes 2d 80)".
std::string formatDumpLine(const std::string& key, const std::string& type,
                           const std::string& bytes);

} // namespace SmcCodecUtils
