// The closed-loop tool as a user runs it: its options, and a 30-minute comparison whose table
// must hold whatever the figures are.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

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

QString profile(const char* file)
{
    return qEnvironmentVariable("THERMORA_PROFILES_DIR") + "/" + file;
}

} // namespace

TEST(ClosedLoop, OptionsAndWhatTheRunReports)
{
    const QStringList mini = {"--profile", "Macmini5,1", "--minutes", "1"};
    const struct
    {
        QStringList args;
        int nExit;
        const char* expected;
    } rows[] = {
        {{"--help"}, 0, "--compare"},
        {{"--help"}, 0, "--fault <fault>"},
        {mini + QStringList{"--mode", "auto"}, 0, "auto: watched TC0C"},
        {mini + QStringList{"--mode", "sensor:TC0P,50,70", "--watch", "TC0D"}, 0, "watched TC0D"},
        {mini + QStringList{"--mode", "sensor:TC0P,50,70", "--fault", "zero:TC0P@0"}, 0,
         "targets none"},
        {mini + QStringList{"--mode", "curve:TC0P,50:1000"}, 1, "at least two points"},
        {mini + QStringList{"--mode", "auto", "--fault", "melt:TC0P@5"}, 2, "bad fault"},
        {{"--dump", profile("Macmini5,1.dump"), "--model", "Macmini5,1", "--mode", "auto"},
         0,
         "dynamics   default"},
        {{"--dump", profile("Macmini5,1.dump"), "--model", "Macmini5,1", "--mode", "auto",
          "--dynamics", profile("MacPro4,1.profile")},
         0,
         "dynamics   from"}};
    for (const auto& row : rows) {
        QString output;
        EXPECT_EQ(runTool(row.args, output), row.nExit) << qPrintable(row.args.join(' '));
        EXPECT_TRUE(output.contains(QLatin1String(row.expected))) << qPrintable(output);
    }
}

TEST(ClosedLoop, ComparisonTableHoldsItsInvariants)
{
    QTemporaryDir dir;
    const QStringList modes = {"sensor:TC0P,50,60", "curve:TC0P,45:2000,60:6200,hyst=2"};
    QString output;
    ASSERT_EQ(runTool(QStringList{"--profile", "MacBookPro8,2", "--csv", dir.filePath("run.csv"),
                                  "--compare"} +
                          modes,
                      output),
              0)
        << qPrintable(output);
    const QStringList lines = output.split('\n');
    const int nHeader = lines.indexOf(QRegularExpression("^ +\\|-+ idle -+\\|-+ sustained load -+"
                                                         "\\|-+ bursts -+\\|$"));
    ASSERT_GE(nHeader, 0) << qPrintable(output);
    const QRegularExpression fanRange("^    (\\d)  .*  (\\d+)\\.\\.(\\d+) RPM$");
    QVector<QPair<int, int>> ranges;
    for (const QString& line : lines) {
        const auto match = fanRange.match(line);
        if (match.hasMatch())
            ranges.append({match.captured(2).toInt(), match.captured(3).toInt()});
    }
    ASSERT_EQ(ranges.size(), 2);
    for (int nRun = 0; nRun < modes.size(); ++nRun) {
        const QStringList groups = lines.value(nHeader + 2 + nRun).split('|');
        ASSERT_EQ(groups.size(), 5) << qPrintable(output);
        EXPECT_EQ(groups[0].trimmed(), modes[nRun]);
        // The seconds above MAX, counted in whole degrees, from the per-second file.
        QFile csv(dir.filePath(QStringLiteral("run-%1.csv").arg(nRun + 1)));
        ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
        QMap<QString, int> above;
        for (const QByteArray& row : csv.readAll().split('\n').mid(1)) {
            const QList<QByteArray> cells = row.split(',');
            if (cells.size() > 3 && std::floor(cells[3].toDouble() + 0.5) > 60)
                ++above[cells[2]];
        }
        const QStringList phases = {"idle", "sustained", "bursts"};
        for (int nPhase = 0; nPhase < 3; ++nPhase) {
            const QStringList cells = groups[nPhase + 1].split(' ', Qt::SkipEmptyParts);
            ASSERT_EQ(cells.size(), 11) << qPrintable(groups[nPhase + 1]);
            const QStringList reads = cells[9].split('/');
            EXPECT_EQ(reads.value(0).toDouble(), reads.value(1).toDouble()) << qPrintable(cells[9]);
            EXPECT_EQ(cells[2].toInt(), above.value(phases[nPhase])) << qPrintable(phases[nPhase]);
            EXPECT_LE(cells[3].toInt(), cells[2].toInt());
            EXPECT_GE(cells[4].toInt(), ranges[0].first);  // mean RPM
            EXPECT_LE(cells[5].toInt(), ranges[0].second); // peak RPM
        }
        const QRegularExpression targets(
            "fan (\\d) actual \\d+\\.\\.(\\d+) targets (\\d+)\\.\\.(\\d+)");
        auto it = targets.globalMatch(lines.filter(modes[nRun] + ": watched").value(0));
        for (int nFan = 0; nFan < 2; ++nFan) {
            const auto match = it.next();
            ASSERT_TRUE(match.hasMatch()) << qPrintable(output);
            EXPECT_LE(match.captured(2).toInt(), ranges[nFan].second);
            EXPECT_GE(match.captured(3).toInt(), ranges[nFan].first);
            EXPECT_LE(match.captured(4).toInt(), ranges[nFan].second);
        }
    }
}
