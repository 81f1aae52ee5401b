#include "app/Startup.h"
#include "app/app.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    // Answered before any application object exists: the updater asks a freshly unpacked
    // program this to learn that it runs at all.
    if (argc == 2 && strcmp(argv[1], "--version") == 0) {
        printf("%s %s\n", kThermoraProgramName, kThermoraVersion);
        return 0;
    }
    return StartupUtils::run(argc, argv);
}
