#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// One signed release record: which file is the release of which version for which platform,
// how large it is, its SHA-256 and until when the record may be believed. The publisher's
// Ed25519 signature covers the record's exact bytes, so nothing in it can be changed by whoever
// serves the feed. The record is text, one "name value" pair a line, in this order:
//
//   thermora-release 1
//   version 1.2
//   platform linux
//   file thermora-1.2.tar.gz
//   size 1234567
//   sha256 <64 hex digits>
//   expires 2027-06-01T00:00:00Z
struct QUpdateRecord
{
    QString version;
    QString platform; // "linux" (a .tar.gz tree) or "deb" (the Debian package)
    QString file;     // a plain file name, no folders
    qint64 nSize = 0;
    QByteArray sha256; // lower-case hex
    QDateTime expires; // UTC
};

namespace UpdateRecordUtils {

// Why a record is not believed; Trusted when it is.
enum Verdict
{
    Trusted,
    Malformed,
    BadSignature,
    Expired,
    NotNewer
};

const int kPublicKeyBytes = 32;
const int kSecretKeyBytes = 64;
const int kSignatureBytes = 64;
// A version string longer than this is not one.
const int kMaxVersionChars = 64;

// Strict: every line present, in order, nothing else; false on anything else.
bool parse(const QByteArray& bytes, QUpdateRecord* pRecord);
QByteArray format(const QUpdateRecord& record);

// True when the detached signature over record is valid under one of the keys.
bool verifySignature(const QByteArray& record, const QByteArray& signature,
                     const QList<QByteArray>& keys);
// Signature, parse, expiry (against now) and version (newer than current), in that order.
Verdict check(const QByteArray& bytes, const QByteArray& signature, const QList<QByteArray>& keys,
              const QDateTime& now, const QString& currentVersion, QUpdateRecord* pRecord);
// Words for the log.
const char* verdictText(Verdict verdict);

// The detached signature of record under an Ed25519 secret key (64 bytes); empty when the key
// is not one.
QByteArray sign(const QByteArray& record, const QByteArray& secretKey);
// A new key pair; false when the system's random source fails.
bool generateKeyPair(QByteArray* pPublicKey, QByteArray* pSecretKey);
// Base64 keys separated by white space, commas or semicolons; keys of the wrong length are
// left out.
QList<QByteArray> parseKeys(const QString& text);

} // namespace UpdateRecordUtils
