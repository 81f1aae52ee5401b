#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// Stateless pieces of language-file handling, kept apart from the loader so that each can be
// checked on its own.
namespace LanguageFileHelpers {

// The name of the built-in language file; loading this name never touches the disk.
inline const char* englishFileName()
{
    return "English.xml";
}

// Raw file bytes as the XML parser gets them: cut at the first NUL byte and passed through a
// UTF-8 decode so that invalid sequences become replacement characters instead of reaching
// the table as garbage.
QByteArray sanitizeBytes(const QByteArray& raw);

// Writes every ampersand that does not start a well-formed reference (&lt; &gt; &amp; &quot;
// &apos;, or a numeric reference to a character XML allows) as "&amp;", so that it reaches the
// text literally. Translators write "black & white"; the parser would otherwise mangle
// things like "&#;" or "&#0;" (it cuts the text there). Comments and CDATA sections are left
// alone because nothing in them is decoded.
QByteArray escapeBareAmpersands(const QByteArray& xml);

// "German.xml" for a German locale: the language's English name as the locale database
// spells it plus ".xml".
QString languageFileForLocale(const QLocale& locale);

// The flag resource name for a language name in a country: Chinese is shown with the
// simplified-Chinese flag, English with the UK flag in the United Kingdom.
QString iconNameForLanguage(const QString& languageName, QLocale::Country country);

// The folder the translation files are shipped in, relative to the running executable.
// Platform-specific (see linux/ and mac/).
QString defaultLanguagesFolder();

} // namespace LanguageFileHelpers
