#include "core/FanInfo.h"
#include "support/QMessageBoxCloser.h"
#include "support/QSimMachine.h"
#include "support/QToolFixture.h"
#include "ui/FanControlDialog.h"
#include "ui/RightsCheckHook.h"

#include <QPushButton>
#include <QtTest>

// Without a language loaded, the warning shows its text's key.
const char kWarning[] = "MainWindow/messageUnableToAccessSMC";

class tst_SmcRights : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QSmcControl::destroyInstance(); }

    // A row: mode|owner|the authorization program's script (empty: no such program)|the
    // administrator is asked|the rights are there after; else one warning.
    void askAndWarn_data()
    {
        QTest::addColumn<QString>("row");
        for (const char* row :
             {"755|0|exit 126|asked|", "4555|1000|exit 126|asked|", "4575|0|exit 126|asked|",
              "4557|0|exit 126|asked|", "2555|0|exit 126|asked|", "4555|0|exit 126||granted",
              "4755|0|exit 126||granted", "755|0|exec \"$@\"|asked|granted", "755|0|exit 0|asked|",
              "755|0||asked|", "2755|1000|exec \"$@\"|asked|granted"})
            QTest::newRow(row) << row;
    }
    void askAndWarn()
    {
        QFETCH(QString, row);
        const QStringList cells = row.split('|');
        const QString prompt = cells.at(2);
        const bool asked = !cells.at(3).isEmpty(), granted = !cells.at(4).isEmpty();
        QToolFixture fixture(cells.at(0).toInt(nullptr, 8), cells.at(1).toUInt(), prompt);
        QSmcControl::setInstance(new QSmcControlMac(nullptr)); // writes go through the tool
        QCOMPARE(SmcRightsUtils::checkRights(), !asked);
        QMessageBoxCloser closer;
        bool bAsked = false;
        RightsCheckUtils::checkRightsAndWarnIfNeeded(nullptr, bAsked);
        QCOMPARE(fixture.promptRuns(), asked && !prompt.isEmpty() ? 1 : 0);
        QCOMPARE(bAsked, asked);
        QCOMPARE(SmcRightsUtils::checkRights(), granted);
        QCOMPARE(closer.texts, granted ? QStringList() : QStringList(kWarning));
    }

    // A refused prompt warns at every apply, before the fan is handed its new mode.
    void applyWarnsBeforeTheModeChanges()
    {
        using namespace SimMachineUtils;
        QSimMachine machine(
            QVector<QSimKey>{numberKey("FNum", "ui8 ", 1, 1), numberKey("FS! ", "ui16", 0, 2)} +
            fanKeys(0, "CPU", 2000, 1000, 6000));
        machine.start();
        QToolFixture fixture(0755, 0, "exit 126");
        QSmcControl::setInstance(new QSmcControlMac(nullptr));
        FanInfo* pFan = machine.pController->GetFan(0);
        QMessageBoxCloser closer;
        QStringList modesWhileWarned;
        closer.onShown = [&] { modesWhileWarned << pFan->GetControlMode().toString(); };
        for (int rpm : {4000, 3000}) {
            QFanControlDialog dialog(nullptr, pFan, machine.pController.data());
            dialog.form().radioConstant->click();
            dialog.form().spinConstant->setValue(rpm);
            dialog.okButton()->click();
        }
        QCOMPARE(modesWhileWarned, QStringList({"0", "1,4000"}));
        QCOMPARE(pFan->GetControlMode().toString(), QString("1,3000"));
        QCOMPARE(fixture.promptRuns(), 2);
    }
};

QTEST_MAIN(tst_SmcRights)
#include "tst_smcrights.moc"
