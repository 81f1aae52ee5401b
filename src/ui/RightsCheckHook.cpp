#include "ui/RightsCheckHook.h"

void RightsCheckUtils::checkRightsAndWarnIfNeeded(QWidget* pParent, bool& bAsked)
{
    // Deliberately empty until the rights of the key-writing tool are handled.
    (void)pParent;
    (void)bAsked;
}
