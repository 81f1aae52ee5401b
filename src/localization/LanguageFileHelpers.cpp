#include "localization/LanguageFileHelpers.h"
#include "helpers/HexUtils.h"

#include <cstring>

namespace {

// Characters an XML 1.0 document may contain; a reference to anything else is not decoded.
bool isXmlChar(quint32 code)
{
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

bool startsWithAt(const QByteArray& data, int pos, const char* text)
{
    const int length = int(std::strlen(text));
    return pos + length <= data.size() && std::memcmp(data.constData() + pos, text, length) == 0;
}

// Length of the numeric reference "&#...;" or "&#x...;" at pos, or 0 when it is malformed or
// names a character XML does not allow.
int numericReferenceLength(const QByteArray& data, int pos)
{
    int i = pos + 2;                                     // past "&#"
    const bool bHex = i < data.size() && data[i] == 'x'; // XML has no "&#X"
    const int base = bHex ? 16 : 10;
    if (bHex)
        ++i;
    const int firstDigit = i;
    quint32 code = 0;
    for (; i < data.size(); ++i) {
        const int digit = bHex ? HexUtils::digitValue(data[i])
                               : (data[i] >= '0' && data[i] <= '9' ? data[i] - '0' : -1);
        if (digit < 0)
            break;
        // Saturate instead of overflowing: anything this large is invalid anyway.
        code = code > 0x10FFFF ? code : code * base + quint32(digit);
    }
    if (i == firstDigit || i >= data.size() || data[i] != ';' || !isXmlChar(code))
        return 0;
    return i - pos + 1;
}

bool startsKnownReference(const QByteArray& data, int pos)
{
    static const char* const named[] = {"&lt;", "&gt;", "&amp;", "&quot;", "&apos;"};
    for (const char* entity : named) {
        if (startsWithAt(data, pos, entity))
            return true;
    }
    return startsWithAt(data, pos, "&#") && numericReferenceLength(data, pos) > 0;
}

// Copies the section that starts at pos and ends with terminator (inclusive, or to the end of
// the data when unterminated); returns the position after it.
int copyVerbatim(const QByteArray& data, int pos, const char* terminator, QByteArray& out)
{
    const int end = data.indexOf(terminator, pos);
    const int stop = end < 0 ? data.size() : end + int(std::strlen(terminator));
    out.append(data.constData() + pos, stop - pos);
    return stop;
}

} // namespace

namespace LanguageFileHelpers {

QByteArray sanitizeBytes(const QByteArray& raw)
{
    const int nul = raw.indexOf('\0');
    const QByteArray text = nul < 0 ? raw : raw.left(nul);
    return QString::fromUtf8(text).toUtf8();
}

QByteArray escapeBareAmpersands(const QByteArray& xml)
{
    QByteArray out;
    out.reserve(xml.size() + 16);
    int pos = 0;
    while (pos < xml.size()) {
        if (startsWithAt(xml, pos, "<!--")) {
            pos = copyVerbatim(xml, pos, "-->", out);
        } else if (startsWithAt(xml, pos, "<![CDATA[")) {
            pos = copyVerbatim(xml, pos, "]]>", out);
        } else if (xml[pos] == '&' && !startsKnownReference(xml, pos)) {
            out.append("&amp;");
            ++pos;
        } else {
            out.append(xml[pos]);
            ++pos;
        }
    }
    return out;
}

QString languageFileForLocale(const QLocale& locale)
{
    return QLocale::languageToString(locale.language()) + QLatin1String(".xml");
}

QString iconNameForLanguage(const QString& languageName, QLocale::Country country)
{
    if (languageName == QLatin1String("Chinese"))
        return QStringLiteral("Chinese_Simplified");
    if (languageName == QLatin1String("English") && country == QLocale::UnitedKingdom)
        return QStringLiteral("English_UK");
    return languageName;
}

} // namespace LanguageFileHelpers
