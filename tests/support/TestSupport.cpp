#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString fromEnv(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}
} // namespace

QString TestSupport::binDir()
{
    return fromEnv("THERMORA_BIN_DIR", QCoreApplication::applicationDirPath() + "/../bin");
}

QString TestSupport::sourceDir()
{
    return fromEnv("THERMORA_SOURCE_DIR", QStringLiteral(THERMORA_TEST_SOURCE_DIR));
}

QString TestSupport::profilesDir()
{
    return fromEnv("THERMORA_PROFILES_DIR", sourceDir() + "/profiles");
}
