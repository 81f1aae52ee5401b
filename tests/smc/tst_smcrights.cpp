#include "core/FanInfo.h"
#include "smc/SmcRightsUtils.h"
#include "smc/SmcToolUtils.h"
#include "support/QMessageBoxCloser.h"
#include "support/QSimMachine.h"
#include "ui/FanControlDialog.h"
#include "ui/RightsCheckHook.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {
// Without a language loaded, the warning shows its text's key.
const char kWarning[] = "MainWindow/messageUnableToAccessSMC";

// A tool file with a real owner and mode (the tests run as root), the authorization program
// replaced by a script that counts its runs and then does what the row says.
struct QToolFixture
{
    QToolFixture(int nMode, uint owner, const QString& prompt)
    {
        const QString script = dir.filePath("prompt");
        const QString body = "#!/bin/sh\necho >>" + dir.filePath("runs") + "\n" + prompt;
        QProcess::execute("sh",
                          {"-c",
                           "cd \"$3\" && touch smc && chown $0 smc && chmod $1 smc && "
                           "printf %s \"$2\" >prompt && chmod +x prompt",
                           QString::number(owner), QString::number(nMode, 8), body, dir.path()});
        SmcToolUtils::setToolPathOverride(dir.filePath("smc"));
        SmcRightsUtils::setElevationProgram(prompt.isNull() ? dir.filePath("missing") : script);
        // Writes of the process-wide key layer go through the tool.
        QSmcControl::setInstance(new QSmcControlMac(nullptr));
    }
    ~QToolFixture()
    {
        SmcToolUtils::setToolPathOverride(QString());
        SmcRightsUtils::setElevationProgram(QString());
        QSmcControl::destroyInstance();
    }
    int promptRuns() const { return int(QFileInfo(dir.filePath("runs")).size()); }
    QTemporaryDir dir;
};
} // namespace

class tst_SmcRights : public QObject
{
    Q_OBJECT

private slots:
    // A row: mode, owner, what the authorization program does (absent: none), the check runs
    // on a worker thread, the administrator is asked, the rights are there; else one warning.
    void askAndWarn_data()
    {
        QTest::addColumn<QString>("row");
        for (const char* row :
             {"755 0 cancel - asked -", "4555 1000 cancel - asked -", "4575 0 cancel - asked -",
              "4557 0 cancel - asked -", "2555 0 cancel - asked -", "4555 0 cancel - - granted",
              "4755 0 cancel - - granted", "755 0 grant - asked granted", "755 0 exit0 - asked -",
              "755 0 absent - asked -", "755 0 cancel worker asked -",
              "2755 1000 grant worker asked granted"})
            QTest::newRow(row) << row;
    }
    void askAndWarn()
    {
        QFETCH(QString, row);
        const QStringList cells = row.split(' ');
        const QMap<QString, QString> prompts{
            {"cancel", "exit 126"}, {"grant", "exec \"$@\""}, {"exit0", "exit 0"}};
        const QString prompt = prompts.value(cells.at(2)); // null when absent
        const bool fromWorker = cells.at(3) == "worker", asked = cells.at(4) == "asked",
                   granted = cells.at(5) == "granted";
        QToolFixture fixture(cells.at(0).toInt(nullptr, 8), cells.at(1).toUInt(), prompt);
        QCOMPARE(SmcRightsUtils::checkRights(), !asked);
        QMessageBoxCloser closer;
        bool bAsked = false;
        std::atomic<bool> bDone{false};
        std::thread worker([&] {
            if (fromWorker)
                RightsCheckUtils::checkRightsAndWarnIfNeeded(nullptr, bAsked);
            bDone = true;
        });
        if (!fromWorker)
            RightsCheckUtils::checkRightsAndWarnIfNeeded(nullptr, bAsked);
        QTRY_VERIFY(bDone);
        worker.join();
        QCOMPARE(fixture.promptRuns(), asked && !prompt.isNull() ? 1 : 0);
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
