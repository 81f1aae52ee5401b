#include "core/FanInfo.h"

#include <QtTest>

#include <atomic>
#include <thread>

class tst_FanModel : public QObject
{
    Q_OBJECT

private slots:
    void parseModeText_data();
    void parseModeText();
    void fanTypeFromName_data();
    void fanTypeFromName();
    void iconPaths_data();
    void iconPaths();
    void blankSensorIconKeepsItsSize();
    void speedUpdateKeepsUnreadLimits();
    void modeChangeMarksManualAndJustChanged_data();
    void modeChangeMarksManualAndJustChanged();
    void modeCopyNeverTorn();
};

void tst_FanModel::parseModeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("rpm");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");

    QTest::newRow("digit 0") << "0" << 0 << 0 << "" << 0 << 0;
    QTest::newRow("lone 1 is automatic") << "1" << 0 << 0 << "" << 0 << 0;
    QTest::newRow("lone 2 is automatic") << "2" << 0 << 0 << "" << 0 << 0;
    QTest::newRow("lone letter is automatic") << "x" << 0 << 0 << "" << 0 << 0;
    QTest::newRow("constant") << "1,2500" << 1 << 2500 << "" << 0 << 0;
    QTest::newRow("constant not a number") << "1,abc" << 1 << 0 << "" << 0 << 0;
    QTest::newRow("constant empty field") << "1," << 1 << 0 << "" << 0 << 0;
    QTest::newRow("constant extra field ignored") << "1,2500,9" << 1 << 2500 << "" << 0 << 0;
    QTest::newRow("1 without second field is undefined") << "1x" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("12 without comma is undefined") << "12" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("sensor") << "2,TC0P,45,80" << 2 << 0 << "TC0P" << 45 << 80;
    QTest::newRow("sensor key with blank") << "2,FS! ,45,80" << 2 << 0 << "FS! " << 45 << 80;
    QTest::newRow("sensor bad numbers") << "2,TC0P,x,y" << 2 << 0 << "TC0P" << 0 << 0;
    QTest::newRow("sensor negative") << "2,TC0P,-5,-1" << 2 << 0 << "TC0P" << -5 << -1;
    QTest::newRow("sensor three parts") << "2,TC0P,45" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("sensor five parts") << "2,TC0P,45,80,1" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("sensor empty parts kept") << "2,,," << 2 << 0 << "" << 0 << 0;
    QTest::newRow("empty") << "" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("unknown mode 7") << "7,1" << 3 << 0 << "" << 0 << 0;
    QTest::newRow("leading blank") << " 1,2500" << 3 << 0 << "" << 0 << 0;
}

void tst_FanModel::parseModeText()
{
    QFETCH(QString, text);
    QFETCH(int, mode);
    QFETCH(int, rpm);
    QFETCH(QString, key);
    QFETCH(int, start);
    QFETCH(int, max);

    const FanControlMode parsed = FanControlMode::fromString(text);
    QCOMPARE(parsed.GetMode(), mode);
    QCOMPARE(parsed.GetConstantRPM(), rpm);
    QCOMPARE(parsed.sensorKey(), key);
    QCOMPARE(parsed.valueStart(), start);
    QCOMPARE(parsed.valueMax(), max);
    QVERIFY(parsed.getSensor() == nullptr);
}

void tst_FanModel::fanTypeFromName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");

    QTest::newRow("ODD") << "ODD" << int(FanTypeOpticalDrive);
    QTest::newRow("CPU") << "CPU" << int(FanTypeProcessor);
    QTest::newRow("cpu lower case") << "cpu" << int(FanTypeGeneric);
}

void tst_FanModel::fanTypeFromName()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    FanInfo fan(nullptr, name);
    QCOMPARE(int(fan.GetType()), type);
    QCOMPARE(fan.GetName(), name);
}

void tst_FanModel::iconPaths_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("forSensor");
    QTest::addColumn<bool>("large");
    QTest::addColumn<QString>("path");

    QTest::newRow("fan generic") << 5 << false << false << ":/Resources/fan.png";
    QTest::newRow("fan generic large") << 5 << false << true << ":/Resources/fan_big.png";
    QTest::newRow("sensor generic") << 5 << true << false << "";
    QTest::newRow("fan processor large") << 3 << false << true << ":/Resources/processor_big.png";
    QTest::newRow("hard drive large") << 1 << false << true << ":/Resources/drive_big.png";
    QTest::newRow("ssd") << 2 << true << false << ":/Resources/drive_ssd.png";
}

void tst_FanModel::iconPaths()
{
    QFETCH(int, type);
    QFETCH(bool, forSensor);
    QFETCH(bool, large);
    QFETCH(QString, path);
    QCOMPARE(FanInfo::GetFanIconPathByType(FanType(type), forSensor, large), path);
}

void tst_FanModel::blankSensorIconKeepsItsSize()
{
    const QIcon icon = FanInfo::GetFanIconByType(FanTypeGeneric, true, false);
    QVERIFY(!icon.isNull());
    const QImage image = icon.pixmap(16, 16).toImage();
    QCOMPARE(image.size(), QSize(16, 16));
    QCOMPARE(qAlpha(image.pixel(8, 8)), 0);
}

void tst_FanModel::speedUpdateKeepsUnreadLimits()
{
    FanInfo fan(nullptr, "CPU");
    QCOMPARE(fan.GetRPM(), -1);
    fan.updateRpmValues(1200, 1000, 6000);
    fan.updateRpmValues(1800, 0, 0);
    QCOMPARE(fan.GetRPM(), 1800);
    QCOMPARE(fan.GetRPMMin(), 1000);
    QCOMPARE(fan.GetRPMMax(), 6000);
    fan.updateRpmValues(0, 900, 0);
    QCOMPARE(fan.GetRPM(), 0);
    QCOMPARE(fan.GetRPMMin(), 900);
    QCOMPARE(fan.GetRPMMax(), 6000);
}

void tst_FanModel::modeChangeMarksManualAndJustChanged_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("manual");

    QTest::newRow("automatic") << "0" << false;
    QTest::newRow("constant") << "1,2000" << true;
    QTest::newRow("sensor") << "2,TC0P,40,70" << true;
    QTest::newRow("undefined") << "" << true;
}

void tst_FanModel::modeChangeMarksManualAndJustChanged()
{
    QFETCH(QString, text);
    QFETCH(bool, manual);

    FanInfo fan(nullptr, "Fan 0");
    fan.SetManual(!manual, false);
    QVERIFY(!fan.isControlModeJustChanged());
    fan.SetControlMode(FanControlMode::fromString(text));
    QCOMPARE(fan.IsManual(), manual);
    QVERIFY(fan.isControlModeJustChanged());
    QCOMPARE(fan.GetControlMode().toString(), text);
    QVERIFY(fan.GetControlMode().getSensor() == nullptr); // no owner to resolve it
    fan.resetControlModeJustChanged();
    QVERIFY(!fan.isControlModeJustChanged());
}

// Worker threads copy the mode while the user interface replaces it: a copy is always one whole
// mode, never fields of two.
void tst_FanModel::modeCopyNeverTorn()
{
    FanInfo fan(nullptr, "CPU");
    const FanControlMode a = FanControlMode::sensor("TC0P", 45, 70);
    const FanControlMode b = FanControlMode::constant(2500);
    std::atomic<bool> bStop{false};
    std::atomic<int> nWrites{0};
    std::thread writer([&] {
        for (int i = 0; !bStop; ++i) {
            fan.SetControlMode(i % 2 ? a : b);
            ++nWrites;
        }
    });
    int nTorn = 0;
    for (int i = 0; i < 20000; ++i) {
        const QString text = fan.GetControlMode().toString();
        if (text != a.toString() && text != b.toString() && !text.isEmpty()) {
            ++nTorn;
        }
    }
    bStop = true;
    writer.join();
    QCOMPARE(nTorn, 0);
    QVERIFY(nWrites > 0);
}

QTEST_MAIN(tst_FanModel)
#include "tst_fanmodel.moc"
