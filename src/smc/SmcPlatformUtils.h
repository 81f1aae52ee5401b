#pragma once

class QSmcControl;

// The platform's choice of SMC backend, made once when the key layer's instance is created.
namespace SmcPlatformUtils {

// A new, not yet opened backend for this platform; never null.
QSmcControl* createControl();

} // namespace SmcPlatformUtils
