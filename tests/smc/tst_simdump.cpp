// The key dump: the text form of a controller's key table that the simulator loads and the
// key tool lists, and the machine profiles around it.
#include "smc/sim/QSimProfile.h"
#include "smc/sim/SimDumpUtils.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace SimDumpUtils;

class TestSimDump : public QObject
{
    Q_OBJECT

private slots:
    void formatAndParse_data();
    void formatAndParse();
    void numberCodec_data();
    void numberCodec();
    void badInputIsNamed_data();
    void badInputIsNamed();
    void tableIsSortedAndSavedByteExact();
    void shippedProfilesLoad();
};

void TestSimDump::formatAndParse_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("line"); // empty: only the round trip is checked
    QTest::newRow("sp78") << QByteArray("TC0P") << QByteArray("sp78") << QByteArray("\x2d\x80")
                          << QByteArray("  TC0P  [sp78]  45.5 (bytes 2d 80)");
    QTest::newRow("sp78 negative")
        << QByteArray("TA0P") << QByteArray("sp78") << QByteArray("\xff\x40")
        << QByteArray("  TA0P  [sp78]  -0.75 (bytes ff 40)");
    QTest::newRow("fpe2") << QByteArray("F0Ac") << QByteArray("fpe2") << QByteArray("\x17\x73")
                          << QByteArray("  F0Ac  [fpe2]  1500.75 (bytes 17 73)");
    QTest::newRow("mask") << QByteArray("FS! ") << QByteArray("ui16") << QByteArray("\x01\x03")
                          << QByteArray("  FS!   [ui16]  259 (bytes 01 03)");
    QTest::newRow("ui8") << QByteArray("FNum") << QByteArray("ui8 ") << QByteArray("\xfe")
                         << QByteArray("  FNum  [ui8 ]  254 (bytes fe)");
    QTest::newRow("si8") << QByteArray("Sxx8") << QByteArray("si8 ") << QByteArray("\xfe")
                         << QByteArray("  Sxx8  [si8 ]  -2 (bytes fe)");
    QTest::newRow("ui32") << QByteArray("#KEY") << QByteArray("ui32")
                          << QByteArray("\x00\x01\x02\x64", 4)
                          << QByteArray("  #KEY  [ui32]  66148 (bytes 00 01 02 64)");
    QTest::newRow("si32") << QByteArray("Sx32") << QByteArray("si32")
                          << QByteArray("\xff\xff\xff\xfe")
                          << QByteArray("  Sx32  [si32]  -2 (bytes ff ff ff fe)");
    QTest::newRow("flag set") << QByteArray("MSDW") << QByteArray("flag") << QByteArray("\x02")
                              << QByteArray("  MSDW  [flag]  true (bytes 02)");
    QTest::newRow("flag clear") << QByteArray("MSDW") << QByteArray("flag") << QByteArray(1, 0)
                                << QByteArray("  MSDW  [flag]  false (bytes 00)");
    QTest::newRow("size 0") << QByteArray("MSDW") << QByteArray("flag") << QByteArray()
                            << QByteArray("  MSDW  [flag]  (bytes)");
    QTest::newRow("flt") << QByteArray("TCXC") << QByteArray("flt ")
                         << QByteArray("\x00\x00\x36\x42", 4)
                         << QByteArray("  TCXC  [flt ]  45.5 (bytes 00 00 36 42)");
    QTest::newRow("fan name") << QByteArray("F0ID") << QByteArray("{fds")
                              << QByteArray("\x00\x10\x00\x00ODD\0\0\0\0\0\0\0\0\0", 16)
                              << QByteArray("  F0ID  [{fds]  \"ODD\" (bytes 00 10 00 00 4f 44 44 "
                                            "00 00 00 00 00 00 00 00 00)");
    QTest::newRow("text with a line end")
        << QByteArray("RPlt") << QByteArray("ch8*") << QByteArray("(bytes)\n") << QByteArray();
    QTest::newRow("blank-led key") << QByteArray(" [x]") << QByteArray("hex_") << QByteArray("\xff")
                                   << QByteArray("   [x]  [hex_]  (bytes ff)");
    QTest::newRow("32 bytes") << QByteArray("OSK0") << QByteArray("ch8*") << QByteArray(32, 'a')
                              << QByteArray();
}

void TestSimDump::formatAndParse()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, line);
    const QByteArray formatted = formatDumpLine(key, type, bytes);
    if (!line.isEmpty())
        QCOMPARE(formatted, line);
    QVERIFY(!formatted.contains('\n'));
    QSimKey parsed;
    QCOMPARE(parseDumpLine(formatted, parsed, nullptr), 1);
    QCOMPARE(parsed.key, key);
    QCOMPARE(parsed.type, type);
    QCOMPARE(parsed.bytes.toHex(), bytes.toHex());
}

void TestSimDump::numberCodec_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("decoded");
    QTest::newRow("sp78") << QByteArray("sp78") << 45.5 << QByteArray("\x2d\x80") << 45.5;
    QTest::newRow("sp78 negative")
        << QByteArray("sp78") << -1.0 << QByteArray("\xff\x00", 2) << -1.0;
    QTest::newRow("sp78 clamps") << QByteArray("sp78") << 300.0 << QByteArray("\x7f\xff")
                                 << 32767 / 256.0;
    QTest::newRow("fpe2") << QByteArray("fpe2") << 1500.0 << QByteArray("\x17\x70") << 1500.0;
    QTest::newRow("fpe2 clamps at 0") << QByteArray("fpe2") << -5.0 << QByteArray(2, 0) << 0.0;
    QTest::newRow("fpe2 top") << QByteArray("fpe2") << 16383.75 << QByteArray("\xff\xff")
                              << 16383.75;
    QTest::newRow("sp96") << QByteArray("sp96") << 12.5 << QByteArray("\x03\x20") << 12.5;
    QTest::newRow("ui16") << QByteArray("ui16") << 258.0 << QByteArray("\x01\x02") << 258.0;
    QTest::newRow("ui8 clamps") << QByteArray("ui8 ") << 300.0 << QByteArray("\xff") << 255.0;
    QTest::newRow("si16") << QByteArray("si16") << -2.0 << QByteArray("\xff\xfe") << -2.0;
    QTest::newRow("flt little-endian")
        << QByteArray("flt ") << 45.5 << QByteArray("\x00\x00\x36\x42", 4) << 45.5;
}

void TestSimDump::numberCodec()
{
    QFETCH(QByteArray, type);
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    QFETCH(double, decoded);
    QByteArray encoded(bytes.size(), '\x55');
    QVERIFY(encodeNumber(type, value, encoded));
    QCOMPARE(encoded.toHex(), bytes.toHex());
    double dBack = 0;
    QVERIFY(decodeNumber(type, encoded, dBack));
    QCOMPARE(dBack, decoded);
}

void TestSimDump::badInputIsNamed_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");
    const QByteArray good = "# a machine\n  TC0P  [sp78]  (bytes 2d 80)\n\n";
    QTest::newRow("no bytes") << "d.dump" << good + "  TC0D  [sp78]  45.5\n"
                              << "d.dump:4: ";
    QTest::newRow("bad hex") << "d.dump" << good + "  TC0D  [sp78]  (bytes 2d 8g)\n"
                             << "8g";
    QTest::newRow("three digits") << "d.dump" << good + "  TC0D  [sp78]  (bytes 2d 800)\n"
                                  << "800";
    QTest::newRow("33 bytes") << "d.dump"
                              << good + "  OSK0  [ch8*]  (bytes" +
                                     QByteArray(33, 'x').replace("x", " 61") + ")\n"
                              << "33";
    QTest::newRow("short key") << "d.dump" << good + "TC0  [sp78]  (bytes 2d 80)\n"
                               << "d.dump:4: ";
    QTest::newRow("text before the key") << "d.dump" << good + "x TC0D  [sp78]  (bytes 2d 80)\n"
                                         << "d.dump:4: ";
    QTest::newRow("duplicate key")
        << "d.dump" << good + "  TC0D  [sp78]  (bytes 2d 80)\n  TC0P  [sp78]  (bytes 2e 80)\n"
        << "d.dump:5: ";
    QTest::newRow("control character") << "d.dump"
                                       << good + "  T\x01"
                                                 "0D  [sp78]  (bytes 2d 80)\n"
                                       << "printable";
    QTest::newRow("binary garbage") << "d.dump" << QByteArray("\x00\xff\xfe)", 4) << "d.dump:1: ";
    const QByteArray machine = "[machine]\ndump = a.dump\n";
    QTest::newRow("profile without dump")
        << "p.profile" << QByteArray("[machine]\nmodel = X1,1\n") << "names no dump";
    QTest::newRow("unknown entry") << "p.profile" << machine + "[thermal]\nfoo = 1\n"
                                   << "p.profile:4:";
    QTest::newRow("bad number") << "p.profile" << machine + "[thermal]\nambient = x\n"
                                << "p.profile:4:";
    QTest::newRow("bad schedule") << "p.profile"
                                  << machine + "[thermal]\nschedule = idle:10, busy:20\n"
                                  << "p.profile:4:";
    QTest::newRow("negative airflow") << "p.profile" << machine + "[thermal]\nfan.airflow = 1, -1\n"
                                      << "p.profile:4:";
    QTest::newRow("auto range backwards")
        << "p.profile" << machine + "[thermal]\nauto.low = 80\nauto.high = 60\n"
        << "auto.high";
}

// Malformed dumps and profiles are refused with the file, the line and the reason, and leave
// the caller's data alone.
void TestSimDump::badInputIsNamed()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    QString error;
    if (file.endsWith(".dump")) {
        QVector<QSimKey> keys = {QSimKey{"KEEP", "ui8 ", "\x01", 0}};
        QVERIFY(!parseDump(text, file, keys, &error));
        QCOMPARE(keys.size(), 1);
        QVERIFY2(error.startsWith(file + ":"), qPrintable(error));
    } else {
        QTemporaryDir dir;
        QFile out(dir.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
        out.close();
        QSimProfile profile;
        profile.model = "unchanged";
        QVERIFY(!QSimProfile::load(out.fileName(), profile, &error));
        QCOMPARE(profile.model, QString("unchanged"));
    }
    QVERIFY2(error.contains(reason), qPrintable(error));
}

void TestSimDump::tableIsSortedAndSavedByteExact()
{
    const QByteArray text = "  tTHM  [ui8 ]  (bytes 00)\r\n# comment\n"
                            "  #KEY  [ui32]  999 (bytes 00 00 03 e7)\n   \t \n"
                            "  TC0P  [sp78]  (bytes 2d 80)\nTA0P  [sp78]  (bytes 20 00)\n"
                            "  FS!   [ui16]  (bytes 00 00)\n  $Num  [ui8 ]  (bytes 01)\n";
    QVector<QSimKey> keys;
    QString error;
    QVERIFY2(parseDump(text, "t.dump", keys, &error), qPrintable(error));
    QStringList order;
    for (const QSimKey& key : keys)
        order << QString::fromLatin1(key.key);
    QCOMPARE(order, QStringList({"#KEY", "$Num", "FS! ", "TA0P", "TC0P", "tTHM"}));
    QCOMPARE(keys.first().bytes.toHex(), QByteArray("00000006")); // counts itself, not 999

    QTemporaryDir dir;
    const QString path = dir.filePath("copy.dump");
    QVERIFY2(saveDumpFile(path, keys, &error), qPrintable(error));
    QVector<QSimKey> again;
    QVERIFY2(loadDumpFile(path, again, &error), qPrintable(error));
    QCOMPARE(formatDump(again), formatDump(keys));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), formatDump(keys));
}

// Every shipped profile loads, its dump is sorted and each of its fans has its keys.
void TestSimDump::shippedProfilesLoad()
{
    const QDir dir(TestSupport::profilesDir());
    const QStringList files = dir.entryList({"*.profile"}, QDir::Files);
    QVERIFY(files.size() >= 4);
    for (const QString& file : files) {
        QSimProfile profile;
        QString error;
        QVERIFY2(QSimProfile::load(dir.filePath(file), profile, &error), qPrintable(error));
        QCOMPARE(profile.model + ".profile", file);
        QVector<QSimKey> keys;
        QVERIFY2(loadDumpFile(profile.dumpPath, keys, &error), qPrintable(error));
        QHash<QByteArray, QSimKey> byKey;
        for (int i = 0; i < keys.size(); ++i) {
            byKey.insert(keys.at(i).key, keys.at(i));
            QVERIFY(i == 0 || packCode(keys.at(i - 1).key) < packCode(keys.at(i).key));
        }
        QVERIFY(keys.size() > 200);
        const int nFans = byKey.value("FNum").bytes.at(0);
        QVERIFY(nFans >= 1);
        for (int i = 0; i < nFans; ++i) {
            for (const char* suffix : {"Ac", "Mn", "Mx", "Tg"})
                QCOMPARE(byKey.value("F" + QByteArray::number(i) + suffix).type,
                         QByteArray("fpe2"));
        }
    }
}

QTEST_GUILESS_MAIN(TestSimDump)
#include "tst_simdump.moc"
