#pragma once

#include <QStringList>

// "thermora --report": prints the technical report of the about dialog to standard output and
// exits, for a user without a display or one filing a bug. It runs beside a running instance,
// needs no display, writes no SMC key and leaves the stored settings as they are.
namespace ReportCommandUtils {

// The program's arguments ask for the report (exactly one argument, "--report").
bool isReportRequested(int argc, char** argv);

// Exit code 0 with the report on standard output; 1 with the SMC error on standard error.
int printReport(int& argc, char** argv);

} // namespace ReportCommandUtils
