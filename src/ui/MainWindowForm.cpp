#include "ui/MainWindowForm.h"

#include <QStyle>

namespace {

QMyTableWidget* createTable(QWidget* pParent, const char* name)
{
    QMyTableWidget* pTable = new QMyTableWidget(pParent);
    pTable->setObjectName(QLatin1String(name));
    pTable->setShowGrid(false);
    pTable->setWordWrap(false);
    pTable->setCornerButtonEnabled(false);
    return pTable;
}

} // namespace

void Ui_ThermoraClass::setupUi(QMainWindow* pWindow)
{
    if (pWindow->objectName().isEmpty())
        pWindow->setObjectName(QStringLiteral("ThermoraClass"));
    pWindow->resize(849, 373);
    pWindow->setAnimated(true);
    pWindow->setDocumentMode(false);
    pWindow->setUnifiedTitleAndToolBarOnMac(false);

    centralWidget = new QWidget(pWindow);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));

    verticalLayout_3 = new QVBoxLayout(centralWidget);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setSpacing(0);
    QMargins margins = verticalLayout_3->contentsMargins();
    margins.setBottom(12);
    verticalLayout_3->setContentsMargins(margins);

    horizontalLayout_3 = new QHBoxLayout();
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    horizontalLayout_3->setSpacing(6);
    horizontalLayout_3->setContentsMargins(0, 0, 0, 8);

    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(6);
    labelFansHeader = new QLabel(centralWidget);
    labelFansHeader->setObjectName(QStringLiteral("labelFansHeader"));
    verticalLayout->addWidget(labelFansHeader);
    tableFans = createTable(centralWidget, "tableFans");
    tableFans->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    tableFans->setMinimumWidth(400);
    verticalLayout->addWidget(tableFans);
    horizontalLayout_3->addLayout(verticalLayout);

    verticalLayout_2 = new QVBoxLayout();
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(6);
    labelSensorsHeader = new QLabel(centralWidget);
    labelSensorsHeader->setObjectName(QStringLiteral("labelSensorsHeader"));
    verticalLayout_2->addWidget(labelSensorsHeader);
    tableSensors = createTable(centralWidget, "tableSensors");
    tableSensors->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    tableSensors->setMaximumWidth(240);
    verticalLayout_2->addWidget(tableSensors);
    horizontalLayout_3->addLayout(verticalLayout_2);

    verticalLayout_3->addLayout(horizontalLayout_3);

    buttonBox = new QDialogButtonBox(centralWidget);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setStandardButtons(QDialogButtonBox::NoButton);
    verticalLayout_3->addWidget(buttonBox);

    pWindow->setCentralWidget(centralWidget);

    statusBar = new QStatusBar(pWindow);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    pWindow->setStatusBar(statusBar);

    retranslateUi(pWindow);
}

void Ui_ThermoraClass::retranslateUi(QMainWindow* pWindow)
{
    pWindow->setWindowTitle(QStringLiteral("Thermora"));
    labelFansHeader->setText(QStringLiteral("Fans (double click to control):"));
    labelSensorsHeader->setText(QStringLiteral("Temperature sensors:"));
}
