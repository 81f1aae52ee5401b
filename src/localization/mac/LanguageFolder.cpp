#include "localization/LanguageFileHelpers.h"

#include <QCoreApplication>
#include <QDir>

namespace LanguageFileHelpers {

namespace {
void addSeparator(QString& path)
{
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
}
} // namespace

// Bundle layout: Thermora.app/Contents/MacOS/thermora and Contents/Resources/languages.
QString defaultLanguagesFolder()
{
    if (!QCoreApplication::instance())
        return QString();
    QString folder = QCoreApplication::applicationDirPath();
    addSeparator(folder);
    folder += QLatin1String("..");
    addSeparator(folder);
    folder += QLatin1String("Resources");
    addSeparator(folder);
    folder += QLatin1String("languages");
    return folder;
}

} // namespace LanguageFileHelpers
