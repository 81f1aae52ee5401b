#include "ui/MainWindow.h"

#include "app/app.h"
#include "localization/QLanguageLoader.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

QFanControlMainWindow::QFanControlMainWindow(QWidget* pParent, Qt::WindowFlags flags)
    : QMainWindow(pParent, flags)
{
    const QString program =
        QLatin1String(kThermoraProgramName) + QLatin1Char(' ') + QLatin1String(kThermoraVersion);
    setWindowTitle(program);

    QWidget* pCentral = new QWidget(this);
    QVBoxLayout* pLayout = new QVBoxLayout(pCentral);
    pLayout->addWidget(new QLabel(program, pCentral));
    QThermoraApp* pApp = QThermoraApp::instance();
    if (pApp)
        pLayout->addWidget(new QLabel(pApp->sysInfo()->machineName(), pCentral));
    const QString warning = readOnlyWarning();
    if (!warning.isEmpty()) {
        QLabel* pWarning = new QLabel(warning, pCentral);
        pWarning->setObjectName(QStringLiteral("readOnlyWarning"));
        pWarning->setWordWrap(true);
        pLayout->addWidget(pWarning);
    }
    setCentralWidget(pCentral);
}

QString QFanControlMainWindow::readOnlyWarning() const
{
    QThermoraApp* pApp = QThermoraApp::instance();
    if (!pApp || !pApp->isReadOnly())
        return QString();
    return LocalizationHelpers::text(QStringLiteral("MainWindow/statusNonAppleFSWarningMac"))
        .arg(pApp->readOnlyFileSystem());
}

void QFanControlMainWindow::slotRestore()
{
    showNormal();
    activateWindow();
    QMyApplication::activateAppTopmost(this);
}

void QFanControlMainWindow::slotExit()
{
    if (m_bExitRequested)
        return;
    m_bExitRequested = true;
    close();
    QCoreApplication::quit();
}

void QFanControlMainWindow::closeEvent(QCloseEvent* pEvent)
{
    if (m_bExitRequested) {
        pEvent->accept();
        return;
    }
    pEvent->ignore();
    hide();
}
