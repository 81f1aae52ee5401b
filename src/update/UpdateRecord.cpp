#include "update/UpdateRecord.h"

#include "update/FvVersionComparator.h"

#include <QRegularExpression>

#include <sodium.h>

namespace {

const char* const kFields[] = {"thermora-release", "version", "platform", "file", "size",
                               "sha256",           "expires"};
const int kFieldCount = 7;

bool sodiumReady()
{
    static const bool bReady = sodium_init() >= 0;
    return bReady;
}

bool isPlainFileName(const QString& name)
{
    static const QRegularExpression plain(
        QStringLiteral("^[A-Za-z0-9_+~-][A-Za-z0-9._+~-]{0,199}$"));
    return plain.match(name).hasMatch();
}

bool isVersion(const QString& version)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._+~-]+$"));
    return version.size() <= UpdateRecordUtils::kMaxVersionChars &&
           allowed.match(version).hasMatch();
}

} // namespace

bool UpdateRecordUtils::parse(const QByteArray& bytes, QUpdateRecord* pRecord)
{
    // One line feed after each line, the last included; no carriage returns, no blank lines.
    if (bytes.size() > 4096 || !bytes.endsWith('\n') || bytes.contains('\r'))
        return false;
    const QList<QByteArray> lines = bytes.left(bytes.size() - 1).split('\n');
    if (lines.size() != kFieldCount)
        return false;
    QStringList values;
    for (int i = 0; i < kFieldCount; ++i) {
        const QByteArray prefix = QByteArray(kFields[i]) + ' ';
        if (!lines.at(i).startsWith(prefix))
            return false;
        values << QString::fromUtf8(lines.at(i).mid(prefix.size()));
    }
    QUpdateRecord record;
    bool bSizeOk = false;
    record.version = values.at(1);
    record.platform = values.at(2);
    record.file = values.at(3);
    record.nSize = values.at(4).toLongLong(&bSizeOk);
    record.sha256 = values.at(5).toLatin1();
    record.expires = QDateTime::fromString(values.at(6), Qt::ISODate);
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    const bool bOk =
        values.at(0) == QLatin1String("1") && isVersion(record.version) &&
        (record.platform == QLatin1String("linux") || record.platform == QLatin1String("deb")) &&
        isPlainFileName(record.file) && bSizeOk && record.nSize > 0 &&
        hex.match(values.at(5)).hasMatch() && record.expires.isValid() &&
        record.expires.timeSpec() == Qt::UTC;
    if (bOk)
        *pRecord = record;
    return bOk;
}

QByteArray UpdateRecordUtils::format(const QUpdateRecord& record)
{
    const QStringList values{QStringLiteral("1"),
                             record.version,
                             record.platform,
                             record.file,
                             QString::number(record.nSize),
                             QString::fromLatin1(record.sha256),
                             record.expires.toUTC().toString(Qt::ISODate)};
    QByteArray bytes;
    for (int i = 0; i < kFieldCount; ++i)
        bytes += QByteArray(kFields[i]) + ' ' + values.at(i).toUtf8() + '\n';
    return bytes;
}

bool UpdateRecordUtils::verifySignature(const QByteArray& record, const QByteArray& signature,
                                        const QList<QByteArray>& keys)
{
    if (!sodiumReady() || signature.size() != kSignatureBytes)
        return false;
    for (const QByteArray& key : keys) {
        if (key.size() != kPublicKeyBytes)
            continue;
        if (crypto_sign_verify_detached(
                reinterpret_cast<const unsigned char*>(signature.constData()),
                reinterpret_cast<const unsigned char*>(record.constData()),
                static_cast<unsigned long long>(record.size()),
                reinterpret_cast<const unsigned char*>(key.constData())) == 0)
            return true;
    }
    return false;
}

UpdateRecordUtils::Verdict
UpdateRecordUtils::check(const QByteArray& bytes, const QByteArray& signature,
                         const QList<QByteArray>& keys, const QDateTime& now,
                         const QString& currentVersion, QUpdateRecord* pRecord)
{
    // Nothing of an unsigned record is read: the signature comes first.
    if (!verifySignature(bytes, signature, keys))
        return BadSignature;
    QUpdateRecord record;
    if (!parse(bytes, &record))
        return Malformed;
    if (record.expires <= now)
        return Expired;
    if (FvVersionComparator::CompareVersions(record.version.toStdString(),
                                             currentVersion.toStdString()) !=
        FvVersionComparator::kDescending)
        return NotNewer;
    *pRecord = record;
    return Trusted;
}

const char* UpdateRecordUtils::verdictText(Verdict verdict)
{
    switch (verdict) {
    case Trusted:
        return "trusted";
    case Malformed:
        return "malformed record";
    case BadSignature:
        return "no valid signature from a key this build holds";
    case Expired:
        return "record expired";
    case NotNewer:
        return "not newer than the running version";
    }
    return "";
}

QByteArray UpdateRecordUtils::sign(const QByteArray& record, const QByteArray& secretKey)
{
    if (!sodiumReady() || secretKey.size() != kSecretKeyBytes)
        return QByteArray();
    QByteArray signature(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(record.constData()),
                         static_cast<unsigned long long>(record.size()),
                         reinterpret_cast<const unsigned char*>(secretKey.constData()));
    return signature;
}

bool UpdateRecordUtils::generateKeyPair(QByteArray* pPublicKey, QByteArray* pSecretKey)
{
    if (!sodiumReady())
        return false;
    pPublicKey->resize(kPublicKeyBytes);
    pSecretKey->resize(kSecretKeyBytes);
    return crypto_sign_keypair(reinterpret_cast<unsigned char*>(pPublicKey->data()),
                               reinterpret_cast<unsigned char*>(pSecretKey->data())) == 0;
}

QList<QByteArray> UpdateRecordUtils::parseKeys(const QString& text)
{
    QList<QByteArray> keys;
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
        const QByteArray key = QByteArray::fromBase64(word.toLatin1());
        if (key.size() == kPublicKeyBytes)
            keys << key;
    }
    return keys;
}
