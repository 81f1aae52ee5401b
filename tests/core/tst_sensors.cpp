#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QOverheatWatch.h"
#include "core/QTempSensor.h"
#include "core/SysInfoHelpers.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "sim/QSimServer.h"
#include "sim/QSimSmc.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {
QTempSensor::MachineFacts factsFor(const QString& identifier)
{
    QTempSensor::MachineFacts facts;
    facts.bMacPro = SysInfoHelpers::isMacProIdentifier(identifier);
    facts.nModelCode = SysInfoHelpers::modelCode(identifier);
    facts.nGeneration = SysInfoHelpers::macGeneration(identifier);
    return facts;
}

const QString kUnsupported = QStringLiteral("<unsupported>");
} // namespace

// The fan model, the temperature sensors, the temperature scale and the machine information.
class tst_Sensors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { QCoreServices::setPreferences(nullptr); }
    void modeText_data();
    void modeText();
    void fanTypeAndIcon_data();
    void fanTypeAndIcon();
    void modeChange_data();
    void modeChange();
    void sensorTable_data();
    void sensorTable();
    void machineFactsTakenOnce();
    void sensorNamesByLanguage();
    void valueAndProposedRange_data();
    void valueAndProposedRange();
    void temperatureScale_data();
    void temperatureScale();
    void fahrenheitRoundTrip_data();
    void fahrenheitRoundTrip();
    void readOutputLines_data();
    void readOutputLines();
    void machineNameCaching_data();
    void machineNameCaching();
    void identifiers_data();
    void identifiers();
    void platformAsksRunningSimulator();
    void overheatEpisodes_data();
    void overheatEpisodes();

private:
    void useScale(const QVariant& setting);

    // Registered before any lookup, so this process's machine is a MacPro4,1.
    QMySysInfo m_SysInfo{[] { return QStringLiteral("MacPro4,1"); }};
    QTemporaryDir m_Dir;
    QScopedPointer<QPreferences> m_pPrefs;
};

void tst_Sensors::initTestCase()
{
    QCOMPARE(m_SysInfo.machineName(), QStringLiteral("MacPro4,1"));
    QCoreServices::setSysInfo(&m_SysInfo);
}

void tst_Sensors::modeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fields"); // mode rpm key start max
    QTest::addColumn<QString>("back");   // the parsed mode's text

    QTest::newRow("digit 0") << "0" << QString("0 0  0 0") << QString("0");
    QTest::newRow("lone 1 is automatic") << "1" << QString("0 0  0 0") << QString("0");
    QTest::newRow("constant") << "1,2500" << QString("1 2500  0 0") << QString("1,2500");
    QTest::newRow("constant not a number") << "1,abc" << QString("1 0  0 0") << QString("1,0");
    QTest::newRow("1 without second field") << "1x" << QString("3 0  0 0") << QString();
    QTest::newRow("sensor") << "2,TC0P,45,80" << QString("2 0 TC0P 45 80")
                            << QString("2,TC0P,45,80");
    QTest::newRow("sensor key with blank")
        << "2,FS! ,45,80" << QString("2 0 FS!  45 80") << QString("2,FS! ,45,80");
    QTest::newRow("sensor key with placeholder")
        << "2,%0,,p" << QString("2 0 %0 0 0") << QString("2,%0,0,0");
    QTest::newRow("sensor three parts") << "2,TC0P,45" << QString("3 0  0 0") << QString();
    QTest::newRow("sensor five parts") << "2,TC0P,45,80,1" << QString("3 0  0 0") << QString();
    QTest::newRow("empty") << "" << QString("3 0  0 0") << QString();
    QTest::newRow("unknown mode 7") << "7,1" << QString("3 0  0 0") << QString();
}

void tst_Sensors::modeText()
{
    QFETCH(QString, text);
    QFETCH(QString, fields);
    QFETCH(QString, back);

    const FanControlMode m = FanControlMode::fromString(text);
    QCOMPARE(
        QString("%1 %2 %3 %4 %5")
            .arg(m.GetMode())
            .arg(m.GetConstantRPM())
            .arg(m.sensorKey(), QString::number(m.valueStart()), QString::number(m.valueMax())),
        fields);
    QCOMPARE(m.toString(), back);
}

void tst_Sensors::fanTypeAndIcon_data()
{
    QTest::addColumn<bool>("sensor"); // else a fan
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("icon"); // the small one

    QTest::newRow("fan ODD") << false << "ODD" << 0 << ":/Resources/disc.png";
    QTest::newRow("fan HDD") << false << "HDD" << 1 << ":/Resources/drive.png";
    QTest::newRow("fan CPU") << false << "CPU" << 3 << ":/Resources/processor.png";
    QTest::newRow("fan cpu") << false << "cpu" << 5 << ":/Resources/fan.png";
    QTest::newRow("sensor TC0P") << true << "TC0P" << 3 << ":/Resources/processor.png";
    QTest::newRow("sensor TCXX, not in the table")
        << true << "TCXX" << 3 << ":/Resources/processor.png";
    QTest::newRow("sensor TW0P") << true << "TW0P" << 4 << ":/Resources/airport.png";
    QTest::newRow("sensor TO0P") << true << "TO0P" << 0 << ":/Resources/disc.png";
    QTest::newRow("sensor TA0P: no icon") << true << "TA0P" << 5 << "";
    QTest::newRow("sensor tc0p: no icon") << true << "tc0p" << 5 << "";
}

void tst_Sensors::fanTypeAndIcon()
{
    QFETCH(bool, sensor);
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QString, icon);

    QTempSensor tempSensor;
    tempSensor.setKey(name);
    QCOMPARE(int(sensor ? tempSensor.GetFanType() : FanInfo(nullptr, name).GetType()), type);
    QCOMPARE(FanInfo::GetFanIconPathByType(FanType(type), sensor, false), icon);
    QCOMPARE(FanInfo::GetFanIconPathByType(FanType(type), sensor, true),
             QString(icon).replace(".png", "_big.png"));
}

void tst_Sensors::modeChange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("manual");

    QTest::newRow("automatic") << "0" << false;
    QTest::newRow("constant") << "1,2000" << true;
    QTest::newRow("sensor") << "2,TC0P,40,70" << true;
    QTest::newRow("undefined") << "" << true;
}

void tst_Sensors::modeChange()
{
    QFETCH(QString, text);
    QFETCH(bool, manual);

    FanInfo fan(nullptr, "Fan 0");
    fan.SetManual(!manual, false);
    fan.SetControlMode(FanControlMode::fromString(text));
    QCOMPARE(fan.IsManual(), manual);
    QVERIFY(fan.isControlModeJustChanged());
    QCOMPARE(fan.GetControlMode().toString(), text);
    fan.resetControlModeJustChanged();
    QVERIFY(!fan.isControlModeJustChanged());
}

void tst_Sensors::sensorTable_data()
{
    QTest::addColumn<QString>("machine");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name"); // kUnsupported: not in the table for this machine

    // Rows that hold on every machine, as the product's sensor list defines them.
    const QString always = "TA1P=Ambient 2;TB0T=Bottom Enclosure;TB1T=Battery Point 1;"
                           "TB2T=Battery Point 2;TC0H=CPU Heatsink;TC0D=CPU Diode;"
                           "TC0P=CPU Proximity;TCAC=CPU A core from PCECI;"
                           "TCBC=CPU B core from PCECI;TCAH=CPU A HeatSink;TCBH=CPU B HeatSink;"
                           "Te1P=PCIE Ambient;Te1S=PCIE slot 1;Te2S=PCIE slot 2;Te3S=PCIE slot 3;"
                           "Te4S=PCIE slot 4;TG0D=GPU Diode;TG0H=GPU Heatsink;TO0P=Optical Drive;"
                           "TM0S=DIMM Module 1;TM1S=DIMM Module 2;Tm0P=Mem Controller;"
                           "TN0P=Northbridge Point 1;TN0D=Northbridge Chip;"
                           "Tp1P=Power Supply Primary;Tp2P=Power Supply Secondary;"
                           "Tp0C=PSU1 Inlet Ambient;Tp1C=PSU1 Secondary Component;"
                           "Ts0P=Left Palm Rest;TW0P=Airport Card";
    for (const QString& row : always.split(';')) {
        for (const char* machine : {"MacBookPro8,1", "MacPro4,1"}) {
            QTest::addRow("%s %s", machine, qPrintable(row))
                << machine << row.section('=', 0, 0) << row.section('=', 1);
        }
    }
    // Rows that depend on the machine ("-": not in the table there).
    const QString conditional =
        "MacBookPro8,1 TA0P=Ambient;MacBookPro8,1 TA0p=-;iMac11,3 TA0P=-;iMac11,3 TA0p=Ambient;"
        "iMac13,1 TA0p=Ambient;iMac13,2 TA0P=Ambient;MacPro4,1 TC0C=CPU A Core 0;"
        "MacPro4,1 TC1C=CPU A Core 1;MacPro5,1 TC2C=CPU B Core 0;MacPro1,1 TC3C=CPU B Core 1;"
        "MacBookPro8,1 TC0C=CPU Core 0;MacBookPro8,1 TC1C=CPU Core 1;MacBookPro8,1 TC2C=-;"
        "MacBookPro8,1 TC0c=-;iMac13,1 TC0C=-;iMac13,1 TC0c=CPU Core 0;iMac13,1 TC1c=CPU Core 1;"
        "iMac13,2 TC0C=CPU Core 0;MacPro4,1 TC0c=-;MacPro3,1 TH0P=Drive Bay 0;"
        "MacPro3,1 TH3P=Drive Bay 3;MacPro3,1 TH4P=-;MacPro4,1 TH0P=-;MacPro4,1 TH1P=Drive Bay 0;"
        "MacPro4,1 TH4P=Drive Bay 3;Macmini3,1 TH0P=HDD case;Macmini3,1 TH1P=-;"
        "Macmini5,1 TH0P=-;iMac11,3 TL0P=LCD proximity;iMac13,1 TL0P=-;"
        "iMac13,2 TL0p=LCD proximity;MacBookPro8,1 TL0p=-;MacPro2,1 TN0H=IOH HeatSink;"
        "Macmini5,1 TN0H=Northbridge;MacBookPro8,1 tc0p=-;MacBookPro8,1 TC0P =-;"
        "MacBookPro8,1 TCXX=-;MacBookPro8,1 =-;"
        // Newer machines by generation: T2, M1/M2, M3 and later; older keys keep their rows.
        "MacBookPro16,1 TCXC=CPU PECI;MacBookPro14,3 TCXC=-;MacBookPro16 TCXC=-;"
        "MacBookAir8,1 TB0T=Battery;iMac20,1 TH0b=SSD 2;Macmini8,1 TA0V=Ambient;"
        "iMacPro1,1 TPCD=Platform Controller Hub;MacPro7,1 TCMb=-;MacBookPro8,1 TB0T=Bottom "
        "Enclosure;MacBookPro16,1 TW0P=Airport Card;MacBookPro17,1 TCHP=Charge Regulator;"
        "MacBookAir10,1 TB0T=Battery Hotspot;Macmini9,1 TW0P=Wi-Fi/Bluetooth Module;"
        "MacBookPro18,3 TCMz=CPU Die Maximum;Mac13,1 Tp09=CPU Efficiency Cores 1;"
        "Mac14,7 Tg0D=GPU 2;Mac14,2 Tf04=-;Mac15,3 Te0S=CPU Efficiency Cores 2;"
        "Mac16,8 Tf0A=CPU Performance Cores 3;Mac16,8 Tp01=-;iMac21,1 TH0x=SSD (NAND Flash);"
        "MacBookPro8,1 TCMb=-";
    for (const QString& row : conditional.split(';')) {
        const QString name = row.section('=', 1);
        QTest::addRow("%s", qPrintable(row))
            << row.section(' ', 0, 0) << row.section('=', 0, 0).section(' ', 1)
            << (name == "-" ? kUnsupported : name);
    }
}

void tst_Sensors::sensorTable()
{
    QFETCH(QString, machine);
    QFETCH(QString, key);
    QFETCH(QString, name);

    QString found = kUnsupported;
    const bool bSupported = QTempSensor::IsSensorSupported(factsFor(machine), key, found);
    QCOMPARE(bSupported, name != kUnsupported);
    QCOMPARE(found, name); // an unsupported key leaves the caller's name untouched
}

void tst_Sensors::machineFactsTakenOnce()
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
    QVERIFY(bStillMacPro && !bSeesIMac);
}

// The newer rows' names follow the language, the older ones stay English; every language file
// names the same sensors.
void tst_Sensors::sensorNamesByLanguage()
{
    const QString english = QStringLiteral("/Ready/languages/English.xml");
    const QString folder = TestSupport::sourceDir() + "/src/resources/languages";
    QStringList ids;
    for (const char* file : {"English.xml", "German.xml", "Russian.xml"}) {
        QLanguageLoader only(english);
        only.setLanguagesFolder(folder);
        QVERIFY(only.LoadLanguage(file));
        QStringList keys = only.stringTable().keys().filter(QRegularExpression("^SensorNames/"));
        keys.sort();
        QVERIFY(keys.size() >= 20 && (ids.isEmpty() || keys == ids));
        ids = keys;
    }
    QLanguageLoader loader(english);
    loader.setLanguagesFolder(folder);
    const char* const rows[] = {"German.xml|Mac16,8 Tf09=CPU Leistungskerne 2",
                                "Russian.xml|MacBookPro18,3 TB0T=Аккумулятор, самая горячая точка",
                                "German.xml|MacBookPro8,1 TC0P=CPU Proximity"};
    for (const QString row : rows) {
        QCOMPARE(loader.load(row.section('|', 0, 0)), row.section('|', 0, 0));
        QString name;
        const QString test = row.section('|', 1);
        QVERIFY(QTempSensor::IsSensorSupported(factsFor(test.section(' ', 0, 0)),
                                               test.section(' ', 1).section('=', 0, 0), name));
        QCOMPARE(name, test.section('=', 1));
    }
}

void tst_Sensors::valueAndProposedRange_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QList<int>>("expected"); // rounded, proposed minimum, proposed maximum

    QTest::newRow("half rounds up") << 44.5 << QList<int>{45, 40, 50};
    QTest::newRow("below half rounds down") << 44.49 << QList<int>{44, 39, 49};
    QTest::newRow("minus half rounds up to zero") << -0.5 << QList<int>{0, 20, 5};
    QTest::newRow("cool sensor: start at 20") << 18.2 << QList<int>{18, 20, 23};
    QTest::newRow("hot sensor: maximum at 100") << 97.0 << QList<int>{97, 92, 100};
}

void tst_Sensors::valueAndProposedRange()
{
    QFETCH(double, value);
    QFETCH(QList<int>, expected);

    QTempSensor sensor;
    QCOMPARE(sensor.GetValue(), 0.0);
    sensor.SetValue(value);
    QCOMPARE(sensor.GetValue(), value);
    QCOMPARE((QList<int>{sensor.GetValueInt(), sensor.GetProposedMin(), sensor.GetProposedMax()}),
             expected);
}

// A store holding the setting "Fahrenheit" (an invalid value: the key is absent); null: no store.
void tst_Sensors::useScale(const QVariant& setting)
{
    static int s_nStores = 0;
    QCoreServices::setPreferences(nullptr);
    m_pPrefs.reset(new QPreferences(m_Dir.filePath(QString("p%1.ini").arg(++s_nStores))));
    if (setting.isValid()) {
        m_pPrefs->setValue("Fahrenheit", setting);
    }
    QCoreServices::setPreferences(setting.toString() == "no store" ? nullptr : m_pPrefs.data());
}

void tst_Sensors::temperatureScale_data()
{
    QTest::addColumn<QVariant>("setting");
    QTest::addColumn<bool>("bFahrenheit");
    QTest::addColumn<QList<int>>("ints"); // Celsius -> shown, typed -> Celsius
    QTest::addColumn<double>("celsius");
    QTest::addColumn<double>("shown");

    QTest::newRow("Celsius leaves values alone")
        << QVariant(0) << false << QList<int>{37, 37, 100, 100} << 36.6 << 36.6;
    QTest::newRow("body temperature")
        << QVariant(1) << true << QList<int>{37, 98, 100, 38} << 37.0 << 98.6;
    QTest::newRow("any non-zero value is Fahrenheit")
        << QVariant(2) << true << QList<int>{100, 212, 212, 100} << 100.0 << 212.0;
    QTest::newRow("shown truncated toward zero, typed rounded")
        << QVariant(1) << true << QList<int>{-18, 0, 0, -18} << -18.0 << -0.4;
    QTest::newRow("typed just below freezing rounds to -1")
        << QVariant(1) << true << QList<int>{0, 32, 31, -1} << 0.5 << 32.9;
    QTest::newRow("missing key counts as Fahrenheit")
        << QVariant() << true << QList<int>{37, 98, 100, 38} << 37.0 << 98.6;
    QTest::newRow("no store: Celsius")
        << QVariant("no store") << false << QList<int>{37, 37, 100, 100} << 37.0 << 37.0;
}

void tst_Sensors::temperatureScale()
{
    QFETCH(QVariant, setting);
    QFETCH(bool, bFahrenheit);
    QFETCH(QList<int>, ints);
    QFETCH(double, celsius);
    QFETCH(double, shown);

    useScale(setting);
    QCOMPARE(isFehrenheit(), bFahrenheit);
    QCOMPARE(getTemperatureScaleSymbol(), QString(QChar(0x00B0)) + (bFahrenheit ? "F" : "C"));
    QCOMPARE(getTemperatureValueForCurrentScale(ints[0]), ints[1]);
    QCOMPARE(getCelsiusTemperatureFromValue(ints[2]), ints[3]);
    QVERIFY(qAbs(getTemperatureValueForCurrentScale(celsius) - shown) < 1e-9);
}

void tst_Sensors::fahrenheitRoundTrip_data()
{
    QTest::addColumn<int>("celsius");
    for (int c = 0; c <= 127; ++c) {
        QTest::addRow("%d", c) << c;
    }
}

// A whole Celsius degree shown in Fahrenheit and typed back unchanged is the same degree.
void tst_Sensors::fahrenheitRoundTrip()
{
    QFETCH(int, celsius);
    useScale(1);
    QCOMPARE(getCelsiusTemperatureFromValue(getTemperatureValueForCurrentScale(celsius)), celsius);
}

void tst_Sensors::readOutputLines_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("no trailing newline") << "printf abc" << QStringList{"abc"};
    QTest::newRow("cut at NUL") << "printf \"ab\\000cd\\nef\"" << QStringList{"ab"};
    QTest::newRow("slow command stopped, output kept")
        << "sh -c \"printf partial; exec sleep 20\"" << QStringList{"partial"};
}

void tst_Sensors::readOutputLines()
{
    QFETCH(QString, command);
    QFETCH(QStringList, lines);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readOutput(command, 500), lines);
    QVERIFY(timer.elapsed() < 10000);
}

void tst_Sensors::machineNameCaching_data()
{
    QTest::addColumn<bool>("withStore");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("queries"); // by the first and the second instance
    QTest::addColumn<QString>("storedAfter");
    QTest::addColumn<QString>("replaced"); // by the first instance

    const auto add = [](const char* name, bool withStore, const char* stored, const char* answer,
                        const char* result, QList<int> queries, const char* storedAfter,
                        const char* replaced = "") {
        QTest::newRow(name) << withStore << QString(stored) << QString(answer) << QString(result)
                            << queries << QString(storedAfter) << QString(replaced);
    };
    add("stored name, same machine: one lookup per start", true, "iMac11,2", "iMac11,2", "iMac11,2",
        {1, 1}, "iMac11,2");
    add("stored name of another machine: replaced", true, "MacBookPro8,2", "iMac11,1", "iMac11,1",
        {1, 1}, "iMac11,1", "MacBookPro8,2");
    add("lookup finds nothing: stored name used", true, "iMac11,2", "", "iMac11,2", {1, 1},
        "iMac11,2");
    add("damaged stored name: not used, not rewritten", true, "iMac\x01", "", "", {2, 2},
        "iMac\x01");
    add("first run: one lookup, stored", true, "", "MacPro4,1", "MacPro4,1", {1, 1}, "MacPro4,1");
    add("nothing found: asked again, nothing stored", true, "", "", "", {2, 2}, "");
    add("no store: one lookup per instance", false, "", "Macmini5,1", "Macmini5,1", {1, 1}, "");
}

void tst_Sensors::machineNameCaching()
{
    QFETCH(bool, withStore);
    QFETCH(QString, stored);
    QFETCH(QString, answer);
    QFETCH(QString, name);
    QFETCH(QList<int>, queries);
    QFETCH(QString, storedAfter);
    QFETCH(QString, replaced);

    QTemporaryDir dir;
    QPreferences preferences(dir.filePath("thermora.ini"));
    preferences.setString("Machine", stored);
    QCoreServices::setPreferences(withStore ? &preferences : nullptr);
    QList<int> counted;
    for (int i = 0; i < 2; ++i) { // two starts over the same store
        int nQueries = 0;
        QMySysInfo info([&] {
            ++nQueries;
            return answer;
        });
        QCOMPARE(info.macModel(), 0); // nothing known before the first lookup
        QCOMPARE(info.machineName(), name);
        QCOMPARE(info.machineName(), name);
        QCOMPARE(info.replacedMachine(), i == 0 ? replaced : QString());
        counted << nQueries;
    }
    QCOMPARE(counted, queries);
    QCOMPARE(preferences.getString("Machine"), storedAfter);
}

void tst_Sensors::identifiers_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("macPro");

    QTest::newRow("iMac13,1") << "iMac13,1" << 102 << false;
    QTest::newRow("Macmini5,1") << "Macmini5,1" << 201 << false;
    QTest::newRow("MacPro4,1") << "MacPro4,1" << 303 << true;
    QTest::newRow("MacPro5,1: no code") << "MacPro5,1" << 0 << true;
    QTest::newRow("case matters") << "macpro4,1" << 0 << false;
    QTest::newRow("unknown") << "" << 0 << false;
}

void tst_Sensors::identifiers()
{
    QFETCH(QString, identifier);
    QFETCH(int, code);
    QFETCH(bool, macPro);

    QCOMPARE(SysInfoHelpers::modelCode(identifier), code);
    QCOMPARE(SysInfoHelpers::isMacProIdentifier(identifier), macPro);
    // "sysctl hw.model" prints the identifier after a 10-character label.
    QCOMPARE(SysInfoHelpers::identifierFromSysctl({"hw.model: " + identifier, "x"}), identifier);
}

void tst_Sensors::platformAsksRunningSimulator()
{
    QTemporaryDir dir;
    const QString socketPath = dir.filePath("smc.sock");
    QSimSmc sim;
    sim.setModel("MacPro4,1");
    QSimServer server(sim);
    QString error;
    QVERIFY2(server.listen(socketPath, &error), qPrintable(error));
    std::thread serving([&server] { server.run(); });
    qputenv("THERMORA_SMC_SOCKET", socketPath.toLocal8Bit());
    QMySysInfo info; // the platform's own lookup
    const QString fromSimulator = info.OS_GetMachineName();
    server.stop();
    serving.join();
    const QString afterStop = info.OS_GetMachineName(); // falls back to the firmware tables
    qunsetenv("THERMORA_SMC_SOCKET");

    QCOMPARE(fromSimulator, QStringLiteral("MacPro4,1"));
    QCOMPARE(afterStop, SysInfoHelpers::appleDmiProductName("/sys/class/dmi/id"));
    QVERIFY(info.OS_GetOSVersionString().startsWith(QLatin1String("Linux ")));
    QCOMPARE(SysInfoHelpers::osVersionName(11), QStringLiteral("Mac OS X 10.9"));
    QCOMPARE(SysInfoHelpers::osVersionName(7), QStringLiteral("Mac OS X 10.5"));
}

void tst_Sensors::overheatEpisodes_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("stored"); // "OverheatAlarmCpuGpu"; empty: not set
    QTest::addColumn<QList<double>>("readings");
    QTest::addColumn<QString>("changes"); // per reading: B episode began, E ended, . neither
    QTest::addColumn<QString>("storedAfter");

    QTest::newRow("CPU core: 95, over 5 below")
        << "TC0C"
        << "" << QList<double>{94.9, 95, 99, 91, 90.1, 90, 96} << ".B...EB"
        << "95";
    QTest::newRow("GPU diode: 95") << "TG0D"
                                   << "" << QList<double>{94.9, 95} << ".B"
                                   << "95";
    QTest::newRow("ambient: 70") << "TA0P"
                                 << "" << QList<double>{69.9, 70, 65.1, 65} << ".B.E"
                                 << "95";
    QTest::newRow("no reading changes nothing")
        << "TC0P"
        << "95" << QList<double>{qQNaN(), 96, 0, -1, qQNaN(), 89} << ".B...E"
        << "95";
    QTest::newRow("stored 85") << "TC0P"
                               << "85" << QList<double>{84.9, 85} << ".B"
                               << "85";
    QTest::newRow("stored out of range: default, kept") << "TC0P"
                                                        << "300" << QList<double>{94, 95} << ".B"
                                                        << "300";
    QTest::newRow("stored not a number: default") << "TC0P"
                                                  << "hot" << QList<double>{94, 95} << ".B"
                                                  << "95";
}

void tst_Sensors::overheatEpisodes()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(QList<double>, readings);
    QFETCH(QString, changes);
    QFETCH(QString, storedAfter);

    m_pPrefs.reset(new QPreferences(m_Dir.filePath("overheat.ini")));
    m_pPrefs->remove(QOverheatWatch::kCpuGpuSetting);
    if (!stored.isEmpty())
        m_pPrefs->setString(QOverheatWatch::kCpuGpuSetting, stored);
    QCoreServices::setPreferences(m_pPrefs.data());
    QTempSensor sensor;
    sensor.setKey(key);
    QOverheatWatch watch(0, 0);
    watch.loadThresholds();
    QString seen;
    for (double celsius : readings)
        seen += QString(".BE").at(watch.update(&sensor, celsius));
    QCOMPARE(seen, changes);
    QCOMPARE(watch.isOverheated(&sensor), changes.lastIndexOf('B') > changes.lastIndexOf('E'));
    QCOMPARE(m_pPrefs->getString(QOverheatWatch::kCpuGpuSetting), storedAfter);
    QCOMPARE(m_pPrefs->getInt(QOverheatWatch::kOtherSetting, -1), 70);
}

QTEST_GUILESS_MAIN(tst_Sensors)
#include "tst_sensors.moc"
