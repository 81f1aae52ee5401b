#include "ClosedLoopRun.h"

#include "sim/QSimDrives.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {
int usage(const QString& message)
{
    fprintf(stderr, "thermora-closedloop: %s\n", qPrintable(message));
    fprintf(stderr, "usage: thermora-closedloop (--profile NAME|FILE | --dump FILE --model ID)\n"
                    "         --mode auto|constant:RPM|sensor:KEY,START,MAX [--fan N]\n"
                    "         [--minutes M] [--csv FILE] [--profile-schedule]\n"
                    "         [--drive IDENTIFY_FILE,SMART_FILE]...\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"profile", "Machine profile name or file.", "profile"});
    parser.addOption({"dump", "Bare key dump.", "file"});
    parser.addOption({"model", "Model identifier of a bare dump.", "identifier"});
    parser.addOption({"mode", "auto, constant:RPM or sensor:KEY,START,MAX.", "mode"});
    parser.addOption({"fan", "Only this fan gets the mode.", "index"});
    parser.addOption({"minutes", "Simulated minutes (default 30).", "minutes"});
    parser.addOption({"csv", "Write one row per simulated second.", "file"});
    parser.addOption({"profile-schedule", "Keep the profile's own load schedule."});
    parser.addOption(
        {"drive", "One more drive replaying its raw blocks (repeatable).", "identify,smart"});
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));

    ClosedLoopOptions options;
    options.profile = parser.value("profile");
    options.dumpPath = parser.value("dump");
    options.model = parser.value("model");
    options.modeText = parser.value("mode");
    options.csvPath = parser.value("csv");
    options.bProfileSchedule = parser.isSet("profile-schedule");
    if (options.profile.isEmpty() == options.dumpPath.isEmpty())
        return usage(QStringLiteral("give either --profile or --dump"));
    if (!options.dumpPath.isEmpty() && options.model.isEmpty())
        return usage(QStringLiteral("--dump needs --model"));
    if (options.modeText.isEmpty())
        return usage(QStringLiteral("--mode is required"));
    for (const QString& drive : parser.values("drive")) {
        QString identify, smart;
        if (!QSimDrives::splitDriveArgument(drive, identify, smart))
            return usage(
                QStringLiteral("--drive needs IDENTIFY_FILE,SMART_FILE, got %1").arg(drive));
        options.drives << QStringList{identify, smart};
    }
    bool bOk = true;
    if (parser.isSet("fan") &&
        ((options.nFan = parser.value("fan").toInt(&bOk)), !bOk || options.nFan < 0))
        return usage(QStringLiteral("bad fan index %1").arg(parser.value("fan")));
    if (parser.isSet("minutes") && ((options.dMinutes = parser.value("minutes").toDouble(&bOk)),
                                    !bOk || options.dMinutes <= 0))
        return usage(QStringLiteral("bad number of minutes %1").arg(parser.value("minutes")));

    ClosedLoopSummary summary;
    QString error;
    if (!runClosedLoop(options, summary, &error)) {
        fprintf(stderr, "thermora-closedloop: %s\n", qPrintable(error));
        return 1;
    }
    fputs(qPrintable(formatSummary(options, summary)), stdout);
    return 0;
}
