#pragma once

#include "sim/SimDumpUtils.h"

#include <QString>
#include <QVector>

// Writes a folder of plain files named, numbered and formatted like the applesmc driver's
// from a controller's key table:
// - fanN_input/min/max/output from "F<N-1>Ac/Mn/Mx/Tg" in whole RPM, decoded by each key's
//   own type (fpe2, or flt on T2 and later machines), fanN_label from "F<N-1>ID" from its fifth
//   byte on, fanN_manual from bit N-1 of "FS! " or from "F<N-1>Md" reading 1, for the "FNum"
//   fans;
// - tempN_input (250 x the sp78 value shifted right by 6, in millidegrees) and tempN_label
//   (the key) for every "sp78" key between "T" and "U", numbered in index order;
// - key_count.
// A plain folder cannot act like key_at_index, so those files are not written.
namespace AppleSmcTreeUtils {

bool writeTree(const QVector<QSimKey>& keys, const QString& dir, QString* pError);
// sys_vendor and product_name of an Apple machine with the model identifier.
bool writeDmi(const QString& model, const QString& dir, QString* pError);

} // namespace AppleSmcTreeUtils
