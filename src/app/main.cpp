#include "app/ReportCommand.h"
#include "app/Startup.h"

int main(int argc, char** argv)
{
    if (ReportCommandUtils::isReportRequested(argc, argv))
        return ReportCommandUtils::printReport(argc, argv);
    return StartupUtils::run(argc, argv);
}
