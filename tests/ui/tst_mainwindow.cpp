#include "QsLog/QsLog.h"
#include "SystemTrayIconEx/QQtSystemTrayIconEx.h"
#include "app/app.h"
#include "core/FanControl.h"
#include "core/FanInfo.h"
#include "core/QTempSensor.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "smc/QSmcControlMac.h"
#include "smc/sim/QSimSmc.h"
#include "smc/sim/QSmcTransportInProcess.h"
#include "support/QMemoryLogDestination.h"
#include "support/QSimMachine.h"
#include "ui/FanControlDialog.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowHelpers.h"

#include <QAction>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSemaphore>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// The given fans (1000..6000 RPM, turning at 1500) and three SMC temperature sensors.
QVector<QSimKey> machineKeys(const QStringList& fans)
{
    using namespace SimMachineUtils;
    QVector<QSimKey> keys = {numberKey("FNum", "ui8 ", fans.size(), 1),
                             numberKey("FS! ", "ui16", 0, 2), numberKey("TA0P", "sp78", 24, 2),
                             numberKey("TC0P", "sp78", 45, 2), numberKey("TG0D", "sp78", 40, 2)};
    for (int i = 0; i < fans.size(); ++i)
        keys << SimMachineUtils::fanKeys(i, fans.at(i).toLatin1(), 1500, 1000, 6000);
    return keys;
}

// The protocol backend over the simulator; remembers every key the program reads.
class QReadRecordingSmc : public QSmcControlMac
{
public:
    using QSmcControlMac::QSmcControlMac;
    int OS_ReadKey(const char* key, unsigned char* buffer, unsigned char size) override
    {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Reads << QString::fromLatin1(key, 4);
        }
        return QSmcControlMac::OS_ReadKey(key, buffer, size);
    }
    QStringList takeReads()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return std::exchange(m_Reads, QStringList());
    }

private:
    std::mutex m_Mutex;
    QStringList m_Reads;
};

// The real window with its modal parts answered by the test. With m_bRealExec the dialog runs
// its own modal loop; a request while one runs is counted but not run (it would never end).
class QTestMainWindow : public QFanControlMainWindow
{
public:
    QStringList m_ExitErrors;
    QMenu* m_pOpenedMenu = nullptr;
    std::function<int(QDialog*)> m_DialogAnswer;
    bool m_bRealExec = false;
    int m_nDialogRequests = 0;

protected:
    void showExitError(const QString& title, const QString& text) override
    {
        m_ExitErrors << title + QLatin1Char('|') + text;
    }
    void execPopupMenu(QMenu* pMenu, const QPoint&) override { m_pOpenedMenu = pMenu; }
    int execDialog(QDialog* pDialog) override
    {
        if (++m_nDialogRequests == 1 && m_bRealExec)
            return QFanControlMainWindow::execDialog(pDialog);
        return m_DialogAnswer ? m_DialogAnswer(pDialog) : QDialog::Rejected;
    }
};

QStringList menuTexts(QMenu* pMenu)
{
    QStringList texts;
    for (QAction* pAction : pMenu->actions()) {
        if (pAction->isSeparator())
            texts << QStringLiteral("---");
        else if (pAction->menu())
            texts << QStringLiteral("[%1]").arg(pAction->menu()->title());
        else
            texts << pAction->text();
    }
    return texts;
}

// Opens a fan submenu the way the user does, so that its entries are rebuilt, and closes it.
void openAndClose(QMenu* pMenu)
{
    pMenu->popup(QPoint(10, 10));
    pMenu->hide();
}

QString cellText(QTableWidget* pTable, int nRow, int nColumn)
{
    QTableWidgetItem* pItem = pTable->item(nRow, nColumn);
    return pItem ? pItem->text() : QString();
}

QStatusItemState trayState(QFanControlMainWindow* pWindow)
{
    return pWindow->findChild<QSystemTrayIconEx*>()->menuBarState();
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tablesAfterInitialLoad_data();
    void tablesAfterInitialLoad();
    void sensorRowsAroundDrives_data();
    void sensorRowsAroundDrives();
    void fanUpdateTexts_data();
    void fanUpdateTexts();
    void sensorUpdateTexts_data();
    void sensorUpdateTexts();
    void menuBarFollowsUpdates_data();
    void menuBarFollowsUpdates();
    void sensorHeaderFits_data();
    void sensorHeaderFits();
    void trayMenuEntries_data();
    void trayMenuEntries();
    void fanMenuEntriesAndActions_data();
    void fanMenuEntriesAndActions();
    void changeControlFromMenu();
    void fansTableContextMenu();
    void windowPosition_data();
    void windowPosition();
    void readsPerUpdatePass_data();
    void readsPerUpdatePass();
    void exitStopsWorkers_data();
    void exitStopsWorkers();
    // Last: its Exit ends the event loops for the rest of the program.
    void menuUsableWhileDialogOpen();

private:
    QTestMainWindow* createWindow(const QStringList& fans, int nSlowMaskWriteMsecs = 0);
    void waitForLoad(QTestMainWindow* pWindow);

    std::unique_ptr<QLanguageLoader> m_pLanguage;
    std::unique_ptr<QTemporaryDir> m_pDir;
    std::unique_ptr<QPreferences> m_pPrefs;
    QSimSmc* m_pSim = nullptr;
    QReadRecordingSmc* m_pSmc = nullptr; // owned by the key layer's singleton
    std::unique_ptr<QTestMainWindow> m_pWindow;
    QSharedPointer<QMemoryLogDestination> m_pLog;
    QSemaphore m_MaskWriteGate; // a slow mask write of -1 ms waits here
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
    m_MaskWriteGate.release(1000);
    m_pWindow.reset();
    m_MaskWriteGate.acquire(m_MaskWriteGate.available());
    QSmcControl::destroyInstance();
    delete m_pSim;
    m_pSim = nullptr;
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setReadOnly(false);
    m_pPrefs.reset();
    m_pDir.reset();
}

QTestMainWindow* tst_MainWindow::createWindow(const QStringList& fans, int nSlowMaskWriteMsecs)
{
    m_pSim = new QSimSmc;
    m_pSim->setKeys(machineKeys(fans));
    if (nSlowMaskWriteMsecs != 0)
        m_pSim->setSlowWrite("FS! ", qAbs(nSlowMaskWriteMsecs));
    if (nSlowMaskWriteMsecs < 0)
        m_pSim->setSlowWriteHandler([this](int) { m_MaskWriteGate.acquire(); });
    m_pSmc = new QReadRecordingSmc(new QSmcTransportInProcess(m_pSim));
    m_pSmc->Open();
    m_pSmc->useDirectWrites();
    QSmcControl::setInstance(m_pSmc);
    m_pWindow.reset(new QTestMainWindow);
    return m_pWindow.get();
}

void tst_MainWindow::waitForLoad(QTestMainWindow* pWindow)
{
    QTRY_VERIFY_WITH_TIMEOUT(pWindow->trayMenu() != nullptr, 10000);
}

void tst_MainWindow::tablesAfterInitialLoad_data()
{
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<bool>("readOnly");
    QTest::newRow("two fans") << QStringList{"Left", "Right"} << false;
    QTest::newRow("no fans") << QStringList() << false;
    QTest::newRow("read-only: no control worker") << QStringList{"CPU"} << true;
}

void tst_MainWindow::tablesAfterInitialLoad()
{
    QFETCH(QStringList, fans);
    QFETCH(bool, readOnly);
    QCoreServices::setReadOnly(readOnly, "msdos");
    QTestMainWindow* pWindow = createWindow(fans);
    QCOMPARE(pWindow->fansTable()->rowCount(), 0);
    pWindow->show();
    waitForLoad(pWindow);

    QMyTableWidget* pFans = pWindow->fansTable();
    QCOMPARE(pFans->rowCount(), fans.size());
    for (int i = 0; i < fans.size(); ++i) {
        QCOMPARE(cellText(pFans, i, 0), fans.at(i));
        QCOMPARE(pFans->item(i, 0)->data(Qt::UserRole).value<void*>(),
                 static_cast<void*>(pWindow->fanControl()->GetFan(i)));
        // The update worker fills the values in.
        QTRY_COMPARE(cellText(pFans, i, 1), QStringLiteral("1000"));
        QCOMPARE(cellText(pFans, i, 3), QStringLiteral("6000"));
        QCOMPARE(cellText(pFans, i, 4), QStringLiteral("Auto"));
    }
    QCOMPARE(pWindow->GetSelectedFan(),
             fans.isEmpty() ? nullptr : pWindow->fanControl()->GetFan(0));

    // Without drives: every sensor in its own row, no heading, one empty row at the end.
    QMyTableWidget* pSensors = pWindow->sensorsTable();
    const QVector<QTempSensor*> sensors = pWindow->fanControl()->sensors();
    QCOMPARE(pSensors->rowCount(), sensors.size() + 1);
    for (int j = 0; j < sensors.size(); ++j)
        QCOMPARE(cellText(pSensors, j, 0), sensors.at(j)->GetDisplayName());
    QTRY_VERIFY(!cellText(pSensors, 0, 1).isEmpty());
    QCOMPARE(pWindow->separatorRow(), -1);
    QVERIFY(pWindow->isUpdateWorkerRunning());
    QCOMPARE(pWindow->isControlWorkerRunning(), !readOnly);
    QCOMPARE(pWindow->statusLabel() &&
                 pWindow->statusLabel()->text().contains("non-Apple file system detected (msdos)"),
             readOnly);
}

void tst_MainWindow::sensorRowsAroundDrives_data()
{
    QTest::addColumn<QString>("kinds"); // s = SMC sensor, d = drive, in the controller's order
    QTest::addColumn<QVector<int>>("rows");
    QTest::addColumn<int>("separator");

    QTest::newRow("no drives") << "sss" << QVector<int>{0, 1, 2} << -1;
    QTest::newRow("drives after sensors") << "ssdd" << QVector<int>{0, 1, 3, 4} << 2;
    QTest::newRow("only drives") << "dd" << QVector<int>{1, 2} << 0;
}

void tst_MainWindow::sensorRowsAroundDrives()
{
    QFETCH(QString, kinds);
    QFETCH(QVector<int>, rows);
    QFETCH(int, separator);

    struct QKindSensor : QTempSensor
    {
        bool m_bDrive = false;
        bool isHDD() override { return m_bDrive; }
    };
    std::vector<QKindSensor> owned(size_t(kinds.size()));
    QVector<QTempSensor*> sensors;
    for (int i = 0; i < kinds.size(); ++i) {
        owned[size_t(i)].m_bDrive = kinds.at(i) == QLatin1Char('d');
        sensors << &owned[size_t(i)];
    }
    int nSeparator = 99;
    QCOMPARE(MainWindowHelpers::sensorRows(sensors, nSeparator), rows);
    QCOMPARE(nSeparator, separator);
}

void tst_MainWindow::fanUpdateTexts_data()
{
    QTest::addColumn<QString>("mode"); // the fan mode's text form
    QTest::addColumn<QString>("tableText");
    QTest::addColumn<QString>("shortText");

    QTest::newRow("automatic") << "0"
                               << "Auto"
                               << "Auto";
    QTest::newRow("constant") << "1,2000"
                              << "Constant value of 2000"
                              << "Constant value of 2000";
    QTest::newRow("sensor-based") << "2,TC0P,40,60"
                                  << "Based on %1"
                                  << "Sensor-based";
    QTest::newRow("sensor-based, sensor missing") << "2,TZ9Z,40,60"
                                                  << ""
                                                  << "Sensor-based";
    QTest::newRow("undefined") << ""
                               << "Unknown!"
                               << "Unknown!";
}

void tst_MainWindow::fanUpdateTexts()
{
    QFETCH(QString, mode);
    QFETCH(QString, tableText);
    QFETCH(QString, shortText);

    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(60000, 60000);
    waitForLoad(pWindow);
    FanInfo* pFan = pWindow->fanControl()->GetFan(1);
    QTRY_VERIFY(pFan->GetRPMMax() > 0);
    pFan->SetControlMode(FanControlMode::fromString(mode));
    if (tableText.contains("%1"))
        tableText = tableText.arg(pWindow->fanControl()->sensorByKey("TC0P")->GetDisplayName());

    pWindow->slotFanUpdate(1);
    QMyTableWidget* pFans = pWindow->fansTable();
    QCOMPARE(cellText(pFans, 1, 2), QString::number(pFan->GetRPM()));
    QCOMPARE(cellText(pFans, 1, 4), tableText);
    QCOMPARE(pWindow->fanMenu(1)->title(), QStringLiteral("Right - ") + shortText);
    // Indices the controller does not have change nothing.
    pWindow->slotFanUpdate(2);
    pWindow->slotFanUpdate(-1);
    QCOMPARE(pFans->rowCount(), 2);
}

void tst_MainWindow::sensorUpdateTexts_data()
{
    QTest::addColumn<int>("precise"); // -2: setting absent
    QTest::addColumn<int>("fahrenheit");
    QTest::addColumn<double>("celsius");
    QTest::addColumn<QString>("text");

    QTest::newRow("whole degrees, half rounds up") << 0 << 0 << 45.5 << "46";
    QTest::newRow("whole degrees, below half") << 0 << 0 << 45.4 << "45";
    QTest::newRow("precise") << 1 << 0 << 45.4 << "45.4";
    QTest::newRow("precise, whole value") << 1 << 0 << 45.0 << "45.0";
    QTest::newRow("precise setting absent counts as precise") << -2 << 0 << 45.4 << "45.4";
    QTest::newRow("never read") << 1 << 0 << 0.0 << "-";
    QTest::newRow("Fahrenheit, whole") << 0 << 1 << 45.5 << "114";
    QTest::newRow("Fahrenheit, precise") << 1 << 1 << 45.5 << "113.9";
}

void tst_MainWindow::sensorUpdateTexts()
{
    QFETCH(int, precise);
    QFETCH(int, fahrenheit);
    QFETCH(double, celsius);
    QFETCH(QString, text);

    QTestMainWindow* pWindow = createWindow({"CPU"});
    pWindow->setWorkerPeriods(60000, 60000);
    waitForLoad(pWindow);
    if (precise == -2)
        m_pPrefs->remove("PreciseTemperature");
    else
        m_pPrefs->setInt("PreciseTemperature", precise);
    m_pPrefs->setInt("Fahrenheit", fahrenheit);

    pWindow->OnSensorUpdate(1, celsius);
    QCOMPARE(cellText(pWindow->sensorsTable(), 1, 1), text);
    pWindow->OnSensorUpdate(99, celsius); // rows the table does not have are ignored
}

void tst_MainWindow::menuBarFollowsUpdates_data()
{
    QTest::addColumn<bool>("fanSignal"); // else sensor_update
    QTest::addColumn<int>("index");      // fan index or sensor row
    QTest::addColumn<int>("trayFan");
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<int>("flags"); // shown by the menu-bar item afterwards

    QTest::newRow("the menu-bar fan's update") << true << 1 << 1 << "" << 2;
    QTest::newRow("another fan's update") << true << 0 << 1 << "TC0P" << 0;
    QTest::newRow("a sensor update with a menu-bar sensor") << false << 2 << 1 << "TC0P" << 3;
    QTest::newRow("a sensor update without one") << false << 2 << 1 << "" << 0;
}

void tst_MainWindow::menuBarFollowsUpdates()
{
    QFETCH(bool, fanSignal);
    QFETCH(int, index);
    QFETCH(int, trayFan);
    QFETCH(QString, traySensor);
    QFETCH(int, flags);

    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(60000, 60000);
    waitForLoad(pWindow);
    // The worker's first pass is over once the last fan has its values.
    QTRY_VERIFY(!cellText(pWindow->fansTable(), 1, 1).isEmpty());
    QCOMPARE(trayState(pWindow).m_DisplayFlags, 0);

    m_pPrefs->setInt("trayFan", trayFan);
    m_pPrefs->setString("traySensor", traySensor);
    if (fanSignal)
        emit pWindow->fan_update(index);
    else
        emit pWindow->sensor_update(index, 45.0);
    const QStatusItemState state = trayState(pWindow);
    QCOMPARE(state.m_DisplayFlags, flags);
    if (flags & 2)
        QCOMPARE(state.m_Rpm, pWindow->fanControl()->GetFan(1)->GetRPM());
    if (flags & 1)
        QCOMPARE(state.m_Temperature, pWindow->fanControl()->sensorByKey("TC0P")->GetValue());
}

void tst_MainWindow::sensorHeaderFits_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("fahrenheit");
    QTest::newRow("English") << "English.xml" << 0;
    QTest::newRow("German") << "German.xml" << 1;
    QTest::newRow("Russian") << "Russian.xml" << 0;
}

void tst_MainWindow::sensorHeaderFits()
{
    QFETCH(QString, language);
    QFETCH(int, fahrenheit);
    m_pPrefs->setInt("Fahrenheit", fahrenheit);
    const auto english = qScopeGuard([this] { m_pLanguage->load("English.xml"); });
    QCOMPARE(m_pLanguage->load(language), language);

    QTestMainWindow* pWindow = createWindow({"CPU"});
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    QHeaderView* pHeader = pWindow->sensorsTable()->horizontalHeader();
    const QString value = pWindow->sensorsTable()->horizontalHeaderItem(1)->text();
    QVERIFY(value.endsWith(fahrenheit ? "\u00b0F" : "\u00b0C"));
    QVERIFY2(pHeader->sectionSizeHint(1) <= pHeader->sectionSize(1), qPrintable(value));
}

void tst_MainWindow::trayMenuEntries_data()
{
    QTest::addColumn<QStringList>("fans");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("no fans") << QStringList()
                             << QStringList{
                                    "Show Thermora", "Website",        "Check for updates...",
                                    "---",           "Preferences...", "---",
                                    "Exit"};
    QTest::newRow("two fans")
        << QStringList{"Left", "Right"}
        << QStringList{"Show Thermora",  "Website", "Check for updates...", "---", "[Left - Auto]",
                       "[Right - Auto]", "---",     "Preferences...",       "---", "Exit"};
}

void tst_MainWindow::trayMenuEntries()
{
    QFETCH(QStringList, fans);
    QFETCH(QStringList, entries);

    QTestMainWindow* pWindow = createWindow(fans);
    waitForLoad(pWindow);
    for (int i = 0; i < fans.size(); ++i)
        QTRY_COMPARE(pWindow->fanMenu(i)->title(), fans.at(i) + " - Auto");
    QCOMPARE(menuTexts(pWindow->trayMenu()), entries);
    QCOMPARE(pWindow->findChild<QSystemTrayIconEx*>()->contextMenu(), pWindow->trayMenu());
}

void tst_MainWindow::fanMenuEntriesAndActions_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("actionData"); // what is triggered
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("modeAfter");

    const QStringList one{"Change control..."};
    const QStringList two{"Change control...", "---", "Reset to automatic control"};
    QTest::newRow("automatic: one entry") << "0" << false << "" << one << "0";
    QTest::newRow("constant: reset") << "1,2000" << false << "1:reset" << two << "0";
    QTest::newRow("sensor-based: reset") << "2,TC0P,40,60" << false << "1:reset" << two << "0";
    QTest::newRow("reset ignored in read-only mode")
        << "1,2000" << true << "1:reset" << two << "1,2000";
    QTest::newRow("unknown fan index") << "1,2000" << false << "7:reset" << two << "1,2000";
    QTest::newRow("index not a number") << "1,2000" << false << "x:reset" << two << "1,2000";
    QTest::newRow("command compared exactly") << "1,2000" << false << "1:Reset" << two << "1,2000";
}

void tst_MainWindow::fanMenuEntriesAndActions()
{
    QFETCH(QString, mode);
    QFETCH(bool, readOnly);
    QFETCH(QString, actionData);
    QFETCH(QStringList, entries);
    QFETCH(QString, modeAfter);

    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(60000, 60000);
    waitForLoad(pWindow);
    FanInfo* pFan = pWindow->fanControl()->GetFan(1);
    pFan->SetControlMode(FanControlMode::fromString(mode));
    QCoreServices::setReadOnly(readOnly, "msdos");

    QMenu* pMenu = pWindow->fanMenu(1);
    openAndClose(pMenu);
    QCOMPARE(menuTexts(pMenu), entries);
    QCOMPARE(pMenu->actions().first()->data().toString(), QStringLiteral("1:control"));
    QCOMPARE(pMenu->actions().last()->data().toString(),
             entries.size() > 1 ? QStringLiteral("1:reset") : QStringLiteral("1:control"));
    // The other fan's menu is rebuilt too, for its own fan.
    QCOMPARE(menuTexts(pWindow->fanMenu(0)), QStringList{"Change control..."});
    QCOMPARE(pWindow->fanMenu(0)->actions().first()->data().toString(),
             QStringLiteral("0:control"));

    if (actionData.isEmpty())
        return;
    QAction action(actionData, nullptr);
    action.setData(actionData);
    pWindow->slotProcessFanAction(&action);
    QCOMPARE(pFan->GetControlMode().toString(), modeAfter);
    if (modeAfter == "0") {
        QCOMPARE(cellText(pWindow->fansTable(), 1, 4), QStringLiteral("Auto"));
        QCOMPARE(m_pPrefs->getString("Fan_1"), QStringLiteral("0"));
    }
}

void tst_MainWindow::changeControlFromMenu()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(60000, 60000);
    waitForLoad(pWindow);
    // The dialog only accepts a speed once the fan's range is known, from the first update.
    QTRY_VERIFY_WITH_TIMEOUT(pWindow->fanControl()->GetFan(0)->GetRPMMax() > 0, 10000);
    QPointer<QWidget> pParentSeen;
    pWindow->m_DialogAnswer = [&](QDialog* pDialog) {
        pParentSeen = pDialog->parentWidget();
        // The user picks a constant 2000 RPM and presses OK.
        QFanControlDialog* pFanDialog = qobject_cast<QFanControlDialog*>(pDialog);
        pFanDialog->form().radioConstant->setChecked(true);
        pFanDialog->form().spinConstant->setValue(2000);
        pFanDialog->okButton()->click();
        return pDialog->result();
    };

    QMenu* pMenu = pWindow->fanMenu(0);
    openAndClose(pMenu);
    pMenu->actions().at(0)->trigger();

    QCOMPARE(pWindow->fanControl()->GetFan(0)->GetControlMode().toString(),
             QStringLiteral("1,2000"));
    QCOMPARE(m_pPrefs->getString("Fan_0"), QStringLiteral("1,2000"));
    QCOMPARE(pParentSeen.data(), nullptr); // hidden window: the dialog has no parent
    // The row and the title show the new mode at once.
    QCOMPARE(cellText(pWindow->fansTable(), 0, 4), QStringLiteral("Constant value of 2000"));
    QCOMPARE(pMenu->title(), QStringLiteral("Left - Constant value of 2000"));

    // Shown window: the dialog is its child; Return on the fans table and a double click
    // open it as well.
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    pWindow->fansTable()->setFocus();
    QTest::keyClick(pWindow->fansTable(), Qt::Key_Return);
    QCOMPARE(pParentSeen.data(), static_cast<QWidget*>(pWindow));
    const int nRequests = pWindow->m_nDialogRequests;
    emit pWindow->fansTable()->itemDoubleClicked(pWindow->fansTable()->item(1, 0));
    QCOMPARE(pWindow->m_nDialogRequests, nRequests + 1);
}

void tst_MainWindow::fansTableContextMenu()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    waitForLoad(pWindow);
    QMyTableWidget* pFans = pWindow->fansTable();

    // Below the last row there is no item and no menu.
    const QRect lastRow = pFans->visualItemRect(pFans->item(1, 0));
    pWindow->OnContextMenu(QPoint(lastRow.left() + 5, lastRow.bottom() + 20));
    QCOMPARE(pWindow->m_pOpenedMenu, nullptr);
    QCOMPARE(pWindow->GetSelectedFan(), pWindow->fanControl()->GetFan(0));

    pWindow->OnContextMenu(lastRow.center());
    QCOMPARE(pWindow->GetSelectedFan(), pWindow->fanControl()->GetFan(1));
    QCOMPARE(pWindow->m_pOpenedMenu, pWindow->fanMenu(1));

    // Closing only hides; the workers go on.
    QVERIFY(!pWindow->close());
    QVERIFY(pWindow->isHidden() || pWindow->isMinimized());
    QVERIFY(!pWindow->isStopping());
    QVERIFY(pWindow->isUpdateWorkerRunning());
}

void tst_MainWindow::windowPosition_data()
{
    QTest::addColumn<QRect>("saved"); // null: no saved position
    QTest::addColumn<bool>("centred");

    QTest::newRow("saved position") << QRect(40, 50, 700, 300) << false;
    QTest::newRow("nothing saved") << QRect() << true;
    QTest::newRow("zero width") << QRect(40, 50, 0, 300) << true;
    QTest::newRow("on no screen") << QRect(-90000, 80000, 700, 300) << true;
}

void tst_MainWindow::windowPosition()
{
    QFETCH(QRect, saved);
    QFETCH(bool, centred);

    if (!saved.isNull())
        m_pPrefs->setRect("WindowPosition", saved);
    QTestMainWindow* pWindow = createWindow({"CPU"});
    if (centred) {
        const QRect desktop = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(pWindow->pos(),
                 QPoint(desktop.x() + desktop.width() / 2 - pWindow->width() / 2,
                        desktop.y() + desktop.height() / 2 - pWindow->height() / 2));
    } else {
        QCOMPARE(pWindow->geometry(), saved);
    }

    // The exit stores where the window is.
    pWindow->move(pWindow->pos() + QPoint(7, 9));
    const QRect expected = pWindow->geometry();
    pWindow->slotExit();
    QCOMPARE(m_pPrefs->getRect("WindowPosition"), expected);
}

void tst_MainWindow::readsPerUpdatePass_data()
{
    QTest::addColumn<int>("shown"); // 0 never, 1 shown, 2 shown and hidden again
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<QString>("fan1Mode");
    QTest::addColumn<QStringList>("reads"); // one steady-state pass, sorted

    const QStringList fans{"F0Ac", "F1Ac"};
    QTest::newRow("hidden, nothing in the menu bar") << 0 << ""
                                                     << "0" << fans;
    QTest::newRow("hidden, menu-bar sensor and sensor-based fan")
        << 0 << "TG0D"
        << "2,TC0P,40,60" << fans + QStringList{"TC0P", "TG0D"};
    QTest::newRow("shown: every sensor") << 1 << ""
                                         << "0" << fans + QStringList{"TA0P", "TC0P", "TG0D"};
    QTest::newRow("shown, then hidden: fans only again") << 2 << ""
                                                         << "0" << fans;
}

void tst_MainWindow::readsPerUpdatePass()
{
    QFETCH(int, shown);
    QFETCH(QString, traySensor);
    QFETCH(QString, fan1Mode);
    QFETCH(QStringList, reads);

    // Read-only: no control worker, so every read is the update worker's.
    QCoreServices::setReadOnly(true, "msdos");
    m_pPrefs->setString("traySensor", traySensor);
    m_pPrefs->setString("Fan_1", fan1Mode);
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(20, 20);

    // Cut the reads at every pass's first fan: the stretch between two cuts is one pass. The
    // workers call into the lambda until the window is gone, also when a check fails.
    std::mutex mutex;
    QVector<QStringList> passes;
    const auto stopWindow = qScopeGuard([this] { m_pWindow.reset(); });
    connect(
        pWindow, &QFanControlMainWindow::fan_update, this,
        [&](int nFan) {
            std::lock_guard<std::mutex> lock(mutex);
            if (nFan == 0)
                passes << m_pSmc->takeReads();
        },
        Qt::DirectConnection);
    auto passCount = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return passes.size();
    };
    if (shown)
        pWindow->show();
    waitForLoad(pWindow);
    QTRY_VERIFY_WITH_TIMEOUT(passCount() >= 3, 10000);
    if (shown == 2)
        pWindow->hide();
    // One more pass may have begun before the hide; the two after it count.
    const int nFirst = passCount() + 1;
    QTRY_VERIFY_WITH_TIMEOUT(passCount() >= nFirst + 2, 10000);

    std::lock_guard<std::mutex> lock(mutex);
    QVERIFY(passes.at(1).contains("F1Mn")); // the first pass also reads minimum and maximum
    for (int n = nFirst; n < nFirst + 2; ++n) {
        QStringList pass = passes.at(n);
        pass.sort();
        QCOMPARE(pass, reads);
    }
}

void tst_MainWindow::exitStopsWorkers_data()
{
    QTest::addColumn<int>("slowMaskWrite"); // ms the initial load's mask write takes; -1: stuck
    QTest::addColumn<bool>("withinBudget");

    QTest::newRow("workers asleep: woken at once") << 0 << true;
    QTest::newRow("initial load still running") << 100 << true;
    QTest::newRow("initial load stuck past the budget") << -1 << false;
}

void tst_MainWindow::exitStopsWorkers()
{
    QFETCH(int, slowMaskWrite);
    QFETCH(bool, withinBudget);

    // A stored constant mode makes the initial load write the fan-mode mask.
    m_pPrefs->setString("Fan_0", "1,2000");
    QTestMainWindow* pWindow = createWindow({"CPU"}, slowMaskWrite);
    // Workers that would sleep a minute, and a budget of 40 x 25 ms.
    pWindow->setWorkerPeriods(60000, 60000);
    pWindow->setExitWaitStep(25);
    if (slowMaskWrite == 0) {
        waitForLoad(pWindow);
        QVERIFY(pWindow->isControlWorkerRunning());
    } else {
        QVERIFY(pWindow->isInitialLoadRunning());
    }

    QsLogging::Logger::instance().waitForWrites();
    const int nLinesBefore = m_pLog->lines().size();
    QElapsedTimer timer;
    timer.start();
    pWindow->slotExit();
    const qint64 nElapsed = timer.elapsed();
    m_MaskWriteGate.release();
    QsLogging::Logger::instance().waitForWrites();
    const QString log = m_pLog->lines().mid(nLinesBefore).join('\n');

    QVERIFY(pWindow->isStopping());
    QVERIFY(pWindow->isHidden());
    QVERIFY(!pWindow->findChild<QSystemTrayIconEx*>()->isVisible());
    if (withinBudget) {
        QVERIFY2(nElapsed < 800, qPrintable(QString::number(nElapsed)));
        QVERIFY(log.contains("waitForThreadsFinished: Quit OK"));
        QCOMPARE(pWindow->m_ExitErrors, QStringList());
        QVERIFY(!pWindow->isInitialLoadRunning());
        QVERIFY(!pWindow->isUpdateWorkerRunning());
        QVERIFY(!pWindow->isControlWorkerRunning());
    } else {
        QVERIFY(nElapsed >= 1000);
        QVERIFY(!log.contains("Quit OK"));
        QVERIFY(log.contains("waitForThreadsFinished ERROR: m_ThreadUpdate = 0, "
                             "m_ThreadInit = 1, m_ThreadControl = 0"));
        QCOMPARE(pWindow->m_ExitErrors,
                 QStringList{"Thermora 1.1.8|Unable to terminate the app in the right way, \n"
                             "please contact support for assistance and resolving the problem."});
    }
    if (slowMaskWrite != 0) {
        // The late init_finished starts nothing.
        QTRY_VERIFY(!pWindow->isInitialLoadRunning());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pWindow->trayMenu(), nullptr);
        QVERIFY(!pWindow->isUpdateWorkerRunning());
    }
    // A second exit request (the application's aboutToQuit) changes nothing.
    pWindow->slotExit();
    QCOMPARE(pWindow->m_ExitErrors.size(), withinBudget ? 0 : 1);
}

void tst_MainWindow::menuUsableWhileDialogOpen()
{
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(60000, 60000);
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    waitForLoad(pWindow);
    pWindow->m_bRealExec = true;
    QQtSystemTrayIconEx* pItem = qobject_cast<QQtSystemTrayIconEx*>(
        pWindow->findChild<QSystemTrayIconEx*>()->platformTrayIcon());

    // Another window of the program, as the menu-bar item's own is on desktops with a tray.
    QPushButton other(QStringLiteral("other"));
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    QSignalSpy otherClicks(&other, &QPushButton::clicked);

    bool bDialogOpen = false;
    bool bMenuOpened = false;
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
    QVERIFY(!pWindow->isUpdateWorkerRunning());
    QVERIFY(!pWindow->isControlWorkerRunning());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
