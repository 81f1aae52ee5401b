#include "localization/LanguageFileHelpers.h"

#include <QCoreApplication>
#include <QDir>

namespace LanguageFileHelpers {

// Installed layout: <prefix>/bin/thermora and <prefix>/share/thermora/languages. The build tree
// mirrors it (build/bin and build/share/thermora/languages).
QString defaultLanguagesFolder()
{
    if (!QCoreApplication::instance())
        return QString(); // no executable path to go by: no translations, English only
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QLatin1String("/../share/thermora/languages"));
}

} // namespace LanguageFileHelpers
