// The SMC value formats to the byte: fan speeds, temperatures, the fan-mode mask, key packing
// and the hexadecimal text handed to the key-writing tool.
#include "smc/SmcValueUtils.h"

#include <QtTest>

using namespace SmcValueUtils;

namespace {
const unsigned char* raw(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}
} // namespace

class TestSmcValues : public QObject
{
    Q_OBJECT

private slots:
    void fanSpeed_data();
    void fanSpeed();
    void temperature_data();
    void temperature();
    void fanModeMask_data();
    void fanModeMask();
    void scalars();
    void keyPacking_data();
    void keyPacking();
    void hex_data();
    void hex();
};

void TestSmcValues::fanSpeed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("decoded");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("1500 rpm") << QByteArray("\x17\x70") << 1500 << 1500 << QByteArray("\x17\x70");
    QTest::newRow("fraction dropped")
        << QByteArray("\x17\x73") << 1500 << 1 << QByteArray("\x00\x04", 2);
    QTest::newRow("top") << QByteArray("\xff\xff") << 16383 << 16383 << QByteArray("\xff\xfc");
    QTest::newRow("high byte") << QByteArray("\x01\x00", 2) << 64 << 64
                               << QByteArray("\x01\x00", 2);
    QTest::newRow("clamped above") << QByteArray(2, 0) << 0 << 20000 << QByteArray("\xff\xfc");
    QTest::newRow("clamped below") << QByteArray("\x00\x03", 2) << 0 << -5 << QByteArray(2, 0);
}

void TestSmcValues::fanSpeed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, decoded);
    QFETCH(int, rpm);
    QFETCH(QByteArray, encoded);
    QCOMPARE(decodeFanSpeed(raw(bytes)), decoded);
    unsigned char out[3] = {0xAA, 0xAA, 0xAA};
    encodeFanSpeed(rpm, out);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 3).toHex(), (encoded + '\xaa').toHex());
}

void TestSmcValues::temperature_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<bool>("valid");
    QTest::newRow("45.5") << QByteArray("\x2d\x80") << 45.5 << true;
    QTest::newRow("quarter") << QByteArray("\x32\x40") << 50.25 << true;
    QTest::newRow("zero") << QByteArray(2, 0) << 0.0 << true;
    QTest::newRow("just below 128") << QByteArray("\x7f\xff") << 127.99609375 << true;
    QTest::newRow("128 is invalid") << QByteArray("\x80\x00", 2) << 128.0 << false;
    QTest::newRow("first byte unsigned") << QByteArray("\xff\x00", 2) << 255.0 << false;
}

void TestSmcValues::temperature()
{
    QFETCH(QByteArray, bytes);
    QFETCH(double, celsius);
    QFETCH(bool, valid);
    QCOMPARE(decodeTemperature(raw(bytes)), celsius);
    QCOMPARE(isValidTemperature(celsius), valid);
}

void TestSmcValues::fanModeMask_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("fan");
    QTest::addColumn<bool>("manual");
    QTest::addColumn<int>("after");
    QTest::addColumn<bool>("fanManual");
    QTest::newRow("fan 0 manual") << 0x00 << 0 << true << 0x01 << true;
    QTest::newRow("fan 7 manual") << 0x00 << 7 << true << 0x80 << true;
    QTest::newRow("fan 1 automatic, others kept") << 0x07 << 1 << false << 0x05 << false;
    QTest::newRow("already manual") << 0x04 << 2 << true << 0x04 << true;
    QTest::newRow("fan 8 cannot be set") << 0x00 << 8 << true << 0x00 << false;
    QTest::newRow("fan 8 never manual") << 0xFF << 8 << false << 0xFF << false;
    QTest::newRow("negative fan") << 0xFF << -1 << false << 0xFF << false;
}

void TestSmcValues::fanModeMask()
{
    QFETCH(int, before);
    QFETCH(int, fan);
    QFETCH(bool, manual);
    QFETCH(int, after);
    QFETCH(bool, fanManual);
    QCOMPARE(int(withFanManual(uint8_t(before), fan, manual)), after);
    unsigned char bytes[2] = {0xEE, 0xEE};
    encodeFanModeMask(uint8_t(after), bytes);
    QCOMPARE(int(bytes[0]), 0);
    QCOMPARE(int(bytes[1]), after);
    bytes[0] = 0xFF; // the first byte is ignored
    QCOMPARE(int(decodeFanModeMask(bytes)), after);
    QCOMPARE(isFanManual(bytes, fan), fanManual);
}

void TestSmcValues::scalars()
{
    QCOMPARE(decodeKeyCount(raw(QByteArray("\x00\x00\x01\x2c", 4))), 300u);
    QCOMPARE(decodeKeyCount(raw(QByteArray("\x80\x01\x02\x03", 4))), 0x80010203u);
    QCOMPARE(decodeUnsignedByte(raw(QByteArray("\xfe"))), 254);
    QCOMPARE(decodeFanIdentification(raw(QByteArray("\x00\x10\x00\x00Left Side\0\0\0", 16))),
             QString("Left Side"));
    // Twelve name characters fill the field; nothing beyond byte 15 is read.
    QCOMPARE(decodeFanIdentification(raw(QByteArray("ABCDEFGHIJKLMNOPX"))),
             QString("EFGHIJKLMNOP"));
}

void TestSmcValues::keyPacking_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<uint>("packed");
    QTest::newRow("#KEY") << QByteArray("#KEY") << 0x234B4559u;
    QTest::newRow("mask key ends in a blank") << QByteArray("FS! ") << 0x46532120u;
    QTest::newRow("high bytes unsigned") << QByteArray("\xff\x80\x01T") << 0xFF800154u;
}

void TestSmcValues::keyPacking()
{
    QFETCH(QByteArray, key);
    QFETCH(uint, packed);
    QCOMPARE(_strtoul(key.constData(), 4), packed);
    QCOMPARE(_strtoul(key.constData(), 2), packed >> 16);
    char text[6] = "zzzzz";
    _ultostr(text, packed);
    QCOMPARE(QByteArray(text, 5), key + '\0');
}

void TestSmcValues::hex_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes"); // "refused": see reason
    QTest::addColumn<QString>("reason");
    QTest::newRow("fan target") << QByteArray("1770") << QByteArray("\x17\x70") << QString();
    QTest::newRow("every digit") << QByteArray("0123456789abcdef")
                                 << QByteArray::fromHex("0123456789abcdef") << QString();
    QTest::newRow("empty") << QByteArray() << QByteArray() << QString();
    QTest::newRow("32 bytes") << QByteArray(64, 'f') << QByteArray(32, '\xff') << QString();
    QTest::newRow("33 bytes") << QByteArray(66, '0') << QByteArray("refused")
                              << "more than 32 bytes";
    QTest::newRow("odd") << QByteArray("177") << QByteArray("refused")
                         << "odd number of hexadecimal digits";
    QTest::newRow("upper case") << QByteArray("17A0") << QByteArray("refused")
                                << "not a lower-case hexadecimal digit at position 3";
    QTest::newRow("second digit") << QByteArray("1g") << QByteArray("refused")
                                  << "not a lower-case hexadecimal digit at position 2";
    QTest::newRow("blank") << QByteArray(" 1") << QByteArray("refused")
                           << "not a lower-case hexadecimal digit at position 1";
}

void TestSmcValues::hex()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QByteArray parsed("kept");
    QString error;
    QCOMPARE(parseHex(text, &parsed, &error), reason.isEmpty());
    QCOMPARE(error, reason);
    if (!reason.isEmpty()) {
        QCOMPARE(parsed, QByteArray("kept"));
        return;
    }
    QCOMPARE(parsed.toHex(), bytes.toHex());
    QCOMPARE(toHex(raw(parsed), parsed.size()), QString::fromLatin1(text));
}

QTEST_GUILESS_MAIN(TestSmcValues)
#include "tst_smcvalues.moc"
