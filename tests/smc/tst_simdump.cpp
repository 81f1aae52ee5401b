// The key dump: the text form of a controller's key table that the simulator loads and the
// key tool lists.

#include "smc/sim/QSimProfile.h"
#include "smc/sim/SimDumpUtils.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace SimDumpUtils;

class TestSimDump : public QObject
{
    Q_OBJECT

private slots:
    void formatAndParseRoundTrip_data();
    void formatAndParseRoundTrip();
    void numberCodec_data();
    void numberCodec();
    void badLinesNameFileAndLine_data();
    void badLinesNameFileAndLine();
    void tableIsSortedWithDerivedKeyCount();
    void savedDumpReadsBackByteExact();
    void shippedProfilesLoad_data();
    void shippedProfilesLoad();
    void profileErrors_data();
    void profileErrors();
};

void TestSimDump::formatAndParseRoundTrip_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("line"); // empty: only the round trip is checked

    QTest::newRow("sp78") << QByteArray("TC0P") << QByteArray("sp78") << QByteArray("\x2d\x80", 2)
                          << QByteArray("  TC0P  [sp78]  45.5 (bytes 2d 80)");
    QTest::newRow("fan speed") << QByteArray("F0Ac") << QByteArray("fpe2")
                               << QByteArray("\x17\x70", 2)
                               << QByteArray("  F0Ac  [fpe2]  1500 (bytes 17 70)");
    QTest::newRow("key ending in a blank")
        << QByteArray("FS! ") << QByteArray("ui16") << QByteArray("\x00\x03", 2)
        << QByteArray("  FS!   [ui16]  3 (bytes 00 03)");
    QTest::newRow("type ending in a blank")
        << QByteArray("FNum") << QByteArray("ui8 ") << QByteArray("\x02", 1)
        << QByteArray("  FNum  [ui8 ]  2 (bytes 02)");
    QTest::newRow("key count key")
        << QByteArray("#KEY") << QByteArray("ui32") << QByteArray("\x00\x00\x02\x64", 4)
        << QByteArray("  #KEY  [ui32]  612 (bytes 00 00 02 64)");
    QTest::newRow("size 0") << QByteArray("MSDW") << QByteArray("flag") << QByteArray()
                            << QByteArray("  MSDW  [flag]  (bytes)");
    QTest::newRow("fan name") << QByteArray("F0ID") << QByteArray("{fds")
                              << QByteArray("\x00\x10\x00\x00"
                                            "ODD\0\0\0\0\0\0\0\0\0",
                                            16)
                              << QByteArray("  F0ID  [{fds]  \"ODD\" (bytes 00 10 00 00 4f 44 44 "
                                            "00 00 00 00 00 00 00 00 00)");
    QTest::newRow("text that looks like the end of a line")
        << QByteArray("RPlt") << QByteArray("ch8*") << QByteArray("(bytes)\n", 8) << QByteArray();
    QTest::newRow("leading blank and punctuation in the key")
        << QByteArray(" [x]") << QByteArray("hex_") << QByteArray("\xff", 1)
        << QByteArray("   [x]  [hex_]  (bytes ff)");
    QTest::newRow("32 bytes") << QByteArray("OSK0") << QByteArray("ch8*") << QByteArray(32, 'a')
                              << QByteArray();
    QTest::newRow("unknown type") << QByteArray("LSSB") << QByteArray("{lso")
                                  << QByteArray("\x01\x02", 2)
                                  << QByteArray("  LSSB  [{lso]  (bytes 01 02)");
}

void TestSimDump::formatAndParseRoundTrip()
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
    QString reason;
    QCOMPARE(parseDumpLine(formatted, parsed, &reason), 1);
    QCOMPARE(parsed.key, key);
    QCOMPARE(parsed.type, type);
    QCOMPARE(parsed.bytes, bytes);
    QCOMPARE(formatDumpLine(parsed.key, parsed.type, parsed.bytes), formatted);
}

void TestSimDump::numberCodec_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("decoded");

    QTest::newRow("sp78") << QByteArray("sp78") << 45.5 << QByteArray("\x2d\x80", 2) << 45.5;
    QTest::newRow("sp78 negative")
        << QByteArray("sp78") << -1.0 << QByteArray("\xff\x00", 2) << -1.0;
    QTest::newRow("sp78 clamps") << QByteArray("sp78") << 300.0 << QByteArray("\x7f\xff", 2)
                                 << 32767 / 256.0;
    QTest::newRow("fpe2 1500") << QByteArray("fpe2") << 1500.0 << QByteArray("\x17\x70", 2)
                               << 1500.0;
    QTest::newRow("fpe2 clamps below 0")
        << QByteArray("fpe2") << -5.0 << QByteArray("\x00\x00", 2) << 0.0;
    QTest::newRow("fpe2 top") << QByteArray("fpe2") << 16383.75 << QByteArray("\xff\xff", 2)
                              << 16383.75;
    QTest::newRow("sp96") << QByteArray("sp96") << 12.5 << QByteArray("\x03\x20", 2) << 12.5;
    QTest::newRow("ui16") << QByteArray("ui16") << 258.0 << QByteArray("\x01\x02", 2) << 258.0;
    QTest::newRow("ui8 clamps") << QByteArray("ui8 ") << 300.0 << QByteArray("\xff", 1) << 255.0;
    QTest::newRow("si16") << QByteArray("si16") << -2.0 << QByteArray("\xff\xfe", 2) << -2.0;
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

void TestSimDump::badLinesNameFileAndLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");

    const QByteArray good = "# a machine\n  TC0P  [sp78]  (bytes 2d 80)\n\n";
    QTest::newRow("no bytes") << good + "  TC0D  [sp78]  45.5\n" << 4 << "(bytes";
    QTest::newRow("bad hex") << good + "  TC0D  [sp78]  (bytes 2d 8g)\n" << 4 << "8g";
    QTest::newRow("three-digit byte") << good + "  TC0D  [sp78]  (bytes 2d 800)\n" << 4 << "800";
    QTest::newRow("33 bytes") << good + "  OSK0  [ch8*]  (bytes" +
                                     QByteArray(33, 'x').replace("x", " 61") + ")\n"
                              << 4 << "33";
    // Indented, "TC0" would read as the key " TC0": keys may begin with a blank.
    QTest::newRow("short key") << good + "TC0  [sp78]  (bytes 2d 80)\n" << 4 << "key";
    QTest::newRow("type without brackets") << good + "  TC0D  sp78  (bytes 2d 80)\n" << 4 << "key";
    QTest::newRow("text before the key") << good + "x TC0D  [sp78]  (bytes 2d 80)\n" << 4 << "key";
    QTest::newRow("duplicate key") << good + "  TC0D  [sp78]  (bytes 2d 80)\n"
                                             "  TC0P  [sp78]  (bytes 2e 80)\n"
                                   << 5 << "line 2";
    QTest::newRow("control character in the key") << good + "  T\x01"
                                                            "0D  [sp78]  (bytes 2d 80)\n"
                                                  << 4 << "printable";
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe)", 4) << 1 << "(bytes";
}

void TestSimDump::badLinesNameFileAndLine()
{
    QFETCH(QByteArray, text);
    QFETCH(int, line);
    QFETCH(QString, reason);

    QVector<QSimKey> keys = {QSimKey{"KEEP", "ui8 ", "\x01", 0}};
    QString error;
    QVERIFY(!parseDump(text, "broken.dump", keys, &error));
    QVERIFY2(error.startsWith(QStringLiteral("broken.dump:%1: ").arg(line)), qPrintable(error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QCOMPARE(keys.size(), 1); // the caller's table is left alone
}

void TestSimDump::tableIsSortedWithDerivedKeyCount()
{
    const QByteArray text = "  tTHM  [ui8 ]  (bytes 00)\r\n"
                            "# comment in the first column\n"
                            "  #KEY  [ui32]  999 (bytes 00 00 03 e7)\n"
                            "   \t \n"
                            "  TC0P  [sp78]  (bytes 2d 80)\n"
                            "TA0P  [sp78]  (bytes 20 00)\n"
                            "  FS!   [ui16]  (bytes 00 00)\n"
                            "  Tm0P  [sp78]  (bytes 2a 00)\n"
                            "  $Num  [ui8 ]  (bytes 01)\n";
    QVector<QSimKey> keys;
    QString error;
    QVERIFY2(parseDump(text, "t.dump", keys, &error), qPrintable(error));
    QStringList order;
    for (const QSimKey& key : keys)
        order << QString::fromLatin1(key.key);
    QCOMPARE(order, QStringList({"#KEY", "$Num", "FS! ", "TA0P", "TC0P", "Tm0P", "tTHM"}));
    QCOMPARE(keys.first().bytes.toHex(), QByteArray("00000007")); // counts itself, not 999
}

void TestSimDump::savedDumpReadsBackByteExact()
{
    QVector<QSimKey> keys;
    QString error;
    QVERIFY2(loadDumpFile(TestSupport::profilesDir() + "/iMac13,1.dump", keys, &error),
             qPrintable(error));
    QTemporaryDir dir;
    const QString path = dir.filePath("copy.dump");
    QVERIFY2(saveDumpFile(path, keys, &error), qPrintable(error));
    QVector<QSimKey> again;
    QVERIFY2(loadDumpFile(path, again, &error), qPrintable(error));
    QCOMPARE(again.size(), keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(again.at(i).key, keys.at(i).key);
        QCOMPARE(again.at(i).type, keys.at(i).type);
        QCOMPARE(again.at(i).bytes, keys.at(i).bytes);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), formatDump(again));
}

void TestSimDump::shippedProfilesLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<QStringList>("sensors"); // keys the program looks for on this machine

    QTest::newRow("laptop") << "MacBookPro8,2" << QStringList({"Left Side", "Right Side"})
                            << QStringList({"TC0P", "TC0D", "TB0T", "TG0D", "Ts0P"});
    QTest::newRow("all-in-one") << "iMac13,1" << QStringList({"ODD", "HDD", "CPU"})
                                << QStringList({"TA0p", "TC0c", "TC1c", "TL0p"});
    QTest::newRow("tower") << "MacPro4,1"
                           << QStringList({"PCI", "PS", "EXHAUST", "INTAKE", "BOOSTA", "BOOSTB"})
                           << QStringList({"TH1P", "TH2P", "TH3P", "TH4P", "TC0C", "TC1C", "TC2C",
                                           "TC3C", "TN0H"});
    QTest::newRow("compact") << "Macmini5,1" << QStringList({"Exhaust"})
                             << QStringList({"TC0P", "TC0C", "TM0S"});
}

void TestSimDump::shippedProfilesLoad()
{
    QFETCH(QString, name);
    QFETCH(QStringList, fans);
    QFETCH(QStringList, sensors);

    QSimProfile profile;
    QString error;
    const QString path = QSimProfile::find(name, {TestSupport::profilesDir()});
    QVERIFY2(QSimProfile::load(path, profile, &error), qPrintable(error));
    QCOMPARE(profile.model, name);
    QVector<QSimKey> keys;
    QVERIFY2(loadDumpFile(profile.dumpPath, keys, &error), qPrintable(error));

    QHash<QByteArray, QSimKey> byKey;
    int nOther = 0, nDead = 0, nLowerT = 0, nOddT = 0;
    for (int i = 0; i < keys.size(); ++i) {
        const QSimKey& key = keys.at(i);
        byKey.insert(key.key, key);
        if (i > 0)
            QVERIFY(packCode(keys.at(i - 1).key) < packCode(key.key));
        nOther += !key.key.startsWith('T');
        nLowerT += key.key.startsWith('t');
        nOddT += key.key.startsWith('T') && key.type != "sp78";
        nDead += key.key.startsWith('T') && key.type == "sp78" && key.bytes == QByteArray(2, 0);
    }
    QVERIFY2(nOther >= 200, qPrintable(QString::number(nOther)));
    QVERIFY(nLowerT > 0);
    QVERIFY(nOddT > 0);
    QVERIFY(nDead > 0);
    QCOMPARE(byKey.value("FNum").bytes, QByteArray(1, static_cast<char>(fans.size())));
    for (int i = 0; i < fans.size(); ++i) {
        const QSimKey id = byKey.value(QByteArray("F") + QByteArray::number(i) + "ID");
        QCOMPARE(id.type, QByteArray("{fds"));
        QCOMPARE(id.bytes.size(), 16);
        QCOMPARE(QString::fromLatin1(id.bytes.mid(4).constData()), fans.at(i));
        for (const char* suffix : {"Ac", "Mn", "Mx", "Tg"})
            QCOMPARE(byKey.value(QByteArray("F") + QByteArray::number(i) + suffix).type,
                     QByteArray("fpe2"));
    }
    for (const QString& sensor : sensors) {
        const QSimKey key = byKey.value(sensor.toLatin1());
        QCOMPARE(key.type, QByteArray("sp78"));
        QVERIFY2(key.bytes.size() == 2 && static_cast<quint8>(key.bytes.at(0)) > 0 &&
                     static_cast<quint8>(key.bytes.at(0)) < 0x80,
                 qPrintable(sensor));
    }
}

void TestSimDump::profileErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no dump") << QByteArray("[machine]\nmodel = X1,1\n") << "names no dump";
    QTest::newRow("unknown entry")
        << QByteArray("[machine]\ndump = a.dump\n[thermal]\nfoo = 1\n") << "p.profile:4:";
    QTest::newRow("bad number") << QByteArray("[machine]\ndump = a.dump\n[thermal]\nambient = x\n")
                                << "p.profile:4:";
    QTest::newRow("bad schedule")
        << QByteArray("[machine]\ndump = a.dump\n[thermal]\nschedule = idle:10, busy:20\n")
        << "p.profile:4:";
    QTest::newRow("negative airflow share")
        << QByteArray("[machine]\ndump = a.dump\n[thermal]\nfan.airflow = 1, -1\n")
        << "p.profile:4:";
    QTest::newRow("sensor without time constant")
        << QByteArray("[machine]\ndump = a.dump\n[sensors]\nTC* = 30\n") << "p.profile:4:";
    QTest::newRow("auto range backwards")
        << QByteArray("[machine]\ndump = a.dump\n[thermal]\nauto.low = 80\nauto.high = 60\n")
        << "auto.high";
}

void TestSimDump::profileErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QFile file(dir.filePath("p.profile"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QSimProfile profile;
    profile.model = "unchanged";
    QString error;
    QVERIFY(!QSimProfile::load(file.fileName(), profile, &error));
    QVERIFY2(error.contains(expected), qPrintable(error));
    QCOMPARE(profile.model, QString("unchanged"));
}

QTEST_GUILESS_MAIN(TestSimDump)
#include "tst_simdump.moc"
