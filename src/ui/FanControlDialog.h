#pragma once

#include "ui/QDialogEx.h"
#include "ui/ui_FanControlDialog.h"

class FanControlMode;
class FanInfo;
class QFanControl;
class QPushButton;
class QTempSensor;
class QWidgetHider;

// Lets the user choose how one fan is controlled: automatically by the system, at a constant
// speed, or following one temperature sensor between a start and a maximum temperature. OK
// hands the new mode to the fan and stores every fan's mode; Cancel changes nothing.
//
// OK stays disabled for the whole run, with a warning in the footer, in read-only mode and
// when the fan's minimum speed equals its maximum (nothing sensible can be commanded then).
// Temperatures are shown and typed in the user's scale and handed on in Celsius.
//
// The widgets of the modes not chosen are made invisible through QWidgetHider but keep their
// place, so the dialog has one fixed size whatever the mode.
class QFanControlDialog : public QDialogEx
{
    Q_OBJECT
public:
    // pFan: the fan to edit, not owned. pController: its owner, which lists the sensors and
    // stores the modes (null: no sensors offered, nothing stored). A null fan gives a dialog
    // whose OK stays disabled.
    QFanControlDialog(QWidget* pParent, FanInfo* pFan, QFanControl* pController);

    // Whether the sensor list offers this sensor: everything except a solid-state drive that
    // reads exactly 0 (such a drive reports no temperature at all).
    static bool isSensorOffered(QTempSensor* pSensor);

    // The sensor chosen in the list, or null when sensor-based control is not chosen.
    QTempSensor* GetSelectedSensor() const;

    // For the owner and for tests: the form and the OK button.
    const Ui_FanControlDialog& form() const { return ui; }
    QPushButton* okButton() const { return m_pButtonOK; }

private slots:
    void OnFanControlChanged(bool bChecked);
    void OnCancel(bool bChecked);
    void OnApply(bool bChecked);
    void OnSensorChanged(int index);
    void OnIncreaseValueChanged(int value);
    void slotSliderChanged();

private:
    void setTitle();
    void CreateConnections();
    void setWarningMessage(const QString& text);
    void initSpeedWidgets(const FanControlMode& mode);
    void fillSensorList();
    void initTemperatureWidgets(const FanControlMode& mode);
    void blockApplyIfNeeded();
    void createButtons();
    void blockApply(const QString& warning);
    void setLocalizedTexts();

    bool m_bApplyBlocked = false;
    QWidgetHider* m_pHider = nullptr;
    QPushButton* m_pButtonOK = nullptr;
    FanInfo* m_pFan = nullptr;
    QFanControl* m_pFanControl = nullptr;
    Ui_FanControlDialog ui;
};
