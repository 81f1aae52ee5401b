// Grabs the fan control dialog in each mode and warning state into PNG files.
#include "FanDialogMachine.h"

#include "ui/FanControlDialog.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTextStream>
#include <QtTest>

namespace {
bool shoot(const QString& folder, const QString& name, int nFan, const QString& mode,
           QRadioButton* Ui_FanControlDialog::*pRadio, int nFahrenheit, const QString& readOnlyFs)
{
    QFanDialogMachine machine(true, nFahrenheit);
    machine.setMode(nFan, mode);
    QCoreServices::setReadOnly(!readOnlyFs.isEmpty(), readOnlyFs);
    QFanControlDialog dialog(nullptr, machine.fan(nFan), machine.controller());
    dialog.show();
    if (!QTest::qWaitForWindowExposed(&dialog)) {
        return false;
    }
    if (pRadio) {
        QTest::mouseClick(dialog.form().*pRadio, Qt::LeftButton);
    }
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    QTextStream(stdout) << path << " " << dialog.width() << "x" << dialog.height() << "\n";
    return dialog.grab().save(path);
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(folder);
    bool bOk = true;
    bOk &= shoot(folder, QStringLiteral("1_automatic"), 0, QStringLiteral("0"), nullptr, 0, {});
    bOk &= shoot(folder, QStringLiteral("2_constant"), 0, QStringLiteral("1,3000"), nullptr, 0, {});
    bOk &= shoot(folder, QStringLiteral("3_sensor_celsius"), 0, QStringLiteral("2,TC0P,45,80"),
                 nullptr, 0, {});
    bOk &= shoot(folder, QStringLiteral("4_sensor_fahrenheit"), 0, QStringLiteral("2,TC0P,45,80"),
                 nullptr, 1, {});
    bOk &= shoot(folder, QStringLiteral("5_constant_clicked"), 0, QStringLiteral("0"),
                 &Ui_FanControlDialog::radioConstant, 0, {});
    bOk &=
        shoot(folder, QStringLiteral("6_min_equals_max"), 1, QStringLiteral("0"), nullptr, 0, {});
    bOk &= shoot(folder, QStringLiteral("7_read_only"), 0, QStringLiteral("0"),
                 &Ui_FanControlDialog::radioSensor, 0, QStringLiteral("msdos"));
    bOk &= shoot(folder, QStringLiteral("8_undefined"), 0, QString(), nullptr, 0, {});
    return bOk ? 0 : 1;
}
