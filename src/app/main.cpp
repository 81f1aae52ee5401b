#include "app/Startup.h"

int main(int argc, char** argv)
{
    return StartupUtils::run(argc, argv);
}
