#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

// The form of the preferences dialog; the dialog sets the localized texts afterwards. Top to
// bottom: four check boxes (the log one with its Browse link beside it), the give-back check
// box, a line, the menu-bar group (sensor, fan and icon rows), a line, the language row with
// the Translate link, a line, the two overheat alarm rows, the button box.
class Ui_PreferencesDialog
{
public:
    QVBoxLayout* verticalLayout;
    QCheckBox* checkAutostart;
    QCheckBox* checkFahrenheit;
    QCheckBox* checkPrecise;
    QCheckBox* checkLog;
    QLabel* labelBrowseLog;
    QCheckBox* checkGiveBack;
    QFrame* line_2;
    QLabel* labelTray;
    QLabel* labelSensor;
    QComboBox* comboSensor;
    QLabel* staticCelsius;
    QLabel* labelFan;
    QComboBox* comboFan;
    QLabel* labelIcon;
    QComboBox* comboIcon;
    QFrame* line;
    QLabel* labelLanguage;
    QComboBox* comboLanguage;
    QLabel* labelTranslate;
    QFrame* line_3;
    QLabel* labelAlarmCpuGpu;
    QSpinBox* spinAlarmCpuGpu;
    QLabel* labelAlarmOther;
    QSpinBox* spinAlarmOther;
    QDialogButtonBox* buttonBox;

    void setupUi(QDialog* pDialog)
    {
        pDialog->setObjectName(QStringLiteral("PreferencesDialog"));
        pDialog->setMaximumWidth(540);
        verticalLayout = new QVBoxLayout(pDialog);
        verticalLayout->setSpacing(4);

        checkAutostart = addCheck(pDialog, "checkAutostart");
        checkFahrenheit = addCheck(pDialog, "checkFahrenheit");
        checkPrecise = addCheck(pDialog, "checkPrecise");
        QHBoxLayout* pLogRow = new QHBoxLayout();
        checkLog = new QCheckBox(pDialog);
        checkLog->setObjectName(QStringLiteral("checkLog"));
        pLogRow->addWidget(checkLog);
        labelBrowseLog = new QLabel(pDialog);
        labelBrowseLog->setObjectName(QStringLiteral("labelBrowseLog"));
        pLogRow->addWidget(labelBrowseLog);
        pLogRow->addStretch();
        verticalLayout->addLayout(pLogRow);
        checkGiveBack = addCheck(pDialog, "checkGiveBack");

        line_2 = addLine(pDialog, "line_2");
        labelTray = new QLabel(pDialog);
        labelTray->setObjectName(QStringLiteral("labelTray"));
        verticalLayout->addWidget(labelTray);
        comboSensor = addComboRow(pDialog, "labelSensor", "comboSensor", labelSensor);
        comboSensor->setMaxVisibleItems(20);
        staticCelsius = new QLabel(pDialog);
        staticCelsius->setObjectName(QStringLiteral("staticCelsius"));
        staticCelsius->hide(); // never shown here: every scale is offered
        comboFan = addComboRow(pDialog, "labelFan", "comboFan", labelFan);
        comboIcon = addComboRow(pDialog, "labelIcon", "comboIcon", labelIcon);

        line = addLine(pDialog, "line");
        comboLanguage = addComboRow(pDialog, "labelLanguage", "comboLanguage", labelLanguage);
        comboLanguage->setMaxVisibleItems(30);
        labelTranslate = new QLabel(pDialog);
        labelTranslate->setObjectName(QStringLiteral("labelTranslate"));
        labelTranslate->setText(QStringLiteral("<a href=\"translate\">Translate</a>"));
        QHBoxLayout* pTranslateRow = new QHBoxLayout();
        pTranslateRow->addSpacing(kLabelColumnWidth + verticalLayout->spacing());
        pTranslateRow->addWidget(labelTranslate);
        pTranslateRow->addStretch();
        verticalLayout->addLayout(pTranslateRow);

        line_3 = addLine(pDialog, "line_3");
        spinAlarmCpuGpu =
            addSpinRow(pDialog, "labelAlarmCpuGpu", "spinAlarmCpuGpu", labelAlarmCpuGpu);
        spinAlarmOther = addSpinRow(pDialog, "labelAlarmOther", "spinAlarmOther", labelAlarmOther);

        buttonBox = new QDialogButtonBox(pDialog);
        buttonBox->setObjectName(QStringLiteral("buttonBox"));
        buttonBox->setStandardButtons(QDialogButtonBox::NoButton);
        verticalLayout->addWidget(buttonBox);
    }

private:
    static constexpr int kLabelColumnWidth = 88;
    static constexpr int kComboWidth = 195;

    QCheckBox* addCheck(QDialog* pDialog, const char* name)
    {
        QCheckBox* pCheck = new QCheckBox(pDialog);
        pCheck->setObjectName(QLatin1String(name));
        verticalLayout->addWidget(pCheck);
        return pCheck;
    }

    QFrame* addLine(QDialog* pDialog, const char* name)
    {
        QFrame* pLine = new QFrame(pDialog);
        pLine->setObjectName(QLatin1String(name));
        pLine->setFrameShape(QFrame::HLine);
        pLine->setFrameShadow(QFrame::Sunken);
        verticalLayout->addWidget(pLine);
        return pLine;
    }

    // One row: a label that takes the room it needs, then the spin box.
    QSpinBox* addSpinRow(QDialog* pDialog, const char* labelName, const char* spinName,
                         QLabel*& pLabel)
    {
        QHBoxLayout* pRow = new QHBoxLayout();
        pLabel = new QLabel(pDialog);
        pLabel->setObjectName(QLatin1String(labelName));
        pRow->addWidget(pLabel);
        pRow->addStretch();
        QSpinBox* pSpin = new QSpinBox(pDialog);
        pSpin->setObjectName(QLatin1String(spinName));
        pRow->addWidget(pSpin);
        verticalLayout->addLayout(pRow);
        return pSpin;
    }

    // One row: a label in the fixed-width left column, then the combo box.
    QComboBox* addComboRow(QDialog* pDialog, const char* labelName, const char* comboName,
                           QLabel*& pLabel)
    {
        QHBoxLayout* pRow = new QHBoxLayout();
        pLabel = new QLabel(pDialog);
        pLabel->setObjectName(QLatin1String(labelName));
        pLabel->setFixedWidth(kLabelColumnWidth);
        pRow->addWidget(pLabel);
        QComboBox* pCombo = new QComboBox(pDialog);
        pCombo->setObjectName(QLatin1String(comboName));
        pCombo->setFixedWidth(kComboWidth);
        pRow->addWidget(pCombo);
        pRow->addStretch();
        verticalLayout->addLayout(pRow);
        return pCombo;
    }
};
