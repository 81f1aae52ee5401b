#pragma once

#include <QString>

// Paths that CTest hands every test, with fall-backs for a test run by hand from the build tree.
namespace TestSupport {
QString binDir();      // build/bin: thermora, smc, thermora-smcsim
QString sourceDir();   // the repository root
QString profilesDir(); // the shipped machine profiles
} // namespace TestSupport
