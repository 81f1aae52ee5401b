#include "app/app.h"
#include "core/FanInfo.h"
#include "localization/QLanguageLoader.h"
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

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
const char kWarning[] = "Unable to acquire exclusive access to SMC service. Most likely it's in "
                        "use by another (fan controlling) application.";

// A tool file with a real owner and mode (the tests run as root), the authorization program
// replaced by a script that counts its runs and then does what the row says.
struct QToolFixture
{
    QToolFixture(int nMode, uid_t owner, const QString& prompt)
    {
        tool = dir.filePath("smc");
        QFile file(tool);
        file.open(QIODevice::WriteOnly);
        file.close();
        QVERIFY(chown(QFile::encodeName(tool), owner, 0) == 0);
        QVERIFY(chmod(QFile::encodeName(tool), mode_t(nMode)) == 0);
        SmcToolUtils::setToolPathOverride(tool);
        const QString script = dir.filePath("prompt");
        QFile body(script);
        body.open(QIODevice::WriteOnly);
        body.write(("#!/bin/sh\necho run >> " + dir.filePath("runs") + "\n" + prompt).toUtf8());
        body.close();
        chmod(QFile::encodeName(script), 0755);
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
    QString tool;
};
} // namespace

class tst_SmcRights : public QObject
{
    Q_OBJECT
    QScopedPointer<QLanguageLoader> m_pLanguage;

private slots:
    void initTestCase()
    {
        m_pLanguage.reset(new QLanguageLoader(QLatin1String(kThermoraDefaultLanguage)));
        m_pLanguage->load(QStringLiteral("English.xml"));
    }

    void checkRights_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("owner");
        QTest::addColumn<bool>("granted");
        QTest::newRow("0755 root") << 0755 << 0 << false;
        QTest::newRow("4555 another user") << 04555 << 1000 << false;
        QTest::newRow("4555 root") << 04555 << 0 << true;
        QTest::newRow("4755 root: owner may write") << 04755 << 0 << true;
        QTest::newRow("4575 root: group may write") << 04575 << 0 << false;
        QTest::newRow("4557 root: others may write") << 04557 << 0 << false;
        QTest::newRow("2555 root: set-group-ID only") << 02555 << 0 << false;
    }
    void checkRights()
    {
        QFETCH(int, mode);
        QFETCH(int, owner);
        QFETCH(bool, granted);
        QToolFixture fixture(mode, uid_t(owner), "exit 126");
        QCOMPARE(SmcRightsUtils::checkRights(), granted);
        QVERIFY(!SmcRightsUtils::checkRights(fixture.dir.path())); // a folder is no tool
        QVERIFY(!SmcRightsUtils::checkRights(fixture.dir.filePath("absent")));
    }

    // What the administrator does decides what the user sees: nothing, or the warning once.
    void askAndWarn_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("prompt"); // null: no authorization program at all
        QTest::addColumn<bool>("fromWorker");
        QTest::addColumn<int>("runs");
        QTest::addColumn<bool>("granted");
        QTest::addColumn<int>("warnings");
        QTest::newRow("rights already there") << 04555 << "exit 1" << false << 0 << true << 0;
        QTest::newRow("administrator grants") << 0755 << "exec \"$@\"" << false << 1 << true << 0;
        QTest::newRow("prompt cancelled") << 0755 << "exit 126" << false << 1 << false << 1;
        QTest::newRow("succeeds without rights") << 0755 << "exit 0" << false << 1 << false << 1;
        QTest::newRow("no pkexec") << 0755 << QString() << false << 0 << false << 1;
        QTest::newRow("worker, cancelled") << 0755 << "exit 126" << true << 1 << false << 1;
        QTest::newRow("worker, granted") << 0755 << "exec \"$@\"" << true << 1 << true << 0;
    }
    void askAndWarn()
    {
        QFETCH(int, mode);
        QFETCH(QString, prompt);
        QFETCH(bool, fromWorker);
        QFETCH(int, runs);
        QToolFixture fixture(mode, 0, prompt);
        QMessageBoxCloser closer;
        bool bAsked = false;
        if (fromWorker) {
            std::atomic<bool> bDone{false};
            std::thread worker([&] {
                RightsCheckUtils::checkRightsAndWarnIfNeeded(nullptr, bAsked);
                bDone = true;
            });
            QTRY_VERIFY(bDone);
            worker.join();
        } else {
            RightsCheckUtils::checkRightsAndWarnIfNeeded(nullptr, bAsked);
        }
        QCOMPARE(fixture.promptRuns(), runs);
        QCOMPARE(bAsked, mode != 04555);
        QTEST(SmcRightsUtils::checkRights(), "granted");
        QTEST(int(closer.texts.size()), "warnings");
        QVERIFY(closer.texts.isEmpty() || closer.texts.first() == kWarning);
        QVERIFY(closer.bAllOnGuiThread);
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
