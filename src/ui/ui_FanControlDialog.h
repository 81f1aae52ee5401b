#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QSpacerItem>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/QClampingSpinBox.h"

// The form of the fan control dialog. Every text here is a placeholder: the dialog sets the
// localized texts after building the form.
//
//   row 0  radioAuto
//   row 1  radioConstant   | sliderRPM spinConstant labelRange
//   row 2  radioSensor     | comboSensor
//   row 3  labelIncrease             | <spacer> spinIncrease labelDegree1
//   row 4  labelMax                  | <spacer> spinMax labelDegree2
//   then the button box and the footer.
class Ui_FanControlDialog
{
public:
    QVBoxLayout* verticalLayout;
    QGridLayout* gridLayout;
    QComboBox* comboSensor;
    QLabel* labelMax;
    QHBoxLayout* horizontalLayout_4;
    QSpacerItem* horizontalSpacer;
    QSpinBox* spinMax;
    QLabel* labelDegree2;
    QRadioButton* radioAuto;
    QRadioButton* radioConstant;
    QRadioButton* radioSensor;
    QLabel* labelIncrease;
    QHBoxLayout* horizontalLayout_2;
    QSlider* sliderRPM;
    QSpinBox* spinConstant;
    QHBoxLayout* horizontalLayout_3;
    QSpacerItem* horizontalSpacer_2;
    QSpinBox* spinIncrease;
    QLabel* labelDegree1;
    QDialogButtonBox* buttonBox;
    QLabel* labelFooter;
    QLabel* labelRange; // the allowed speeds, beside spinConstant

    void setupUi(QDialog* pDialog)
    {
        pDialog->setObjectName(QStringLiteral("FanControlDialog"));
        pDialog->resize(465, 259);
        verticalLayout = new QVBoxLayout(pDialog);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        gridLayout = new QGridLayout();
        gridLayout->setObjectName(QStringLiteral("gridLayout"));

        comboSensor = new QComboBox(pDialog);
        comboSensor->setObjectName(QStringLiteral("comboSensor"));
        gridLayout->addWidget(comboSensor, 2, 1, 1, 2);

        labelMax = new QLabel(pDialog);
        labelMax->setObjectName(QStringLiteral("labelMax"));
        gridLayout->addWidget(labelMax, 4, 0, 1, 2);

        horizontalLayout_4 = new QHBoxLayout();
        horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_4->addItem(horizontalSpacer);
        spinMax = new QSpinBox(pDialog);
        spinMax->setObjectName(QStringLiteral("spinMax"));
        horizontalLayout_4->addWidget(spinMax);
        labelDegree2 = new QLabel(pDialog);
        labelDegree2->setObjectName(QStringLiteral("labelDegree2"));
        horizontalLayout_4->addWidget(labelDegree2);
        gridLayout->addLayout(horizontalLayout_4, 4, 2, 1, 1);

        radioAuto = new QRadioButton(pDialog);
        radioAuto->setObjectName(QStringLiteral("radioAuto"));
        gridLayout->addWidget(radioAuto, 0, 0, 1, 1);

        radioConstant = new QRadioButton(pDialog);
        radioConstant->setObjectName(QStringLiteral("radioConstant"));
        gridLayout->addWidget(radioConstant, 1, 0, 1, 1);

        radioSensor = new QRadioButton(pDialog);
        radioSensor->setObjectName(QStringLiteral("radioSensor"));
        gridLayout->addWidget(radioSensor, 2, 0, 1, 1);

        labelIncrease = new QLabel(pDialog);
        labelIncrease->setObjectName(QStringLiteral("labelIncrease"));
        labelIncrease->setWordWrap(true);
        gridLayout->addWidget(labelIncrease, 3, 0, 1, 2);

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
        sliderRPM = new QSlider(pDialog);
        sliderRPM->setObjectName(QStringLiteral("sliderRPM"));
        sliderRPM->setOrientation(Qt::Horizontal);
        sliderRPM->setMinimumWidth(150); // keeps its room beside the range text
        horizontalLayout_2->addWidget(sliderRPM);
        spinConstant = new QClampingSpinBox(pDialog);
        spinConstant->setObjectName(QStringLiteral("spinConstant"));
        spinConstant->setMinimumSize(QSize(40, 0));
        spinConstant->setFrame(true);
        spinConstant->setButtonSymbols(QAbstractSpinBox::NoButtons);
        horizontalLayout_2->addWidget(spinConstant);
        labelRange = new QLabel(pDialog);
        labelRange->setObjectName(QStringLiteral("labelRange"));
        horizontalLayout_2->addWidget(labelRange);
        gridLayout->addLayout(horizontalLayout_2, 1, 1, 1, 2);

        horizontalLayout_3 = new QHBoxLayout();
        horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
        horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_3->addItem(horizontalSpacer_2);
        spinIncrease = new QSpinBox(pDialog);
        spinIncrease->setObjectName(QStringLiteral("spinIncrease"));
        horizontalLayout_3->addWidget(spinIncrease);
        labelDegree1 = new QLabel(pDialog);
        labelDegree1->setObjectName(QStringLiteral("labelDegree1"));
        horizontalLayout_3->addWidget(labelDegree1);
        gridLayout->addLayout(horizontalLayout_3, 3, 2, 1, 1);

        verticalLayout->addLayout(gridLayout);

        buttonBox = new QDialogButtonBox(pDialog);
        buttonBox->setObjectName(QStringLiteral("buttonBox"));
        buttonBox->setOrientation(Qt::Horizontal);
        buttonBox->setStandardButtons(QDialogButtonBox::NoButton);
        verticalLayout->addWidget(buttonBox);

        labelFooter = new QLabel(pDialog);
        labelFooter->setObjectName(QStringLiteral("labelFooter"));
        labelFooter->setWordWrap(true);
        verticalLayout->addWidget(labelFooter);

        retranslateUi(pDialog);
    }

    void retranslateUi(QDialog* pDialog)
    {
        pDialog->setWindowTitle(QStringLiteral("Fan control"));
        radioAuto->setText(QStringLiteral("Automatic"));
        radioConstant->setText(QStringLiteral("Constant"));
        radioSensor->setText(QStringLiteral("Sensor"));
        labelIncrease->setText(QStringLiteral("Start temperature:"));
        labelMax->setText(QStringLiteral("Maximum temperature:"));
        labelDegree1->setText(QStringLiteral("C"));
        labelDegree2->setText(QStringLiteral("C"));
        labelFooter->setText(QString());
    }
};

namespace Ui {
class FanControlDialog : public Ui_FanControlDialog
{
};
} // namespace Ui
