// The closed-loop tool as a user runs it: its options, and a 30-minute comparison whose table
// must hold whatever the figures are.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace {

int runTool(const QStringList& args, QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(qEnvironmentVariable("THERMORA_BIN_DIR") + "/thermora-closedloop", args);
    const bool bDone = process.waitForFinished(60000);
    output = QString::fromUtf8(process.readAll());
    return bDone && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

TEST(ClosedLoop, OptionsAndWhatTheRunReports)
{
    const char* const kDump = "--dump ~/Macmini5,1.dump --model Macmini5,1 --mode auto";
    // The profiles' folder stands for ~; arguments, exit code, a text the output must hold.
    const std::tuple<QString, int, const char*> rows[] = {
        {"--help", 0, "--fault <fault>"},
        {"--mode auto", 0, "auto: watched TC0C"},
        {"--mode sensor:TC0P,50,70 --watch TC0D", 0, "watched TC0D"},
        {"--mode curve:TC0P,40:1800,60:5500 --watch TC0D", 0, "3.0/3 "}, // fan, 2 sensors
        {"--mode sensor:TC0P,50,70 --fault zero:TC0P@0", 0, "targets none"},
        {"--mode curve:TC0P,50:1000", 1, "at least two points"},
        {"--mode auto --fault melt:TC0P@5", 2, "bad fault"},
        {"--mode auto --drive ~/drives/sim-hdd.identify,~/drives/sim-ssd.smart", 0,
         "\n    SIMDRIVE HD-500G 7200  HDD  31 C  proposed 42-52 C\n"}, // after the profile's
        {"--mode auto --drive ~/drives/sim-hdd.identify", 2, "needs IDENTIFY_FILE,SMART_FILE"},
        {kDump, 0, "dynamics   default"},
        {kDump + QString(" --dynamics ~/MacPro4,1.profile"), 0, "dynamics   from"}};
    for (const auto& [text, nExit, expected] : rows) {
        QString args = text;
        args.replace('~', qEnvironmentVariable("THERMORA_PROFILES_DIR"));
        if (!args.startsWith("--d") && args != "--help")
            args += " --profile Macmini5,1 --minutes 1";
        QString output;
        EXPECT_EQ(runTool(args.split(' '), output), nExit) << qPrintable(args);
        EXPECT_TRUE(output.contains(QLatin1String(expected))) << qPrintable(output);
    }
}

TEST(ClosedLoop, ComparisonTableHoldsItsInvariants)
{
    QTemporaryDir dir;
    const QStringList modes = {"sensor:TC0P,50,60", "curve:TC0P,45:2000,60:6200,hyst=2"};
    const QStringList args = {"--profile", "MacBookPro8,2", "--csv", dir.filePath("run.csv")};
    QString out;
    ASSERT_EQ(runTool(args + QStringList("--compare") + modes, out), 0) << qPrintable(out);
    const QStringList lines = out.split('\n');
    const int nHeader = lines.indexOf(
        QRegularExpression("^ +\\|-+ idle -+\\|-+ sustained load -+\\|-+ bursts -+\\|$"));
    ASSERT_GE(nHeader, 0) << qPrintable(out);
    const int nMin = 2000, nMax = 6200; // both fans of this machine
    for (int nRun = 0; nRun < modes.size(); ++nRun) {
        const QStringList groups = lines.value(nHeader + 2 + nRun).split('|');
        ASSERT_EQ(groups.size(), 5) << qPrintable(out);
        EXPECT_EQ(groups[0].trimmed(), modes[nRun]);
        // Seconds above MAX counted in whole degrees, from the per-second file.
        QFile csv(dir.filePath(QStringLiteral("run-%1.csv").arg(nRun + 1)));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        QMap<QString, int> above, full;              // full: both fans at 99 % of 6200 RPM or more
        QMap<QString, int> secs, changes, reversals; // of the written targets
        int targets[2] = {-1, -1}, directions[2] = {0, 0};
        for (const QByteArray& row : csv.readAll().split('\n').mid(1)) {
            const QList<QByteArray> cells = row.split(',');
            if (cells.size() < 8)
                continue;
            const QString phase = cells[2];
            const bool bAbove = std::floor(cells[3].toDouble() + 0.5) > 60;
            above[phase] += bAbove;
            full[phase] += bAbove && qMin(cells[5].toInt(), cells[7].toInt()) >= 6138;
            ++secs[phase];
            for (int nFan = 0; nFan < 2; ++nFan) {
                const int nTarget = cells[4 + 2 * nFan].toInt();
                const int nDirection = targets[nFan] < 0 || nTarget == targets[nFan]
                                           ? 0
                                           : (nTarget > targets[nFan] ? 1 : -1);
                changes[phase] += nDirection != 0;
                reversals[phase] += nDirection * directions[nFan] < 0;
                directions[nFan] = nDirection ? nDirection : directions[nFan];
                targets[nFan] = nTarget;
            }
        }
        const QStringList phases = {"idle", "sustained", "bursts"};
        for (int nPhase = 0; nPhase < 3; ++nPhase) {
            const QStringList cells = groups[nPhase + 1].split(' ', Qt::SkipEmptyParts);
            ASSERT_EQ(cells.size(), 11) << qPrintable(groups[nPhase + 1]);
            const QStringList reads = cells[9].split('/');
            EXPECT_EQ(reads.value(0).toDouble(), reads.value(1).toDouble()) << qPrintable(cells[9]);
            EXPECT_EQ(cells[2].toInt(), above.value(phases[nPhase])) << qPrintable(phases[nPhase]);
            EXPECT_EQ(cells[3].toInt(), full.value(phases[nPhase]));
            EXPECT_TRUE(cells[4].toInt() >= nMin && cells[5].toInt() <= nMax); // mean, peak
            // Per minute: writes (a rewrite of the same target counts), reversals, and one
            // tool start per target or mask write.
            const double dMinutes = secs.value(phases[nPhase]) / 60.0;
            EXPECT_GE(cells[6].toDouble() + 0.05, changes.value(phases[nPhase]) / dMinutes);
            EXPECT_NEAR(cells[7].toDouble(), reversals.value(phases[nPhase]) / dMinutes, 0.051);
            EXPECT_NEAR(cells[8].toDouble(), cells[6].toDouble() + cells[10].toInt() / dMinutes,
                        0.11);
        }
        const QRegularExpression fan("fan \\d actual \\d+\\.\\.(\\d+) targets (\\d+)\\.\\.(\\d+)");
        auto it = fan.globalMatch(lines.filter(modes[nRun] + ": watched").value(0));
        for (int nFan = 0; nFan < 2; ++nFan) {
            const auto match = it.next();
            EXPECT_TRUE(match.captured(1).toInt() <= nMax && match.captured(2).toInt() >= nMin &&
                        match.captured(3).toInt() <= nMax)
                << qPrintable(match.captured());
        }
    }
}
