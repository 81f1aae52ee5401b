#pragma once

#include <QString>

// Reads and writes of the registered settings store (QCoreServices::preferences()) for code
// that must also run without one: then every value reads as not set (empty text, -1) and
// writes are dropped.
namespace PreferenceUtils {
QString getString(const QString& key);
int getInt(const QString& key); // -1 when not set
void setString(const QString& key, const QString& value);
void setInt(const QString& key, int nValue);
} // namespace PreferenceUtils
