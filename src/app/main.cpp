#include "app/AppPlatform.h"
#include "app/ReportCommand.h"
#include "app/Startup.h"
#include "app/app.h"

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] = "usage: thermora [/minimized]   the window, or only the menu-bar item\n"
                      "       thermora --report        the technical report on standard output\n"
                      "       thermora --version       the version\n";

bool isOption(int argc, char** argv, const char* option)
{
    return argc == 2 && std::strcmp(argv[1], option) == 0;
}

// No argument, or exactly one the program knows; a mistyped one must not start it silently.
bool isKnownCommandLine(int argc, char** argv)
{
    if (argc <= 1)
        return true;
    for (const char* option : {"/minimized", "--help", "-h", "--version", "--report"}) {
        if (isOption(argc, argv, option))
            return true;
    }
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    if (!isKnownCommandLine(argc, argv)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (isOption(argc, argv, "--help") || isOption(argc, argv, "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Answered before any window system or application object is needed, so that an
    // installation can be checked and the updater can learn that a freshly unpacked program runs.
    if (isOption(argc, argv, "--version")) {
        std::printf("%s %s\n", kThermoraProgramName, kThermoraVersion);
        return 0;
    }
    if (ReportCommandUtils::isReportRequested(argc, argv))
        return ReportCommandUtils::printReport(argc, argv);
    const QString reason = AppPlatformUtils::missingDisplayReason();
    if (!reason.isEmpty()) {
        std::fprintf(stderr, "thermora: %s\n", qPrintable(reason));
        return 1;
    }
    return StartupUtils::run(argc, argv);
}
