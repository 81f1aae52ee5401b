#include "sim/SimDumpUtils.h"
#include "helpers/HexUtils.h"
#include "smc/base/SmcCodecUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstring>

const char SimDumpUtils::kKeyCountKey[] = "#KEY";

namespace {

bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7e;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

quint32 SimDumpUtils::packCode(const QByteArray& fourChars)
{
    quint32 nCode = 0;
    for (int i = 0; i < 4; ++i)
        nCode = (nCode << 8) | static_cast<quint8>(i < fourChars.size() ? fourChars.at(i) : ' ');
    return nCode;
}

QByteArray SimDumpUtils::unpackCode(quint32 nCode)
{
    char chars[5];
    SmcCodecUtils::unpackCode(chars, nCode);
    return QByteArray(chars, 4);
}

bool SimDumpUtils::decodeNumber(const QByteArray& type, const QByteArray& bytes, double& dValue)
{
    return SmcCodecUtils::decodeNumber(type.toStdString(), bytes.toStdString(), dValue);
}

bool SimDumpUtils::encodeNumber(const QByteArray& type, double dValue, QByteArray& bytes)
{
    return SmcCodecUtils::encodeNumber(type.toStdString(), dValue,
                                       reinterpret_cast<unsigned char*>(bytes.data()),
                                       static_cast<size_t>(bytes.size()));
}

QByteArray SimDumpUtils::decodeValue(const QByteArray& type, const QByteArray& bytes)
{
    return QByteArray::fromStdString(
        SmcCodecUtils::decodeValue(type.toStdString(), bytes.toStdString()));
}

QByteArray SimDumpUtils::formatDumpLine(const QByteArray& key, const QByteArray& type,
                                        const QByteArray& bytes)
{
    return QByteArray::fromStdString(
        SmcCodecUtils::formatDumpLine(key.toStdString(), type.toStdString(), bytes.toStdString()));
}

QByteArray SimDumpUtils::formatDump(const QVector<QSimKey>& keys)
{
    QByteArray text;
    for (const QSimKey& key : keys)
        text += formatDumpLine(key.key, key.type, key.bytes) + '\n';
    return text;
}

int SimDumpUtils::parseDumpLine(const QByteArray& rawLine, QSimKey& key, QString* pReason)
{
    QByteArray line = rawLine;
    while (!line.isEmpty() && (line.endsWith('\r') || isBlank(line.back())))
        line.chop(1);
    if (line.isEmpty() || line.startsWith('#'))
        return 0;
    auto fail = [pReason](const QString& reason) {
        if (pReason)
            *pReason = reason;
        return -1;
    };
    if (!line.endsWith(')'))
        return fail(QStringLiteral("the line does not end with \"(bytes ...)\""));
    const int nBytesPos = line.lastIndexOf("(bytes");
    if (nBytesPos < 0)
        return fail(QStringLiteral("the line does not end with \"(bytes ...)\""));
    const QByteArray hexPart = line.mid(nBytesPos + 6, line.size() - nBytesPos - 7);
    if (!hexPart.isEmpty() && !isBlank(hexPart.at(0)))
        return fail(QStringLiteral("malformed \"(bytes ...)\""));
    QByteArray bytes;
    for (const QByteArray& token : hexPart.simplified().split(' ')) {
        if (token.isEmpty())
            continue;
        if (token.size() != 2 || HexUtils::digitValue(token.at(0)) < 0 ||
            HexUtils::digitValue(token.at(1)) < 0)
            return fail(QStringLiteral("\"%1\" is not a two-digit hexadecimal byte")
                            .arg(QString::fromLatin1(token)));
        bytes += static_cast<char>(HexUtils::digitValue(token.at(0)) * 16 +
                                   HexUtils::digitValue(token.at(1)));
    }
    if (bytes.size() > kMaxValueBytes)
        return fail(QStringLiteral("%1 value bytes, at most %2 are allowed")
                        .arg(bytes.size())
                        .arg(kMaxValueBytes));
    // The key is the four characters before the blanks and the bracket that open the type.
    for (int nPos = 4; nPos + 8 <= nBytesPos; ++nPos) {
        if (line.at(nPos) != ' ' || line.at(nPos + 1) != ' ' || line.at(nPos + 2) != '[' ||
            line.at(nPos + 7) != ']')
            continue;
        const QByteArray indent = line.left(nPos - 4);
        if (!std::all_of(indent.begin(), indent.end(), isBlank))
            continue;
        key.key = line.mid(nPos - 4, 4);
        key.type = line.mid(nPos + 3, 4);
        if (!std::all_of(key.key.begin(), key.key.end(), isPrintable))
            return fail(QStringLiteral("the key holds a character that is not printable"));
        if (!std::all_of(key.type.begin(), key.type.end(), isPrintable))
            return fail(QStringLiteral("the type holds a character that is not printable"));
        key.bytes = bytes;
        return 1;
    }
    return fail(QStringLiteral("expected a four-character key and a type like \"[sp78]\""));
}

bool SimDumpUtils::parseDump(const QByteArray& text, const QString& fileName,
                             QVector<QSimKey>& keys, QString* pError)
{
    QVector<QSimKey> parsed;
    QHash<QByteArray, int> firstLine;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QSimKey key;
        QString reason;
        const int nKind = parseDumpLine(lines.at(i), key, &reason);
        if (nKind == 0)
            continue;
        if (nKind < 0 || firstLine.contains(key.key)) {
            if (nKind > 0)
                reason = QStringLiteral("duplicate key \"%1\" (first on line %2)")
                             .arg(QString::fromLatin1(key.key))
                             .arg(firstLine.value(key.key));
            if (pError)
                *pError = QStringLiteral("%1:%2: %3").arg(fileName).arg(i + 1).arg(reason);
            return false;
        }
        firstLine.insert(key.key, i + 1);
        if (key.key != kKeyCountKey)
            parsed.append(key);
    }
    finishTable(parsed);
    keys = parsed;
    return true;
}

bool SimDumpUtils::loadDumpFile(const QString& path, QVector<QSimKey>& keys, QString* pError)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (pError)
            *pError = QStringLiteral("%1: cannot read the dump: %2").arg(path, file.errorString());
        return false;
    }
    return parseDump(file.readAll(), path, keys, pError);
}

bool SimDumpUtils::saveDumpFile(const QString& path, const QVector<QSimKey>& keys, QString* pError)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(formatDump(keys)) < 0 || !file.commit()) {
        if (pError)
            *pError = QStringLiteral("%1: cannot write the dump: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void SimDumpUtils::finishTable(QVector<QSimKey>& keys)
{
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [](const QSimKey& key) { return key.key == kKeyCountKey; }),
               keys.end());
    QSimKey count;
    count.key = kKeyCountKey;
    count.type = "ui32";
    count.attributes = 0x80;
    const quint32 nCount = static_cast<quint32>(keys.size() + 1);
    for (int nShift = 24; nShift >= 0; nShift -= 8)
        count.bytes += static_cast<char>((nCount >> nShift) & 0xFF);
    keys.append(count);
    // Byte-wise order: the same as comparing the packed codes as unsigned integers.
    std::sort(keys.begin(), keys.end(),
              [](const QSimKey& a, const QSimKey& b) { return packCode(a.key) < packCode(b.key); });
}
