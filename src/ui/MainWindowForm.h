#pragma once

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWidget>

#include "ui/QMyTableWidget.h"

// The main window's form, built in code: the fans list on the left, the sensors list on the
// right, the button row below them and the status bar.
class Ui_ThermoraClass
{
public:
    QWidget* centralWidget = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QLabel* labelFansHeader = nullptr;
    QMyTableWidget* tableFans = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QLabel* labelSensorsHeader = nullptr;
    QMyTableWidget* tableSensors = nullptr;
    QDialogButtonBox* buttonBox = nullptr;
    QStatusBar* statusBar = nullptr;

    void setupUi(QMainWindow* pWindow);
    void retranslateUi(QMainWindow* pWindow);
};
