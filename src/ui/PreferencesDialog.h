#pragma once

#include "ui/QDialogEx.h"
#include "ui/ui_PreferencesDialog.h"

class QFanControl;
class QFanControlMainWindow;
class QPushButton;

// Edits the program's settings: start at login, temperature scale, precise display, the log
// file, giving the fans back at the end, what the menu bar shows and the interface language.
// Every change is applied and stored at once; there is only a Close button.
//
// The three menu-bar combos never all read None: the icon is switched to Show instead.
// The log check box stays hidden unless logging is on; the L key shows it.
class QPreferencesDialog : public QDialogEx
{
    Q_OBJECT
public:
    // pController: lists the fans and sensors, not owned (null: none offered).
    QPreferencesDialog(QWidget* pParent, QFanControl* pController);

    // For the owner and for tests.
    const Ui_PreferencesDialog& form() const { return ui; }
    QPushButton* closeButton() const { return m_pButtonClose; }

private slots:
    void OnAutoStartChanged(bool bChecked);
    void OnSensorTrayChanged(int index);
    void OnMacFanChanged(int index);
    void OnMacTrayIconChanged(int index);
    void OnTempScaleChanged(bool bChecked);
    void OnPreciseChanged(bool bChecked);
    void OnLanguageChanged(int index);
    void OnLinkActivated(const QString& link);
    void OnLogToggle(bool bChecked);
    void OnGiveBackToggle(bool bChecked);
    void OnAlarmThresholdChanged();

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override;

private:
    static QString nativeLanguageName(const QString& language);
    void createLogging();
    void createComboIcons();
    void createComboFans();
    void createComboSensors();
    void FillLanguages();
    void applyLanguage();
    void enableLKeyHook();
    // The overheat alarm thresholds, shown in the current temperature scale.
    void showAlarmThresholds();
    // Icon to Show when the other two menu-bar combos read None, too. True when it switched.
    bool keepMenuBarNotEmpty(int nChangedIndex);
    // The main window to refresh: the application's, else the parent; null in neither case.
    QFanControlMainWindow* mainWindow() const;
    void resetTrayIcon() const;

    QFanControl* m_pFanControl;
    QPushButton* m_pButtonClose = nullptr;
    Ui_PreferencesDialog ui;
};
