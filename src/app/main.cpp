#include "app/ReportCommand.h"
#include "app/Startup.h"
#include "app/app.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before any window system or application object is needed, so that an
    // installation can be checked and the updater can learn that a freshly unpacked program runs.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", kThermoraProgramName, kThermoraVersion);
        return 0;
    }
    if (ReportCommandUtils::isReportRequested(argc, argv))
        return ReportCommandUtils::printReport(argc, argv);
    return StartupUtils::run(argc, argv);
}
