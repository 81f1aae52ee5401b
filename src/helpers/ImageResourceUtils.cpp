#include "helpers/ImageResourceUtils.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used from the global namespace.
static void initImageResources()
{
    Q_INIT_RESOURCE(images);
}

void ImageResourceUtils::registerImages()
{
    static std::once_flag once;
    std::call_once(once, initImageResources);
}
