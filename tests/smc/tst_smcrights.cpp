#include "smc/QSmcControlMac.h"
#include "support/QMessageBoxCloser.h"
#include "support/QToolFixture.h"
#include "ui/RightsCheckHook.h"

#include <QtTest>

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
              "755|0||asked|", "2755|1000|exec \"$@\"|asked|granted",
              "44555|0||asked|"}) // a folder in the tool's place
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
};

QTEST_MAIN(tst_SmcRights)
#include "tst_smcrights.moc"
