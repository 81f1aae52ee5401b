#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Byte layouts of the SMC values the program reads and writes. Multi-byte values are
// big-endian, as the controller stores them. Every decoder reads exactly the bytes it names,
// so callers pass buffers of at least that size (zeroed when a read failed).
namespace SmcValueUtils {

// Fan speeds are RPM x 4 as a 16-bit big-endian integer (two fraction bits).
constexpr int kMaxFanSpeed = 16383;
// sp78 readings at or above this are not temperatures (this covers every negative reading).
constexpr double kInvalidTemperature = 128.0;
// The fan-mode mask has one bit per fan in its second byte.
constexpr int kMaxMaskFans = 8;
// The largest value the controller holds.
constexpr int kMaxValueSize = 32;

// Fan speed, 2 bytes: RPM = ((b0 << 8) | b1) >> 2, the fraction dropped.
int decodeFanSpeed(const unsigned char* bytes);
// Writes RPM x 4 big-endian into bytes[0..1]; RPM is clamped to 0..16383 first.
void encodeFanSpeed(int nRpm, unsigned char* bytes);

// Temperature of type "sp78", 2 bytes: b0 + b1 / 256.0 with b0 unsigned.
double decodeTemperature(const unsigned char* bytes);
// False for readings of 128.0 or more.
bool isValidTemperature(double dCelsius);

// Fan-mode mask, 2 bytes: bit i of b1 set = fan i under manual control; b0 is ignored.
// Fans outside 0..7 are never manual and cannot be set.
bool isFanManual(const unsigned char* bytes, int nFan);
uint8_t decodeFanModeMask(const unsigned char* bytes);
void encodeFanModeMask(uint8_t mask, unsigned char* bytes);
// The mask with fan nFan's bit set or cleared; unchanged for fans outside 0..7.
uint8_t withFanManual(uint8_t mask, int nFan, bool bManual);

// Key count ("#KEY"), 4 bytes: unsigned 32-bit big-endian.
uint32_t decodeKeyCount(const unsigned char* bytes);

// Unsigned byte, 1 byte: 0..255.
int decodeUnsignedByte(const unsigned char* bytes);

// Fan identification, 16 bytes: the name at bytes 4..15, NUL padded (bytes 0..3 unused).
QString decodeFanIdentification(const unsigned char* bytes);

// Key and type packing: the first character becomes the most significant byte.
// _strtoul packs up to four bytes of str; _ultostr writes four characters and a NUL into str
// (which must hold five).
uint32_t _strtoul(const char* str, int size = 4);
void _ultostr(char* str, uint32_t value);

// Lower-case hexadecimal text, two digits per byte ("%02x"), no separators.
QString toHex(const unsigned char* bytes, int nSize);
// Strict inverse of toHex: an even number of lower-case hexadecimal digits, at most 32 bytes.
// Anything else is refused with a one-line reason in pError and leaves pBytes untouched.
bool parseHex(const QByteArray& text, QByteArray* pBytes, QString* pError = nullptr);

} // namespace SmcValueUtils
