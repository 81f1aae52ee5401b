#pragma once

#include <functional>

class QWidget;

// The check that the key-writing tool has the rights it needs before a fan is commanded.
// When the rights are missing it asks the administrator to grant them and warns (a message box
// over pParent) if they still cannot be had; bAsked becomes true when the administrator was
// asked and is left alone otherwise. Nothing else depends on its outcome: the caller goes on,
// reads keep working and writes have no effect.
//
// It may run on a worker thread (the initial load): the warning is then shown on the GUI thread
// and the worker waits until it is closed, or until stopRequested() says the program ends.
// A key layer that writes without the tool needs no rights, and nothing is checked.
namespace RightsCheckUtils {
void checkRightsAndWarnIfNeeded(QWidget* pParent, bool& bAsked,
                                const std::function<bool()>& stopRequested = {});
// The warning alone, on the GUI thread, modal to pParent's window; returns when it is closed.
void showRightsWarning(QWidget* pParent);
} // namespace RightsCheckUtils
