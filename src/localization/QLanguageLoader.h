#pragma once

#include <QHash>
#include <QIcon>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace tinyxml2 {
class XMLElement;
}

// The table of user-visible texts. Every text is looked up by "Section/entry"; English is
// compiled in, other languages are XML files in the languages folder that are loaded over it.
// A key that no loaded file defines reads as the key itself, so a missing translation is
// visible but never fatal. Loading and look-ups happen on the GUI thread only: no lock.
class QLanguageLoader
{
public:
    // defaultLanguagePath: resource path of the built-in English file. Registers this loader
    // as g_pLocale.
    explicit QLanguageLoader(const QString& defaultLanguagePath);
    ~QLanguageLoader();
    QLanguageLoader(const QLanguageLoader&) = delete;
    QLanguageLoader& operator=(const QLanguageLoader&) = delete;

    // Start-up load: English first so that every key has a text, then the named file (or the
    // system language when the name is empty). Returns the language file in effect, or an
    // empty string when auto-detection found nothing.
    QString load(const QString& languageFile);

    // Loads one language file ("German.xml") over the current table. False leaves the table
    // and the current language untouched.
    bool LoadLanguage(const QString& languageFile);
    // Reads every entry below root into the table. Always true.
    bool LoadLanguage(tinyxml2::XMLElement* pRoot);
    void RecurReadXML(tinyxml2::XMLElement* pElement, const QString& keyPrefix);
    // Turns the two characters backslash + n into a line feed.
    static void PrepaireString(QString& text, const QString& unused = QString());

    // Loads the file of the system language; returns its file name or an empty string.
    QString AutoDetectLanguage();
    QString AutoDetectLanguage(const QLocale& locale);

    QString GetString(const QString& key) const;
    QString GetLanguageName() const;    // "German"
    QString GetLanguageNameRaw() const; // "German.xml"
    QStringList GetLanguagesList() const;

    // Flag for a language name; a null icon when the program has none.
    static QIcon iconFromLanguage(const QString& languageName);

    // Where translation files are read from; the platform's folder beside the executable
    // unless set otherwise (tests, tools).
    QString languagesFolder() const { return m_LanguagesFolder; }
    void setLanguagesFolder(const QString& folder) { m_LanguagesFolder = folder; }

    const QHash<QString, QString>& stringTable() const { return m_Strings; }

private:
    bool readLanguageBytes(const QString& languageFile, QByteArray& bytes) const;

    QHash<QString, QString> m_Strings;
    QString m_CurrentLanguage;
    QString m_DefaultLanguagePath;
    QString m_LanguagesFolder;
};

// The loader every text look-up goes through; null before start-up created it.
extern QLanguageLoader* g_pLocale;

namespace LocalizationHelpers {
// The text for key from g_pLocale, or the key itself when there is no loader.
QString text(const QString& key);
// A text with nPlaceholders place holders (%1, %2) for key, or fallback when no language is loaded
// or the language's text lacks one of them (a format must never lose a value).
QString format(const QString& key, const QString& fallback, int nPlaceholders);
} // namespace LocalizationHelpers
