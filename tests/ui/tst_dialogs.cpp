#include "QsLog/QsLog.h"
#include "app/XdgAutoStart.h"
#include "app/app.h"
#include "core/FanInfo.h"
#include "core/TemperatureScaleHelpers.h"
#include "helpers/QCoreServices.h"
#include "localization/QLanguageLoader.h"
#include "settings/QPreferences.h"
#include "support/QMessageBoxCloser.h"
#include "support/QSimMachine.h"
#include "support/TestSupport.h"
#include "ui/InfoDialog.h"
#include "ui/MainWindow.h"
#include "ui/PreferencesDialog.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QPushButton>
#include <QtTest>

namespace {
using namespace SimMachineUtils;

// Fans CPU and GPU (or none), sensors TA0P, TC0P and TZ9Z (unknown), fan 0 at 3000 RPM.
struct QMachine : QSimMachine
{
    explicit QMachine(bool bNoFans = false)
        : QSimMachine(QVector<QSimKey>{numberKey("FNum", "ui8 ", bNoFans ? 0 : 2, 1),
                                       numberKey("FS! ", "ui16", 0, 2),
                                       numberKey("TA0P", "sp78", 45.25, 2),
                                       numberKey("TC0P", "sp78", 100 + 31 / 256.0, 2),
                                       numberKey("TZ9Z", "sp78", 61.5, 2)} +
                      fanKeys(0, "CPU", 2000, 1000, 6000) + fanKeys(1, "GPU", 1500, 1200, 5000))
    {
        QCoreServices::setPreferences(&prefs);
        start();
        if (!bNoFans)
            pController->GetFan(0)->SetControlMode(FanControlMode::constant(3000));
    }
    ~QMachine() { QCoreServices::setPreferences(nullptr); }
    QTemporaryDir dir;
    QPreferences prefs{dir.filePath("thermora.ini")};
};

struct QUrlRecorder : QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl& url) { urls << url.toString(); }

public:
    QStringList urls;
};
} // namespace

class tst_Dialogs : public QObject
{
    Q_OBJECT
    QLanguageLoader m_Language{QLatin1String(kThermoraDefaultLanguage)};
    QMySysInfo m_SysInfo{[] { return QStringLiteral("MacBookPro8,1"); }};

private slots:
    void initTestCase()
    {
        QCoreServices::setSysInfo(&m_SysInfo);
        m_Language.setLanguagesFolder(TestSupport::sourceDir() + "/src/resources/languages");
        m_Language.load(QStringLiteral("English.xml"));
    }

    void copiesTheWholeReport_data()
    {
        QTest::addColumn<QString>("fans");
        QTest::newRow("two fans") << "CPU-min{1000}curr{2000}max{6000}mode{1,3000}\n"
                                     "GPU-min{1200}curr{1500}max{5000}mode{0}\n";
        QTest::newRow("no fans") << "";
    }
    void copiesTheWholeReport()
    {
        QFETCH(QString, fans);
        QMachine machine(fans.isEmpty());
        QInfoDialog dialog(nullptr, machine.pController.data());
        dialog.show();
        QMessageBoxCloser closer;
        const QString whole = "Thermora 1.1.8, MacBookPro8,1, " +
                              m_SysInfo.OS_GetOSVersionString() + "\n\nFans:\n" + fans +
                              "\n\nTempSensors:\nTA0P (Ambient) - 45.25\n"
                              "TC0P (CPU Proximity) - 100.121\nTZ9Z () - 61.5\n";
        QTest::mouseClick(dialog.copyButton(), Qt::LeftButton);
        QCOMPARE(QApplication::clipboard()->text(), whole);
        QCOMPARE(closer.texts, QStringList("Technical information is copied to the clipboard"));
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
    }

    // The three menu-bar combos: shown from the settings, stored, never all None. A row:
    // stored sensor,fan,icon | combo indexes as opened | combo,index picked | stored then.
    void menuBarChoices_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("sensor to None, rest None") << "TC0P,-1,0|2,0,0|comboSensor,0|,-1,1";
        QTest::newRow("fan to None, rest None") << ",0,0|0,1,0|comboFan,0|,-1,1";
        QTest::newRow("icon None refused") << ",-1,1|0,0,1|comboIcon,0|,-1,1";
        QTest::newRow("icon None beside a fan") << ",1,2|0,2,2|comboIcon,0|,1,0";
        QTest::newRow("gone sensor shows None, kept") << "TX9X,-1,1|0,0,1|comboFan,2|TX9X,1,1";
        QTest::newRow("pick a sensor") << ",-1,-1|0,0,-1|comboSensor,1|TA0P,-1,-1";
    }
    void menuBarChoices()
    {
        QFETCH(QString, row);
        QMachine machine;
        const QStringList stored = row.section('|', 0, 0).split(',');
        machine.prefs.setString("traySensor", stored.at(0));
        machine.prefs.setInt("trayFan", stored.at(1).toInt());
        machine.prefs.setInt("menubarIcon", stored.at(2).toInt());
        QPreferencesDialog dialog(nullptr, machine.pController.data());
        const Ui_PreferencesDialog& ui = dialog.form();
        auto trio = [](auto a, auto b, auto c) {
            return QStringLiteral("%1,%2,%3").arg(a).arg(b).arg(c);
        };
        QCOMPARE(trio(ui.comboSensor->currentIndex(), ui.comboFan->currentIndex(),
                      ui.comboIcon->currentIndex()),
                 row.section('|', 1, 1));
        const QString pick = row.section('|', 2, 2);
        dialog.findChild<QComboBox*>(pick.section(',', 0, 0))
            ->setCurrentIndex(pick.section(',', 1).toInt());
        QCOMPARE(trio(machine.prefs.getString("traySensor"), machine.prefs.getInt("trayFan", -1),
                      machine.prefs.getInt("menubarIcon", -1)),
                 row.section('|', 3));
    }

    // A row: check box, settings key, stored value, stored after one click.
    void checkBoxes_data()
    {
        QTest::addColumn<QString>("row");
        for (const char* row :
             {"checkFahrenheit,Fahrenheit,0,1", "checkFahrenheit,Fahrenheit,2,0",
              "checkPrecise,PreciseTemperature,0,1", "checkPrecise,PreciseTemperature,1,0",
              "checkGiveBack,GiveBackFans,-1,1", "checkGiveBack,GiveBackFans,1,0",
              "checkLog,EnableLog,1,0"})
            QTest::newRow(row) << row;
    }
    void checkBoxes()
    {
        QFETCH(QString, row);
        const QStringList cells = row.split(',');
        QMachine machine;
        machine.prefs.setInt(cells.at(1), cells.at(2).toInt());
        QPreferencesDialog dialog(nullptr, machine.pController.data());
        QCheckBox* pBox = dialog.findChild<QCheckBox*>(cells.at(0));
        QCOMPARE(pBox->isChecked(), cells.at(3) == "0");
        pBox->click();
        QCOMPARE(machine.prefs.getInt(cells.at(1), -1), cells.at(3).toInt());
        QCOMPARE(QsLogging::Logger::instance().loggingLevel() == QsLogging::OffLevel,
                 cells.at(1) == "EnableLog");
        // The alarm thresholds are shown in the scale now chosen and stored in Celsius.
        QSpinBox* pAlarms[] = {dialog.findChild<QSpinBox*>("spinAlarmCpuGpu"),
                               dialog.findChild<QSpinBox*>("spinAlarmOther")};
        QCOMPARE(pAlarms[0]->value(), isFehrenheit() ? 203 : 95);
        pAlarms[1]->setValue(getTemperatureValueForCurrentScale(60));
        QCOMPARE(machine.prefs.getInt("OverheatAlarmOther", -1), 60);
    }

    void hiddenLogAutostartLinksLanguage()
    {
        QMachine machine;
        machine.prefs.setInt("EnableLog", 0);
        QFanControlMainWindow window;
        QPreferencesDialog dialog(&window, machine.pController.data());
        dialog.show();
        const Ui_PreferencesDialog& ui = dialog.form();
        QVERIFY(!ui.checkLog->isVisible() && !ui.labelBrowseLog->isVisible());
        QTest::keyClick(ui.comboLanguage, Qt::Key_L);
        QVERIFY(ui.checkLog->isChecked() && ui.labelBrowseLog->isVisible());
        QCOMPARE(machine.prefs.getInt("EnableLog", -1), 1);

        for (bool bOn : {true, false}) {
            ui.checkAutostart->click();
            QVERIFY(QFile::exists(XdgAutoStartUtils::entryPath()) == bOn &&
                    ui.checkAutostart->isChecked() == bOn);
        }

        QUrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        emit ui.labelBrowseLog->linkActivated("browse");
        QDesktopServices::unsetUrlHandler("file");
        const QString logFolder = QFileInfo(QsLogging::defaultLogPath()).path();
        QCOMPARE(recorder.urls, QStringList(QUrl::fromLocalFile(logFolder).toString()));

        // The dialog and the window behind it change language at once.
        for (QString language : {"German|Deutsch|\u00dcbersetzen",
                                 "Russian|\u0420\u0443\u0441\u0441\u043a\u0438\u0439|"
                                 "\u041f\u0435\u0440\u0435\u0432\u0435\u0441\u0442\u0438",
                                 "English|English|Translate"}) {
            ui.comboLanguage->setCurrentIndex(
                ui.comboLanguage->findData(language.section('|', 0, 0)));
            QCOMPARE(ui.comboLanguage->currentText(), language.section('|', 1, 1)); // its own name
            QVERIFY(ui.labelTranslate->text().contains(language.section('|', 2)));
            language = language.section('|', 0, 0);
            QCOMPARE(machine.prefs.getString("InterfaceLanguage"), language + ".xml");
            QLabel* pHeader = window.findChild<QLabel*>("labelFansHeader");
            QCOMPARE(dialog.windowTitle() + '|' + ui.checkGiveBack->text() + '|' + pHeader->text(),
                     m_Language.GetString("PreferencesWindow/title") + '|' +
                         m_Language.GetString("PreferencesWindow/checkGiveBack") + '|' +
                         m_Language.GetString("MainWindow/staticFanListHeader"));
        }
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Preferences"));
    }
};

QTEST_MAIN(tst_Dialogs)
#include "tst_dialogs.moc"
