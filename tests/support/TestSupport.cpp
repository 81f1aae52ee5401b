#include "support/TestSupport.h"

#include <QCoreApplication>

QString TestSupport::binDir()
{
    return qEnvironmentVariable("THERMORA_BIN_DIR",
                                QCoreApplication::applicationDirPath() + "/../bin");
}

QString TestSupport::sourceDir()
{
    return qEnvironmentVariable("THERMORA_SOURCE_DIR", THERMORA_TEST_SOURCE_DIR);
}

QString TestSupport::profilesDir()
{
    return qEnvironmentVariable("THERMORA_PROFILES_DIR", sourceDir() + "/profiles");
}
