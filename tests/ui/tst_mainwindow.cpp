#include "QsLog/QsLog.h"
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
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A machine with the given fan names (1000..6000 RPM each, turning at 1500) and three SMC
// temperature sensors.
QVector<QSimKey> machineKeys(const QStringList& fans)
{
    using namespace SimMachineUtils;
    QVector<QSimKey> keys = {numberKey("FNum", "ui8 ", fans.size(), 1),
                             numberKey("FS! ", "ui16", 0, 2), numberKey("TA0P", "sp78", 24, 2),
                             numberKey("TC0P", "sp78", 45, 2), numberKey("TG0D", "sp78", 40, 2)};
    for (int i = 0; i < fans.size(); ++i) {
        keys << fanKeys(i, fans.at(i).toLatin1(), 1500, 1000, 6000);
    }
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
            QMutexLocker lock(&m_Mutex);
            m_Reads << QString::fromLatin1(key, 4);
        }
        return QSmcControlMac::OS_ReadKey(key, buffer, size);
    }
    QStringList takeReads()
    {
        QMutexLocker lock(&m_Mutex);
        QStringList reads = m_Reads;
        m_Reads.clear();
        return reads;
    }

private:
    QMutex m_Mutex;
    QStringList m_Reads;
};

// The real window with its modal parts answered by the test.
class QTestMainWindow : public QFanControlMainWindow
{
public:
    QStringList m_ExitErrors;
    QMenu* m_pOpenedMenu = nullptr;
    std::function<int(QDialog*)> m_DialogAnswer;

protected:
    void showExitError(const QString& title, const QString& text) override
    {
        m_ExitErrors << title + QLatin1Char('|') + text;
    }
    void execPopupMenu(QMenu* pMenu, const QPoint&) override { m_pOpenedMenu = pMenu; }
    int execDialog(QDialog* pDialog) override
    {
        return m_DialogAnswer ? m_DialogAnswer(pDialog) : QDialog::Rejected;
    }
};

// A sensor whose kind the test chooses.
class QStubSensor : public QTempSensor
{
public:
    explicit QStubSensor(bool bDrive) : m_bDrive(bDrive) {}
    bool isHDD() override { return m_bDrive; }

private:
    bool m_bDrive;
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

QStringList menuData(QMenu* pMenu)
{
    QStringList data;
    for (QAction* pAction : pMenu->actions()) {
        if (!pAction->isSeparator())
            data << pAction->data().toString();
    }
    return data;
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
    void trayMenuEntries_data();
    void trayMenuEntries();
    void fanMenuEntriesAndActions_data();
    void fanMenuEntriesAndActions();
    void changeControlFromMenu();
    void fansTableContextMenu();
    void closeOnlyHides();
    void windowPosition_data();
    void windowPosition();
    void exitStopsWorkersInBudget_data();
    void exitStopsWorkersInBudget();
    void readsPerUpdatePass_data();
    void readsPerUpdatePass();
    void readOnlyStartsNoControlWorker();

private:
    QTestMainWindow* createWindow(const QStringList& fans);
    void waitForLoad(QTestMainWindow* pWindow);

    std::unique_ptr<QLanguageLoader> m_pLanguage;
    std::unique_ptr<QTemporaryDir> m_pDir;
    std::unique_ptr<QPreferences> m_pPrefs;
    QSimSmc* m_pSim = nullptr;
    QReadRecordingSmc* m_pSmc = nullptr; // owned by the key layer's singleton
    std::unique_ptr<QTestMainWindow> m_pWindow;
    QSharedPointer<QMemoryLogDestination> m_pLog;
};

void tst_MainWindow::initTestCase()
{
    m_pLanguage.reset(new QLanguageLoader(QLatin1String(kThermoraDefaultLanguage)));
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
    m_pWindow.reset();
    QSmcControl::destroyInstance();
    m_pSmc = nullptr;
    delete m_pSim;
    m_pSim = nullptr;
    QCoreServices::setPreferences(nullptr);
    QCoreServices::setReadOnly(false);
    m_pPrefs.reset();
    m_pDir.reset();
}

QTestMainWindow* tst_MainWindow::createWindow(const QStringList& fans)
{
    m_pSim = new QSimSmc;
    m_pSim->setKeys(machineKeys(fans));
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
    QTest::newRow("two fans") << QStringList{"Left", "Right"};
    QTest::newRow("one fan") << QStringList{"CPU"};
    QTest::newRow("no fans") << QStringList();
}

void tst_MainWindow::tablesAfterInitialLoad()
{
    QFETCH(QStringList, fans);
    QTestMainWindow* pWindow = createWindow(fans);
    QCOMPARE(pWindow->fansTable()->rowCount(), 0);
    pWindow->show();
    waitForLoad(pWindow);

    QMyTableWidget* pFans = pWindow->fansTable();
    QCOMPARE(pFans->rowCount(), fans.size());
    for (int i = 0; i < fans.size(); ++i) {
        QCOMPARE(cellText(pFans, i, 0), fans.at(i));
        QCOMPARE(pFans->rowHeight(i), 36);
        QCOMPARE(pFans->item(i, 0)->data(Qt::UserRole).value<void*>(),
                 static_cast<void*>(pWindow->fanControl()->GetFan(i)));
    }
    QCOMPARE(pWindow->GetSelectedFan(),
             fans.isEmpty() ? nullptr : pWindow->fanControl()->GetFan(0));

    // Without drives: every sensor in its own row, no heading, one empty row at the end.
    QMyTableWidget* pSensors = pWindow->sensorsTable();
    const QVector<QTempSensor*> sensors = pWindow->fanControl()->sensors();
    QCOMPARE(sensors.size(), 3);
    QCOMPARE(pSensors->rowCount(), sensors.size() + 1);
    for (int j = 0; j < sensors.size(); ++j)
        QCOMPARE(cellText(pSensors, j, 0), sensors.at(j)->GetDisplayName());
    QCOMPARE(cellText(pSensors, sensors.size(), 0), QString());
    QCOMPARE(pWindow->separatorRow(), -1);

    // The update worker fills the values in.
    for (int i = 0; i < fans.size(); ++i) {
        QTRY_COMPARE(cellText(pFans, i, 1), QStringLiteral("1000"));
        QTRY_COMPARE(cellText(pFans, i, 3), QStringLiteral("6000"));
        QVERIFY(cellText(pFans, i, 2).toInt() >= 1000);
        QCOMPARE(cellText(pFans, i, 4), QStringLiteral("Auto"));
    }
    QTRY_VERIFY(!cellText(pSensors, 0, 1).isEmpty());
    QVERIFY(pWindow->isUpdateWorkerRunning());
    QVERIFY(pWindow->isControlWorkerRunning());
}

void tst_MainWindow::sensorRowsAroundDrives_data()
{
    QTest::addColumn<QString>("kinds"); // s = SMC sensor, d = drive, in the controller's order
    QTest::addColumn<QVector<int>>("rows");
    QTest::addColumn<int>("separator");

    QTest::newRow("no drives") << "sss" << QVector<int>{0, 1, 2} << -1;
    QTest::newRow("drives after sensors") << "ssdd" << QVector<int>{0, 1, 3, 4} << 2;
    QTest::newRow("only drives") << "dd" << QVector<int>{1, 2} << 0;
    QTest::newRow("nothing") << "" << QVector<int>{} << -1;
}

void tst_MainWindow::sensorRowsAroundDrives()
{
    QFETCH(QString, kinds);
    QFETCH(QVector<int>, rows);
    QFETCH(int, separator);

    std::vector<std::unique_ptr<QStubSensor>> owned;
    QVector<QTempSensor*> sensors;
    for (QChar kind : kinds) {
        owned.emplace_back(new QStubSensor(kind == QLatin1Char('d')));
        sensors << owned.back().get();
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
    // The first update pass reads minimum and maximum; later ones leave them alone.
    QTRY_VERIFY(pFan->GetRPMMax() > 0);
    pFan->SetControlMode(FanControlMode::fromString(mode));
    if (tableText.contains("%1"))
        tableText = tableText.arg(pWindow->fanControl()->sensorByKey("TC0P")->GetDisplayName());

    pWindow->slotFanUpdate(1);
    QMyTableWidget* pFans = pWindow->fansTable();
    QCOMPARE(cellText(pFans, 1, 1), QString::number(pFan->GetRPMMin()));
    QCOMPARE(cellText(pFans, 1, 2), QString::number(pFan->GetRPM()));
    QCOMPARE(cellText(pFans, 1, 3), QString::number(pFan->GetRPMMax()));
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
    QTest::newRow("precise 45.5") << 1 << 0 << 45.5 << "45.5";
    QTest::newRow("precise 45.4") << 1 << 0 << 45.4 << "45.4";
    QTest::newRow("precise, drive sends whole degrees") << 1 << 0 << 45.0 << "45.0";
    QTest::newRow("precise setting absent counts as precise") << -2 << 0 << 45.4 << "45.4";
    QTest::newRow("other value counts as precise") << 7 << 0 << 45.4 << "45.4";
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
    // Rows the table does not have are ignored.
    pWindow->OnSensorUpdate(99, celsius);
    pWindow->OnSensorUpdate(-1, celsius);
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
    QCOMPARE(pWindow->fanMenu(fans.size()), nullptr);
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
    QTest::newRow("no command") << "1,2000" << false << "1" << two << "1,2000";
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
    QStringList data{"1:control"};
    if (entries.size() > 1)
        data << "1:reset";
    QCOMPARE(menuData(pMenu), data);
    // The other fan's menu is rebuilt too, and stays on its own automatic mode.
    QCOMPARE(menuData(pWindow->fanMenu(0)), QStringList{"0:control"});

    if (actionData.isEmpty())
        return;
    QAction action(actionData, nullptr);
    action.setData(actionData);
    pWindow->slotProcessFanAction(&action);
    QCOMPARE(pFan->GetControlMode().toString(), modeAfter);
    if (modeAfter == "0" && mode != "0") {
        QCOMPARE(cellText(pWindow->fansTable(), 1, 4), QStringLiteral("Auto"));
        QCOMPARE(m_pPrefs->getString("Fan_1"), QStringLiteral("0"));
        openAndClose(pMenu);
        QCOMPARE(menuTexts(pMenu), QStringList{"Change control..."});
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
        if (!pFanDialog)
            return int(QDialog::Rejected);
        QRadioButton* pConstant = pFanDialog->form().radioConstant;
        QSpinBox* pSpeed = pFanDialog->form().spinConstant;
        QPushButton* pOk = pFanDialog->okButton();
        pConstant->setChecked(true);
        pSpeed->setValue(2000);
        pOk->click();
        return pDialog->result();
    };

    QMenu* pMenu = pWindow->fanMenu(0);
    openAndClose(pMenu);
    QCOMPARE(menuTexts(pMenu), QStringList{"Change control..."});
    pMenu->actions().at(0)->trigger();

    QCOMPARE(pWindow->fanControl()->GetFan(0)->GetControlMode().toString(),
             QStringLiteral("1,2000"));
    QCOMPARE(m_pPrefs->getString("Fan_0"), QStringLiteral("1,2000"));
    // Hidden window: the dialog has no parent.
    QCOMPARE(pParentSeen.data(), nullptr);
    // The row and the title show the new mode at once.
    QCOMPARE(cellText(pWindow->fansTable(), 0, 4), QStringLiteral("Constant value of 2000"));
    QCOMPARE(pMenu->title(), QStringLiteral("Left - Constant value of 2000"));
    openAndClose(pMenu);
    QCOMPARE(menuTexts(pMenu).size(), 3);

    // Shown window: the dialog is its child; Return on the fans table opens it as well.
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    pWindow->fansTable()->setFocus();
    pParentSeen = nullptr;
    QTest::keyClick(pWindow->fansTable(), Qt::Key_Return);
    QCOMPARE(pParentSeen.data(), static_cast<QWidget*>(pWindow));
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
    const QPoint below(lastRow.left() + 5, lastRow.bottom() + 20);
    QVERIFY(below.y() < pFans->viewport()->height());
    pWindow->OnContextMenu(below);
    QCOMPARE(pWindow->m_pOpenedMenu, nullptr);
    QCOMPARE(pWindow->GetSelectedFan(), pWindow->fanControl()->GetFan(0));

    pWindow->OnContextMenu(lastRow.center());
    QCOMPARE(pWindow->GetSelectedFan(), pWindow->fanControl()->GetFan(1));
    QCOMPARE(pWindow->m_pOpenedMenu, pWindow->fanMenu(1));
}

void tst_MainWindow::closeOnlyHides()
{
    QTestMainWindow* pWindow = createWindow({"CPU"});
    pWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(pWindow));
    waitForLoad(pWindow);
    QVERIFY(!pWindow->close());
    QVERIFY(!pWindow->isStopping());
    QVERIFY(pWindow->isUpdateWorkerRunning());
    QVERIFY(pWindow->isControlWorkerRunning());
    // Without a menu-bar item the window is only minimized, so that it can be found again.
    if (QSystemTrayIconEx::isSystemTrayAvailable())
        QVERIFY(pWindow->isHidden());
    else
        QVERIFY(pWindow->isMinimized());
}

void tst_MainWindow::windowPosition_data()
{
    QTest::addColumn<QRect>("saved"); // null: no saved position
    QTest::addColumn<bool>("centred");

    QTest::newRow("saved position") << QRect(40, 50, 700, 300) << false;
    QTest::newRow("nothing saved") << QRect() << true;
    QTest::newRow("zero width") << QRect(40, 50, 0, 300) << true;
    QTest::newRow("negative height") << QRect(QPoint(40, 50), QPoint(700, 20)) << true;
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

void tst_MainWindow::exitStopsWorkersInBudget_data()
{
    QTest::addColumn<int>("slowWriteMsecs"); // of the fan-mode mask written by the initial load
    QTest::addColumn<bool>("waitForLoad");
    QTest::addColumn<bool>("withinBudget");

    QTest::newRow("workers running") << 0 << true << true;
    QTest::newRow("initial load still running") << 1500 << false << true;
    QTest::newRow("initial load stuck past the budget") << 9000 << false << false;
}

void tst_MainWindow::exitStopsWorkersInBudget()
{
    QFETCH(int, slowWriteMsecs);
    QFETCH(bool, waitForLoad);
    QFETCH(bool, withinBudget);

    // A stored constant mode makes the initial load write the fan-mode mask.
    m_pPrefs->setString("Fan_0", "1,2000");
    m_pSim = nullptr;
    QSimSmc* pSim = new QSimSmc;
    pSim->setKeys(machineKeys({"CPU"}));
    if (slowWriteMsecs > 0)
        pSim->setSlowWrite("FS! ", slowWriteMsecs);
    m_pSim = pSim;
    m_pSmc = new QReadRecordingSmc(new QSmcTransportInProcess(m_pSim));
    m_pSmc->Open();
    m_pSmc->useDirectWrites();
    QSmcControl::setInstance(m_pSmc);
    m_pWindow.reset(new QTestMainWindow);
    QTestMainWindow* pWindow = m_pWindow.get();
    if (waitForLoad)
        this->waitForLoad(pWindow);
    else
        QVERIFY(pWindow->isInitialLoadRunning());

    QsLogging::Logger::instance().waitForWrites();
    const int nLinesBefore = m_pLog->lines().size();
    QElapsedTimer timer;
    timer.start();
    pWindow->slotExit();
    const qint64 nElapsed = timer.elapsed();
    QsLogging::Logger::instance().waitForWrites();
    const QStringList lines = m_pLog->lines().mid(nLinesBefore);
    const bool bQuitOk = std::any_of(lines.begin(), lines.end(), [](const QString& line) {
        return line.contains("waitForThreadsFinished: Quit OK");
    });

    QVERIFY(pWindow->isStopping());
    QVERIFY(pWindow->isHidden());
    if (withinBudget) {
        QVERIFY2(nElapsed < 8000, qPrintable(QString::number(nElapsed)));
        QVERIFY(bQuitOk);
        QVERIFY(pWindow->m_ExitErrors.isEmpty());
        QVERIFY(!pWindow->isInitialLoadRunning());
        QVERIFY(!pWindow->isUpdateWorkerRunning());
        QVERIFY(!pWindow->isControlWorkerRunning());
    } else {
        QVERIFY(nElapsed >= 8000);
        QVERIFY(!bQuitOk);
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QString& line) {
            return line.contains("waitForThreadsFinished ERROR: m_ThreadUpdate = 0, "
                                 "m_ThreadInit = 1, m_ThreadControl = 0");
        }));
        QCOMPARE(pWindow->m_ExitErrors,
                 QStringList{"Thermora 1.1.8|Unable to terminate the app in the right way, \n"
                             "please contact support for assistance and resolving the problem."});
    }
    if (!waitForLoad) {
        // The late init_finished starts nothing.
        QCoreApplication::sendPostedEvents();
        QTRY_VERIFY(!pWindow->isInitialLoadRunning());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(pWindow->trayMenu(), nullptr);
        QCOMPARE(pWindow->fansTable()->rowCount(), 0);
        QVERIFY(!pWindow->isUpdateWorkerRunning());
        QVERIFY(!pWindow->isControlWorkerRunning());
    }
    // A second exit request (the application's aboutToQuit) changes nothing.
    pWindow->slotExit();
    QCOMPARE(pWindow->m_ExitErrors.size(), withinBudget ? 0 : 1);
}

void tst_MainWindow::readsPerUpdatePass_data()
{
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("traySensor");
    QTest::addColumn<QString>("fan1Mode");
    QTest::addColumn<QStringList>("reads"); // one steady-state pass, sorted

    const QStringList fans{"F0Ac", "F1Ac"};
    QTest::newRow("hidden, nothing in the menu bar") << false << ""
                                                     << "0" << fans;
    QTest::newRow("hidden, menu-bar sensor") << false << "TA0P"
                                             << "0" << fans + QStringList{"TA0P"};
    QTest::newRow("hidden, sensor-based fan") << false << ""
                                              << "2,TC0P,40,60" << fans + QStringList{"TC0P"};
    QTest::newRow("hidden, both") << false << "TG0D"
                                  << "2,TC0P,40,60" << fans + QStringList{"TC0P", "TG0D"};
    QTest::newRow("shown: every sensor") << true << ""
                                         << "0" << fans + QStringList{"TA0P", "TC0P", "TG0D"};
}

void tst_MainWindow::readsPerUpdatePass()
{
    QFETCH(bool, visible);
    QFETCH(QString, traySensor);
    QFETCH(QString, fan1Mode);
    QFETCH(QStringList, reads);

    // Read-only: no control worker, so every read is the update worker's.
    QCoreServices::setReadOnly(true, "msdos");
    m_pPrefs->setString("traySensor", traySensor);
    m_pPrefs->setString("Fan_1", fan1Mode);
    QTestMainWindow* pWindow = createWindow({"Left", "Right"});
    pWindow->setWorkerPeriods(30, 30);

    // Cut the reads at every pass's first fan: the stretch between two cuts is one pass.
    QMutex mutex;
    QVector<QStringList> passes;
    QVector<quint64> simReads;
    // The workers call into the lambda below until the window is gone: it goes before the
    // lambda's captures do, also when a check fails half-way.
    const auto stopWindow = qScopeGuard([this] { m_pWindow.reset(); });
    connect(
        pWindow, &QFanControlMainWindow::fan_update, this,
        [&](int nFan) {
            if (nFan != 0)
                return;
            QMutexLocker lock(&mutex);
            passes << m_pSmc->takeReads();
            simReads << m_pSim->readCount();
        },
        Qt::DirectConnection);
    if (visible)
        pWindow->show();
    waitForLoad(pWindow);
    QVERIFY(!pWindow->isControlWorkerRunning());
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QMutexLocker lock(&mutex);
            return passes.size() >= 4;
        }(),
        10000);

    QMutexLocker lock(&mutex);
    // passes[0] holds the initial load; passes[1] the first pass, with minimum and maximum.
    QVERIFY(passes.at(1).contains("F1Mn"));
    for (int n = 2; n < 4; ++n) {
        QStringList pass = passes.at(n);
        pass.sort();
        QCOMPARE(pass, reads);
        QCOMPARE(simReads.at(n) - simReads.at(n - 1), quint64(reads.size()));
    }
}

void tst_MainWindow::readOnlyStartsNoControlWorker()
{
    QCoreServices::setReadOnly(true, "msdos");
    QTestMainWindow* pWindow = createWindow({"CPU"});
    waitForLoad(pWindow);
    QVERIFY(pWindow->isUpdateWorkerRunning());
    QVERIFY(!pWindow->isControlWorkerRunning());
    QVERIFY(pWindow->statusLabel());
    QVERIFY(pWindow->statusLabel()->text().contains(
        "Read-only mode: non-Apple file system detected (msdos)."));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
