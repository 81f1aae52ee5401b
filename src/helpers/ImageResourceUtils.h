#pragma once

// The program's images (":/Resources/...") are compiled into the core library. Resources of a
// static library exist only once registered by name, so every user of an image calls this
// first; it is cheap after the first call and safe from any thread.
namespace ImageResourceUtils {
void registerImages();
} // namespace ImageResourceUtils
