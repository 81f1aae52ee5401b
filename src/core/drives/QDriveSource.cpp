#include "core/drives/QDriveSource.h"

#include <memory>
#include <mutex>

namespace {
std::mutex g_SourceMutex;
std::unique_ptr<QDriveSource> g_pSource;
} // namespace

QDriveSource* QDriveSource::instance()
{
    std::lock_guard<std::mutex> lock(g_SourceMutex);
    if (!g_pSource)
        g_pSource.reset(createPlatformDriveSource());
    return g_pSource.get();
}

void QDriveSource::setInstance(QDriveSource* pSource)
{
    std::unique_ptr<QDriveSource> pOld;
    std::lock_guard<std::mutex> lock(g_SourceMutex);
    pOld = std::move(g_pSource);
    g_pSource.reset(pSource);
}
