#include "ui/MainWindow.h"
#include "settings/PreferenceUtils.h"

#include "QsLog/QsLog.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanControlLoops.h"
#include "core/FanInfo.h"
#include "core/QMySysInfo.h"
#include "core/QTempSensor.h"
#include "core/TemperatureScaleHelpers.h"
#include "helpers/ImageResourceUtils.h"
#include "helpers/QClock.h"
#include "helpers/QCoreServices.h"
#include "helpers/ThreadHandoff.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "ui/GraphicHelpers.h"
#include "ui/InfoDialog.h"
#include "ui/MainWindowHelpers.h"
#include "ui/PreferencesDialog.h"
#include "ui/QItemDelegateEx.h"
#include "ui/QMyHeaderView.h"
#include "ui/RightsCheckHook.h"
#include "update/QUpdateChecker.h"
#include "update/UpdateConfig.h"
#include "update/ui/QUpdateDialogPresenter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <QtConcurrent>

#include <cmath>

namespace {

const char kProductName[] = "Thermora";
// The maker's products page; every page opened there says where the visitor came from.
const char kProductsPage[] = "https://brightfold.example/products";
const char kReferrer[] = "thermora_mac";

// The exit waits for the workers in steps of 200 ms (m_nExitWaitStepMsecs), this many times.
const int kExitWaitSteps = 40;

QString uiText(const char* key)
{
    return LocalizationHelpers::text(QLatin1String(key));
}

QString programTitle()
{
    return QLatin1String(kProductName) + QLatin1Char(' ') + QLatin1String(kThermoraVersion);
}

// What the fans and the sensors tables share: whole-row single selection, read-only cells, no
// row header, a header whose sections cannot be clicked and a delegate without focus frames.
QMyHeaderView* setUpListTable(QMyTableWidget* pTable, int nColumns)
{
    pTable->setColumnCount(nColumns);
    pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pTable->verticalHeader()->hide();

    QMyHeaderView* pHeader = new QMyHeaderView(pTable);
    pTable->setHorizontalHeader(pHeader);
    pHeader->setSectionsClickable(false);

    GraphicHelpers::QItemDelegateEx* pDelegate = new GraphicHelpers::QItemDelegateEx(pTable);
    pDelegate->setEnableDrawFocus(false);
    pTable->setItemDelegate(pDelegate);
    return pHeader;
}
} // namespace

QFanControlMainWindow::QFanControlMainWindow(QWidget* pParent, Qt::WindowFlags flags)
    : QMainWindow(pParent, flags)
{
    // Initial load, update and control worker, plus one spare.
    m_WorkerPool.setMaxThreadCount(4);

    ui.setupUi(this);
    InitializeFansTable();
    InitializeSensorsTable();
    createButtonBox();

    m_pFanControl = new QFanControl();

    connect(this, &QFanControlMainWindow::init_finished, this,
            &QFanControlMainWindow::OnInitFinished);
    connect(this, &QFanControlMainWindow::fan_update, this, &QFanControlMainWindow::slotFanUpdate);
    connect(this, &QFanControlMainWindow::sensor_update, this,
            &QFanControlMainWindow::OnSensorUpdate);
    connect(this, &QFanControlMainWindow::smc_link_changed, this,
            &QFanControlMainWindow::OnSmcLinkChanged);
    connect(ui.tableFans, &QTableWidget::itemDoubleClicked, this,
            &QFanControlMainWindow::OnFanDoubleClick);

    startUpdateChecker();
    // Settings or a log that cannot be written are said once, here as in the log.
    if (QThermoraApp::instance() && !QThermoraApp::instance()->logProblem().isEmpty())
        ui.statusBar->showMessage(uiText("MainWindow/statusLogNotWritten"));
    if (QPreferences* pPreferences = QCoreServices::preferences())
        connect(pPreferences, &QPreferences::saveProblem, this,
                [this] { ui.statusBar->showMessage(uiText("MainWindow/statusSettingsNotSaved")); });

    ui.tableFans->setContextMenuPolicy(Qt::CustomContextMenu);
    setFocusProxy(ui.tableFans);
    connect(ui.tableFans, &QWidget::customContextMenuRequested, this,
            &QFanControlMainWindow::OnContextMenu);

    // The menu-bar item looks up its sensor in the controller's lists, which the initial load
    // fills: it is created first so that the two never meet.
    createTrayIcon();

    ThreadHandoff::give(this);
    m_ThreadInit =
        QtConcurrent::run(&m_WorkerPool, this, &QFanControlMainWindow::InitialLoadThread);

    QMySysInfo* pSysInfo = QCoreServices::sysInfo();
    const QString machine = pSysInfo ? pSysInfo->machineName() : QString();
    setWindowTitle(programTitle() + QStringLiteral(" (%1)").arg(machine));

    RestoreWindowPosition();

    QThermoraApp* pApp = QThermoraApp::instance();
    if (!pApp || !pApp->isAutoStart())
        QMyApplication::activateAppTopmost(this);

    if (QCoreServices::isReadOnly())
        setStatusText(1);

    GraphicHelpers::DecrementWidgetFontSize(ui.labelFansHeader, 2);
    GraphicHelpers::DecrementWidgetFontSize(ui.labelSensorsHeader, 2);
    GraphicHelpers::DecrementWidgetFontSize(ui.tableFans, 1);
    GraphicHelpers::DecrementWidgetFontSize(ui.tableSensors, 1);

    setWindowFlags((windowFlags() | Qt::WindowStaysOnTopHint) & ~Qt::WindowFullscreenButtonHint);

    updatePreferences();
}

QFanControlMainWindow::~QFanControlMainWindow()
{
    // A window destroyed without the exit (tests, a failed start) still stops its workers
    // first: they use the controller deleted below.
    stopWorkers();
    m_WorkerPool.waitForDone();
    ThreadHandoff::take(this);
    if (m_pUpdateChecker)
        m_pUpdateChecker->stopAndWaitForFinished();

    delete m_pFanControl;
    m_pFanControl = nullptr;
    destroyTrayIcon();
}

void QFanControlMainWindow::setWorkerPeriods(int nUpdateMsecs, int nControlMsecs)
{
    m_nUpdatePeriodMsecs = qMax(1, nUpdateMsecs);
    m_nControlPeriodMsecs = qMax(1, nControlMsecs);
}

void QFanControlMainWindow::setExitWaitStep(int nMsecs)
{
    m_nExitWaitStepMsecs = qMax(1, nMsecs);
}

// --- Tables ---------------------------------------------------------------------------------

void QFanControlMainWindow::InitializeFansTable()
{
    QMyTableWidget* pTable = ui.tableFans;
    QMyHeaderView* pHeader = setUpListTable(pTable, 5);
    pTable->setIconSize(QSize(32, 32));
    pTable->setItemHeight(36);
    pTable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    pTable->setColumnWidth(0, 120);
    pTable->setColumnWidth(1, 94);
    pTable->setColumnWidth(2, 94);
    pTable->setColumnWidth(3, 94);
    pTable->setColumnWidth(4, 160);
    pHeader->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    pHeader->setStretchLastSection(true);
}

void QFanControlMainWindow::InitializeSensorsTable()
{
    QMyTableWidget* pTable = ui.tableSensors;
    QMyHeaderView* pHeader = setUpListTable(pTable, 2);
    pTable->enableSecondLineBackground(true, QColor(248, 249, 255, 255));
    pTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pTable->setColumnWidth(0, 155);
    pTable->setColumnWidth(1, 65);
    pHeader->setStretchLastSection(true);
}

void QFanControlMainWindow::FillFansTable()
{
    const int nFans = m_pFanControl ? m_pFanControl->fanCount() : 0;
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("QFanControlMainWindow::FillFansTable: number of fans: %1").arg(nFans));
    QMyTableWidget* pTable = ui.tableFans;
    pTable->setRowCount(nFans);
    for (int i = 0; i < nFans; ++i) {
        FanInfo* pFan = m_pFanControl->GetFan(i);
        if (!pFan)
            continue;
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("QFanControlMainWindow::FillFansTable: adding fan %1")
                .arg(pFan->GetName()));
        pTable->setItemText(i, 0, pFan->GetName(), Qt::AlignLeft | Qt::AlignVCenter);
        pTable->setItemIcon(i, 0, FanInfo::GetFanIconByType(pFan->GetType(), false, true));
        pTable->setItemData(i, 0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(pFan)));
    }
    if (nFans > 0)
        pTable->selectRow(0);
}

void QFanControlMainWindow::FillSensorsTable()
{
    const QVector<QTempSensor*> sensors =
        m_pFanControl ? m_pFanControl->sensors() : QVector<QTempSensor*>();
    QLOG_INFO() << qUtf8Printable(
        QStringLiteral("QFanControlMainWindow::FillSensorsTable: number of supported sensors: %1")
            .arg(sensors.size()));
    QMyTableWidget* pTable = ui.tableSensors;
    pTable->setRowCount(sensors.size() + 1);
    int nSeparatorRow = -1;
    const QVector<int> rows = MainWindowHelpers::sensorRows(sensors, nSeparatorRow);
    if (nSeparatorRow != -1) {
        pTable->setItemSeparator(nSeparatorRow, uiText("MainWindow/listSeparatorDrives"));
        m_nSeparatorRow = nSeparatorRow;
    }
    for (int j = 0; j < sensors.size(); ++j) {
        QTempSensor* pSensor = sensors.at(j);
        if (!pSensor || rows.at(j) < 0)
            continue;
        QLOG_INFO() << qUtf8Printable(
            QStringLiteral("QFanControlMainWindow::FillSensorsTable: adding sensor %1 (%2)")
                .arg(pSensor->GetDisplayName(), pSensor->GetKey()));
        pTable->setItemText(rows.at(j), 0, pSensor->GetDisplayName(),
                            Qt::AlignLeft | Qt::AlignVCenter);
        pTable->setItemIcon(rows.at(j), 0,
                            FanInfo::GetFanIconByType(pSensor->GetFanType(), true, false));
    }
}

void QFanControlMainWindow::retranslateTables()
{
    ui.tableSensors->setHorizontalHeaderLabels(
        {uiText("MainWindow/listColumnSensor"), uiText("MainWindow/listColumnSensorValue") +
                                                    QLatin1Char(' ') +
                                                    getTemperatureScaleSymbol()});
    if (m_nSeparatorRow != -1)
        ui.tableSensors->setItemText(m_nSeparatorRow, 0, uiText("MainWindow/listSeparatorDrives"));
    ui.tableFans->setHorizontalHeaderLabels(
        {uiText("MainWindow/listColumnFan"), uiText("MainWindow/listColumnMinRPM"),
         uiText("MainWindow/listColumnCurrentRPM"), uiText("MainWindow/listColumnMaxRPM"),
         uiText("MainWindow/listColumnControl")});
}

// --- Buttons, status line, preferences ------------------------------------------------------

void QFanControlMainWindow::createButtonBox()
{
    m_pButtonPreferences = new QPushButton(this);
    m_pButtonPreferences->setObjectName(QStringLiteral("buttonPreferences"));
    ui.buttonBox->addButton(m_pButtonPreferences, QDialogButtonBox::RejectRole);
    connect(m_pButtonPreferences, &QPushButton::clicked, this,
            &QFanControlMainWindow::slotPreferences);

    m_pButtonMinimize = new QPushButton(this);
    m_pButtonMinimize->setObjectName(QStringLiteral("buttonMinimize"));
    ui.buttonBox->addButton(m_pButtonMinimize, QDialogButtonBox::RejectRole);
    connect(m_pButtonMinimize, &QPushButton::clicked, this, &QFanControlMainWindow::OnMinimize);

    m_pButtonAbout = new QPushButton(this);
    m_pButtonAbout->setObjectName(QStringLiteral("buttonAbout"));
    ui.buttonBox->addButton(m_pButtonAbout, QDialogButtonBox::HelpRole);
    connect(m_pButtonAbout, &QPushButton::clicked, this, &QFanControlMainWindow::OnInfo);

    // Both dialogs show the controller's fans and sensors, which the initial load is filling.
    m_pButtonPreferences->setEnabled(false);
    m_pButtonAbout->setEnabled(false);
}

void QFanControlMainWindow::setStatusText(int nStatus)
{
    if (nStatus != -1)
        m_nPreviousStatus = nStatus;
    else
        nStatus = m_nPreviousStatus;

    if (!m_pStatusLabel) {
        m_pStatusLabel = new QLabel(this);
        m_pStatusLabel->setObjectName(QStringLiteral("statusLabel"));
        connect(m_pStatusLabel, &QLabel::linkActivated, this,
                &QFanControlMainWindow::OnLinkActivated);
        GraphicHelpers::DecrementWidgetFontSize(m_pStatusLabel, 2);
        ui.statusBar->addWidget(m_pStatusLabel, 0);
    }

    QString text;
    if (!m_SmcLostText.isEmpty()) {
        const QString icon = QStringLiteral("<img src=\":/Resources/warning.png\"/>");
        text = QStringLiteral("<table><tr><td>&nbsp;&nbsp;</td><td>%1</td>"
                              "<td valign=\"middle\">&nbsp;%2</td></tr></table>")
                   .arg(icon, m_SmcLostText.toHtmlEscaped());
    } else if (nStatus == 0) {
        text =
            QStringLiteral("<table><tr><td><img src=\":/Resources/home.png\"/></td>"
                           "<td valign=\"middle\">&nbsp;<a href='website'>%1</a></td></tr></table>")
                .arg(uiText("MainWindow/statusMoreApps").arg(QStringLiteral("Windows")));
    } else if (nStatus == 1) {
        const QString icon =
            QStringLiteral("<img src=\"%1\"/>").arg(QStringLiteral(":/Resources/warning.png"));
        const QString message = uiText("MainWindow/statusNonAppleFSWarningMac")
                                    .arg(QCoreServices::readOnlyFileSystem().toHtmlEscaped());
        text = QStringLiteral("<table><tr><td>&nbsp;&nbsp;</td><td>%1</td>"
                              "<td valign=\"middle\">&nbsp;%2</td></tr></table>")
                   .arg(icon, message);
    }
    m_pStatusLabel->setText(text);
}

void QFanControlMainWindow::updatePreferences()
{
    ui.labelSensorsHeader->setText(uiText("MainWindow/staticSensorsListHeader"));
    ui.labelFansHeader->setText(uiText("MainWindow/staticFanListHeader"));
    retranslateTables();

    const QString pad = QStringLiteral("  ");
    m_pButtonMinimize->setText(pad + uiText("MainWindow/buttonMinimizeMac") + pad);
    m_pButtonPreferences->setText(pad + uiText("MainWindow/buttonPreferences") + pad);
    m_pButtonAbout->setText(pad + uiText("MainWindow/buttonAbout") + pad);

    setStatusText(-1);
    updateTrayMenu();
}

void QFanControlMainWindow::OnLinkActivated(const QString& link)
{
    if (link == QLatin1String("website"))
        slotHomePage();
    else if (link == QLatin1String("info"))
        OnInfo();
}

void QFanControlMainWindow::slotHomePage()
{
    QUrl url{QLatin1String(kProductsPage)};
    url.setQuery(QStringLiteral("ref=%1").arg(QLatin1String(kReferrer)));
    QDesktopServices::openUrl(url);
}

void QFanControlMainWindow::startUpdateChecker()
{
    ImageResourceUtils::registerImages();
    m_pUpdateChecker =
        new QUpdateChecker(UpdateConfig::feedUrl(), QStringLiteral("Thermora"),
                           QStringLiteral(THERMORA_VERSION), QCoreServices::preferences(), this);
    m_pUpdatePresenter.reset(new QUpdateDialogPresenter(this));
    m_pUpdateChecker->setPresenter(m_pUpdatePresenter.get());
    connect(m_pUpdateChecker, &QUpdateChecker::quit, this, &QFanControlMainWindow::slotExit,
            Qt::DirectConnection);
    m_pUpdateChecker->setStartDelay(UpdateConfig::startDelaySecs());
    m_pUpdateChecker->setAppIcon(QIcon(QStringLiteral(":/Resources/icon_128.png")));
    m_pUpdateChecker->setTrayIcon(QIcon(QStringLiteral(":/Resources/tray.png")));
    m_pUpdateChecker->checkForUpdate(false, 24, true, this);
}

void QFanControlMainWindow::slotCheckForUpdates()
{
    if (m_pUpdateChecker)
        m_pUpdateChecker->checkForUpdate(true, 0, false, nullptr);
}

void QFanControlMainWindow::slotPreferences()
{
    if (!m_bLoaded || QApplication::activeModalWidget())
        return;
    QPreferencesDialog dialog(dialogParent(), m_pFanControl);
    runOwnDialog(&dialog);
}

void QFanControlMainWindow::OnInfo()
{
    if (!m_bLoaded || QApplication::activeModalWidget())
        return;
    QInfoDialog dialog(dialogParent(), m_pFanControl);
    runOwnDialog(&dialog);
}

QWidget* QFanControlMainWindow::dialogParent()
{
    // A hidden window is no parent: the dialog must come up on its own, in front.
    return isVisible() ? this : nullptr;
}

void QFanControlMainWindow::runOwnDialog(QDialog* pDialog)
{
    // Modal to the window only, so that the menu-bar item's menu and Exit stay reachable.
    pDialog->setWindowModality(Qt::WindowModal);
    if (!pDialog->parentWidget())
        QMyApplication::activateAppTopmost(this);
    execDialog(pDialog);
}

// --- Window position, events ----------------------------------------------------------------

void QFanControlMainWindow::RestoreWindowPosition()
{
    QPreferences* pPrefs = QCoreServices::preferences();
    const QRect saved = pPrefs ? pPrefs->getRect(QStringLiteral("WindowPosition")) : QRect();
    // A position on no screen at all (a screen that is gone, a damaged value) would leave the
    // window where nobody can reach it: it is centred like a missing one.
    bool bOnScreen = false;
    for (QScreen* pScreen : QGuiApplication::screens())
        bOnScreen = bOnScreen || pScreen->geometry().intersects(saved);
    if (saved.isValid() && bOnScreen) {
        setGeometry(saved);
        return;
    }
    QScreen* pScreen = QGuiApplication::primaryScreen();
    if (!pScreen)
        return;
    const QRect desktop = pScreen->geometry();
    move(desktop.x() + desktop.width() / 2 - width() / 2,
         desktop.y() + desktop.height() / 2 - height() / 2);
}

void QFanControlMainWindow::SaveWindowPosition()
{
    QPreferences* pPrefs = QCoreServices::preferences();
    if (pPrefs && !isMaximized())
        pPrefs->setRect(QStringLiteral("WindowPosition"), geometry());
}

void QFanControlMainWindow::hideToMenuBar()
{
    if (!hasTrayIcon()) {
        showMinimized();
        return;
    }
    hide();
}

void QFanControlMainWindow::OnMinimize()
{
    hideToMenuBar();
}

void QFanControlMainWindow::slotRestore()
{
    showNormal();
    activateWindow();
    QMyApplication::activateAppTopmost(this);
}

void QFanControlMainWindow::slotExit()
{
    if (isStopRequested())
        return;
    m_bExitRequested = true;
    close();
    // The window may have been hidden already, so the event loop is ended here rather than by
    // the last visible window closing. Outside a running loop (the application's aboutToQuit)
    // there is nothing to end, and a quit request then would cut the next loop short.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::quit();
}

void QFanControlMainWindow::closeEvent(QCloseEvent* pEvent)
{
    if (!m_bExitRequested) {
        hideToMenuBar();
        pEvent->ignore();
        return;
    }
    stopWorkers();
    hide();
    setTrayIconVisible(false);
    SaveWindowPosition();
    if (m_pUpdateChecker)
        m_pUpdateChecker->stopAndWaitForFinished();
    waitForThreadsFinished();
    pEvent->accept();
}

void QFanControlMainWindow::keyPressEvent(QKeyEvent* pEvent)
{
    QMainWindow::keyPressEvent(pEvent);
    if (pEvent->key() == Qt::Key_Return && ui.tableFans->hasFocus())
        showFanControlDialog(GetSelectedFan());
}

void QFanControlMainWindow::changeEvent(QEvent*)
{
    // Nothing: the window has no state to follow on language or style changes of its own.
}

void QFanControlMainWindow::showEvent(QShowEvent* pEvent)
{
    QMainWindow::showEvent(pEvent);
    m_bWindowVisible.store(isVisible());
}

void QFanControlMainWindow::hideEvent(QHideEvent* pEvent)
{
    QMainWindow::hideEvent(pEvent);
    m_bWindowVisible.store(isVisible());
}

void QFanControlMainWindow::OnFanDoubleClick(QTableWidgetItem*)
{
    showFanControlDialog(GetSelectedFan());
}

void QFanControlMainWindow::slotShowSelectedFanDialog()
{
    showFanControlDialog(GetSelectedFan());
}

void QFanControlMainWindow::showExitError(const QString& title, const QString& text)
{
    QMessageBox::warning(this, title, text, QMessageBox::Ok);
}

int QFanControlMainWindow::execDialog(QDialog* pDialog)
{
    return pDialog->exec();
}

// --- Updates from the workers ---------------------------------------------------------------

void QFanControlMainWindow::OnInitFinished(int nResult)
{
    if (isStopRequested())
        return;
    m_bLoaded = true;
    m_pButtonPreferences->setEnabled(true);
    m_pButtonAbout->setEnabled(true);
    if (nResult == 1)
        QMyApplication::activateAppTopmost(this);
    createTrayIconMenu();
    FillFansTable();
    FillSensorsTable();
    updateTrayIcon();
    ThreadHandoff::give(this);
    m_ThreadUpdate = QtConcurrent::run(&m_WorkerPool, this, &QFanControlMainWindow::UpdateThread);
    if (!QCoreServices::isReadOnly())
        m_ThreadControl =
            QtConcurrent::run(&m_WorkerPool, this, &QFanControlMainWindow::ControlFanSpeedThread);
}

void QFanControlMainWindow::slotFanUpdate(int fanIndex)
{
    FanInfo* pFan = m_pFanControl ? m_pFanControl->GetFan(fanIndex) : nullptr;
    if (!pFan || fanIndex >= ui.tableFans->rowCount())
        return;

    QMyTableWidget* pTable = ui.tableFans;
    const bool bLost = m_pFanControl->isSmcLost();
    const auto shown = [bLost](int nRpm) {
        return bLost ? QStringLiteral("\u2014") : QString::number(nRpm);
    };
    pTable->setItemText(fanIndex, 1, shown(pFan->GetRPMMin()));
    pTable->setItemText(fanIndex, 2, shown(pFan->GetRPM()));
    pTable->setItemText(fanIndex, 3, shown(pFan->GetRPMMax()));

    const FanControlMode mode = pFan->GetControlMode();
    QString tableText;
    QString shortText;
    switch (mode.GetMode()) {
    case FanControlMode::ModeAutomatic:
        tableText = shortText = uiText("MainWindow/fanControlAutomatic");
        break;
    case FanControlMode::ModeConstant:
        tableText = shortText = uiText("MainWindow/fanControlConstant").arg(mode.GetConstantRPM());
        break;
    case FanControlMode::ModeSensor: {
        const QString heldFor = pFan->heldBackFor();
        if (!heldFor.isEmpty())
            tableText = uiText("MainWindow/fanControlSensorFailed").arg(heldFor);
        else if (mode.getSensor())
            tableText = uiText("MainWindow/fanControlSensor")
                            .arg(QStringLiteral("%1, %2\u2013%3 %4")
                                     .arg(mode.getSensor()->GetDisplayName())
                                     .arg(getTemperatureValueForCurrentScale(mode.valueStart()))
                                     .arg(getTemperatureValueForCurrentScale(mode.valueMax()))
                                     .arg(getTemperatureScaleSymbol()));
        shortText = uiText("TrayMenu/itemSensorBased");
        break;
    }
    case FanControlMode::ModeUndefined:
        tableText = shortText = uiText("MainWindow/fanControlUnknown");
        break;
    default:
        break;
    }
    pTable->setItemText(fanIndex, 4, tableText);

    if (QMenu* pMenu = m_fanMenus.value(fanIndex, nullptr))
        pMenu->setTitle(QStringLiteral("%1 - %2").arg(pFan->GetName(), shortText));

    if (PreferenceUtils::getInt("trayFan") == fanIndex)
        updateTrayIcon();
}

void QFanControlMainWindow::OnSensorUpdate(int row, double value)
{
    if (row < 0 || row >= ui.tableSensors->rowCount())
        return;
    QString text;
    QString toolTip;
    if (std::isnan(value)) {
        text = QStringLiteral("\u2014");
        toolTip = failedSensorToolTip(row);
    } else if (value == 0.0) {
        text = QStringLiteral("-");
    } else {
        const double shown = getTemperatureValueForCurrentScale(value);
        if (PreferenceUtils::getInt("PreciseTemperature") == 0)
            text = QString::number(std::floor(shown + 0.5), 'g', 6);
        else
            text = QString::number(shown, 'f', 1);
    }
    ui.tableSensors->setItemText(row, 1, text);
    if (QTableWidgetItem* pItem = ui.tableSensors->item(row, 1))
        pItem->setToolTip(toolTip);
    checkOverheat(row, value);

    if (!PreferenceUtils::getString("traySensor").isEmpty())
        updateTrayIcon();
}

QString QFanControlMainWindow::failedSensorToolTip(int row) const
{
    if (m_pFanControl->isSmcLost())
        return m_SmcLostText;
    const QVector<QTempSensor*> sensors = m_pFanControl->sensors();
    int nSeparatorRow = -1;
    const int j = MainWindowHelpers::sensorRows(sensors, nSeparatorRow).indexOf(row);
    if (j < 0)
        return QString();
    const qint64 nSince = sensors.at(j)->failedSinceMsecs();
    return uiText("MainWindow/sensorNotReadableSince").arg(QClock::timeOfDay(nSince));
}

void QFanControlMainWindow::OnSmcLinkChanged()
{
    const qint64 nSince = m_pFanControl ? m_pFanControl->smcLostSinceMsecs() : -1;
    m_SmcLostText =
        nSince < 0 ? QString()
                   : uiText("MainWindow/statusSmcNotResponding").arg(QClock::timeOfDay(nSince));
    setStatusText(-1);
}

// Queued calls from the workers arrive here: what a worker wrote before it emitted is visible
// to the slot (the hand-off itself goes through Qt's event queue).
bool QFanControlMainWindow::event(QEvent* pEvent)
{
    if (pEvent->type() == QEvent::MetaCall)
        ThreadHandoff::take(this);
    return QMainWindow::event(pEvent);
}

// --- Workers --------------------------------------------------------------------------------

bool QFanControlMainWindow::isStopRequested() const
{
    return m_stopThreads.load() != 0;
}

void QFanControlMainWindow::stopWorkers()
{
    {
        // Under the mutex: a worker tests the flag under it right before it waits, so the
        // wake cannot fall between its test and its wait.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopThreads.store(1);
    }
    m_waitCondition.notify_all();
}

bool QFanControlMainWindow::waitForNextCycle(int nMsecs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // Spurious wake-ups sleep on; only the stop flag ends the wait early.
    return !m_waitCondition.wait_for(lock, std::chrono::milliseconds(nMsecs),
                                     [this] { return isStopRequested(); });
}

bool QFanControlMainWindow::checkWriteRightsHook()
{
    bool bAsked = false;
    RightsCheckUtils::checkRightsAndWarnIfNeeded(this, bAsked,
                                                 [this] { return isStopRequested(); });
    return bAsked;
}

void QFanControlMainWindow::InitialLoadThread()
{
    const ThreadHandoff::WorkerScope handoff(this);
    if (m_pFanControl)
        m_pFanControl->Init();
    // 1: the administrator was asked for the tool's rights; the program then comes to the front.
    const bool bAsked = !QCoreServices::isReadOnly() && checkWriteRightsHook();
    ThreadHandoff::give(this);
    emit init_finished(bAsked ? 1 : 0);
}

void QFanControlMainWindow::UpdateThread()
{
    const ThreadHandoff::WorkerScope handoff(this);
    if (!m_pFanControl)
        return;
    const QVector<QTempSensor*> sensors = m_pFanControl->sensors();
    bool bCurrentOnly = false;

    FanControlLoopUtils::UpdatePassHooks hooks;
    hooks.stopRequested = [this] { return isStopRequested(); };
    hooks.fanUpdated = [this](int nFan) {
        ThreadHandoff::give(this);
        emit fan_update(nFan);
    };
    hooks.sensorUpdated = [this](int nRow, double value) {
        ThreadHandoff::give(this);
        emit sensor_update(nRow, value);
    };
    hooks.smcLinkChanged = [this] {
        ThreadHandoff::give(this);
        emit smc_link_changed();
    };

    // While hidden only the sensors in use are read, and every sensor on every
    // kHiddenFullPassEvery-th pass, so that an overheat is noticed within about 15 s.
    const int kHiddenFullPassEvery = 10;
    for (int nPass = 1;; ++nPass) {
        const bool bReadAll = m_bWindowVisible.load() || nPass % kHiddenFullPassEvery == 0;
        const QString traySensor = PreferenceUtils::getString("traySensor");
        if (!FanControlLoopUtils::runUpdatePass(*m_pFanControl, sensors, bCurrentOnly, bReadAll,
                                                traySensor, hooks))
            return;
        if (!waitForNextCycle(m_nUpdatePeriodMsecs))
            return;
        bCurrentOnly = true;
    }
}

void QFanControlMainWindow::ControlFanSpeedThread()
{
    const ThreadHandoff::WorkerScope handoff(this);
    if (!m_pFanControl)
        return;
    const std::function<bool()> stop = [this] { return isStopRequested(); };
    for (;;) {
        if (!FanControlLoopUtils::runControlPass(*m_pFanControl, stop))
            return;
        if (!waitForNextCycle(m_nControlPeriodMsecs))
            return;
    }
}

void QFanControlMainWindow::waitForThreadsFinished()
{
    if (m_pUpdateChecker) {
        // The update checker stops here once it is part of the program.
    }
    int nBudget = kExitWaitSteps * m_nExitWaitStepMsecs;
    for (int nStep = 0; nStep < kExitWaitSteps; ++nStep) {
        if (!m_ThreadUpdate.isRunning() && !m_ThreadInit.isRunning() &&
            !m_ThreadControl.isRunning())
            break;
        QLOG_INFO() << qUtf8Printable(QStringLiteral("waitForThreadsFinished: m_ThreadUpdate = %1, "
                                                     "m_ThreadInit = %2, m_ThreadControl = %3")
                                          .arg(int(m_ThreadUpdate.isRunning()))
                                          .arg(int(m_ThreadInit.isRunning()))
                                          .arg(int(m_ThreadControl.isRunning())));
        QThread::msleep(static_cast<unsigned long>(m_nExitWaitStepMsecs));
        nBudget -= m_nExitWaitStepMsecs;
    }
    if (nBudget > 0) {
        ThreadHandoff::take(this);
        QLOG_INFO() << "waitForThreadsFinished: Quit OK";
        return;
    }
    QLOG_INFO() << qUtf8Printable(QStringLiteral("waitForThreadsFinished ERROR: m_ThreadUpdate = "
                                                 "%1, m_ThreadInit = %2, m_ThreadControl = %3")
                                      .arg(int(m_ThreadUpdate.isRunning()))
                                      .arg(int(m_ThreadInit.isRunning()))
                                      .arg(int(m_ThreadControl.isRunning())));
    showExitError(programTitle(), QStringLiteral("Unable to terminate the app in the right way, \n"
                                                 "please contact support for assistance and "
                                                 "resolving the problem."));
}
