#pragma once

#include <QString>

// Runs the key-writing tool once for one write: "-k" key "-w" value (lower-case hexadecimal
// text) and waits until it exits. Its exit status and output are not examined; a missing tool
// logs "launchPath is nil". Called inside the key layer's mutex, so writes are sequential.
void setKey_external(const QString& key, const QString& value);

// Where the program finds its key-writing tool.
namespace SmcToolUtils {

// A tool that has not exited after this long is killed and the write is given up (logged).
constexpr int kToolSafetyLimitMs = 30000;

// The tool's path, empty when there is no tool file.
QString toolPath();
// Tests point the program at a tool of their own; an empty path restores the platform's.
void setToolPathOverride(const QString& path);

// Platform layer: where the tool ships (the file may be missing) and where diagnostics go.
QString platformToolPath();
void logDiagnostic(const QString& message);

} // namespace SmcToolUtils
