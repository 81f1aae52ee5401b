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
    QToolFixture(int nMode, uid_t owner, const QString& prompt)
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
    int promptRuns() const
    {
        QFile runs(dir.filePath("runs"));
        return runs.open(QIODevice::ReadOnly) ? runs.readAll().count('\n') : 0;
    }
    QTemporaryDir dir;
};
} // namespace

class tst_SmcRights : public QObject
{
    Q_OBJECT

private slots:
    // What the file is and what the administrator does decide what the user sees: nothing,
    // or the warning once.
    void askAndWarn_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("owner");
        QTest::addColumn<QString>("prompt"); // null: no authorization program at all
        QTest::addColumn<bool>("fromWorker");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("granted");
        const QString cancel = "exit 126", grant = "exec \"$@\"";
        QTest::newRow("0755 root") << 0755 << 0 << cancel << false << true << false;
        QTest::newRow("4555 other user") << 04555 << 1000 << cancel << false << true << false;
        QTest::newRow("4575 group may write") << 04575 << 0 << cancel << false << true << false;
        QTest::newRow("4557 others may write") << 04557 << 0 << cancel << false << true << false;
        QTest::newRow("2555 set-group-ID only") << 02555 << 0 << cancel << false << true << false;
        QTest::newRow("4555 root") << 04555 << 0 << cancel << false << false << true;
        QTest::newRow("4755 root") << 04755 << 0 << cancel << false << false << true;
        QTest::newRow("administrator grants") << 0755 << 0 << grant << false << true << true;
        QTest::newRow("succeeds, no rights") << 0755 << 0 << "exit 0" << false << true << false;
        QTest::newRow("no pkexec") << 0755 << 0 << QString() << false << true << false;
        QTest::newRow("worker, cancelled") << 0755 << 0 << cancel << true << true << false;
        QTest::newRow("worker, granted") << 02755 << 1000 << grant << true << true << true;
    }
    void askAndWarn()
    {
        QFETCH(int, mode);
        QFETCH(int, owner);
        QFETCH(QString, prompt);
        QFETCH(bool, fromWorker);
        QFETCH(bool, asked);
        QFETCH(bool, granted);
        QToolFixture fixture(mode, uid_t(owner), prompt);
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
        QVERIFY(closer.bAllOnGuiThread);
        QVERIFY(!SmcRightsUtils::checkRights(fixture.dir.path())); // a folder is no tool
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
