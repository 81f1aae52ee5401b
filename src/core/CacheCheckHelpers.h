#pragma once

#include <QString>

// Whether the discovery cache in the settings ("Fans", "TempSensors") still describes the
// machine the program runs on. A cache that does not is never used, and never written back:
// the caller discovers afresh and stores what it finds.
namespace CacheCheckHelpers {

// Text that no setting of ours can hold when intact: control characters, DEL, the replacement
// character left by undecodable bytes, or anything else that is not printable.
bool isDamagedText(const QString& text);

// Exactly four printable ASCII characters.
bool isPlausibleSmcKey(const QString& key);

// Why the cached lists cannot be used; empty when they can. fans and sensors are the settings'
// texts (fans non-empty), nControllerFans the controller's "FNum" (-1: unreadable, which says
// nothing about the cache), replacedModel the cached model identifier that this start found
// wrong (empty when it held or nothing was cached).
QString cacheProblem(const QString& fans, const QString& sensors, int nControllerFans,
                     const QString& replacedModel);

} // namespace CacheCheckHelpers
