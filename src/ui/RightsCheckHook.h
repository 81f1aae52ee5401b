#pragma once

class QWidget;

// The check that the key-writing tool has the rights it needs before a fan is commanded.
// When the rights are missing it asks the administrator to grant them and warns (a message box
// over pParent) if they still cannot be had; bAsked becomes true when the administrator was
// asked and is left alone otherwise. Nothing else depends on its outcome: the caller goes on.
//
// Not built yet: this hook checks nothing, asks nothing and leaves bAsked alone. The fan
// control dialog already calls it at the right moment, before a mode is applied.
namespace RightsCheckUtils {
void checkRightsAndWarnIfNeeded(QWidget* pParent, bool& bAsked);
} // namespace RightsCheckUtils
