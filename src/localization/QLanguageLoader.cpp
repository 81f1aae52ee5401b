#include "localization/QLanguageLoader.h"

#include "QsLog/QsLog.h"
#include "localization/LanguageFileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QResource>

#include <tinyxml2.h>

#include <mutex>

QLanguageLoader* g_pLocale = nullptr;

// Resources compiled into a static library are only registered when asked for by name, and
// only from the global namespace.
static void initLocalizationResources()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Q_INIT_RESOURCE(languages);
        Q_INIT_RESOURCE(language_icons);
    });
}

namespace {

// First text node among the element's children: comments before or between texts do not
// hide the text, and later text pieces (after a comment or a CDATA) are not appended.
const char* firstText(const tinyxml2::XMLElement* pElement)
{
    for (const tinyxml2::XMLNode* pNode = pElement->FirstChild(); pNode;
         pNode = pNode->NextSibling()) {
        if (const tinyxml2::XMLText* pText = pNode->ToText())
            return pText->Value();
    }
    return nullptr;
}

QString resourceFilePath(const QString& path)
{
    return path.startsWith(QLatin1Char(':')) ? path : QLatin1Char(':') + path;
}

} // namespace

QLanguageLoader::QLanguageLoader(const QString& defaultLanguagePath)
    : m_DefaultLanguagePath(defaultLanguagePath),
      m_LanguagesFolder(LanguageFileHelpers::defaultLanguagesFolder())
{
    initLocalizationResources();
    g_pLocale = this;
}

QLanguageLoader::~QLanguageLoader()
{
    // Texts asked for after the loader is gone fall back to their keys instead of crashing.
    if (g_pLocale == this)
        g_pLocale = nullptr;
}

QString QLanguageLoader::load(const QString& languageFile)
{
    const QString english = QLatin1String(LanguageFileHelpers::englishFileName());
    QString result = english;
    if (!LoadLanguage(english))
        QLOG_ERROR() << "Built-in language" << m_DefaultLanguagePath << "could not be loaded";

    if (languageFile.isEmpty())
        result = AutoDetectLanguage();
    else if (languageFile != english && LoadLanguage(languageFile))
        result = languageFile;
    return result;
}

bool QLanguageLoader::readLanguageBytes(const QString& languageFile, QByteArray& bytes) const
{
    if (languageFile == QLatin1String(LanguageFileHelpers::englishFileName())) {
        QFile resource(resourceFilePath(m_DefaultLanguagePath));
        if (!resource.open(QIODevice::ReadOnly)) {
            QLOG_WARN() << "Built-in language resource missing:" << m_DefaultLanguagePath;
            return false;
        }
        bytes = resource.readAll();
        return true;
    }
    if (m_LanguagesFolder.isEmpty()) {
        QLOG_WARN() << "No languages folder to load" << languageFile << "from";
        return false;
    }
    QFile file(QDir(m_LanguagesFolder).filePath(languageFile));
    if (!file.open(QIODevice::ReadOnly)) {
        QLOG_WARN() << "Language file" << file.fileName()
                    << "cannot be opened:" << file.errorString();
        return false;
    }
    bytes = file.readAll();
    return true;
}

bool QLanguageLoader::LoadLanguage(const QString& languageFile)
{
    // A name with a path in it would read files outside the languages folder.
    if (languageFile.isEmpty() || languageFile.contains(QLatin1Char('/')) ||
        languageFile.contains(QLatin1Char('\\'))) {
        QLOG_WARN() << "Not a language file name:" << languageFile;
        return false;
    }
    QByteArray raw;
    if (!readLanguageBytes(languageFile, raw))
        return false;

    const QByteArray xml =
        LanguageFileHelpers::escapeBareAmpersands(LanguageFileHelpers::sanitizeBytes(raw));
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (document.Parse(xml.constData(), size_t(xml.size())) != tinyxml2::XML_SUCCESS) {
        QLOG_WARN() << "Language file" << languageFile << "is not well-formed, line"
                    << document.ErrorLineNum() << ":" << document.ErrorStr();
        return false;
    }
    tinyxml2::XMLElement* pRoot = document.RootElement();
    if (!pRoot) {
        QLOG_WARN() << "Language file" << languageFile << "has no root element";
        return false;
    }
    LoadLanguage(pRoot);
    m_CurrentLanguage = languageFile;
    QLOG_INFO() << "Language loaded:" << languageFile;
    return true;
}

bool QLanguageLoader::LoadLanguage(tinyxml2::XMLElement* pRoot)
{
    RecurReadXML(pRoot, QString());
    return true;
}

void QLanguageLoader::RecurReadXML(tinyxml2::XMLElement* pElement, const QString& keyPrefix)
{
    for (tinyxml2::XMLElement* pChild = pElement->FirstChildElement(); pChild;
         pChild = pChild->NextSiblingElement()) {
        const QString key = keyPrefix + QString::fromUtf8(pChild->Name());
        if (pChild->FirstChildElement()) {
            RecurReadXML(pChild, key + QLatin1Char('/'));
            continue;
        }
        QString text = QString::fromUtf8(firstText(pChild));
        PrepaireString(text);
        m_Strings.insert(key, text);
    }
}

void QLanguageLoader::PrepaireString(QString& text, const QString& /*unused*/)
{
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
}

QString QLanguageLoader::AutoDetectLanguage()
{
    return AutoDetectLanguage(QLocale::system());
}

QString QLanguageLoader::AutoDetectLanguage(const QLocale& locale)
{
    const QString languageFile = LanguageFileHelpers::languageFileForLocale(locale);
    QLOG_INFO() << "System language file:" << languageFile;
    return LoadLanguage(languageFile) ? languageFile : QString();
}

QString QLanguageLoader::GetString(const QString& key) const
{
    const QString text = m_Strings.value(key);
    return text.isEmpty() ? key : text;
}

QString QLanguageLoader::GetLanguageName() const
{
    return m_CurrentLanguage.left(qMax(0, m_CurrentLanguage.size() - 4));
}

QString QLanguageLoader::GetLanguageNameRaw() const
{
    return m_CurrentLanguage;
}

QStringList QLanguageLoader::GetLanguagesList() const
{
    QStringList languages;
    if (m_LanguagesFolder.isEmpty())
        return languages;
    const QFileInfoList files =
        QDir(m_LanguagesFolder).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        const QString name = file.fileName();
        if (name.endsWith(QLatin1String(".xml"), Qt::CaseSensitive))
            languages.append(name.left(name.size() - 4));
    }
    return languages;
}

QIcon QLanguageLoader::iconFromLanguage(const QString& languageName)
{
    initLocalizationResources();
    static const QLocale::Country country = QLocale::system().country();
    const QString path = QStringLiteral(":/LanguageIcons/%1.png")
                             .arg(LanguageFileHelpers::iconNameForLanguage(languageName, country));
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

namespace LocalizationHelpers {

QString text(const QString& key)
{
    return g_pLocale ? g_pLocale->GetString(key) : key;
}

QString format(const QString& key, const QString& fallback, int nPlaceholders)
{
    const QString found = text(key);
    const bool bUsable = found != key &&
                         (nPlaceholders < 1 || found.contains(QLatin1String("%1"))) &&
                         (nPlaceholders < 2 || found.contains(QLatin1String("%2")));
    return bUsable ? found : fallback;
}

} // namespace LocalizationHelpers
