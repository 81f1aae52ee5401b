#include "FanDialogMachine.h"

#include "core/QTempSensorSmart.h"
#include "core/SensorControl.h"
#include "helpers/ImageResourceUtils.h"
#include "ui/FanControlDialog.h"
#include "ui/GraphicHelpers.h"
#include "ui/QDialogEx.h"
#include "ui/QWidgetHider.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {
enum Choice
{
    ChoiceNone,
    ChoiceAuto,
    ChoiceConstant,
    ChoiceSensor
};

Choice checkedChoice(const Ui_FanControlDialog& ui)
{
    if (ui.radioAuto->isChecked()) {
        return ChoiceAuto;
    }
    if (ui.radioConstant->isChecked()) {
        return ChoiceConstant;
    }
    return ui.radioSensor->isChecked() ? ChoiceSensor : ChoiceNone;
}

void choose(const Ui_FanControlDialog& ui, Choice choice)
{
    QRadioButton* pRadio = choice == ChoiceAuto       ? ui.radioAuto
                           : choice == ChoiceConstant ? ui.radioConstant
                                                      : ui.radioSensor;
    QTest::mouseClick(pRadio, Qt::LeftButton);
    QVERIFY(pRadio->isChecked());
}

void selectSensor(const Ui_FanControlDialog& ui, const QString& name)
{
    const int index = ui.comboSensor->findText(name);
    QVERIFY2(index >= 0, qPrintable(name));
    ui.comboSensor->setCurrentIndex(index);
}

// Types a number into a spin box the way a user does: select all, type, leave the box.
void typeInto(QSpinBox* pSpin, int value)
{
    pSpin->setFocus();
    pSpin->selectAll();
    QTest::keyClicks(pSpin, QString::number(value));
    QTest::keyClick(pSpin, Qt::Key_Tab);
}

// A drive sensor in a given state, for the sensor list rule.
class QTestDrive : public QTempSensorSmart
{
public:
    QTestDrive(bool bSsd, double value) : QTempSensorSmart(0)
    {
        m_bSSD = bSsd;
        setKey(QStringLiteral("TEST DRIVE"));
        SetValue(value);
    }
};
} // namespace

Q_DECLARE_METATYPE(Choice)
Q_DECLARE_METATYPE(QMargins)

class tst_FanControlDialog : public QObject
{
    Q_OBJECT

private slots:
    void opensWithFanMode_data();
    void opensWithFanMode();
    void proposedRanges_data();
    void proposedRanges();
    void temperatureScale_data();
    void temperatureScale();
    void applyStoresMode_data();
    void applyStoresMode();
    void blockedApply_data();
    void blockedApply();
    void sensorListRule_data();
    void sensorListRule();
    void sizeStaysFixed_data();
    void sizeStaysFixed();
    void hiderMakesInert_data();
    void hiderMakesInert();
    void dialogKeys_data();
    void dialogKeys();
    void layoutHelpers_data();
    void layoutHelpers();
    void images_data();
    void images();
};

void tst_FanControlDialog::opensWithFanMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<int>("rpm"); // -1: the fan's current speed
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");
    QTest::addColumn<bool>("okEnabled");

    QTest::newRow("automatic shows the current speed")
        << "0" << ChoiceAuto << -1 << "Ambient" << 20 << 20 << true;
    QTest::newRow("constant 3000")
        << "1,3000" << ChoiceConstant << 3000 << "Ambient" << 20 << 20 << true;
    QTest::newRow("sensor-based with its own values")
        << "2,TG0D,50,70" << ChoiceSensor << -1 << "GPU Diode" << 50 << 70 << true;
    QTest::newRow("undefined: nothing chosen, OK off")
        << "" << ChoiceNone << -1 << "Ambient" << 20 << 20 << false;
}

void tst_FanControlDialog::opensWithFanMode()
{
    QFETCH(QString, mode);
    QFETCH(Choice, choice);
    QFETCH(int, rpm);
    QFETCH(QString, sensor);
    QFETCH(int, start);
    QFETCH(int, max);
    QFETCH(bool, okEnabled);

    QFanDialogMachine machine;
    FanInfo* pFan = machine.fan(0);
    machine.setMode(0, mode);
    if (rpm == -1) {
        rpm = pFan->GetRPM();
    }
    QFanControlDialog dialog(nullptr, pFan, machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Fan control for CPU"));
    QCOMPARE(checkedChoice(ui), choice);
    QCOMPARE(ui.spinConstant->value(), rpm);
    QCOMPARE(ui.sliderRPM->value(), rpm);
    QCOMPARE(ui.sliderRPM->minimum(), 1000);
    QCOMPARE(ui.sliderRPM->maximum(), 6000);
    QCOMPARE(ui.spinConstant->minimum(), 1000);
    QCOMPARE(ui.spinConstant->maximum(), 6000);
    QCOMPARE(ui.spinIncrease->minimum(), 20);
    QCOMPARE(ui.spinIncrease->maximum(), 100);
    QCOMPARE(ui.comboSensor->currentText(), sensor);
    QCOMPARE(ui.spinIncrease->value(), start);
    QCOMPARE(ui.spinMax->value(), max);
    QCOMPARE(dialog.okButton()->isEnabled(), okEnabled);
    QVERIFY(dialog.okButton()->autoDefault());
    QCOMPARE(ui.radioAuto->text(), QStringLiteral("Automatic (controlled by system)"));
    QCOMPARE(ui.labelIncrease->text(),
             QStringLiteral("Temperature that fan speed will start to increase from:"));
    QCOMPARE(ui.comboSensor->count(), 4);
    const int processor = ui.comboSensor->findText(QStringLiteral("CPU Proximity"));
    QVERIFY(!ui.comboSensor->itemIcon(processor).availableSizes().isEmpty());
    QCOMPARE(static_cast<QTempSensor*>(ui.comboSensor->itemData(processor).value<void*>()),
             machine.sensor("TC0P"));
    QVERIFY(!ui.labelFooter->isVisibleTo(&dialog));
}

void tst_FanControlDialog::proposedRanges_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("picks"); // sensors chosen in turn after sensor-based control
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("max");

    // Sensor values: Ambient 18.2, CPU Proximity 61.5, GPU Diode 97.
    // The start stays at its lower bound, so the maximum's floor does not move.
    QTest::newRow("automatic fan: the first sensor's proposal") << "0" << QStringList() << 20 << 23;
    QTest::newRow("another sensor: its proposal")
        << "2,TG0D,50,70" << QStringList{"CPU Proximity"} << 57 << 67;
    QTest::newRow("back to the fan's own sensor: the last values stay")
        << "2,TG0D,50,70" << QStringList{"CPU Proximity", "GPU Diode"} << 57 << 67;
    QTest::newRow("hot sensor: maximum capped at 100")
        << "2,TC0P,50,70" << QStringList{"GPU Diode"} << 92 << 100;
    QTest::newRow("cold sensor: start at 20, maximum raised to 28")
        << "2,TG0D,50,70" << QStringList{"Ambient"} << 20 << 28;
    QTest::newRow("fan's sensor no longer listed: first sensor's proposal")
        << "2,TZ9P,50,70" << QStringList() << 20 << 23;
}

void tst_FanControlDialog::proposedRanges()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, picks);
    QFETCH(int, start);
    QFETCH(int, max);

    QFanDialogMachine machine;
    machine.sensor("TA0P")->SetValue(18.2);
    machine.sensor("TC0P")->SetValue(61.5);
    machine.sensor("TG0D")->SetValue(97.0);
    // A mode whose sensor is missing is set by hand: the controller would refuse it at start.
    machine.setMode(0, mode);
    QFanControlDialog dialog(nullptr, machine.fan(0), machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();

    if (!ui.radioSensor->isChecked()) {
        choose(ui, ChoiceSensor);
    }
    for (const QString& name : picks) {
        selectSensor(ui, name);
    }
    QCOMPARE(ui.spinIncrease->value(), start);
    QCOMPARE(ui.spinMax->value(), max);
}

void tst_FanControlDialog::temperatureScale_data()
{
    QTest::addColumn<int>("fahrenheit");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::addColumn<int>("shownStart");
    QTest::addColumn<int>("shownMax");
    QTest::addColumn<int>("typedStart");
    QTest::addColumn<int>("maxFloor");   // lowest maximum allowed after the start was typed
    QTest::addColumn<int>("maxAfter");   // the maximum's value right after that
    QTest::addColumn<int>("typedMax");   // -1: leave it
    QTest::addColumn<QString>("stored"); // "Fan_0" after OK

    const QString c = QStringLiteral("\u00b0C");
    const QString f = QStringLiteral("\u00b0F");
    QTest::newRow("Celsius: start 60 raises the floor to 68")
        << 0 << "2,TC0P,45,80" << c << 20 << 100 << 45 << 80 << 60 << 68 << 80 << 90
        << "2,TC0P,60,90";
    QTest::newRow("Celsius: a maximum below the new floor is raised")
        << 0 << "2,TC0P,45,55" << c << 20 << 100 << 45 << 55 << 60 << 68 << 68 << -1
        << "2,TC0P,60,68";
    QTest::newRow("Fahrenheit: start 140 raises the floor to 154")
        << 1 << "2,TC0P,45,80" << f << 68 << 212 << 113 << 176 << 140 << 154 << 176 << 194
        << "2,TC0P,60,90";
    QTest::newRow("Fahrenheit: conversions truncate both ways")
        << 1 << "2,TC0P,37,100" << f << 68 << 212 << 98 << 212 << 100 << 114 << 212 << -1
        << "2,TC0P,37,100";
    QTest::newRow("Fahrenheit: any non-zero setting")
        << 2 << "2,TC0P,45,80" << f << 68 << 212 << 113 << 176 << 150 << 164 << 176 << -1
        << "2,TC0P,65,80";
}

void tst_FanControlDialog::temperatureScale()
{
    QFETCH(int, fahrenheit);
    QFETCH(QString, mode);
    QFETCH(QString, symbol);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QFETCH(int, shownStart);
    QFETCH(int, shownMax);
    QFETCH(int, typedStart);
    QFETCH(int, maxFloor);
    QFETCH(int, maxAfter);
    QFETCH(int, typedMax);
    QFETCH(QString, stored);

    QFanDialogMachine machine(true, fahrenheit);
    machine.setMode(0, mode);
    QFanControlDialog dialog(nullptr, machine.fan(0), machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(ui.labelDegree1->text(), symbol);
    QCOMPARE(ui.labelDegree2->text(), symbol);
    QCOMPARE(ui.spinIncrease->minimum(), lowest);
    QCOMPARE(ui.spinIncrease->maximum(), highest);
    QCOMPARE(ui.spinMax->maximum(), highest);
    QCOMPARE(ui.spinIncrease->value(), shownStart);
    QCOMPARE(ui.spinMax->value(), shownMax);
    // Until the start changes, the maximum may go down to the lowest temperature.
    QCOMPARE(ui.spinMax->minimum(), lowest);

    typeInto(ui.spinIncrease, typedStart);
    QCOMPARE(ui.spinIncrease->value(), typedStart);
    QCOMPARE(ui.spinMax->minimum(), maxFloor);
    QCOMPARE(ui.spinMax->value(), maxAfter);
    if (typedMax != -1) {
        typeInto(ui.spinMax, typedMax);
        QCOMPARE(ui.spinMax->value(), typedMax);
    }
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
    QCOMPARE(machine.storedMode(0), stored);
    QCOMPARE(machine.fan(0)->GetControlMode().toString(), stored);
}

void tst_FanControlDialog::applyStoresMode_data()
{
    QTest::addColumn<bool>("sensors");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<int>("rpm");       // typed into the box; -1 leaves it
    QTest::addColumn<int>("sliderRpm"); // set on the slider; -1 leaves it
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("manual");

    QTest::newRow("constant to automatic") << true << "1,3000" << ChoiceAuto << -1 << -1 << ""
                                           << "0" << false;
    QTest::newRow("automatic to constant, typed")
        << true << "0" << ChoiceConstant << 2500 << -1 << ""
        << "1,2500" << true;
    QTest::newRow("automatic to constant, slider")
        << true << "0" << ChoiceConstant << -1 << 4000 << ""
        << "1,4000" << true;
    QTest::newRow("constant kept, new speed")
        << true << "1,3000" << ChoiceConstant << 5200 << -1 << ""
        << "1,5200" << true;
    QTest::newRow("automatic to sensor-based")
        << true << "0" << ChoiceSensor << -1 << -1 << "CPU Proximity"
        << "2,TC0P,40,50" << true;
    QTest::newRow("sensor-based kept, other sensor")
        << true << "2,TG0D,50,70" << ChoiceSensor << -1 << -1 << "Optical Drive"
        << "2,TO0P,30,40" << true;
    QTest::newRow("sensor-based without sensors: mode kept, still stored")
        << false << "1,3000" << ChoiceSensor << -1 << -1 << ""
        << "1,3000" << true;
}

void tst_FanControlDialog::applyStoresMode()
{
    QFETCH(bool, sensors);
    QFETCH(QString, mode);
    QFETCH(Choice, choice);
    QFETCH(int, rpm);
    QFETCH(int, sliderRpm);
    QFETCH(QString, sensor);
    QFETCH(QString, stored);
    QFETCH(bool, manual);

    QFanDialogMachine machine(sensors);
    FanInfo* pFan = machine.fan(0);
    if (sensors) {
        machine.sensor("TC0P")->SetValue(45.0);
        machine.sensor("TO0P")->SetValue(35.0);
        // Leave the sensor-based control with history, which applying must clear.
        machine.setMode(0, QStringLiteral("2,TC0P,40,70"));
        pFan->updateSensorControl(50);
        QVERIFY(pFan->sensorControl()->lastTemperature() != -1);
    }
    machine.setMode(0, mode);
    machine.preferences()->remove(QStringLiteral("Fan_0"));
    machine.preferences()->remove(QStringLiteral("Fan_1"));

    QFanControlDialog dialog(nullptr, pFan, machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    choose(ui, choice);
    if (rpm != -1) {
        typeInto(ui.spinConstant, rpm);
        QCOMPARE(ui.sliderRPM->value(), rpm);
    }
    if (sliderRpm != -1) {
        ui.sliderRPM->setValue(sliderRpm);
        QCOMPARE(ui.spinConstant->value(), sliderRpm);
    }
    if (!sensor.isEmpty()) {
        selectSensor(ui, sensor);
    }
    QVERIFY(dialog.okButton()->isEnabled());
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(machine.storedMode(0), stored);
    QCOMPARE(machine.storedMode(1), QStringLiteral("0")); // every fan's mode is stored
    QCOMPARE(pFan->GetControlMode().toString(), stored);
    QCOMPARE(pFan->IsManual(), manual);
    QCOMPARE(machine.maskInController(), manual ? 1 : 0);
    QCOMPARE(pFan->sensorControl()->lastTemperature(), -1);
    QCOMPARE(pFan->sensorControl()->targetRpm(), -1);
}

void tst_FanControlDialog::blockedApply_data()
{
    QTest::addColumn<int>("fan");
    QTest::addColumn<QString>("readOnlyFs"); // empty: not read-only
    QTest::addColumn<QString>("warning");    // empty: no footer

    QTest::newRow("ordinary fan: no warning") << 0 << ""
                                              << "";
    QTest::newRow("minimum equals maximum")
        << 1 << ""
        << "Something is wrong - min/max fan values are equal (1500).<br/> Please make sure to "
           "uninstall any other fan controlling software and reset SMC.";
    QTest::newRow("read-only") << 0 << "msdos"
                               << "Read-only mode: non-Apple file system detected (msdos). Try "
                                  "moving the app to '/Applications'?";
    QTest::newRow("read-only and minimum equals maximum: the fan's warning")
        << 1 << "vfat"
        << "Something is wrong - min/max fan values are equal (1500).";
    // No fan at all (a caller's mistake): nothing to command, nothing to warn about.
    QTest::newRow("no fan") << 5 << ""
                            << "";
}

void tst_FanControlDialog::blockedApply()
{
    QFETCH(int, fan);
    QFETCH(QString, readOnlyFs);
    QFETCH(QString, warning);

    QFanDialogMachine machine;
    FanInfo* pFan = machine.fan(fan);
    if (pFan) {
        machine.setMode(fan, QStringLiteral("0"));
    }
    machine.preferences()->remove(QStringLiteral("Fan_%1").arg(fan));
    QCoreServices::setReadOnly(!readOnlyFs.isEmpty(), readOnlyFs);

    QFanControlDialog dialog(nullptr, pFan, machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const bool bBlocked = !warning.isEmpty() || !pFan;
    QCOMPARE(ui.labelFooter->isVisible(), !warning.isEmpty());
    if (!warning.isEmpty()) {
        QVERIFY2(ui.labelFooter->text().contains(warning), qPrintable(ui.labelFooter->text()));
        QVERIFY(ui.labelFooter->text().contains(QLatin1String(":/Resources/warning.png")));
        QVERIFY(!ui.labelFooter->text().contains(QLatin1String("Read-only")) ||
                !readOnlyFs.isEmpty());
    }
    for (Choice choice : {ChoiceConstant, ChoiceSensor, ChoiceAuto}) {
        choose(ui, choice);
        QCOMPARE(dialog.okButton()->isEnabled(), !bBlocked);
    }
    if (bBlocked) {
        // Neither a click on the disabled button nor Return commands anything.
        choose(ui, ChoiceConstant);
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QTest::keyClick(&dialog, Qt::Key_Return);
        if (pFan) {
            QCOMPARE(pFan->GetControlMode().toString(), QStringLiteral("0"));
        }
        QCOMPARE(machine.storedMode(fan), QString());
    }
}

void tst_FanControlDialog::sensorListRule_data()
{
    QTest::addColumn<int>("kind"); // 0 SMC sensor, 1 hard disk, 2 solid-state drive
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("offered");

    QTest::newRow("solid-state drive reading 0: left out") << 2 << 0.0 << false;
    QTest::newRow("solid-state drive reading 0.1: listed") << 2 << 0.1 << true;
    QTest::newRow("hard disk reading 0: listed") << 1 << 0.0 << true;
    QTest::newRow("SMC sensor reading 0: listed") << 0 << 0.0 << true;
}

void tst_FanControlDialog::sensorListRule()
{
    QFETCH(int, kind);
    QFETCH(double, value);
    QFETCH(bool, offered);

    QScopedPointer<QTempSensor> pSensor(kind == 0 ? new QTempSensor
                                                  : new QTestDrive(kind == 2, value));
    if (kind == 0) {
        pSensor->setKey(QStringLiteral("TC0P"));
        pSensor->SetValue(value);
    }
    QCOMPARE(QFanControlDialog::isSensorOffered(pSensor.data()), offered);
}

void tst_FanControlDialog::sizeStaysFixed_data()
{
    QTest::addColumn<int>("fan");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("fahrenheit");

    QTest::newRow("automatic") << 0 << "0" << 0;
    QTest::newRow("constant") << 0 << "1,2000" << 0;
    QTest::newRow("sensor-based, Fahrenheit") << 0 << "2,TC0P,45,80" << 1;
    QTest::newRow("undefined") << 0 << "" << 0;
    QTest::newRow("with footer warning") << 1 << "0" << 0;
}

void tst_FanControlDialog::sizeStaysFixed()
{
    QFETCH(int, fan);
    QFETCH(QString, mode);
    QFETCH(int, fahrenheit);

    QFanDialogMachine machine(true, fahrenheit);
    machine.setMode(fan, mode);
    QFanControlDialog dialog(nullptr, machine.fan(fan), machine.controller());
    const Ui_FanControlDialog& ui = dialog.form();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    const QSize size = dialog.size();
    QCOMPARE(dialog.minimumSize(), size);
    QCOMPARE(dialog.maximumSize(), size);
    const QRect comboPlace = ui.comboSensor->geometry();
    for (Choice choice : {ChoiceConstant, ChoiceSensor, ChoiceAuto, ChoiceSensor, ChoiceConstant}) {
        const bool bChanged = checkedChoice(ui) != choice;
        choose(ui, choice);
        QCoreApplication::processEvents();
        QCOMPARE(dialog.size(), size);
        QCOMPARE(ui.comboSensor->geometry(), comboPlace);
        // The widgets of the other modes keep their place but cannot take the focus.
        const bool bConstant = choice == ChoiceConstant;
        const bool bSensor = choice == ChoiceSensor;
        QCOMPARE(ui.spinConstant->focusPolicy() != Qt::NoFocus, bConstant);
        QCOMPARE(ui.sliderRPM->focusPolicy() != Qt::NoFocus, bConstant);
        QCOMPARE(ui.comboSensor->focusPolicy() != Qt::NoFocus, bSensor);
        QCOMPARE(ui.spinMax->focusPolicy() != Qt::NoFocus, bSensor);
        // Switching to constant speed puts the cursor into the speed box.
        if (bConstant && bChanged) {
            QCOMPARE(QApplication::focusWidget(), ui.spinConstant);
        }
    }
}

void tst_FanControlDialog::hiderMakesInert_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("reacts");

    QTest::newRow("hidden: no click, no key, no paint") << true << false;
    QTest::newRow("shown again: reacts as before") << false << true;
}

void tst_FanControlDialog::hiderMakesInert()
{
    QFETCH(bool, hidden);
    QFETCH(bool, reacts);

    QWidget window;
    QVBoxLayout* pLayout = new QVBoxLayout(&window);
    QPushButton* pButton = new QPushButton(QStringLiteral("Press"), &window);
    QSpinBox* pSpin = new QSpinBox(&window);
    QLabel* pLabel = new QLabel(QStringLiteral("Label"), &window);
    pLayout->addWidget(pButton);
    pLayout->addWidget(pSpin);
    pLayout->addWidget(pLabel);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect buttonPlace = pButton->geometry();
    const QImage blank = [&] {
        QImage image(pButton->size(), QImage::Format_ARGB32);
        image.fill(window.palette().window().color());
        return image;
    }();

    QWidgetHider hider;
    for (QWidget* pWidget : {static_cast<QWidget*>(pButton), static_cast<QWidget*>(pSpin),
                             static_cast<QWidget*>(pLabel)}) {
        hider.setVisible(pWidget, false);
        if (!hidden) {
            hider.setVisible(pWidget, true);
        }
    }
    QSignalSpy clicks(pButton, &QPushButton::clicked);
    QTest::mouseClick(pButton, Qt::LeftButton);
    pSpin->setFocus();
    QTest::keyClick(pSpin->findChild<QLineEdit*>(), Qt::Key_Up);

    QCOMPARE(clicks.count(), reacts ? 1 : 0);
    QCOMPARE(pSpin->value(), reacts ? 1 : 0);
    QCOMPARE(pButton->geometry(), buttonPlace);
    QCOMPARE(pButton->isVisible(), true);
    // A hidden widget paints nothing of its own over the window's background.
    const QImage painted =
        window.grab(buttonPlace).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(painted.scaled(blank.size()) == blank, hidden);
    // The label regains the focus policy it had, not that of an input widget.
    QCOMPARE(pLabel->focusPolicy(), Qt::NoFocus);
    QCOMPARE(pButton->focusPolicy(), hidden ? Qt::NoFocus : Qt::StrongFocus);
}

void tst_FanControlDialog::dialogKeys_data()
{
    QTest::addColumn<bool>("fanDialog");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("closes");

    QTest::newRow("Ctrl+W closes") << false << int(Qt::Key_W) << int(Qt::ControlModifier) << true;
    QTest::newRow("Ctrl+Shift+W closes")
        << false << int(Qt::Key_W) << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
    QTest::newRow("W alone stays") << false << int(Qt::Key_W) << int(Qt::NoModifier) << false;
    QTest::newRow("Ctrl+Q stays") << false << int(Qt::Key_Q) << int(Qt::ControlModifier) << false;
    QTest::newRow("Escape closes as usual")
        << false << int(Qt::Key_Escape) << int(Qt::NoModifier) << true;
    QTest::newRow("fan dialog: Ctrl+W from the focused box closes, nothing stored")
        << true << int(Qt::Key_W) << int(Qt::ControlModifier) << true;
}

void tst_FanControlDialog::dialogKeys()
{
    QFETCH(bool, fanDialog);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, closes);

    QScopedPointer<QFanDialogMachine> pMachine;
    QScopedPointer<QDialogEx> pDialog;
    if (fanDialog) {
        pMachine.reset(new QFanDialogMachine);
        pMachine->setMode(0, QStringLiteral("1,3000"));
        pMachine->preferences()->remove(QStringLiteral("Fan_0"));
        pDialog.reset(new QFanControlDialog(nullptr, pMachine->fan(0), pMachine->controller()));
    } else {
        pDialog.reset(new QDialogEx);
        new QLineEdit(pDialog.data());
    }
    const Qt::WindowFlags flags = pDialog->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));

    pDialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(pDialog.data()));
    pDialog->activateWindow();
    pDialog->setResult(7);
    QWidget* pTarget = QApplication::focusWidget() ? QApplication::focusWidget() : pDialog.data();
    QTest::keyClick(pTarget, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(pDialog->isVisible(), !closes);
    QCOMPARE(pDialog->result(), closes ? 0 : 7);
    if (fanDialog) {
        QCOMPARE(pMachine->storedMode(0), QString());
        QCOMPARE(pMachine->fan(0)->GetControlMode().toString(), QStringLiteral("1,3000"));
    }
}

void tst_FanControlDialog::layoutHelpers_data()
{
    QTest::addColumn<double>("pointSize"); // -1: a font sized in pixels
    QTest::addColumn<double>("decrement");
    QTest::addColumn<double>("expectedSize");
    QTest::addColumn<int>("bottom");
    QTest::addColumn<int>("right");
    QTest::addColumn<QMargins>("expectedMargins"); // from 11, 12, 13, 14

    QTest::newRow("2 points smaller, both margins")
        << 13.0 << 2.0 << 11.0 << 4 << 5 << QMargins(11, 12, 5, 4);
    QTest::newRow("1.5 points smaller, bottom kept")
        << 10.0 << 1.5 << 8.5 << -1 << 0 << QMargins(11, 12, 0, 14);
    QTest::newRow("too small to shrink, right kept")
        << 2.0 << 2.0 << 2.0 << 20 << -1 << QMargins(11, 12, 13, 20);
    QTest::newRow("pixel-sized font left alone, both kept")
        << -1.0 << 2.0 << -1.0 << -1 << -1 << QMargins(11, 12, 13, 14);
}

void tst_FanControlDialog::layoutHelpers()
{
    QFETCH(double, pointSize);
    QFETCH(double, decrement);
    QFETCH(double, expectedSize);
    QFETCH(int, bottom);
    QFETCH(int, right);
    QFETCH(QMargins, expectedMargins);

    QLabel label;
    QFont font = label.font();
    if (pointSize < 0) {
        font.setPixelSize(14);
    } else {
        font.setPointSizeF(pointSize);
    }
    label.setFont(font);
    GraphicHelpers::DecrementWidgetFontSize(&label, decrement);
    QCOMPARE(label.font().pointSizeF(), expectedSize);
    GraphicHelpers::DecrementWidgetFontSize(nullptr, decrement);

    QDialog dialog;
    GraphicHelpers::decreaseDialogLayoutMargins(&dialog, bottom, right); // no layout yet
    QVBoxLayout* pLayout = new QVBoxLayout(&dialog);
    pLayout->setContentsMargins(11, 12, 13, 14);
    GraphicHelpers::decreaseDialogLayoutMargins(&dialog, bottom, right);
    QCOMPARE(pLayout->contentsMargins(), expectedMargins);
    GraphicHelpers::decreaseDialogLayoutMargins(nullptr, bottom, right);
}

void tst_FanControlDialog::images_data()
{
    QTest::addColumn<int>("type"); // -1: not a fan type
    QTest::addColumn<bool>("forSensor");
    QTest::addColumn<bool>("large");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("side");

    QTest::newRow("fan") << int(FanTypeGeneric) << false << false << ":/Resources/fan.png" << 16;
    QTest::newRow("fan large") << int(FanTypeGeneric) << false << true << ":/Resources/fan_big.png"
                               << 32;
    QTest::newRow("disc") << int(FanTypeOpticalDrive) << true << false << ":/Resources/disc.png"
                          << 16;
    QTest::newRow("disc large") << int(FanTypeOpticalDrive) << false << true
                                << ":/Resources/disc_big.png" << 32;
    QTest::newRow("drive") << int(FanTypeHardDrive) << true << false << ":/Resources/drive.png"
                           << 16;
    QTest::newRow("drive large") << int(FanTypeHardDrive) << false << true
                                 << ":/Resources/drive_big.png" << 32;
    QTest::newRow("solid-state drive")
        << int(FanTypeSolidStateDrive) << true << false << ":/Resources/drive_ssd.png" << 16;
    QTest::newRow("processor") << int(FanTypeProcessor) << true << false
                               << ":/Resources/processor.png" << 16;
    QTest::newRow("processor large")
        << int(FanTypeProcessor) << false << true << ":/Resources/processor_big.png" << 32;
    QTest::newRow("airport") << int(FanTypeAirport) << true << false << ":/Resources/airport.png"
                             << 16;
    QTest::newRow("tray") << -1 << false << false << ":/Resources/tray.png" << 16;
    QTest::newRow("tray @2x") << -1 << false << false << ":/Resources/tray@2x.png" << 32;
    QTest::newRow("tray grey") << -1 << false << false << ":/Resources/tray_grey.png" << 16;
    QTest::newRow("tray grey @2x") << -1 << false << false << ":/Resources/tray_grey@2x.png" << 32;
    QTest::newRow("warning") << -1 << false << false << ":/Resources/warning.png" << 16;
    QTest::newRow("home") << -1 << false << false << ":/Resources/home.png" << 16;
    QTest::newRow("program icon") << -1 << false << false << ":/Resources/icon_128.png" << 128;
}

void tst_FanControlDialog::images()
{
    QFETCH(int, type);
    QFETCH(bool, forSensor);
    QFETCH(bool, large);
    QFETCH(QString, path);
    QFETCH(int, side);

    ImageResourceUtils::registerImages();
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), QSize(side, side));
    QVERIFY(image.hasAlphaChannel());
    if (type != -1) {
        const QIcon icon = FanInfo::GetFanIconByType(FanType(type), forSensor, large);
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(side, side)});
    }
}

QTEST_MAIN(tst_FanControlDialog)
#include "tst_fancontroldialog.moc"
