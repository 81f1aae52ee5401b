// The SMC value formats to the byte, the hexadecimal text handed to the key-writing tool, and
// the key dump, the text form of a key table that the simulator loads and the tool lists.
#include "sim/QSimProfile.h"
#include "sim/SimDumpUtils.h"
#include "smc/SmcValueUtils.h"
#include "smc/base/SmcCodecUtils.h"
#include "smc/base/SmcKeyToolUtils.h"

#include <cmath>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace SimDumpUtils;
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
    row("7fff", 127.99609375, true);
    row("8000", 128.0, false);
    row("ff00", 255.0, false); // the first byte is unsigned
}

// Every numeric type by its own type and size: (type, bytes, value) decodes, and the value
// encodes back to exactly those bytes, or to the bytes given (clamped or rounded; "" when
// refused: not a number, a size the type does not have, a type that is not numeric).
TEST(SmcValues, NumbersByType)
{
    auto row = [](const char* type, const char* bytes, double value, const char* encoded = "=") {
        SCOPED_TRACE(std::string(type) + " " + bytes);
        const QByteArray in = hex(bytes);
        double decoded = -12345;
        const bool bNumeric = SmcCodecUtils::decodeNumber(type, in.toStdString(), decoded);
        if (QByteArray(encoded) == "=" || !std::isfinite(value)) { // else an encoding-only row
            EXPECT_EQ(bNumeric, std::isfinite(value));
            EXPECT_EQ(decoded, bNumeric ? value : -12345);
        }
        QByteArray out(in.size(), char(0xAA));
        const bool bEncoded = SmcCodecUtils::encodeNumber(
            type, value, reinterpret_cast<unsigned char*>(out.data()), size_t(out.size()));
        const QByteArray expected =
            QByteArray(encoded) == "=" ? QByteArray(bytes) : QByteArray(encoded);
        EXPECT_EQ(bEncoded ? out.toHex() : QByteArray(), expected);
    };
    row("fpe2", "1770", 1500);
    row("fpe2", "fffd", 16383.25);
    row("fpe2", "0000", -3, "0000"); // clamped to the range
    row("sp78", "2d80", 45.5);
    row("sp78", "8000", -128);
    row("sp78", "7fff", 127.99609375);
    row("sp78", "7fff", 300, "7fff");
    row("fp88", "ff00", 255);
    row("sp5a", "0400", 1);
    row("ui8 ", "ff", 255);
    row("ui16", "ffff", 65535);
    row("ui32", "80000001", 2147483649.0);
    row("si8 ", "80", -128);
    row("si16", "fffe", -2);
    row("si32", "7fffffff", 2147483647);
    row("ui8 ", "01", 1.4, "01"); // rounded
    row("flag", "01", 1);
    row("flag", "00", 0);
    row("flt ", "00c0c644", 1590);
    row("flt ", "0000c0ff", NAN, ""); // NaN is no reading
    row("ioft", "0000300000000000", 48);
    row("ioft", "0080310000000000", 49.5);
    row("ui16", "ff", NAN, ""); // a size the type does not have
    row("flt ", "00c044", NAN, "");
    row("ch8*", "41", NAN, "");
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

// A caller of the set-user-ID tool may shorten its watch's silence limit, never lengthen it.
TEST(SmcKeyTool, SilenceLimitOnlyShorter)
{
    const std::pair<const char*, int> rows[] = {{nullptr, 10000}, {"2000", 2000}, {"100", 100},
                                                {"99", 10000},    {"9999", 9999}, {"10000", 10000},
                                                {"2000x", 10000}, {"-1", 10000}};
    for (const auto& [env, nMs] : rows)
        EXPECT_EQ(SmcKeyToolUtils::silenceLimitMs(env), nMs) << (env ? env : "unset");
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
    row("", "");
    row(QByteArray(64, 'f'), "");
    row(QByteArray(66, '0'), "more than 32 bytes");
    row("177", "odd number of hexadecimal digits");
    row("17A0", "not a lower-case hexadecimal digit at position 3");
    row("1g", "not a lower-case hexadecimal digit at position 2");
}

TEST(SimDump, FormatAndParse)
{
    auto row = [](const char* key, const char* type, const char* hex, const char* line) {
        const QByteArray bytes = QByteArray::fromHex(hex);
        const QByteArray formatted = formatDumpLine(key, type, bytes);
        EXPECT_EQ(*line ? formatted : QByteArray(), QByteArray(line));
        QSimKey parsed;
        EXPECT_EQ(parseDumpLine(formatted, parsed, nullptr), 1) << formatted.constData();
        EXPECT_EQ(parsed.key + parsed.type, QByteArray(key) + type);
        EXPECT_EQ(parsed.bytes, bytes) << key;
    };
    row("TC0P", "sp78", "2d80", "  TC0P  [sp78]  45.5 (bytes 2d 80)");
    row("TA0P", "sp78", "ff40", "  TA0P  [sp78]  -0.75 (bytes ff 40)");
    row("F0Ac", "fpe2", "1773", "  F0Ac  [fpe2]  1500.75 (bytes 17 73)");
    row("FS! ", "ui16", "0103", "  FS!   [ui16]  259 (bytes 01 03)");
    row("FNum", "ui8 ", "fe", "  FNum  [ui8 ]  254 (bytes fe)");
    row("#KEY", "ui32", "00010264", "  #KEY  [ui32]  66148 (bytes 00 01 02 64)");
    row("MSDW", "flag", "02", "  MSDW  [flag]  true (bytes 02)");
    row("MSDW", "flag", "", "  MSDW  [flag]  (bytes)");
    row("TCXC", "flt ", "00003642", "  TCXC  [flt ]  45.5 (bytes 00 00 36 42)");
    row("F0ID", "{fds", "001000004f4444000000000000000000",
        "  F0ID  [{fds]  \"ODD\" (bytes 00 10 00 00 4f 44 44 00 00 00 00 00 00 00 00 00)");
    row("RPlt", "ch8*", "2862797465732900",
        "  RPlt  [ch8*]  \"(bytes)\" (bytes 28 62 79 74 65 73 29 00)");
    row(" [x]", "hex_", "ff", "   [x]  [hex_]  (bytes ff)");
    row("OSK0", "ch8*", QByteArray(64, 'a').constData(), "");
}

// Malformed dumps and profiles: file, line and reason, and the caller's data left alone.
TEST(SimDump, BadInputIsNamed)
{
    QTemporaryDir dir;
    auto row = [&dir](const char* file, const QByteArray& text, const char* reason) {
        QString error;
        if (QByteArray(file).endsWith(".dump")) {
            QVector<QSimKey> keys = {QSimKey{"KEEP", "ui8 ", "\x01", 0}};
            EXPECT_FALSE(parseDump(text, file, keys, &error));
            EXPECT_EQ(keys.size(), 1);
        } else {
            QFile out(dir.filePath(file));
            EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
            out.close();
            QSimProfile profile;
            profile.model = "unchanged";
            EXPECT_FALSE(QSimProfile::load(out.fileName(), profile, &error));
            EXPECT_EQ(profile.model, QString("unchanged"));
        }
        EXPECT_TRUE(error.contains(reason)) << error.toStdString();
    };
    const QByteArray good = "# a machine\n  TC0P  [sp78]  (bytes 2d 80)\n\n";
    row("d.dump", good + "  TC0D  [sp78]  45.5\n", "d.dump:4: ");
    row("d.dump", good + "  TC0D  [sp78]  (bytes 2d 8g)\n", "d.dump:4: \"8g\"");
    row("d.dump", good + "  OSK0  [ch8*]  (bytes" + QByteArray(33, 'x').replace("x", " 61") + ")\n",
        "33");
    row("d.dump", good + "TC0  [sp78]  (bytes 2d 80)\n", "d.dump:4: ");
    row("d.dump", good + "  TC0D  [sp78]  (bytes 2d 80)\n  TC0P  [sp78]  (bytes 2e 80)\n",
        "d.dump:5: ");
    row("d.dump",
        good + "  T\x01"
               "0D  [sp78]  (bytes 2d 80)\n",
        "printable");
    row("d.dump", QByteArray("\x00\xff\xfe)", 4), "d.dump:1: ");
    const QByteArray machine = "[machine]\ndump = a.dump\n";
    row("p.profile", "[machine]\nmodel = X1,1\n", "names no dump");
    row("p.profile", machine + "[thermal]\nfoo = 1\n", "p.profile:4:");
    row("p.profile", machine + "[thermal]\nauto.low = 80\nauto.high = 60\n", "auto.high");
}

TEST(SimDump, TableIsSortedAndSavedByteExact)
{
    const QByteArray text = "  tTHM  [ui8 ]  (bytes 00)\r\n# comment\n"
                            "  #KEY  [ui32]  999 (bytes 00 00 03 e7)\n   \t \n"
                            "  TC0P  [sp78]  (bytes 2d 80)\nTA0P  [sp78]  (bytes 20 00)\n"
                            "  FS!   [ui16]  (bytes 00 00)\n  $Num  [ui8 ]  (bytes 01)\n";
    QVector<QSimKey> keys;
    QString error;
    ASSERT_TRUE(parseDump(text, "t.dump", keys, &error)) << error.toStdString();
    QByteArray order;
    for (const QSimKey& key : keys)
        order += key.key + ',';
    EXPECT_EQ(order, "#KEY,$Num,FS! ,TA0P,TC0P,tTHM,");
    EXPECT_EQ(keys.first().bytes.toHex(), "00000006"); // counts itself, not 999
    QTemporaryDir dir;
    const QString path = dir.filePath("copy.dump");
    ASSERT_TRUE(saveDumpFile(path, keys, &error)) << error.toStdString();
    QVector<QSimKey> again;
    ASSERT_TRUE(loadDumpFile(path, again, &error)) << error.toStdString();
    EXPECT_EQ(formatDump(again), formatDump(keys));
}
