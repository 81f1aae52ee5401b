#include "app/AppPlatform.h"

#include "app/FileSystemRules.h"
#include "app/app.h"

#include <QSharedMemory>

#import <AppKit/AppKit.h>
#import <CoreServices/CoreServices.h>
#import <Foundation/Foundation.h>

#include <sys/mount.h>
#include <unistd.h>

// The login-item list API is the one that works on every supported system version.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

namespace {

NSURL* bundleUrl()
{
    return [NSURL fileURLWithPath:[[NSBundle mainBundle] bundlePath]];
}

// The program's item in the user's login items, retained, or NULL. The caller releases it.
LSSharedFileListItemRef copyProgramItem(LSSharedFileListRef list)
{
    NSURL* programUrl = bundleUrl();
    UInt32 seed = 0;
    NSArray* snapshot = CFBridgingRelease(LSSharedFileListCopySnapshot(list, &seed));
    for (id entry in snapshot) {
        LSSharedFileListItemRef item = (__bridge LSSharedFileListItemRef)entry;
        CFURLRef itemUrl = NULL;
        const UInt32 flags =
            kLSSharedFileListNoUserInteraction | kLSSharedFileListDoNotMountVolumes;
        if (LSSharedFileListItemResolve(item, flags, &itemUrl, NULL) != noErr || !itemUrl)
            continue;
        const bool bMatch = [(__bridge NSURL*)itemUrl isEqual:programUrl];
        CFRelease(itemUrl);
        if (bMatch) {
            CFRetain(item);
            return item;
        }
    }
    return NULL;
}

} // namespace

namespace AppPlatformUtils {

// Launch Services and the Cocoa session are per user already.
QString singleInstanceKey()
{
    return QLatin1String(kThermoraInstanceKey);
}

// The Cocoa platform has no separate OpenGL integration to leave out.
void preferLeanGraphics()
{}

struct QInstanceLock::Impl
{
    explicit Impl(const QString& key) : memory(key) {}
    QSharedMemory memory;
};

QInstanceLock::QInstanceLock(const QString& key) : d(new Impl(key))
{}

QInstanceLock::~QInstanceLock() = default;

QInstanceLock::Result QInstanceLock::tryLock()
{
    if (d->memory.create(1, QSharedMemory::ReadWrite))
        return Acquired;
    return d->memory.error() == QSharedMemory::AlreadyExists ? Busy : Unavailable;
}

bool queryFileSystem(const QString& folder, QString& typeName, bool& bNoSuid)
{
    struct statfs fsInfo;
    if (statfs(folder.toUtf8().constData(), &fsInfo) != 0)
        return false;
    typeName = QString::fromUtf8(fsInfo.f_fstypename);
    bNoSuid = (fsInfo.f_flags & MNT_NOSUID) != 0;
    return true;
}

bool isSupportedFileSystem(const QString& typeName, bool /*bNoSuid*/)
{
    return FileSystemRulesUtils::macAllowsSetUid(typeName);
}

bool isAutoStartInstalled()
{
    @autoreleasepool {
        LSSharedFileListRef list =
            LSSharedFileListCreate(NULL, kLSSharedFileListSessionLoginItems, NULL);
        if (!list)
            return false;
        LSSharedFileListItemRef item = copyProgramItem(list);
        const bool bFound = item != NULL;
        if (item)
            CFRelease(item);
        CFRelease(list);
        return bFound;
    }
}

void installAutoStart()
{
    @autoreleasepool {
        LSSharedFileListRef list =
            LSSharedFileListCreate(NULL, kLSSharedFileListSessionLoginItems, NULL);
        if (!list)
            return;
        LSSharedFileListItemRef item = copyProgramItem(list);
        if (item) {
            CFRelease(item);
        } else {
            NSString* bundlePath = [[NSBundle mainBundle] bundlePath];
            NSString* displayName = [[NSFileManager defaultManager] displayNameAtPath:bundlePath];
            IconRef icon = NULL;
            FSRef bundleRef;
            if (CFURLGetFSRef((__bridge CFURLRef)bundleUrl(), &bundleRef))
                GetIconRefFromFileInfo(&bundleRef, 0, NULL, kFSCatInfoNone, NULL,
                                       kIconServicesNormalUsageFlag, &icon, NULL);
            LSSharedFileListItemRef newItem = LSSharedFileListInsertItemURL(
                list, kLSSharedFileListItemBeforeFirst, (__bridge CFStringRef)displayName, icon,
                (__bridge CFURLRef)bundleUrl(), NULL, NULL);
            if (newItem)
                CFRelease(newItem);
            if (icon)
                ReleaseIconRef(icon);
        }
        CFRelease(list);
    }
}

void removeAutoStart()
{
    @autoreleasepool {
        LSSharedFileListRef list =
            LSSharedFileListCreate(NULL, kLSSharedFileListSessionLoginItems, NULL);
        if (!list)
            return;
        LSSharedFileListItemRef item = copyProgramItem(list);
        if (item) {
            LSSharedFileListItemRemove(list, item);
            CFRelease(item);
        }
        CFRelease(list);
    }
}

void activateApplication(QMainWindow* /*pWindow*/)
{
    @autoreleasepool {
        [[NSApplication sharedApplication] activateIgnoringOtherApps:YES];
    }
}

// Logout and the Quit command reach a Cocoa application as Apple events, which the toolkit
// already turns into an application quit.
QString missingDisplayReason()
{
    return QString(); // the window server is always there for a logged-in user
}

void quitOnTerminationRequests()
{}

} // namespace AppPlatformUtils

#pragma clang diagnostic pop
