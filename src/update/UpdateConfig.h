#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QUrl;

// Where the program looks for updates, whom it believes and when it first looks. The feed
// address and the publishers' public keys are fixed at build time. THERMORA_UPDATE_FEED
// replaces the address with another https address, or with a plain-http one on this machine
// (127.0.0.1, localhost: self-hosting and tests); THERMORA_UPDATE_DELAY replaces the start delay
// in seconds.
namespace UpdateConfig {
// Empty when no allowed address is known.
QString feedUrl();
// The start delay in seconds; 60 unless the variable holds a whole number from 0 up.
int startDelaySecs();
// The Ed25519 keys whose signatures this build believes (more than one while a key is rotated).
QList<QByteArray> publicKeys();
// https with a host; plain http only to this machine, and only while THERMORA_UPDATE_FEED names
// such a feed. Applies to the feed, every download and every redirect.
bool isAllowedUrl(const QUrl& url);
} // namespace UpdateConfig
