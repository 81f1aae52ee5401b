#pragma once

#include <QString>

// Where the program looks for updates and when it first does. The feed address is fixed at
// build time; THERMORA_UPDATE_FEED replaces it (self-hosting, tests) and THERMORA_UPDATE_DELAY
// the start delay in seconds.
namespace UpdateConfig {
QString feedUrl();
// The start delay in seconds; 60 unless the variable holds a whole number from 0 up.
int startDelaySecs();
} // namespace UpdateConfig
