// The SMC value formats to the byte: fan speeds, temperatures, the fan-mode mask, key packing
// and the hexadecimal text handed to the key-writing tool. One row per call of each check.
#include "smc/SmcValueUtils.h"

#include <gtest/gtest.h>

using namespace SmcValueUtils;

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}
const unsigned char* raw(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}
} // namespace

TEST(SmcValues, FanSpeed)
{
    auto row = [](const char* bytes, int decoded, int rpm, const char* encoded) {
        EXPECT_EQ(decodeFanSpeed(raw(hex(bytes))), decoded) << bytes;
        unsigned char out[3] = {0xAA, 0xAA, 0xAA};
        encodeFanSpeed(rpm, out);
        EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out), 3).toHex(), QByteArray(encoded) + "aa");
    };
    row("1770", 1500, 1500, "1770");
    row("1773", 1500, 1, "0004"); // the fraction is dropped
    row("ffff", 16383, 16383, "fffc");
    row("0100", 64, 64, "0100");
    row("0003", 0, 20000, "fffc"); // clamped
    row("0000", 0, -5, "0000");
}

TEST(SmcValues, Temperature)
{
    auto row = [](const char* bytes, double celsius, bool valid) {
        EXPECT_EQ(decodeTemperature(raw(hex(bytes))), celsius) << bytes;
        EXPECT_EQ(isValidTemperature(celsius), valid) << bytes;
    };
    row("2d80", 45.5, true);
    row("3240", 50.25, true);
    row("0000", 0.0, true);
    row("7fff", 127.99609375, true);
    row("8000", 128.0, false);
    row("ff00", 255.0, false); // the first byte is unsigned
}

TEST(SmcValues, FanModeMask)
{
    auto row = [](int before, int fan, bool manual, int after, bool fanManual) {
        SCOPED_TRACE(fan);
        EXPECT_EQ(withFanManual(uint8_t(before), fan, manual), after);
        unsigned char bytes[2] = {0xEE, 0xEE};
        encodeFanModeMask(uint8_t(after), bytes);
        EXPECT_EQ(bytes[0], 0);
        EXPECT_EQ(bytes[1], after);
        bytes[0] = 0xFF; // the first byte is ignored
        EXPECT_EQ(decodeFanModeMask(bytes), after);
        EXPECT_EQ(isFanManual(bytes, fan), fanManual);
    };
    row(0x00, 0, true, 0x01, true);
    row(0x00, 7, true, 0x80, true);
    row(0x07, 1, false, 0x05, false);
    row(0x04, 2, true, 0x04, true);
    row(0x00, 8, true, 0x00, false); // beyond the mask
    row(0xFF, 8, false, 0xFF, false);
    row(0xFF, -1, false, 0xFF, false);
}

TEST(SmcValues, Scalars)
{
    EXPECT_EQ(decodeKeyCount(raw(hex("0000012c"))), 300u);
    EXPECT_EQ(decodeKeyCount(raw(hex("80010203"))), 0x80010203u);
    EXPECT_EQ(decodeUnsignedByte(raw(hex("fe"))), 254);
    EXPECT_EQ(decodeFanIdentification(raw(QByteArray("\0\x10\0\0Left Side\0\0\0", 16))),
              QString("Left Side"));
    // Twelve name characters fill the field; nothing beyond byte 15 is read.
    EXPECT_EQ(decodeFanIdentification(raw("ABCDEFGHIJKLMNOPX")), QString("EFGHIJKLMNOP"));
}

TEST(SmcValues, KeyPacking)
{
    auto row = [](const char* key, uint32_t packed) {
        EXPECT_EQ(_strtoul(key, 4), packed);
        EXPECT_EQ(_strtoul(key, 2), packed >> 16);
        char text[6] = "zzzzz";
        _ultostr(text, packed);
        EXPECT_EQ(QByteArray(text, 5), QByteArray(key) + '\0');
    };
    row("#KEY", 0x234B4559u);
    row("FS! ", 0x46532120u);
    row("\xff\x80\x01T", 0xFF800154u);
}

TEST(SmcValues, HexText)
{
    auto row = [](const QByteArray& text, const char* reason) {
        QByteArray parsed("kept");
        QString error;
        EXPECT_EQ(parseHex(text, &parsed, &error), !*reason) << text.constData();
        EXPECT_EQ(error, QString(reason));
        if (*reason)
            EXPECT_EQ(parsed, QByteArray("kept"));
        else
            EXPECT_EQ(toHex(raw(parsed), parsed.size()), QString(text)) << "round trip";
    };
    row("1770", "");
    row("0123456789abcdef", "");
    row("", "");
    row(QByteArray(64, 'f'), "");
    row(QByteArray(66, '0'), "more than 32 bytes");
    row("177", "odd number of hexadecimal digits");
    row("17A0", "not a lower-case hexadecimal digit at position 3");
    row("1g", "not a lower-case hexadecimal digit at position 2");
    row(" 1", "not a lower-case hexadecimal digit at position 1");
}
