#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"
#include "core/QTempSensorSmart.h"
#include "core/SysInfoHelpers.h"
#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {
QTempSensor::MachineFacts factsFor(const QString& identifier)
{
    QTempSensor::MachineFacts facts;
    facts.bMacPro = SysInfoHelpers::isMacProIdentifier(identifier);
    facts.nModelCode = SysInfoHelpers::modelCode(identifier);
    return facts;
}

const QString kUnsupported = QStringLiteral("<unsupported>");
} // namespace

class TestTempSensor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { QCoreServices::setPreferences(nullptr); }

    void sensorTable_data();
    void sensorTable();
    void machineFactsTakenOnce();
    void setKeyAndIcon_data();
    void setKeyAndIcon();
    void valueAndProposedRange_data();
    void valueAndProposedRange();
    void unreadableControllerKeepsValue();
    void temperatureScale_data();
    void temperatureScale();
    void driveSensorShape();

private:
    // Registered before any lookup, so this process's machine is a MacPro4,1.
    QMySysInfo m_SysInfo{[] { return QStringLiteral("MacPro4,1"); }};
};

void TestTempSensor::initTestCase()
{
    QCOMPARE(m_SysInfo.machineName(), QStringLiteral("MacPro4,1"));
    QCoreServices::setSysInfo(&m_SysInfo);
}

void TestTempSensor::sensorTable_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name"); // kUnsupported: not in the table for this machine

    struct Row
    {
        const char* machine;
        const char* key;
        QString name;
    };
    const Row rows[] = {
        // Ambient moves to a lower-case key on two iMacs.
        {"MacBookPro8,1", "TA0P", "Ambient"},
        {"MacBookPro8,1", "TA0p", kUnsupported},
        {"iMac11,3", "TA0P", kUnsupported},
        {"iMac11,3", "TA0p", "Ambient"},
        {"iMac13,1", "TA0p", "Ambient"},
        {"iMac13,2", "TA0P", "Ambient"},
        {"iMac11,2", "TA0P", "Ambient"},
        // CPU cores: Mac Pro names, lower-case keys on iMac13,1.
        {"MacPro4,1", "TC0C", "CPU A Core 0"},
        {"MacPro4,1", "TC1C", "CPU A Core 1"},
        {"MacPro5,1", "TC2C", "CPU B Core 0"},
        {"MacPro1,1", "TC3C", "CPU B Core 1"},
        {"MacBookPro8,1", "TC0C", "CPU Core 0"},
        {"MacBookPro8,1", "TC1C", "CPU Core 1"},
        {"MacBookPro8,1", "TC2C", kUnsupported},
        {"MacBookPro8,1", "TC0c", kUnsupported},
        {"iMac13,1", "TC0C", kUnsupported},
        {"iMac13,1", "TC1C", kUnsupported},
        {"iMac13,1", "TC0c", "CPU Core 0"},
        {"iMac13,1", "TC1c", "CPU Core 1"},
        {"iMac13,2", "TC0C", "CPU Core 0"},
        {"MacPro4,1", "TC0c", kUnsupported},
        // Drive bays: numbered from TH1P on the MacPro4,1; HDD case on a Macmini3,1.
        {"MacPro3,1", "TH0P", "Drive Bay 0"},
        {"MacPro3,1", "TH3P", "Drive Bay 3"},
        {"MacPro3,1", "TH4P", kUnsupported},
        {"MacPro5,1", "TH0P", "Drive Bay 0"},
        {"MacPro4,1", "TH0P", kUnsupported},
        {"MacPro4,1", "TH1P", "Drive Bay 0"},
        {"MacPro4,1", "TH3P", "Drive Bay 2"},
        {"MacPro4,1", "TH4P", "Drive Bay 3"},
        {"Macmini3,1", "TH0P", "HDD case"},
        {"Macmini3,1", "TH1P", kUnsupported},
        {"Macmini5,1", "TH0P", kUnsupported},
        {"MacBookPro8,1", "TH0P", kUnsupported},
        // LCD proximity moves to a lower-case key on both iMac13 models.
        {"iMac11,3", "TL0P", "LCD proximity"},
        {"iMac13,1", "TL0P", kUnsupported},
        {"iMac13,2", "TL0p", "LCD proximity"},
        {"MacBookPro8,1", "TL0p", kUnsupported},
        // The northbridge heat sink is the IO hub on a Mac Pro.
        {"MacPro2,1", "TN0H", "IOH HeatSink"},
        {"MacPro5,1", "TN0H", "IOH HeatSink"},
        {"Macmini5,1", "TN0H", "Northbridge"},
        // Unconditional rows, spot checks.
        {"MacBookPro8,1", "TC0P", "CPU Proximity"},
        {"iMac13,1", "Tp1C", "PSU1 Secondary Component"},
        {"MacPro4,1", "TW0P", "Airport Card"},
        {"Macmini3,1", "TCAC", "CPU A core from PCECI"},
        {"", "Ts0P", "Left Palm Rest"},
        {"", "Tm0P", "Mem Controller"},
        // Whole, case-sensitive keys only.
        {"MacBookPro8,1", "tc0p", kUnsupported},
        {"MacBookPro8,1", "TM0s", kUnsupported},
        {"MacBookPro8,1", "TC0P ", kUnsupported},
        {"MacBookPro8,1", "TC0", kUnsupported},
        {"MacBookPro8,1", "TCXX", kUnsupported},
        {"MacBookPro8,1", "", kUnsupported},
    };
    for (const Row& row : rows) {
        QTest::addRow("%s %s", row.machine[0] ? row.machine : "unknown", row.key)
            << QString(row.machine) << QString(row.key) << row.name;
    }
}

void TestTempSensor::sensorTable()
{
    QFETCH(QString, machine);
    QFETCH(QString, key);
    QFETCH(QString, name);

    QString found = kUnsupported;
    const bool bSupported = QTempSensor::IsSensorSupported(factsFor(machine), key, found);
    QCOMPARE(bSupported, name != kUnsupported);
    // An unsupported key leaves the caller's name untouched.
    QCOMPARE(found, name);
}

void TestTempSensor::machineFactsTakenOnce()
{
    QString name;
    QVERIFY(QTempSensor::IsSensorSupported("TH4P", name));
    QCOMPARE(name, QStringLiteral("Drive Bay 3"));

    // Another machine registered later does not change what this process already decided.
    QMySysInfo other([] { return QStringLiteral("iMac13,1"); });
    other.machineName();
    QCoreServices::setSysInfo(&other);
    const bool bStillMacPro = QTempSensor::IsSensorSupported("TH4P", name);
    const bool bSeesIMac = QTempSensor::IsSensorSupported("TC0c", name);
    QCoreServices::setSysInfo(&m_SysInfo);
    QVERIFY(bStillMacPro);
    QVERIFY(!bSeesIMac);
    QCOMPARE(QTempSensor::machineFacts().nModelCode, 303);
    QVERIFY(QTempSensor::machineFacts().bMacPro);
}

void TestTempSensor::setKeyAndIcon_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<int>("nFanType");

    // This process runs as a MacPro4,1 (initTestCase).
    QTest::newRow("processor") << "TC0P"
                               << "CPU Proximity" << int(FanTypeProcessor);
    QTest::newRow("Mac Pro core") << "TC2C"
                                  << "CPU B Core 0" << int(FanTypeProcessor);
    QTest::newRow("unknown processor key keeps key as name") << "TCXX"
                                                             << "TCXX" << int(FanTypeProcessor);
    QTest::newRow("airport") << "TW0P"
                             << "Airport Card" << int(FanTypeAirport);
    QTest::newRow("optical drive") << "TO0P"
                                   << "Optical Drive" << int(FanTypeOpticalDrive);
    QTest::newRow("no icon") << "TA0P"
                             << "Ambient" << int(FanTypeGeneric);
    QTest::newRow("lower case is not a processor") << "tc0p"
                                                   << "tc0p" << int(FanTypeGeneric);
    QTest::newRow("bay numbering of this machine") << "TH1P"
                                                   << "Drive Bay 0" << int(FanTypeGeneric);
    QTest::newRow("bay key missing on this machine") << "TH0P"
                                                     << "TH0P" << int(FanTypeGeneric);
}

void TestTempSensor::setKeyAndIcon()
{
    QFETCH(QString, key);
    QFETCH(QString, displayName);
    QFETCH(int, nFanType);

    QTempSensor sensor;
    sensor.setKey(key);
    QCOMPARE(sensor.GetKey(), key);
    QCOMPARE(sensor.GetDisplayName(), displayName);
    QCOMPARE(int(sensor.GetFanType()), nFanType);
    QVERIFY(!sensor.isHDD());
}

void TestTempSensor::valueAndProposedRange_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("nRounded");
    QTest::addColumn<int>("nProposedMin");
    QTest::addColumn<int>("nProposedMax");

    QTest::newRow("half rounds up") << 44.5 << 45 << 40 << 50;
    QTest::newRow("below half rounds down") << 44.49 << 44 << 39 << 49;
    QTest::newRow("minus half rounds up to zero") << -0.5 << 0 << 20 << 5;
    QTest::newRow("negative") << -0.51 << -1 << 20 << 4;
    QTest::newRow("cool sensor: start at 20") << 18.2 << 18 << 20 << 23;
    QTest::newRow("start exactly 20") << 25.0 << 25 << 20 << 30;
    QTest::newRow("hot sensor: maximum at 100") << 97.0 << 97 << 92 << 100;
    QTest::newRow("maximum exactly 100") << 94.6 << 95 << 90 << 100;
    QTest::newRow("above both limits") << 127.9 << 128 << 123 << 100;
}

void TestTempSensor::valueAndProposedRange()
{
    QFETCH(double, value);
    QFETCH(int, nRounded);
    QFETCH(int, nProposedMin);
    QFETCH(int, nProposedMax);

    QTempSensor sensor;
    sensor.setKey("TC0P");
    QCOMPARE(sensor.GetValue(), 0.0);
    sensor.SetValue(value);
    QCOMPARE(sensor.GetValue(), value);
    QCOMPARE(sensor.GetValueInt(), nRounded);
    QCOMPARE(sensor.GetProposedMin(), nProposedMin);
    QCOMPARE(sensor.GetProposedMax(), nProposedMax);
}

void TestTempSensor::unreadableControllerKeepsValue()
{
    QTempSensor sensor;
    sensor.setKey("TC0P");
    sensor.SetValue(41.25);
    sensor.UpdateValue(nullptr);
    QCOMPARE(sensor.GetValue(), 41.25);
}

void TestTempSensor::temperatureScale_data()
{
    QTest::addColumn<bool>("bWithStore");
    QTest::addColumn<QVariant>("setting"); // invalid: key absent
    QTest::addColumn<bool>("bFahrenheit");
    QTest::addColumn<int>("nCelsius");
    QTest::addColumn<int>("nShown");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("shown");
    QTest::addColumn<int>("nTyped");
    QTest::addColumn<int>("nTypedCelsius");

    QTest::newRow("Celsius leaves values alone")
        << true << QVariant(0) << false << 37 << 37 << 36.6 << 36.6 << 100 << 100;
    QTest::newRow("body temperature truncated")
        << true << QVariant(1) << true << 37 << 98 << 37.0 << 98.6 << 100 << 37;
    QTest::newRow("any non-zero value is Fahrenheit")
        << true << QVariant(2) << true << 100 << 212 << 100.0 << 212.0 << 212 << 100;
    QTest::newRow("both scales meet at minus 40")
        << true << QVariant(1) << true << -40 << -40 << -40.0 << -40.0 << -40 << -40;
    QTest::newRow("truncated toward zero, not down")
        << true << QVariant(1) << true << -18 << 0 << -18.0 << -0.4 << 0 << -17;
    QTest::newRow("just below freezing truncates to zero")
        << true << QVariant(1) << true << 0 << 32 << 0.5 << 32.9 << 31 << 0;
    QTest::newRow("missing key counts as Fahrenheit")
        << true << QVariant() << true << 37 << 98 << 37.0 << 98.6 << 100 << 37;
    QTest::newRow("unreadable value reads as missing")
        << true << QVariant("warm") << true << 37 << 98 << 37.0 << 98.6 << 100 << 37;
    QTest::newRow("no store: Celsius")
        << false << QVariant() << false << 37 << 37 << 37.0 << 37.0 << 100 << 100;
}

void TestTempSensor::temperatureScale()
{
    QFETCH(bool, bWithStore);
    QFETCH(QVariant, setting);
    QFETCH(bool, bFahrenheit);
    QFETCH(int, nCelsius);
    QFETCH(int, nShown);
    QFETCH(double, celsius);
    QFETCH(double, shown);
    QFETCH(int, nTyped);
    QFETCH(int, nTypedCelsius);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::unique_ptr<QPreferences> pPreferences;
    if (bWithStore) {
        pPreferences.reset(new QPreferences(dir.filePath("thermora.ini")));
        if (setting.isValid())
            pPreferences->setValue("Fahrenheit", setting);
        QCoreServices::setPreferences(pPreferences.get());
    }

    QCOMPARE(isFehrenheit(), bFahrenheit);
    QCOMPARE(getTemperatureScaleSymbol(),
             QString(QChar(0x00B0)) + (bFahrenheit ? QLatin1Char('F') : QLatin1Char('C')));
    QCOMPARE(getTemperatureValueForCurrentScale(nCelsius), nShown);
    QVERIFY(qFuzzyCompare(getTemperatureValueForCurrentScale(celsius) + 1000.0, shown + 1000.0));
    QCOMPARE(getCelsiusTemperatureFromValue(nTyped), nTypedCelsius);
}

void TestTempSensor::driveSensorShape()
{
    QVERIFY(QTempSensorSmart::LoadAvailableSensors().isEmpty());

    // A drive's model name is key and name, even where it looks like an SMC key.
    QTempSensorSmart drive(3);
    drive.setKey("TC0P");
    QCOMPARE(drive.GetDisplayName(), QStringLiteral("TC0P"));
    QCOMPARE(int(drive.GetFanType()), int(FanTypeHardDrive));
    QVERIFY(drive.isHDD());
    QCOMPARE(drive.deviceIndex(), 3u);

    // Drives propose a fixed range whatever they read.
    drive.SetValue(90.0);
    QCOMPARE(drive.GetProposedMin(), 42);
    QCOMPARE(drive.GetProposedMax(), 52);

    // Seen through the base class, the drive's own operations still apply.
    QTempSensor* pSensor = &drive;
    QVERIFY(pSensor->isHDD());
    pSensor->UpdateValue(nullptr);
    QCOMPARE(pSensor->GetValue(), 90.0);
}

QTEST_GUILESS_MAIN(TestTempSensor)
#include "tst_tempsensor.moc"
