// thermora-closedloop: runs the real fan controller against a simulated machine on simulated
// time and reports how well each control mode holds the temperature and what it costs.
#include "ClosedLoopRun.h"

#include "sim/QSimDrives.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

int usage(const QString& message)
{
    fprintf(stderr, "thermora-closedloop: %s (see --help)\n", qPrintable(message));
    return 2;
}

void addOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        "Runs the fan controller against a simulated machine and prints one table: a row per "
        "mode, a column group per load phase (idle, sustained load, bursts).");
    parser.addHelpOption();
    parser.addOption({"profile", "Machine profile name or file.", "name"});
    parser.addOption({"dump", "Bare key dump instead of a profile.", "file"});
    parser.addOption({"model", "Model identifier of a bare dump.", "id"});
    parser.addOption({"dynamics", "Thermal dynamics from this profile-format file.", "file"});
    parser.addOption({"mode", "auto, constant:RPM, sensor:KEY,START,MAX or curve:...", "mode"});
    parser.addOption({"compare", "Run every MODE given as argument and print one table."});
    parser.addOption({"watch", "Sensor to report (default: the mode's, else first CPU).", "key"});
    parser.addOption({"max", "MAX in C for the table (default: the first mode's).", "celsius"});
    parser.addOption({"fan", "Only this fan gets the mode.", "index"});
    parser.addOption({"minutes", "Simulated minutes (default 30).", "minutes"});
    parser.addOption({"csv", "Write one row per simulated second (per mode: FILE-N).", "file"});
    parser.addOption({"fault", "read:KEY@T, hot:KEY@T or zero:KEY@T from second T.", "fault"});
    parser.addOption({"profile-schedule", "Keep the profile's own load schedule."});
    parser.addOption(
        {"drive", "One more drive replaying its raw blocks (repeatable).", "identify,smart"});
}

// The CSV file of the nth of several modes: "run.csv" gives "run-1.csv", "run-2.csv"...
QString csvPathFor(const QString& path, int nRun, int nRuns)
{
    if (path.isEmpty() || nRuns == 1)
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    return info.path() + "/" + info.completeBaseName() + "-" + QString::number(nRun + 1) + suffix;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet("help")) {
        fputs(qPrintable(parser.helpText()), stdout);
        fputs("\ncurve:KEY,T1:R1,T2:R2[,T3:R3...][,hyst=H]: speed R at temperature T, linear in "
              "between, H degrees of hysteresis on the way down.\n",
              stdout);
        return 0;
    }

    ClosedLoopOptions options;
    options.profile = parser.value("profile");
    options.dumpPath = parser.value("dump");
    options.model = parser.value("model");
    options.dynamicsPath = parser.value("dynamics");
    options.watchKey = parser.value("watch");
    options.csvPath = parser.value("csv");
    options.bProfileSchedule = parser.isSet("profile-schedule");
    if (options.profile.isEmpty() == options.dumpPath.isEmpty())
        return usage(QStringLiteral("give either --profile or --dump"));
    if (!options.dumpPath.isEmpty() && options.model.isEmpty())
        return usage(QStringLiteral("--dump needs --model"));
    const QStringList modes =
        parser.isSet("compare") ? parser.positionalArguments() : QStringList(parser.value("mode"));
    if (modes.isEmpty() || modes.first().isEmpty() ||
        parser.isSet("compare") == parser.isSet("mode"))
        return usage(QStringLiteral("give --mode MODE, or --compare MODE MODE..."));
    if (!parser.isSet("compare") && !parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments()[0]));
    bool bOk = true;
    if (parser.isSet("fan") &&
        ((options.nFan = parser.value("fan").toInt(&bOk)), !bOk || options.nFan < 0))
        return usage(QStringLiteral("bad fan index %1").arg(parser.value("fan")));
    if (parser.isSet("minutes") && ((options.dMinutes = parser.value("minutes").toDouble(&bOk)),
                                    !bOk || !(options.dMinutes > 0) || options.dMinutes > 1e5))
        return usage(QStringLiteral("bad number of minutes %1").arg(parser.value("minutes")));
    if (parser.isSet("max") && ((options.nMaxTemperature = parser.value("max").toInt(&bOk)),
                                !bOk || options.nMaxTemperature < 0))
        return usage(QStringLiteral("bad maximum %1").arg(parser.value("max")));
    for (const QString& drive : parser.values("drive")) {
        QString identify, smart;
        if (!QSimDrives::splitDriveArgument(drive, identify, smart))
            return usage(
                QStringLiteral("--drive needs IDENTIFY_FILE,SMART_FILE, got %1").arg(drive));
        options.drives << QStringList{identify, smart};
    }
    for (const QString& text : parser.values("fault")) {
        ClosedLoopFault fault;
        if (!ClosedLoopFault::parse(text, fault))
            return usage(QStringLiteral("bad fault \"%1\": use read:KEY@T, hot:KEY@T or zero:KEY@T")
                             .arg(text));
        options.faults << fault;
    }
    // Every mode is measured against the same MAX and watches the same sensor: the ones given,
    // else those of the first mode that has them.
    for (int i = 0; i < modes.size() && options.nMaxTemperature < 0; ++i)
        options.nMaxTemperature = modeMaxTemperature(modes.at(i));
    for (int i = 0; i < modes.size() && options.watchKey.isEmpty(); ++i)
        options.watchKey = modeSensorKey(modes.at(i));

    QVector<ClosedLoopSummary> runs;
    for (int i = 0; i < modes.size(); ++i) {
        ClosedLoopOptions run = options;
        run.modeText = modes.at(i);
        run.csvPath = csvPathFor(options.csvPath, i, modes.size());
        if (!runs.isEmpty()) // modes without a sensor all pick the same one
            run.watchKey = runs.first().watchedKey;
        ClosedLoopSummary summary;
        QString error;
        if (!runClosedLoop(run, summary, &error)) {
            fprintf(stderr, "thermora-closedloop: %s\n", qPrintable(error));
            return 1;
        }
        runs << summary;
    }
    fputs(qPrintable(formatReport(runs)), stdout);
    return 0;
}
