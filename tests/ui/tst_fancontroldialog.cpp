#include "app/app.h"
#include "core/QTempSensorSmart.h"
#include "core/SensorControl.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "support/QMessageBoxCloser.h"
#include "support/QSimMachine.h"
#include "support/QToolFixture.h"
#include "ui/FanControlDialog.h"
#include "ui/QWidgetHider.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {
enum Choice
{
    None,
    Auto,
    Constant,
    Sensor
};

// Fan 0 "CPU" 1000..6000 RPM at 1800, fan 1 "ODD" 1500..1500, sensors TA0P "Ambient", TC0P
// "CPU Proximity", TG0D "GPU Diode", TO0P "Optical Drive"; fan 0 in the given mode and scale.
struct QDialogMachine
{
    explicit QDialogMachine(const QString& mode, int nFahrenheit = 0)
        : prefs(dir.filePath("thermora.ini")), sim(keys())
    {
        prefs.setInt("Fahrenheit", nFahrenheit);
        QCoreServices::setPreferences(&prefs);
        sim.start();
        const std::pair<const char*, double> values[] = {
            {"TA0P", 18.2}, {"TC0P", 61.5}, {"TG0D", 97.0}, {"TO0P", 35.0}};
        for (auto [key, value] : values)
            if (QTempSensor* pSensor = sim.pController->sensorByKey(key))
                pSensor->SetValue(value);
        fan()->SetControlMode(FanControlMode::fromString(mode));
        prefs.remove("Fan_0");
    }
    ~QDialogMachine()
    {
        QCoreServices::setPreferences(nullptr);
        QCoreServices::setReadOnly(false);
    }
    static QVector<QSimKey> keys()
    {
        using namespace SimMachineUtils;
        return QVector<QSimKey>{
                   numberKey("FNum", "ui8 ", 2, 1),  numberKey("FS! ", "ui16", 0, 2),
                   numberKey("TA0P", "sp78", 40, 2), numberKey("TC0P", "sp78", 40, 2),
                   numberKey("TG0D", "sp78", 40, 2), numberKey("TO0P", "sp78", 40, 2)} +
               fanKeys(0, "CPU", 1800, 1000, 6000) + fanKeys(1, "ODD", 1500, 1500, 1500);
    }
    FanInfo* fan(int n = 0) { return sim.pController->GetFan(n); }
    QString stored(int n = 0) { return prefs.getString(QStringLiteral("Fan_%1").arg(n)); }

    QTemporaryDir dir;
    QPreferences prefs;
    QSimMachine sim;
};

// The dialog for fan n of the machine, shown.
struct QShownDialog : QFanControlDialog
{
    QShownDialog(QDialogMachine& machine, int n = 0)
        : QFanControlDialog(nullptr, machine.fan(n), machine.sim.pController.data()), ui(form())
    {
        show();
        QVERIFY(QTest::qWaitForWindowExposed(this));
    }
    Choice checked() const
    {
        return ui.radioAuto->isChecked()       ? Auto
               : ui.radioConstant->isChecked() ? Constant
               : ui.radioSensor->isChecked()   ? Sensor
                                               : None;
    }
    void choose(Choice choice)
    {
        QTest::mouseClick(choice == Auto       ? ui.radioAuto
                          : choice == Constant ? ui.radioConstant
                                               : ui.radioSensor,
                          Qt::LeftButton);
    }
    // As a user types: select all, type, leave the box.
    static void type(QSpinBox* pSpin, int value)
    {
        pSpin->setFocus();
        pSpin->selectAll();
        QTest::keyClicks(pSpin, QString::number(value));
        QTest::keyClick(pSpin, Qt::Key_Tab);
    }

    const Ui_FanControlDialog& ui;
};

// A mode, what the dialog shows for it, and what OK stores after the user's changes.
struct ModeRow
{
    QString mode;
    int fahrenheit;
    Choice shownChoice;
    int shownRpm;
    QString shownSensor;
    QPoint shownTemperatures; // start, maximum
    Choice choice;            // then chosen by the user
    int rpm;                  // typed; -1 leaves it
    QString sensor;           // picked; empty leaves it
    QPoint typed;             // start, maximum typed; -1 leaves them
    QString stored;
    bool enter = false; // the speed typed is confirmed with Enter, else OK is clicked
};
} // namespace

Q_DECLARE_METATYPE(ModeRow)

class tst_FanControlDialog : public QObject
{
    Q_OBJECT
    QScopedPointer<QLanguageLoader> m_pLanguage;

private slots:
    void initTestCase();
    void showsAndStoresMode_data();
    void showsAndStoresMode();
    void okWithoutEditsKeepsMode();
    void blockedApply();
    void sensorListRule();
    void refusedRightsWarnBeforeTheModeChanges();
};

void tst_FanControlDialog::initTestCase()
{
    m_pLanguage.reset(new QLanguageLoader(QLatin1String(kThermoraDefaultLanguage)));
    m_pLanguage->load(QStringLiteral("English.xml"));
}

void tst_FanControlDialog::showsAndStoresMode_data()
{
    // Sensor values: Ambient 18.2, CPU Proximity 61.5, GPU Diode 97, Optical Drive 35.
    QTest::addColumn<ModeRow>("row");
    const QPoint lowest(20, 20);
    const QPoint none(-1, -1);
    QTest::newRow("automatic to constant, typed")
        << ModeRow{"0", 0, Auto, 1800, "Ambient", lowest, Constant, 2500, "", none, "1,2500"};
    QTest::newRow("typed above the maximum, OK: the maximum")
        << ModeRow{"0", 0, Auto, 1800, "Ambient", lowest, Constant, 6500, "", none, "1,6000"};
    QTest::newRow("typed 99999, Enter: the maximum") << ModeRow{
        "0", 0, Auto, 1800, "Ambient", lowest, Constant, 99999, "", none, "1,6000", true};
    QTest::newRow("typed below the minimum, Enter: the minimum") << ModeRow{
        "1,3000", 0, Constant, 3000, "Ambient", lowest, Constant, 500, "", none, "1,1000", true};
    QTest::newRow("constant to automatic")
        << ModeRow{"1,3000", 0, Constant, 3000, "Ambient", lowest, Auto, -1, "", none, "0"};
    QTest::newRow("undefined to sensor-based: first sensor's proposal")
        << ModeRow{"", 0, None, 1800, "Ambient", lowest, Sensor, -1, "", none, "2,TA0P,20,23"};
    QTest::newRow("fan's sensor not listed: first sensor's proposal")
        << ModeRow{"2,TZ9P,50,70", 0,  Sensor, 1800, "Ambient",     QPoint(20, 23),
                   Sensor,         -1, "",     none, "2,TA0P,20,23"};
    QTest::newRow("Celsius: start 60 raises the maximum to 68")
        << ModeRow{"2,TC0P,45,55", 0,  Sensor, 1800,           "CPU Proximity", QPoint(45, 55),
                   Sensor,         -1, "",     QPoint(60, -1), "2,TC0P,60,68"};
    QTest::newRow("Fahrenheit: start 140, maximum 194")
        << ModeRow{"2,TC0P,45,80",   1,      Sensor, 1800, "CPU Proximity",
                   QPoint(113, 176), Sensor, -1,     "",   QPoint(140, 194),
                   "2,TC0P,60,90"};
    QTest::newRow("Fahrenheit: any non-zero setting, other sensor")
        << ModeRow{"2,TC0P,45,80",  2,
                   Sensor,          1800,
                   "CPU Proximity", QPoint(113, 176),
                   Sensor,          -1,
                   "Optical Drive", QPoint(150, -1),
                   "2,TO0P,66,73"};
}

void tst_FanControlDialog::showsAndStoresMode()
{
    QFETCH(ModeRow, row);
    QDialogMachine machine(row.mode, row.fahrenheit);
    machine.prefs.remove("Fan_1");
    FanInfo* pFan = machine.fan();
    pFan->updateSensorControl(50); // history, which OK must clear
    QVERIFY(pFan->sensorControl()->lastTemperature() != -1);
    QShownDialog dialog(machine);
    const Ui_FanControlDialog& ui = dialog.ui;
    const QPoint range = row.fahrenheit ? QPoint(68, 212) : QPoint(20, 100);

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Fan control for CPU"));
    QCOMPARE(dialog.checked(), row.shownChoice);
    QCOMPARE(QPoint(ui.spinConstant->value(), ui.sliderRPM->value()),
             QPoint(row.shownRpm, row.shownRpm));
    QCOMPARE(QPoint(ui.sliderRPM->minimum(), ui.spinConstant->maximum()), QPoint(1000, 6000));
    QCOMPARE(ui.labelRange->text(), QString("(1000\u20136000 RPM)"));
    QCOMPARE(ui.comboSensor->currentText(), row.shownSensor);
    QCOMPARE(ui.comboSensor->itemData(1).value<void*>(),
             static_cast<void*>(machine.sim.pController->sensors().at(1)));
    QCOMPARE(QPoint(ui.spinIncrease->value(), ui.spinMax->value()), row.shownTemperatures);
    QCOMPARE(QPoint(ui.spinIncrease->minimum(), ui.spinIncrease->maximum()), range);
    QCOMPARE(QPoint(ui.spinMax->minimum(), ui.spinMax->maximum()), range);
    QCOMPARE(ui.labelDegree1->text() + ui.labelDegree2->text(),
             QString(row.fahrenheit ? "\u00b0F\u00b0F" : "\u00b0C\u00b0C"));
    QCOMPARE(dialog.okButton()->isEnabled(), row.shownChoice != None);
    QCOMPARE(ui.labelIncrease->text(),
             QStringLiteral("Temperature that fan speed will start to increase from:"));
    QVERIFY(!ui.labelFooter->isVisible());

    const QSize size = dialog.size();
    dialog.choose(row.choice);
    // One fixed size; the widgets of the other modes keep their place but take no focus.
    QCOMPARE(dialog.maximumSize(), size);
    QCOMPARE(ui.sliderRPM->focusPolicy() != Qt::NoFocus, row.choice == Constant);
    QCOMPARE(ui.spinMax->focusPolicy() != Qt::NoFocus, row.choice == Sensor);
    const int nRpm = ui.sliderRPM->value(); // a hidden slider takes no clicks
    QTest::mouseClick(ui.sliderRPM, Qt::LeftButton, {}, QPoint(2, ui.sliderRPM->height() / 2));
    QCOMPARE(ui.sliderRPM->value() != nRpm, row.choice == Constant);
    if (row.choice != Auto && row.choice != row.shownChoice)
        QCOMPARE(QApplication::focusWidget(),
                 row.choice == Constant ? static_cast<QWidget*>(ui.spinConstant) : ui.comboSensor);
    if (row.rpm != -1) {
        ui.spinConstant->selectAll();
        QTest::keyClicks(ui.spinConstant, QString::number(row.rpm));
        if (row.enter)
            QTest::keyClick(ui.spinConstant, Qt::Key_Return); // the default button: OK
    }
    QCOMPARE(ui.sliderRPM->value(), ui.spinConstant->value());
    if (!row.sensor.isEmpty())
        ui.comboSensor->setCurrentText(row.sensor);
    if (row.typed.x() != -1) {
        QShownDialog::type(ui.spinIncrease, row.typed.x());
        const int floor = row.typed.x() + (row.fahrenheit ? 14 : 8);
        QCOMPARE(ui.spinMax->minimum(), floor);
        QVERIFY(ui.spinMax->value() >= floor);
    }
    if (row.typed.y() != -1)
        QShownDialog::type(ui.spinMax, row.typed.y());
    if (!row.enter)
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    QVERIFY(dialog.result() == QDialog::Accepted && !dialog.isVisible());
    QCOMPARE(machine.stored(), row.stored);
    QCOMPARE(machine.stored(1), QStringLiteral("0")); // every fan's mode is stored
    QCOMPARE(pFan->GetControlMode().toString(), row.stored);
    QByteArray mask;
    QVERIFY(machine.sim.sim.value("FS! ", mask));
    QCOMPARE(int(mask.at(1)), row.stored == "0" ? 0 : 1);
    QCOMPARE(pFan->sensorControl()->lastTemperature(), -1);
}

void tst_FanControlDialog::okWithoutEditsKeepsMode()
{
    for (int fahrenheit : {1, 0})
        for (const char* mode : {"2,TC0P,46,56", "2,TC0P,20,100", "2,TC0P,21,99", "2,TC0P,33,84",
                                 "2,TC0P,37,45", "1,2345", "0"}) {
            QDialogMachine machine(mode, fahrenheit);
            QFanControlDialog dialog(nullptr, machine.fan(), machine.sim.pController.data());
            dialog.okButton()->click();
            QCOMPARE(machine.stored(), QString(mode));
        }
}

void tst_FanControlDialog::blockedApply()
{
    const QString equal =
        "Something is wrong - min/max fan values are equal (1500).<br/> Please make sure to "
        "uninstall any other fan controlling software and reset SMC.";
    const QString readOnly = "Read-only mode: non-Apple file system detected (msdos). Try "
                             "moving the app to '/Applications'?";
    // Fan (5: none), file system of read-only mode, warning shown ("": none).
    const std::tuple<int, QString, QString> rows[] = {
        {0, "", ""}, {1, "", equal}, {0, "msdos", readOnly}, {1, "msdos", equal}, {5, "", ""}};
    for (const auto& [fan, readOnlyFs, warning] : rows) {
        QDialogMachine machine("0");
        machine.prefs.remove(QStringLiteral("Fan_%1").arg(fan));
        QCoreServices::setReadOnly(!readOnlyFs.isEmpty(), readOnlyFs);
        QShownDialog dialog(machine, fan);
        const QString footer = dialog.ui.labelFooter->text();
        QCOMPARE(dialog.ui.labelFooter->isVisible(), !warning.isEmpty());
        QVERIFY2(footer.contains(warning), qPrintable(footer));
        QCOMPARE(footer.contains(":/Resources/warning.png"), !warning.isEmpty());
        QCOMPARE(dialog.ui.labelFooter->font().pointSizeF(), dialog.font().pointSizeF() - 2);
        const bool bBlocked = !warning.isEmpty() || !machine.fan(fan);
        for (Choice choice : {Sensor, Auto, Constant}) {
            dialog.choose(choice);
            QCOMPARE(dialog.okButton()->isEnabled(), !bBlocked);
        }
        // Neither a click on the disabled button nor Return commands anything.
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_Return);
        QCOMPARE(machine.stored(fan).isEmpty(), bBlocked);
        // Ctrl+W (Command+W) closes as Cancel does; W alone does not.
        dialog.show();
        dialog.setResult(7);
        QTest::keyClick(&dialog, Qt::Key_W);
        QCOMPARE(dialog.isVisible(), true);
        QTest::keyClick(&dialog, Qt::Key_W, Qt::ControlModifier);
        QCOMPARE(dialog.isVisible(), false);
        QCOMPARE(dialog.result(), 0);
    }
}

void tst_FanControlDialog::sensorListRule()
{
    struct QTestDrive : QTempSensorSmart
    {
        explicit QTestDrive(bool bSsd) : QTempSensorSmart(0) { m_bSSD = bSsd; }
    };
    // Only a solid-state drive that reads exactly 0 is left out.
    const struct
    {
        int kind; // 0 SMC sensor, 1 hard disk, 2 solid-state drive
        double value;
        bool offered;
    } rows[] = {{2, 0.0, false}, {2, 0.1, true}, {1, 0.0, true}, {0, 0.0, true}};
    for (const auto& row : rows) {
        QScopedPointer<QTempSensor> pSensor(row.kind ? new QTestDrive(row.kind == 2)
                                                     : new QTempSensor);
        pSensor->SetValue(row.value);
        QCOMPARE(QFanControlDialog::isSensorOffered(pSensor.data()), row.offered);
    }
}

// A refused prompt warns at every apply, before the fan is handed its new mode.
void tst_FanControlDialog::refusedRightsWarnBeforeTheModeChanges()
{
    QDialogMachine machine("0");
    QToolFixture fixture(0755, 0, "exit 126");
    QSmcControl::setInstance(new QSmcControlMac(nullptr)); // writes go through the tool
    QMessageBoxCloser closer;
    QStringList modesWhileWarned;
    closer.onShown = [&] { modesWhileWarned << machine.fan()->GetControlMode().toString(); };
    for (int rpm : {4000, 3000}) {
        QShownDialog dialog(machine);
        dialog.choose(Constant);
        QShownDialog::type(dialog.ui.spinConstant, rpm);
        dialog.okButton()->click();
    }
    QSmcControl::destroyInstance();
    QCOMPARE(modesWhileWarned, QStringList({"0", "1,4000"}));
    QCOMPARE(machine.stored(), QStringLiteral("1,3000"));
    QCOMPARE(fixture.promptRuns(), 2);
}

QTEST_MAIN(tst_FanControlDialog)
#include "tst_fancontroldialog.moc"
