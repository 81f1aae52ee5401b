#include "QsLog/QsLog.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/QSmcTransportInProcess.h"
#include "support/QMemoryLogDestination.h"
#include "support/QMessageBoxCloser.h"
#include "support/QSimMachine.h"
#include "support/QToolFixture.h"
#include "ui/FanControlDialog.h"
#include "ui/MainWindow.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

// The real window with its modal parts answered by the test. With m_bRealExec the first dialog
// runs its own modal loop; any later request is only counted (it would never end).
class QTestMainWindow : public QFanControlMainWindow
{
public:
    QStringList m_ExitErrors;
    QMenu* m_pOpenedMenu = nullptr;
    QStringList m_Notifications;
    bool m_bRealExec = false;
    int m_nDialogRequests = 0;

protected:
    void showExitError(const QString& title, const QString& text) override
    {
        m_ExitErrors << title + QLatin1Char('|') + text;
    }
    void execPopupMenu(QMenu* pMenu, const QPoint&) override { m_pOpenedMenu = pMenu; }
    void showNotification(const QString& title, const QString& text) override
    {
        m_Notifications << title + QLatin1Char('|') + text;
    }
    int execDialog(QDialog* pDialog) override
    {
        if (++m_nDialogRequests == 1 && m_bRealExec)
            return QFanControlMainWindow::execDialog(pDialog);
        return QDialog::Rejected;
    }
};

QStringList menuTexts(QMenu* pMenu)
{
    pMenu->popup(QPoint(10, 10)); // opened as the user does, so that fan menus are rebuilt
    pMenu->hide();
    QStringList texts;
    for (QAction* pAction : pMenu->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("---")
                  : pAction->menu()      ? "[" + pAction->menu()->title() + "]"
                                         : pAction->text());
    return texts;
}

QString cellText(QTableWidget* pTable, int nRow, int nColumn)
{
    QTableWidgetItem* pItem = pTable->item(nRow, nColumn);
    return pItem ? pItem->text() : QString();
}

QSystemTrayIconEx* trayItem(QFanControlMainWindow* pWindow)
{
    return pWindow->findChild<QSystemTrayIconEx*>();
}

// Fan 1's mode and what the window shows for it, the menu action then triggered, and the
// display settings with what a sensor row and the menu-bar item show after fan_update(1) and
// sensor_update(1, celsius).
struct UpdateRow
{
    QString mode;
    QString tableText; // control column
    QString shortText; // in the fan menu's title
    QString action;    // data of the action triggered; "ro": "1:reset" in read-only mode
    bool reset;        // fan 1 back to automatic
    int trayFan;
    QString traySensor;
    int precise, fahrenheit; // precise -9: not set
    double celsius;
    QString text; // of sensor row 1
    int flags;    // shown by the menu-bar item
};
} // namespace

Q_DECLARE_METATYPE(UpdateRow)

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tablesAndMenuAfterLoad_data();
    void tablesAndMenuAfterLoad();
    void updatesAndFanMenu_data();
    void updatesAndFanMenu();
    void readsPerUpdatePass_data();
    void readsPerUpdatePass();
    void exitStopsWorkers_data();
    void exitStopsWorkers();
    void initialLoadChecksRights();
    void overheatAlarmPerEpisode();
    // Last: its Exit ends the event loops for the rest of the program.
    void menuUsableWhileDialogOpen();
    void failuresShown();

private:
    QTestMainWindow* createWindow(const QStringList& fans, int nPeriodMsecs = 60000,
                                  int nSlowMaskWriteMsecs = 0, bool bToolWrites = false);

    std::unique_ptr<QLanguageLoader> m_pLanguage;
    std::unique_ptr<QTemporaryDir> m_pDir;
    std::unique_ptr<QPreferences> m_pPrefs;
    std::unique_ptr<QSimSmc> m_pSim;
    std::unique_ptr<QTestMainWindow> m_pWindow;
    QSharedPointer<QMemoryLogDestination> m_pLog;
    QSemaphore m_MaskWriteGate;    // a mask write made stuck waits here
    QSemaphore m_MaskWriteStarted; // released when a slow mask write begins
};

void tst_MainWindow::initTestCase()
{
    m_pLanguage.reset(new QLanguageLoader(QLatin1String(kThermoraDefaultLanguage)));
    m_pLanguage->setLanguagesFolder(qEnvironmentVariable("THERMORA_SOURCE_DIR") +
                                    "/src/resources/languages");
    m_pLanguage->load(QStringLiteral("English.xml"));
    QsLogging::Logger::instance().setLoggingLevel(QsLogging::InfoLevel);
    m_pLog.reset(new QMemoryLogDestination);
    QsLogging::Logger::instance().addDestination(m_pLog);
}

void tst_MainWindow::init()
{
    m_pDir.reset(new QTemporaryDir);
    m_pPrefs.reset(new QPreferences(m_pDir->filePath("thermora.ini")));
    QCoreServices::setPreferences(m_pPrefs.get());
    m_pPrefs->setInt("PreciseTemperature", 1);
    m_pPrefs->setInt("Fahrenheit", 0);
}

void tst_MainWindow::cleanup()
{
    m_MaskWriteGate.release(100);
    m_pWindow.reset();
    m_MaskWriteGate.acquire(m_MaskWriteGate.available());
    m_MaskWriteStarted.acquire(m_MaskWriteStarted.available());
    QSmcControl::destroyInstance();
    m_pSim.reset();
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setReadOnly(false);
    m_pPrefs.reset();
}

// The given fans (1000..6000 RPM, at 1500), three sensors. A negative nSlowMaskWriteMsecs makes
// the mask write wait for m_MaskWriteGate; with bToolWrites writes go through the tool.
QTestMainWindow* tst_MainWindow::createWindow(const QStringList& fans, int nPeriodMsecs,
                                              int nSlowMaskWriteMsecs, bool bToolWrites)
{
    using namespace SimMachineUtils;
    QVector<QSimKey> keys = {numberKey("FNum", "ui8 ", fans.size(), 1),
                             numberKey("FS! ", "ui16", 0, 2), numberKey("TA0P", "sp78", 24, 2),
                             numberKey("TC0P", "sp78", 45, 2), numberKey("TG0D", "sp78", 40, 2)};
    for (int i = 0; i < fans.size(); ++i)
        keys << fanKeys(i, fans.at(i).toLatin1(), 1500, 1000, 6000);
    m_pSim.reset(new QSimSmc);
    m_pSim->setKeys(keys);
    if (nSlowMaskWriteMsecs != 0)
        m_pSim->setSlowWrite("FS! ", qAbs(nSlowMaskWriteMsecs));
    m_pSim->setSlowWriteHandler([this, bStuck = nSlowMaskWriteMsecs < 0](int nMsecs) {
        m_MaskWriteStarted.release();
        if (bStuck)
            m_MaskWriteGate.acquire();
        else
            QThread::msleep(static_cast<unsigned long>(nMsecs));
    });
    QSmcControlMac* pSmc = new QSmcControlMac(new QSmcTransportInProcess(m_pSim.get()));
    pSmc->Open();
    if (!bToolWrites)
        pSmc->useDirectWrites();
    QSmcControl::setInstance(pSmc); // which owns it
    m_pWindow.reset(new QTestMainWindow);
    m_pWindow->setWorkerPeriods(nPeriodMsecs, nPeriodMsecs);
    // The initial load is over once the menu exists.
    if (nSlowMaskWriteMsecs == 0 && !QTest::qWaitFor([this] { return m_pWindow->trayMenu(); }))
        qWarning("The initial load did not finish");
    // A slow load has found its fans by the time it writes the mask.
    if (nSlowMaskWriteMsecs != 0 && !m_MaskWriteStarted.tryAcquire(1, 10000))
        qWarning("The initial load did not reach the mask write");
    return m_pWindow.get();
}

void tst_MainWindow::tablesAndMenuAfterLoad_data()
{
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QStringList>("fanEntries"); // of the menu-bar item's menu
    QTest::addColumn<QString>("language");       // the sensor values' header must fit
    const QStringList fans{"[Left - Auto]", "[Right - Auto]", "---"};
    QTest::newRow("two fans") << QStringList{"Left", "Right"} << false << fans << "English.xml";
    QTest::newRow("no fans") << QStringList() << false << QStringList() << "German.xml";
    QTest::newRow("read-only") << QStringList{"L", "R"} << true
                               << QStringList{"[L - Auto]", "[R - Auto]", "---"} << "Russian.xml";
}

void tst_MainWindow::tablesAndMenuAfterLoad()
{
    QFETCH(QStringList, fans);
    QFETCH(bool, readOnly);
    QFETCH(QStringList, fanEntries);
    QFETCH(QString, language);
    QCoreServices::setReadOnly(readOnly, "msdos");
    QTestMainWindow* pWindow = createWindow(fans, 20);
    pWindow->show();

    QMyTableWidget* pFans = pWindow->fansTable();
    QCOMPARE(pFans->rowCount(), fans.size());
    for (int i = 0; i < fans.size(); ++i) {
        QCOMPARE(cellText(pFans, i, 0), fans.at(i));
        QTRY_COMPARE(cellText(pFans, i, 1), QStringLiteral("1000")); // from the update worker
        QCOMPARE(cellText(pFans, i, 3) + cellText(pFans, i, 4), QStringLiteral("6000Auto"));
    }
    QCOMPARE(pWindow->GetSelectedFan(), pWindow->fanControl()->GetFan(0));
    // Return on the fans table and a double click open the fan control dialog.
    pFans->setFocus();
    QTest::keyClick(pFans, Qt::Key_Return);
    emit pFans->itemDoubleClicked(pFans->item(0, 0));
    for (const char* button : {"buttonPreferences", "buttonAbout"})
        pWindow->findChild<QPushButton*>(button)->click();
    QCOMPARE(pWindow->m_nDialogRequests, fans.isEmpty() ? 2 : 4);
    // Without drives: every sensor in its own row, no heading, one empty row at the end.
    QMyTableWidget* pSensors = pWindow->sensorsTable();
    const QVector<QTempSensor*> sensors = pWindow->fanControl()->sensors();
    QCOMPARE(pSensors->rowCount(), sensors.size() + 1);
    for (int j = 0; j < sensors.size(); ++j)
        QCOMPARE(cellText(pSensors, j, 0), sensors.at(j)->GetDisplayName());
    QTRY_VERIFY(!cellText(pSensors, 2, 1).isEmpty());
    QVERIFY(pWindow->isUpdateWorkerRunning() && pWindow->isControlWorkerRunning() != readOnly);
    const QString status = pWindow->statusLabel() ? pWindow->statusLabel()->text() : QString();
    QCOMPARE(status.contains("non-Apple file system detected (msdos)"), readOnly);

    QCOMPARE(menuTexts(pWindow->trayMenu()),
             QStringList({"Show Thermora", "Website", "Check for updates...", "---"}) + fanEntries +
                 QStringList({"Preferences...", "---", "Exit"}));
    QCOMPARE(trayItem(pWindow)->contextMenu(), pWindow->trayMenu());
    const auto english = qScopeGuard([this] { m_pLanguage->load("English.xml"); });
    QCOMPARE(m_pLanguage->load(language), language);
    pWindow->updatePreferences();
    QHeaderView* pHeader = pSensors->horizontalHeader();
    QVERIFY2(pHeader->sectionSizeHint(1) <= pHeader->sectionSize(1),
             qPrintable(pSensors->horizontalHeaderItem(1)->text()));
    // A right click below the last row opens nothing; on a row, that fan's menu.
    const QRect lastRow = pFans->visualRect(pFans->model()->index(fans.size() - 1, 0));
    pWindow->OnContextMenu(QPoint(5, lastRow.bottom() + 20));
    QCOMPARE(pWindow->m_pOpenedMenu, nullptr);
    pWindow->OnContextMenu(lastRow.center());
    QCOMPARE(pWindow->m_pOpenedMenu, pWindow->fanMenu(fans.size() - 1));
}

void tst_MainWindow::updatesAndFanMenu_data()
{
    QTest::addColumn<UpdateRow>("row");
    const QString constant = "Constant value of 2000";
    const QString sensor = "Sensor-based";
    QTest::newRow("automatic; the menu-bar fan updated")
        << UpdateRow{"0", "Auto", "Auto", "1:reset", true, 1, "", 0, 0, 45.5, "46", 2};
    QTest::newRow("constant, reset; a menu-bar sensor updated") << UpdateRow{
        "1,2000", constant, constant, "1:reset", true, 0, "TC0P", 1, 0, 45.0, "45.0", 3};
    QTest::newRow("sensor-based, reset; neither chosen")
        << UpdateRow{"2,TC0P,40,60",
                     "Based on CPU Proximity, 40\u201360 \u00b0C",
                     sensor,
                     "1:reset",
                     true,
                     0,
                     "",
                     -9,
                     0,
                     45.44,
                     "45.4",
                     0};
    QTest::newRow("sensor missing, read-only")
        << UpdateRow{"2,TZ9Z,40,60", "", sensor, "ro", false, 1, "", 1, 0, 0.0, "-", 2};
    QTest::newRow("undefined, unknown fan index")
        << UpdateRow{"", "Unknown!", "Unknown!", "7:reset", false, 0, "", 0, 1, 45.5, "114", 0};
    QTest::newRow("index not a number") << UpdateRow{
        "1,2000", constant, constant, "x:reset", false, 0, "TC0P", 1, 1, 45.5, "113.9", 3};
    QTest::newRow("command compared exactly")
        << UpdateRow{"1,2000", constant, constant, "1:Reset", false, 1, "", 0, 0, 45.4, "45", 2};
}

void tst_MainWindow::updatesAndFanMenu()
{
    QFETCH(UpdateRow, row);
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    // The worker's first pass is over once the last fan has its values.
    QTRY_VERIFY(!cellText(pWindow->fansTable(), 1, 1).isEmpty());
    QCOMPARE(trayItem(pWindow)->menuBarState().m_DisplayFlags, 0);
    FanInfo* pFan = pWindow->fanControl()->GetFan(1);
    pFan->SetControlMode(FanControlMode::fromString(row.mode));
    m_pPrefs->setInt("trayFan", row.trayFan);
    m_pPrefs->setString("traySensor", row.traySensor);
    m_pPrefs->setInt("PreciseTemperature", row.precise);
    if (row.precise == -9)
        m_pPrefs->remove("PreciseTemperature");
    m_pPrefs->setInt("Fahrenheit", row.fahrenheit);

    emit pWindow->fan_update(1);
    emit pWindow->sensor_update(1, row.celsius);
    QCOMPARE(cellText(pWindow->fansTable(), 1, 2), QString::number(pFan->GetRPM()));
    QCOMPARE(cellText(pWindow->fansTable(), 1, 4), row.tableText);
    QCOMPARE(cellText(pWindow->sensorsTable(), 1, 1), row.text);
    const QStatusItemState state = trayItem(pWindow)->menuBarState();
    QCOMPARE(state.m_DisplayFlags, row.flags);
    if (row.flags & 2)
        QCOMPARE(state.m_Rpm, pWindow->fanControl()->GetFan(row.trayFan)->GetRPM());

    QMenu* pMenu = pWindow->fanMenu(1);
    QCOMPARE(pMenu->title(), "Right - " + row.shortText);
    const QStringList control{"Change control..."};
    const bool bAutomatic = row.mode == "0";
    QCOMPARE(menuTexts(pMenu),
             bAutomatic ? control : control + QStringList({"---", "Reset to automatic control"}));
    QCOMPARE(pMenu->actions().first()->data().toString(), QStringLiteral("1:control"));
    QCOMPARE(pMenu->actions().last()->data().toString(),
             QString(bAutomatic ? "1:control" : "1:reset"));
    QCoreServices::setReadOnly(row.action == "ro", "msdos");
    m_pPrefs->remove("Fan_1");
    QAction pick(row.action, nullptr);
    pick.setData(row.action == "ro" ? QStringLiteral("1:reset") : row.action);
    pWindow->slotProcessFanAction(&pick);
    QCOMPARE(pFan->GetControlMode().toString(), row.reset ? QStringLiteral("0") : row.mode);
    QCOMPARE(cellText(pWindow->fansTable(), 1, 4), row.reset ? "Auto" : row.tableText);
    QCOMPARE(m_pPrefs->getString("Fan_1"), QString(row.reset ? "0" : ""));
}

void tst_MainWindow::readsPerUpdatePass_data()
{
    QTest::addColumn<int>("shown"); // 0 never, 1 shown, 2 shown and hidden again
    QTest::addColumn<int>("reads"); // of one steady-state pass
    QTest::newRow("hidden: the fans' speeds") << 0 << 2;
    QTest::newRow("shown: every sensor too") << 1 << 5;
    QTest::newRow("shown, then hidden: the fans' speeds again") << 2 << 2;
}

void tst_MainWindow::readsPerUpdatePass()
{
    QFETCH(int, shown);
    QFETCH(int, reads);
    QCoreServices::setReadOnly(true, "msdos"); // no control worker: every read is the update's
    QTestMainWindow* pWindow = createWindow({"Left", "Right"}, 20);
    // Read counts at every pass's first fan; the window goes before them, also on a failure.
    std::mutex mutex;
    QVector<quint64> passStarts;
    const auto stopWindow = qScopeGuard([this] { m_pWindow.reset(); });
    connect(
        pWindow, &QFanControlMainWindow::fan_update, this,
        [&](int nFan) {
            std::lock_guard<std::mutex> lock(mutex);
            if (nFan == 0)
                passStarts << m_pSim->readCount();
        },
        Qt::DirectConnection);
    auto passCount = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return passStarts.size();
    };
    if (shown)
        pWindow->show();
    QTRY_VERIFY_WITH_TIMEOUT(passCount() >= 3, 10000);
    if (shown == 2)
        pWindow->hide();
    // A pass begun before the hide may not know of it yet; a later one does.
    const int nPass = passCount() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(passCount() > nPass + 1, 10000);
    std::lock_guard<std::mutex> lock(mutex);
    QCOMPARE(passStarts.at(nPass + 1) - passStarts.at(nPass), quint64(reads));
}

void tst_MainWindow::exitStopsWorkers_data()
{
    QTest::addColumn<int>("slowMaskWrite"); // ms the initial load's mask write takes; -1: stuck
    QTest::addColumn<bool>("withinBudget");
    QTest::addColumn<QRect>("saved"); // window position, restored when on a screen
    QTest::newRow("workers asleep: woken at once") << 0 << true << QRect(40, 50, 700, 300);
    QTest::newRow("initial load still running") << 100 << true << QRect(-9000, 9000, 700, 300);
    QTest::newRow("initial load stuck past the budget") << -1 << false << QRect(40, 50, 0, 300);
}

void tst_MainWindow::exitStopsWorkers()
{
    QFETCH(int, slowMaskWrite);
    QFETCH(bool, withinBudget);
    QFETCH(QRect, saved);
    // A stored constant mode makes the initial load write the fan-mode mask.
    m_pPrefs->setString("Fan_0", "1,2000");
    m_pPrefs->setRect("WindowPosition", saved);
    QTestMainWindow* pWindow = createWindow({"CPU"}, 60000, slowMaskWrite);
    QCOMPARE(pWindow->geometry() == saved, slowMaskWrite == 0);
    pWindow->move(QPoint(17, 19));
    const QRect position = pWindow->geometry();
    // Workers that sleep a minute, and an exit budget of 40 x 25 ms.
    pWindow->setExitWaitStep(25);
    QCOMPARE(pWindow->isControlWorkerRunning(), slowMaskWrite == 0);
    // While the load still fills the controller's lists, neither dialog opens.
    for (const char* button : {"buttonPreferences", "buttonAbout"})
        QCOMPARE(pWindow->findChild<QPushButton*>(button)->isEnabled(), slowMaskWrite == 0);
    pWindow->slotPreferences();
    pWindow->OnLinkActivated("info");
    QCOMPARE(pWindow->m_nDialogRequests, slowMaskWrite == 0 ? 2 : 0);
    pWindow->resetTrayIcon(); // as the Preferences do; the item's tool tip lists the fans
    QCOMPARE(trayItem(pWindow)->toolTip().isEmpty(), slowMaskWrite != 0);

    QsLogging::Logger::instance().waitForWrites();
    const int nLinesBefore = m_pLog->lines().size();
    QElapsedTimer timer;
    timer.start();
    pWindow->slotExit();
    const qint64 nElapsed = timer.elapsed();
    m_MaskWriteGate.release();
    QsLogging::Logger::instance().waitForWrites();
    const QString log = m_pLog->lines().mid(nLinesBefore).join('\n');

    QVERIFY(pWindow->isStopping() && pWindow->isHidden() && !trayItem(pWindow)->isVisible());
    QCOMPARE(m_pPrefs->getRect("WindowPosition"), position);
    QVERIFY2(withinBudget ? nElapsed < 800 : nElapsed >= 1000,
             qPrintable(QString::number(nElapsed)));
    QCOMPARE(log.contains("waitForThreadsFinished: Quit OK"), withinBudget);
    if (withinBudget) {
        QCOMPARE(pWindow->m_ExitErrors, QStringList());
        QVERIFY(!pWindow->isUpdateWorkerRunning() && !pWindow->isControlWorkerRunning());
    } else {
        QVERIFY(log.contains("waitForThreadsFinished ERROR: m_ThreadUpdate = 0, "
                             "m_ThreadInit = 1, m_ThreadControl = 0"));
        QCOMPARE(pWindow->m_ExitErrors,
                 QStringList{"Thermora 1.1.8|Unable to terminate the app in the right way, \n"
                             "please contact support for assistance and resolving the problem."});
    }
    // The late init_finished starts nothing.
    QTRY_VERIFY(!pWindow->isInitialLoadRunning());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(pWindow->trayMenu() != nullptr, slowMaskWrite == 0);
    QVERIFY(!pWindow->isUpdateWorkerRunning());
}

void tst_MainWindow::initialLoadChecksRights()
{
    QToolFixture tool(0755, 0, "exit 126");
    QMessageBoxCloser closer;
    QTestMainWindow* pWindow = createWindow({"Left"}, 60000, 0, true);
    QCOMPARE(closer.texts,
             QStringList(m_pLanguage->GetString("MainWindow/messageUnableToAccessSMC")));
    QCOMPARE(pWindow->fansTable()->rowCount(), 1);
    QCOMPARE(tool.promptRuns(), 1);
}

void tst_MainWindow::overheatAlarmPerEpisode()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    QTRY_VERIFY(!cellText(pWindow->fansTable(), 1, 1).isEmpty()); // hidden: no sensor read
    pWindow->fanControl()->GetFan(0)->SetControlMode(FanControlMode::constant(3500)); // midpoint
    pWindow->fanControl()->GetFan(1)->SetControlMode(FanControlMode::constant(3499));
    QsLogging::Logger::instance().waitForWrites();
    const int nLinesBefore = m_pLog->lines().size();
    QStringList coloured;
    for (double celsius : {96.0, 99.0, 90.1, 90.0, 95.0}) { // CPU Proximity, alarm at 95
        emit pWindow->sensor_update(1, celsius);
        const QTableWidgetItem* pItem = pWindow->sensorsTable()->item(1, 0);
        coloured << QString::number(pItem->data(Qt::BackgroundRole).isValid());
    }
    QCOMPARE(coloured.join(""), QStringLiteral("11101"));
    const QString alarm = "Overheating: CPU Proximity|CPU Proximity is at 96\u00b0C, at or above "
                          "its alarm threshold of 95\u00b0C.\nLeft at a constant speed below the "
                          "middle of their range: Right at 3499 RPM.";
    QCOMPARE(pWindow->m_Notifications.size(), 2);
    QCOMPARE(pWindow->m_Notifications.first(), alarm);
    QsLogging::Logger::instance().waitForWrites();
    const QStringList log = m_pLog->lines().mid(nLinesBefore);
    QCOMPARE(log.filter("Overheat: CPU Proximity (TC0P) at 96.0 C").size(), 1);
    QCOMPARE(log.filter("WARN").size(), 2);
}

void tst_MainWindow::menuUsableWhileDialogOpen()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    pWindow->m_bRealExec = true;
    QQtSystemTrayIconEx* pItem =
        qobject_cast<QQtSystemTrayIconEx*>(trayItem(pWindow)->platformTrayIcon());
    // Another window of the program, as the menu-bar item's own is on desktops with a tray.
    QPushButton other(QStringLiteral("other"));
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QSignalSpy otherClicks(&other, &QPushButton::clicked);

    bool bDialogOpen = false, bMenuOpened = false;
    QTimer::singleShot(0, pWindow, [&] {
        bDialogOpen = qobject_cast<QFanControlDialog*>(QApplication::activeModalWidget());
        QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
        pItem->OnActivated(QSystemTrayIcon::Trigger);
        bMenuOpened = pWindow->trayMenu()->isVisible();
        pWindow->slotShowSelectedFanDialog(); // a second request
        pWindow->trayMenu()->actions().last()->trigger();
        if (QApplication::activeModalWidget())
            QApplication::activeModalWidget()->close();
    });
    pWindow->slotShowSelectedFanDialog();

    QVERIFY(bDialogOpen);
    QCOMPARE(otherClicks.count(), 1);
    QVERIFY(bMenuOpened);
    QCOMPARE(pWindow->m_nDialogRequests, 1);
    // Exit, chosen from the menu while the dialog was open, ended the dialog and the workers.
    QVERIFY(pWindow->isStopping());
    QVERIFY(!pWindow->isUpdateWorkerRunning() && !pWindow->isControlWorkerRunning());
}

// A followed sensor that fails, then a controller that stops answering and comes back: what
// the rows, the fan's control column and the status line say meanwhile.
void tst_MainWindow::failuresShown()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"}, 200);
    QTRY_VERIFY(!cellText(pWindow->fansTable(), 1, 1).isEmpty());
    pWindow->fanControl()->GetFan(1)->SetControlMode(FanControlMode::sensor("TC0P", 40, 60));
    m_pSim->setReadFault("TC0P", true);
    QTRY_COMPARE_WITH_TIMEOUT(cellText(pWindow->fansTable(), 1, 4),
                              QString("Automatic: CPU Proximity not readable"), 10000);
    QTRY_COMPARE(cellText(pWindow->sensorsTable(), 1, 1), QString("\u2014"));
    QVERIFY(pWindow->sensorsTable()->item(1, 1)->toolTip().startsWith("No valid reading since"));

    const QByteArray keys[] = {"F0Ac", "F1Ac", "TA0P", "TG0D"};
    for (const QByteArray& key : keys)
        m_pSim->setReadFault(key, true);
    QTRY_VERIFY(pWindow->statusLabel()->text().contains("SMC not responding since"));
    QTRY_COMPARE(cellText(pWindow->fansTable(), 0, 2), QString("\u2014"));
    QCOMPARE(cellText(pWindow->sensorsTable(), 0, 1), QString("\u2014"));
    for (const QByteArray& key : keys)
        m_pSim->setReadFault(key, false);
    QTRY_VERIFY(cellText(pWindow->fansTable(), 0, 2).toInt() > 0);
    QVERIFY(!pWindow->statusLabel()->text().contains("SMC not responding"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
