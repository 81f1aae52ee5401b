// Shows the update dialog and the progress dialog in their states and saves a screenshot of
// each from the screen, for looking at them by eye (update_screenshots.sh runs it under Xvfb).
//   thermora_update_showcase <output folder>
#include "helpers/ImageResourceUtils.h"
#include "update/QUpdateChecker.h"
#include "update/ui/QUpdateProgressDialog.h"
#include "update/ui/QUpdatesDialog.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

namespace {
void shoot(QWidget* pWidget, const QString& file)
{
    pWidget->show();
    pWidget->raise();
    QTest::qWait(700);
    const QRect frame = pWidget->frameGeometry();
    QApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(file);
    printf("%s\n", qPrintable(file));
}

QUpdateFeed sampleFeed()
{
    QUpdateFeed feed;
    QUpdateRelease newest{QStringLiteral("1.2"), QDate(2026, 11, 30), {}};
    newest.addItem("new", "Fans can follow the hottest of several sensors");
    newest.addItem("improved", "Sensor-based control reacts <b>faster</b> to load changes");
    newest.addItem("fixed", "The menu-bar item kept an old reading after sleep");
    QUpdateRelease older{QStringLiteral("1.1.9"), QDate(2026, 9, 2), {}};
    older.addItem("fixed", "Drive temperatures of some SSDs were read as 0 °C");
    feed.releases << newest << older;
    return feed;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    ImageResourceUtils::registerImages();
    QUpdateChecker checker(QString(), QStringLiteral("Thermora"), QStringLiteral("1.1.8"), nullptr,
                           nullptr);
    checker.setAppIcon(QIcon(QStringLiteral(":/Resources/icon_128.png")));
    checker.setFeed(sampleFeed());
    checker.setAutomatic(true);

    QUpdatesDialog updates(&checker);
    shoot(&updates, out + QStringLiteral("/update-dialog.png"));
    updates.hide();

    // No archive address: the worker gives up at once; the states are then set by hand.
    QUpdateProgressDialog progress(&checker, nullptr, QStringLiteral("/nonexistent/bin/thermora"));
    progress.waitForWorker();
    QTest::qWait(100);
    progress.headingLabel()->setText(
        QStringLiteral("<b>%1</b>").arg(checker.texts().get(QUpdateTexts::Downloading)));
    progress.slotDownloadProgress(3650000, 9437184);
    shoot(&progress, out + QStringLiteral("/progress-downloading.png"));
    progress.slotStatusReady();
    shoot(&progress, out + QStringLiteral("/progress-ready.png"));
    progress.slotStatusFailed(QStringLiteral("The package could not be installed automatically. "
                                             "To install it, run:\nsudo apt-get install "
                                             "/tmp/thermora_1.2_amd64.deb"));
    shoot(&progress, out + QStringLiteral("/progress-command.png"));
    return 0;
}
