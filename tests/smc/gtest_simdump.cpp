// The key dump: the text form of a controller's key table that the simulator loads and the
// key tool lists, and the machine profiles around it.
#include "smc/sim/QSimProfile.h"
#include "smc/sim/SimDumpUtils.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace SimDumpUtils;

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
    row("Sxx8", "si8 ", "fe", "  Sxx8  [si8 ]  -2 (bytes fe)");
    row("#KEY", "ui32", "00010264", "  #KEY  [ui32]  66148 (bytes 00 01 02 64)");
    row("Sx32", "si32", "fffffffe", "  Sx32  [si32]  -2 (bytes ff ff ff fe)");
    row("MSDW", "flag", "02", "  MSDW  [flag]  true (bytes 02)");
    row("MSDW", "flag", "00", "  MSDW  [flag]  false (bytes 00)");
    row("MSDW", "flag", "", "  MSDW  [flag]  (bytes)");
    row("TCXC", "flt ", "00003642", "  TCXC  [flt ]  45.5 (bytes 00 00 36 42)");
    row("F0ID", "{fds", "001000004f4444000000000000000000",
        "  F0ID  [{fds]  \"ODD\" (bytes 00 10 00 00 4f 44 44 00 00 00 00 00 00 00 00 00)");
    row("RPlt", "ch8*", "2862797465732900",
        "  RPlt  [ch8*]  \"(bytes)\" (bytes 28 62 79 74 65 73 29 00)");
    row(" [x]", "hex_", "ff", "   [x]  [hex_]  (bytes ff)");
    row("OSK0", "ch8*", QByteArray(64, 'a').constData(), "");
}

TEST(SimDump, NumberCodec)
{
    auto row = [](const char* type, double value, const char* hex, double decoded) {
        QByteArray encoded(int(strlen(hex)) / 2, '\x55');
        EXPECT_TRUE(encodeNumber(type, value, encoded));
        EXPECT_EQ(encoded.toHex(), QByteArray(hex)) << type << value;
        double dBack = 0;
        EXPECT_TRUE(decodeNumber(type, encoded, dBack));
        EXPECT_EQ(dBack, decoded) << type << value;
    };
    row("sp78", 45.5, "2d80", 45.5);
    row("sp78", -1.0, "ff00", -1.0);
    row("sp78", 300.0, "7fff", 32767 / 256.0); // clamped
    row("fpe2", 1500.0, "1770", 1500.0);
    row("fpe2", -5.0, "0000", 0.0);
    row("sp96", 12.5, "0320", 12.5);
    row("ui8 ", 300.0, "ff", 255.0);
    row("si16", -2.0, "fffe", -2.0);
    row("flt ", 45.5, "00003642", 45.5); // little-endian
}

// Malformed dumps and profiles are refused with the file, the line and the reason, and leave
// the caller's data alone.
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
    row("d.dump", good + "  TC0D  [sp78]  (bytes 2d 800)\n", "\"800\"");
    row("d.dump", good + "  OSK0  [ch8*]  (bytes" + QByteArray(33, 'x').replace("x", " 61") + ")\n",
        "33");
    row("d.dump", good + "TC0  [sp78]  (bytes 2d 80)\n", "d.dump:4: ");
    row("d.dump", good + "x TC0D  [sp78]  (bytes 2d 80)\n", "d.dump:4: ");
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
    row("p.profile", machine + "[thermal]\nambient = x\n", "p.profile:4:");
    row("p.profile", machine + "[thermal]\nschedule = idle:10, busy:20\n", "p.profile:4:");
    row("p.profile", machine + "[thermal]\nfan.airflow = 1, -1\n", "p.profile:4:");
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
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), formatDump(keys));
}
