#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

// One key of a controller's table: four key characters, four type characters, the value bytes
// (0 to 32 of them, so the value's size is the number of bytes) and the attribute byte.
struct QSimKey
{
    QByteArray key;
    QByteArray type;
    QByteArray bytes;
    quint8 attributes = 0;
};

// The key dump: the text form in which a controller's key table is listed, one key a line:
//
//     "  TC0P  [sp78]  45.5 (bytes 2d 80)"
//
// - the key (exactly four characters, blanks and punctuation allowed) is the four characters
//   right before the two blanks that precede the bracketed type; anything before the key must
//   be white space (written lines are indented by two blanks);
// - the type is exactly four characters in brackets and may end in blanks ("ui8 ");
// - the decoded value between the type and "(bytes" is for people and is ignored on load;
// - "(bytes ...)" ends the line and lists the value as two-digit hexadecimal bytes, at most 32
//   of them; "(bytes)" is a key of size 0.
// Blank lines are skipped. A line with "#" in its first column is a comment; key lines whose key
// begins with "#" ("#KEY") are therefore always indented. "#KEY" is never taken from a file: it
// is derived from the number of keys (itself included). Keys are unique and the table is kept
// sorted by byte-wise key order, as the controller's key index is.
namespace SimDumpUtils {

constexpr int kMaxValueBytes = 32;
extern const char kKeyCountKey[]; // "#KEY"

// Four characters packed with the first one most significant, as the controller wants them.
quint32 packCode(const QByteArray& fourChars);
QByteArray unpackCode(quint32 nCode);

// The human-readable value of common types (sp78, fpe2, ui8/16/32, si8/16/32, flag, ch8*,
// {fds, flt ...); empty when the type has no readable form or the size does not fit it.
QByteArray decodeValue(const QByteArray& type, const QByteArray& bytes);

// A numeric value in the key's own type (SmcCodecUtils::decodeNumber). False for other types or
// a size that does not fit.
bool decodeNumber(const QByteArray& type, const QByteArray& bytes, double& dValue);
// Encodes into bytes (whose size is kept), rounding and clamping to what the type can hold.
bool encodeNumber(const QByteArray& type, double dValue, QByteArray& bytes);

// One dump line without a line break; the parser reads it back to the same key, type and bytes.
QByteArray formatDumpLine(const QByteArray& key, const QByteArray& type, const QByteArray& bytes);
QByteArray formatDump(const QVector<QSimKey>& keys);

// Parses one line. Returns 1 for a key line (fills key), 0 for a line to skip, -1 on error
// (fills reason).
int parseDumpLine(const QByteArray& line, QSimKey& key, QString* pReason);

// Parses a whole dump; on error names fileName and the 1-based line number in *pError and
// leaves keys untouched. The result is sorted and carries the derived "#KEY".
bool parseDump(const QByteArray& text, const QString& fileName, QVector<QSimKey>& keys,
               QString* pError);
bool loadDumpFile(const QString& path, QVector<QSimKey>& keys, QString* pError);
bool saveDumpFile(const QString& path, const QVector<QSimKey>& keys, QString* pError);

// Sorts by byte-wise key order and sets "#KEY" to the key count (adding it when missing).
// Duplicate keys are not checked here.
void finishTable(QVector<QSimKey>& keys);

} // namespace SimDumpUtils
