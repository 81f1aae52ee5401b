#include "ClosedLoopRun.h"

#include <QTextStream>

namespace {

const char* const kPhaseTitles[PhaseCount] = {"idle", "sustained load", "bursts"};

// Column headings of one phase group and their widths.
struct Column
{
    const char* title;
    int nWidth;
};
const Column kColumns[] = {{"mean", 5},   {"peak", 5},    {">MAX", 5}, {"full", 5},
                           {"rpm", 5},    {"peak", 5},    {"wr/m", 5}, {"rev/m", 5},
                           {"tool/m", 6}, {"rd/pass", 7}, {"FS!", 4}};

QString cell(const QString& text, int nWidth)
{
    return text.rightJustified(nWidth) + QLatin1Char(' ');
}

int groupWidth()
{
    int nWidth = 0;
    for (const Column& column : kColumns)
        nWidth += column.nWidth + 1;
    return nWidth;
}

QString perMinute(int nCount, int nSecs)
{
    return nSecs > 0 ? QString::number(nCount * 60.0 / nSecs, 'f', 1) : QStringLiteral("-");
}

QString phaseCells(const ClosedLoopPhaseStats& stats, const ClosedLoopSummary& run)
{
    const int n = stats.nSecs;
    const bool bMax = run.nMaxTemperature >= 0;
    const QString readsPerPass =
        stats.nUpdatePasses > 0
            ? QString::number(double(stats.nUpdateReads) / stats.nUpdatePasses, 'f', 1)
            : QStringLiteral("-");
    const QStringList cells = {
        n ? QString::number(stats.dTempSum / n, 'f', 1) : QStringLiteral("-"),
        n ? QString::number(stats.dTempPeak, 'f', 1) : QStringLiteral("-"),
        bMax ? QString::number(stats.nSecsAboveMax) : QStringLiteral("-"),
        bMax ? QString::number(stats.nSecsFullAboveMax) : QStringLiteral("-"),
        n ? QString::number(qRound(stats.dRpmSum / n)) : QStringLiteral("-"),
        QString::number(qRound(stats.dRpmPeak)),
        perMinute(stats.nTargetWrites, n),
        perMinute(stats.nReversals, n),
        perMinute(stats.nToolStarts, n),
        QStringLiteral("%1/%2").arg(readsPerPass).arg(run.nReadFloor),
        QString::number(stats.nMaskWrites)};
    QString text;
    for (int i = 0; i < cells.size(); ++i)
        text += cell(cells.at(i), kColumns[i].nWidth);
    return text;
}

void writeMachine(QTextStream& out, const ClosedLoopSummary& run)
{
    out << "machine    " << run.model << "\n";
    out << "dynamics   " << run.dynamics << "\n";
    out << "simulated  " << run.dSimSecs / 60.0 << " min, the same load schedule and seed for "
        << "every mode\n";
    out << "sensors    " << run.sensors.size() << "\n";
    for (const QString& sensor : run.sensors)
        out << "    " << sensor << "\n";
    out << "drives     " << run.drives.size() << "\n";
    for (const QString& drive : run.drives)
        out << "    " << drive << "\n";
    out << "fans       " << run.fans.size() << "\n";
    for (int i = 0; i < run.fans.size(); ++i)
        out << "    " << i << "  " << run.fans[i].name << "  " << run.fans[i].nMin << ".."
            << run.fans[i].nMax << " RPM\n";
}

void writeTable(QTextStream& out, const QVector<ClosedLoopSummary>& runs)
{
    int nModeWidth = 4;
    for (const ClosedLoopSummary& run : runs)
        nModeWidth = qMax(nModeWidth, run.modeText.size());
    out << QString(nModeWidth, QLatin1Char(' ')) << " |";
    for (const char* title : kPhaseTitles) {
        const QString centred = QStringLiteral(" %1 ").arg(QLatin1String(title));
        const int nLeft = (groupWidth() - centred.size()) / 2;
        out << QString(nLeft, QLatin1Char('-')) << centred
            << QString(groupWidth() - nLeft - centred.size(), QLatin1Char('-')) << '|';
    }
    out << "\n" << QStringLiteral("mode").leftJustified(nModeWidth) << " |";
    for (int nPhase = 0; nPhase < PhaseCount; ++nPhase) {
        out << ' ';
        for (const Column& column : kColumns)
            out << cell(QLatin1String(column.title), column.nWidth);
        out << '|';
    }
    out << "\n";
    for (const ClosedLoopSummary& run : runs) {
        out << run.modeText.leftJustified(nModeWidth) << " |";
        for (const ClosedLoopPhaseStats& stats : run.phases)
            out << ' ' << phaseCells(stats, run) << '|';
        out << "\n";
    }
}

void writeRunNotes(QTextStream& out, const ClosedLoopSummary& run)
{
    out << run.modeText << ": watched " << (run.watchedKey.isEmpty() ? "-" : run.watchedKey)
        << ", MAX "
        << (run.nMaxTemperature >= 0 ? QString::number(run.nMaxTemperature) + " C"
                                     : QStringLiteral("none"));
    for (int i = 0; i < run.fans.size(); ++i) {
        const ClosedLoopFanSummary& fan = run.fans[i];
        out << "; fan " << i << " actual " << qRound(fan.dActualLow) << ".."
            << qRound(fan.dActualHigh) << " targets "
            << (fan.nTargetLow < 0
                    ? QStringLiteral("none")
                    : QStringLiteral("%1..%2").arg(fan.nTargetLow).arg(fan.nTargetHigh));
        if (fan.dHandBackSecs >= 0)
            out << " handed back at " << fan.dHandBackSecs << " s (sensor failed)";
        if (fan.dTakenAgainSecs >= 0)
            out << ", followed again from " << fan.dTakenAgainSecs << " s";
    }
    out << "; controller CPU "
        << QString::number(run.dControllerCpuSecs * 1000.0 / (run.dSimSecs / 3600.0), 'f', 1)
        << " ms per simulated hour";
    if (!run.csvPath.isEmpty())
        out << "; CSV " << run.csvPath;
    out << "\n";
}

} // namespace

QString formatReport(const QVector<ClosedLoopSummary>& runs)
{
    QString text;
    if (runs.isEmpty())
        return text;
    QTextStream out(&text);
    writeMachine(out, runs.first());
    out << "\n";
    writeTable(out, runs);
    out << "\n"
        << "mean, peak: the watched sensor in C.  >MAX: seconds its whole degrees were above MAX; "
           "full: of those, seconds every controlled fan ran at full speed.\n"
           "rpm, peak: actual speed of the controlled fans.  wr/m, rev/m, tool/m: target writes, "
           "reversals of the written target and starts of the key-writing tool per minute.\n"
           "rd/pass: SMC reads per update pass / the floor (one per fan, one per needed "
           "sensor).  FS!: writes of the fan-mode mask.\n\n";
    for (const ClosedLoopSummary& run : runs)
        writeRunNotes(out, run);
    return text;
}
