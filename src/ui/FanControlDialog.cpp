#include "ui/FanControlDialog.h"

#include "QsLog/QsLog.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "core/QTempSensorSmart.h"
#include "core/TemperatureScaleHelpers.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "ui/GraphicHelpers.h"
#include "ui/QWidgetHider.h"
#include "ui/RightsCheckHook.h"

#include <QList>
#include <QPushButton>
#include <QVariant>

namespace {
// Start and maximum temperature of sensor-based control, in degrees Celsius.
const int kLowestTemperature = 20;
const int kHighestTemperature = 100;
// The least distance between start and maximum temperature that the maximum box allows.
const int kMinimumSpanCelsius = 8;
const int kMinimumSpanFahrenheit = 14;

QString textOf(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

QTempSensor* sensorOfItem(const QComboBox* pCombo, int index)
{
    if (index < 0 || index >= pCombo->count()) {
        return nullptr;
    }
    return static_cast<QTempSensor*>(pCombo->itemData(index, Qt::UserRole).value<void*>());
}
} // namespace

QFanControlDialog::QFanControlDialog(QWidget* pParent, FanInfo* pFan, QFanControl* pController)
    : QDialogEx(pParent, Qt::Sheet), m_pFan(pFan), m_pFanControl(pController)
{
    ImageResourceUtils::registerImages();
    setAttribute(Qt::WA_QuitOnClose, false);
    ui.setupUi(this);
    m_pHider = new QWidgetHider(this);
    setTitle();

    const FanControlMode mode = m_pFan ? m_pFan->GetControlMode() : FanControlMode();
    if (mode.GetMode() == FanControlMode::ModeAutomatic) {
        ui.radioAuto->setChecked(true);
    }
    initSpeedWidgets(mode);
    ui.labelDegree1->setText(getTemperatureScaleSymbol());
    ui.labelDegree2->setText(getTemperatureScaleSymbol());
    fillSensorList();
    initTemperatureWidgets(mode);

    // Connected only now, so that the values set above fire none of the slots.
    createButtons();
    CreateConnections();
    OnFanControlChanged(false);

    ui.labelFooter->hide();
    ui.spinConstant->setAttribute(Qt::WA_MacShowFocusRect, false);
    GraphicHelpers::DecrementWidgetFontSize(ui.labelFooter, 2);
    blockApplyIfNeeded();

    setLocalizedTexts();
    adjustSize();
    setFixedSize(size());
}

void QFanControlDialog::initSpeedWidgets(const FanControlMode& mode)
{
    const int rpmMin = m_pFan ? m_pFan->GetRPMMin() : 0;
    const int rpmMax = m_pFan ? m_pFan->GetRPMMax() : 0;
    ui.sliderRPM->setRange(rpmMin, rpmMax);
    ui.spinConstant->setRange(rpmMin, rpmMax);

    const bool bConstant = mode.GetMode() == FanControlMode::ModeConstant;
    if (bConstant) {
        ui.radioConstant->setChecked(true);
    }
    const int rpm = bConstant ? mode.GetConstantRPM() : (m_pFan ? m_pFan->GetRPM() : 0);
    ui.spinConstant->setValue(rpm);
    ui.sliderRPM->setValue(rpm);
}

void QFanControlDialog::initTemperatureWidgets(const FanControlMode& mode)
{
    const int lowest = getTemperatureValueForCurrentScale(kLowestTemperature);
    const int highest = getTemperatureValueForCurrentScale(kHighestTemperature);
    ui.spinIncrease->setRange(lowest, highest);
    ui.spinMax->setRange(lowest, highest);
    if (mode.GetMode() != FanControlMode::ModeSensor) {
        return;
    }
    ui.radioSensor->setChecked(true);
    // A mode whose sensor is not listed leaves both boxes at their lowest value.
    for (int i = 0; mode.getSensor() && i < ui.comboSensor->count(); ++i) {
        if (sensorOfItem(ui.comboSensor, i) == mode.getSensor()) {
            ui.comboSensor->setCurrentIndex(i);
            ui.spinIncrease->setValue(getTemperatureValueForCurrentScale(mode.valueStart()));
            ui.spinMax->setValue(getTemperatureValueForCurrentScale(mode.valueMax()));
            return;
        }
    }
}

void QFanControlDialog::blockApplyIfNeeded()
{
    if (QCoreServices::isReadOnly()) {
        blockApply(textOf("MainWindow/statusNonAppleFSWarningMac")
                       .arg(QCoreServices::readOnlyFileSystem()));
    }
    if (!m_pFan) {
        m_bApplyBlocked = true;
        m_pButtonOK->setEnabled(false);
    } else if (m_pFan->GetRPMMin() == m_pFan->GetRPMMax()) {
        // Replaces a read-only warning: this one points at a problem the user can fix.
        blockApply(textOf("FanControlDialog/statusWarning").arg(m_pFan->GetRPMMin()));
    }
}

bool QFanControlDialog::isSensorOffered(QTempSensor* pSensor)
{
    if (!pSensor) {
        return false;
    }
    if (!pSensor->isHDD()) {
        return true;
    }
    const QTempSensorSmart* pDrive = dynamic_cast<const QTempSensorSmart*>(pSensor);
    return !(pDrive && pDrive->isSSD() && pSensor->GetValue() == 0.0);
}

void QFanControlDialog::fillSensorList()
{
    if (!m_pFanControl) {
        return;
    }
    for (QTempSensor* pSensor : m_pFanControl->sensors()) {
        if (!isSensorOffered(pSensor)) {
            continue;
        }
        ui.comboSensor->addItem(FanInfo::GetFanIconByType(pSensor->GetFanType(), true, false),
                                pSensor->GetDisplayName(),
                                QVariant::fromValue(static_cast<void*>(pSensor)));
    }
}

void QFanControlDialog::createButtons()
{
    m_pButtonOK = new QPushButton(textOf("Common/buttonOK"), this);
    m_pButtonOK->setAutoDefault(true);
    QPushButton* pButtonCancel = new QPushButton(textOf("Common/buttonCancel"), this);
    ui.buttonBox->addButton(pButtonCancel, QDialogButtonBox::RejectRole);
    ui.buttonBox->addButton(m_pButtonOK, QDialogButtonBox::AcceptRole);
    connect(pButtonCancel, &QPushButton::clicked, this, &QFanControlDialog::OnCancel);
    connect(m_pButtonOK, &QPushButton::clicked, this, &QFanControlDialog::OnApply);
}

void QFanControlDialog::setLocalizedTexts()
{
    ui.radioAuto->setText(textOf("FanControlDialog/radioAutomatic"));
    ui.radioConstant->setText(textOf("FanControlDialog/radioConstant"));
    ui.radioSensor->setText(textOf("FanControlDialog/radioSensor"));
    ui.labelIncrease->setText(textOf("FanControlDialog/staticIncrease"));
    ui.labelMax->setText(textOf("FanControlDialog/staticMax"));
    ui.labelRange->setText(textOf("FanControlDialog/staticRange")
                               .arg(ui.spinConstant->minimum())
                               .arg(ui.spinConstant->maximum()));
}

void QFanControlDialog::setTitle()
{
    setWindowTitle(textOf("FanControlDialog/title").arg(m_pFan ? m_pFan->GetName() : QString()));
}

void QFanControlDialog::CreateConnections()
{
    for (QRadioButton* pRadio : {ui.radioAuto, ui.radioConstant, ui.radioSensor}) {
        connect(pRadio, &QRadioButton::toggled, this, &QFanControlDialog::OnFanControlChanged);
    }
    connect(ui.comboSensor, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &QFanControlDialog::OnSensorChanged);
    connect(ui.spinIncrease, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &QFanControlDialog::OnIncreaseValueChanged);
    // Slider and spin box mirror each other; setting an equal value ends the round trip.
    connect(ui.sliderRPM, &QSlider::valueChanged, ui.spinConstant, &QSpinBox::setValue);
    connect(ui.sliderRPM, &QSlider::valueChanged, this, &QFanControlDialog::slotSliderChanged);
    connect(ui.spinConstant, QOverload<int>::of(&QSpinBox::valueChanged), ui.sliderRPM,
            &QSlider::setValue);
}

void QFanControlDialog::blockApply(const QString& warning)
{
    m_bApplyBlocked = true;
    m_pButtonOK->setEnabled(false);
    setWarningMessage(warning);
}

void QFanControlDialog::setWarningMessage(const QString& text)
{
    const QString image =
        QStringLiteral("<img src=\"%1\"/>").arg(QStringLiteral(":/Resources/warning.png"));
    ui.labelFooter->show();
    ui.labelFooter->setText(QStringLiteral("<table><tr><td></td><td>%1</td><td "
                                           "valign=\"middle\">&nbsp;%2</td></tr></table>")
                                .arg(image, text));
}

void QFanControlDialog::OnFanControlChanged(bool bChecked)
{
    // Every toggle arrives twice (one button off, one on); the checked buttons decide.
    (void)bChecked;
    const QList<QWidget*> modeWidgets = {
        ui.comboSensor, ui.spinConstant, ui.sliderRPM, ui.labelRange,   ui.labelIncrease,
        ui.labelMax,    ui.spinIncrease, ui.spinMax,   ui.labelDegree1, ui.labelDegree2};
    for (QWidget* pWidget : modeWidgets) {
        m_pHider->setVisible(pWidget, false);
    }
    m_pButtonOK->setEnabled(!m_bApplyBlocked);

    if (ui.radioAuto->isChecked()) {
        return;
    }
    if (ui.radioConstant->isChecked()) {
        m_pHider->setVisible(ui.spinConstant, true);
        m_pHider->setVisible(ui.sliderRPM, true);
        m_pHider->setVisible(ui.labelRange, true);
        ui.spinConstant->setFocus(Qt::OtherFocusReason);
        ui.spinConstant->selectAll();
    } else if (ui.radioSensor->isChecked()) {
        const QList<QWidget*> sensorWidgets = {ui.comboSensor,  ui.labelIncrease, ui.labelMax,
                                               ui.spinIncrease, ui.spinMax,       ui.labelDegree1,
                                               ui.labelDegree2};
        for (QWidget* pWidget : sensorWidgets) {
            m_pHider->setVisible(pWidget, true);
        }
        ui.comboSensor->setFocus();
        OnSensorChanged(ui.comboSensor->currentIndex());
    } else {
        m_pButtonOK->setEnabled(false);
    }
}

void QFanControlDialog::slotSliderChanged()
{
    ui.spinConstant->setFocus();
    ui.spinConstant->selectAll();
}

QTempSensor* QFanControlDialog::GetSelectedSensor() const
{
    if (!ui.radioSensor->isChecked()) {
        return nullptr;
    }
    return sensorOfItem(ui.comboSensor, ui.comboSensor->currentIndex());
}

void QFanControlDialog::OnSensorChanged(int index)
{
    (void)index;
    QTempSensor* pSensor = GetSelectedSensor();
    if (!pSensor) {
        return;
    }
    // The fan's own sensor keeps the values last shown: those the user set before.
    const FanControlMode mode = m_pFan ? m_pFan->GetControlMode() : FanControlMode();
    if (mode.GetMode() == FanControlMode::ModeSensor && mode.sensorKey() == pSensor->GetKey()) {
        return;
    }
    ui.spinIncrease->setValue(getTemperatureValueForCurrentScale(pSensor->GetProposedMin()));
    ui.spinMax->setValue(getTemperatureValueForCurrentScale(pSensor->GetProposedMax()));
}

void QFanControlDialog::OnIncreaseValueChanged(int value)
{
    // The spin box raises its value (and, if needed, its maximum) to the new minimum.
    ui.spinMax->setMinimum(value + (isFehrenheit() ? kMinimumSpanFahrenheit : kMinimumSpanCelsius));
}

void QFanControlDialog::OnApply(bool bChecked)
{
    (void)bChecked;
    // OK is disabled then; a click that reaches here anyway commands nothing.
    if (m_bApplyBlocked || !m_pFan) {
        reject();
        return;
    }
    bool bAsked = false;
    RightsCheckUtils::checkRightsAndWarnIfNeeded(this, bAsked);

    // A new mode starts the sensor-based control afresh, whatever mode follows.
    m_pFan->resetSensorControl();
    if (ui.radioAuto->isChecked()) {
        m_pFan->SetControlMode(FanControlMode::automatic());
    } else if (ui.radioConstant->isChecked()) {
        ui.spinConstant->interpretText(); // a speed still being typed, clamped to the range
        m_pFan->SetControlMode(FanControlMode::constant(ui.spinConstant->value()));
    } else if (QTempSensor* pSensor = GetSelectedSensor()) {
        m_pFan->SetControlMode(FanControlMode::sensor(
            pSensor->GetKey(), getCelsiusTemperatureFromValue(ui.spinIncrease->value()),
            getCelsiusTemperatureFromValue(ui.spinMax->value())));
    } else {
        QLOG_WARN() << "Fan control dialog: no mode chosen for" << m_pFan->GetName();
    }
    accept();
    if (m_pFanControl) {
        m_pFanControl->saveFansControlMode();
    }
}

void QFanControlDialog::OnCancel(bool bChecked)
{
    (void)bChecked;
    reject();
}
