// The SMC value codec: the byte layouts every other part of the program relies on.
#include "smc/SmcValueUtils.h"

#include <QtTest>

using namespace SmcValueUtils;

class TestSmcValues : public QObject
{
    Q_OBJECT

private slots:
    void fanSpeedDecode_data();
    void fanSpeedDecode();
    void fanSpeedEncode_data();
    void fanSpeedEncode();
    void temperature_data();
    void temperature();
    void fanModeMask_data();
    void fanModeMask();
    void withFanManual_data();
    void withFanManual();
    void scalars();
    void fanIdentification_data();
    void fanIdentification();
    void keyPacking_data();
    void keyPacking();
    void validKey_data();
    void validKey();
    void hexRoundTrip_data();
    void hexRoundTrip();
    void hexRejects_data();
    void hexRejects();
};

static QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray result;
    for (int b : list)
        result.append(static_cast<char>(b));
    return result;
}

static const unsigned char* u(const QByteArray& array)
{
    return reinterpret_cast<const unsigned char*>(array.constData());
}

void TestSmcValues::fanSpeedDecode_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("rpm");
    QTest::newRow("1500 rpm") << bytes({0x17, 0x70}) << 1500;
    QTest::newRow("all ones") << bytes({0xFF, 0xFF}) << 16383;
    QTest::newRow("zero") << bytes({0x00, 0x00}) << 0;
    QTest::newRow("fraction dropped") << bytes({0x17, 0x73}) << 1500;
    QTest::newRow("high byte only") << bytes({0x80, 0x00}) << 8192;
}

void TestSmcValues::fanSpeedDecode()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, rpm);
    QCOMPARE(decodeFanSpeed(u(raw)), rpm);
}

void TestSmcValues::fanSpeedEncode_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("1500 rpm") << 1500 << bytes({0x17, 0x70});
    QTest::newRow("largest") << 16383 << bytes({0xFF, 0xFC});
    QTest::newRow("above range clamps") << 20000 << bytes({0xFF, 0xFC});
    QTest::newRow("negative clamps to 0") << -5 << bytes({0x00, 0x00});
    QTest::newRow("odd value") << 6199 << bytes({0x60, 0xDC});
}

void TestSmcValues::fanSpeedEncode()
{
    QFETCH(int, rpm);
    QFETCH(QByteArray, raw);
    unsigned char out[3] = {0xAA, 0xAA, 0xAA};
    encodeFanSpeed(rpm, out);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 2), raw);
    QCOMPARE(out[2], static_cast<unsigned char>(0xAA)); // writes exactly two bytes
    QCOMPARE(decodeFanSpeed(out), qBound(0, rpm, kMaxFanSpeed));
}

void TestSmcValues::temperature_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("valid");
    QTest::newRow("45.5") << bytes({0x2D, 0x80}) << 45.5 << true;
    QTest::newRow("zero") << bytes({0x00, 0x00}) << 0.0 << true;
    QTest::newRow("just below 128") << bytes({0x7F, 0xFF}) << 127.0 + 255 / 256.0 << true;
    QTest::newRow("128 exactly") << bytes({0x80, 0x00}) << 128.0 << false;
    QTest::newRow("negative reading") << bytes({0xFE, 0x00}) << 254.0 << false;
    QTest::newRow("first byte 0xff") << bytes({0xFF, 0xFF}) << 255.0 + 255 / 256.0 << false;
}

void TestSmcValues::temperature()
{
    QFETCH(QByteArray, raw);
    QFETCH(double, celsius);
    QFETCH(bool, valid);
    const double decoded = decodeTemperature(u(raw));
    QCOMPARE(decoded, celsius);
    QCOMPARE(isValidTemperature(decoded), valid);
}

void TestSmcValues::fanModeMask_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("fan");
    QTest::addColumn<bool>("manual");
    QTest::newRow("fan 0 set") << bytes({0x00, 0x01}) << 0 << true;
    QTest::newRow("fan 1 of 0x01") << bytes({0x00, 0x01}) << 1 << false;
    QTest::newRow("fan 7 set") << bytes({0x00, 0x80}) << 7 << true;
    QTest::newRow("first byte ignored") << bytes({0xFF, 0x00}) << 0 << false;
    QTest::newRow("fan 8 never manual") << bytes({0xFF, 0xFF}) << 8 << false;
    QTest::newRow("negative fan") << bytes({0x00, 0xFF}) << -1 << false;
}

void TestSmcValues::fanModeMask()
{
    QFETCH(QByteArray, raw);
    QFETCH(int, fan);
    QFETCH(bool, manual);
    QCOMPARE(isFanManual(u(raw), fan), manual);
    QCOMPARE(decodeFanModeMask(u(raw)), static_cast<uint8_t>(raw.at(1)));
}

void TestSmcValues::withFanManual_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("fan");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<int>("expected");
    QTest::newRow("set fan 2") << 0x01 << 2 << true << 0x05;
    QTest::newRow("clear fan 0") << 0x05 << 0 << false << 0x04;
    QTest::newRow("set already set") << 0x80 << 7 << true << 0x80;
    QTest::newRow("fan 8 unchanged") << 0x01 << 8 << true << 0x01;
}

void TestSmcValues::withFanManual()
{
    QFETCH(int, mask);
    QFETCH(int, fan);
    QFETCH(bool, manual);
    QFETCH(int, expected);
    const uint8_t result = SmcValueUtils::withFanManual(static_cast<uint8_t>(mask), fan, manual);
    QCOMPARE(int(result), expected);
    unsigned char out[2] = {0x55, 0x55};
    encodeFanModeMask(result, out);
    QCOMPARE(int(out[0]), 0);
    QCOMPARE(int(out[1]), expected);
}

void TestSmcValues::scalars()
{
    QCOMPARE(decodeKeyCount(u(bytes({0x00, 0x00, 0x02, 0x64}))), 612u);
    QCOMPARE(decodeKeyCount(u(bytes({0x00, 0x01, 0x00, 0x00}))), 65536u);
    QCOMPARE(decodeKeyCount(u(bytes({0xFF, 0x00, 0x00, 0x01}))), 0xFF000001u);
    QCOMPARE(decodeUnsignedByte(u(bytes({0xFE}))), 254);
}

void TestSmcValues::fanIdentification_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("name");
    QByteArray left(16, '\0');
    left.replace(4, 9, "Left side");
    left[0] = 0x00;
    left[1] = 0x30;
    QTest::newRow("padded") << left << "Left side";
    QByteArray full(16, '\0');
    full.replace(0, 16, "xxxxABCDEFGHIJKL");
    QTest::newRow("twelve characters, no NUL") << full << "ABCDEFGHIJKL";
    QTest::newRow("empty") << QByteArray(16, '\0') << "";
}

void TestSmcValues::fanIdentification()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, name);
    QCOMPARE(decodeFanIdentification(u(raw)), name);
}

void TestSmcValues::keyPacking_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<uint>("packed");
    QTest::newRow("#KEY") << QByteArray("#KEY") << 0x234B4559u;
    QTest::newRow("FS! with trailing blank") << QByteArray("FS! ") << 0x46532120u;
    QTest::newRow("sp78 type") << QByteArray("sp78") << 0x73703738u;
    QTest::newRow("high bytes") << QByteArray("\xff\x80\x01\x7f", 4) << 0xFF80017Fu;
}

void TestSmcValues::keyPacking()
{
    QFETCH(QByteArray, key);
    QFETCH(uint, packed);
    QCOMPARE(_strtoul(key.constData(), 4), packed);
    char unpacked[6] = {1, 1, 1, 1, 1, 1};
    _ultostr(unpacked, packed);
    QCOMPARE(QByteArray(unpacked, 4), key);
    QCOMPARE(unpacked[4], '\0');
    QCOMPARE(unpacked[5], char(1)); // exactly five bytes written
}

void TestSmcValues::validKey_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("TC0P") << true;
    QTest::newRow("blank and punctuation") << QByteArray("FS! ") << true;
    QTest::newRow("all blanks") << QByteArray("    ") << true;
    QTest::newRow("three characters") << QByteArray("F0T") << false;
    QTest::newRow("five characters") << QByteArray("F0Tgx") << false;
    QTest::newRow("control character") << QByteArray("F0T\n") << false;
    QTest::newRow("DEL") << QByteArray("F0T\x7f") << false;
    QTest::newRow("non-ASCII") << QByteArray("F0T\xe9") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestSmcValues::validKey()
{
    QFETCH(QByteArray, key);
    QFETCH(bool, valid);
    QCOMPARE(isValidKey(key), valid);
    QCOMPARE(isValidKey(key.constData()), valid);
}

void TestSmcValues::hexRoundTrip_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("fan speed") << bytes({0x17, 0x70}) << "1770";
    QTest::newRow("mask") << bytes({0x00, 0x03}) << "0003";
    QTest::newRow("every nibble") << bytes({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF})
                                  << "0123456789abcdef";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("32 bytes") << QByteArray(32, '\xff') << QString(64, QLatin1Char('f'));
}

void TestSmcValues::hexRoundTrip()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, text);
    QCOMPARE(toHex(u(value), value.size()), text);
    QByteArray parsed("untouched");
    QVERIFY(parseHex(text.toLatin1(), &parsed));
    QCOMPARE(parsed, value);
}

void TestSmcValues::hexRejects_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("odd length") << QByteArray("177");
    QTest::newRow("upper case") << QByteArray("17A0");
    QTest::newRow("0x prefix") << QByteArray("0x1770");
    QTest::newRow("blank") << QByteArray("17 70");
    QTest::newRow("sign") << QByteArray("-177");
    QTest::newRow("not hex") << QByteArray("zz");
    QTest::newRow("NUL inside") << QByteArray("17\0"
                                              "0",
                                              4);
    QTest::newRow("33 bytes") << QByteArray(66, 'a');
}

void TestSmcValues::hexRejects()
{
    QFETCH(QByteArray, text);
    QByteArray parsed("untouched");
    QString error;
    QVERIFY(!parseHex(text, &parsed, &error));
    QCOMPARE(parsed, QByteArray("untouched"));
    QVERIFY(!error.isEmpty());
    QVERIFY(!error.contains(QLatin1Char('\n')));
}

QTEST_GUILESS_MAIN(TestSmcValues)
#include "tst_smcvalues.moc"
