#include "SystemTrayIconEx/mac/QCocoaSystemTrayIconEx.h"

#include "SystemTrayIconEx/StatusItemHelpers.h"
#include "core/TemperatureScaleHelpers.h"

#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>

#import <AppKit/AppKit.h>

// Built for macOS 10.13 and later (the toolkit's own minimum), so notifications always go
// through the user-notification centre; the older scripted notification path is not built.

class QCocoaSystemTrayIconEx;

@class QNSImageViewEx;

@interface QNSStatusItemEx : NSObject <NSUserNotificationCenterDelegate> {
@public
    QCocoaSystemTrayIconEx* systray;
    NSStatusItem* item;
    QPointer<QMenu> menu;
    bool menuVisible;
    QIcon icon;
    QNSImageViewEx* imageCell;
}
- (id)initWithSysTray:(QCocoaSystemTrayIconEx*)sys;
- (void)dealloc;
- (NSStatusItem*)item;
- (QRect)geometry;
- (void)triggerSelector:(id)sender button:(Qt::MouseButton)mouseButton;
- (void)doubleClickSelector:(id)sender;
- (void)reapplyIcon;
@end

@interface QNSImageViewEx : NSImageView {
@public
    BOOL down;
    QNSStatusItemEx* parent;
}
- (id)initWithParent:(QNSStatusItemEx*)myParent;
- (void)menuTrackingDone:(NSNotification*)notification;
- (void)mousePressed:(NSEvent*)mouseEvent button:(Qt::MouseButton)mouseButton;
- (float)statusItemLength;
@end

namespace {
CGFloat menuBarHeight()
{
    return [[[NSApplication sharedApplication] mainMenu] menuBarHeight];
}

// A picture of the toolkit as an image of AppKit, for drawing into the view.
NSImage* toNSImage(const QImage& source)
{
    if (source.isNull()) {
        return nil;
    }
    const QImage image = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    CGColorSpaceRef colorSpace = CGColorSpaceCreateWithName(kCGColorSpaceSRGB);
    CGContextRef context =
        CGBitmapContextCreate(const_cast<uchar*>(image.constBits()), image.width(), image.height(),
                              8, image.bytesPerLine(), colorSpace,
                              kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Host);
    CGImageRef cgImage = CGBitmapContextCreateImage(context);
    const qreal ratio = image.devicePixelRatio();
    NSImage* nsImage =
        [[NSImage alloc] initWithCGImage:cgImage
                                    size:NSMakeSize(image.width() / ratio, image.height() / ratio)];
    CGImageRelease(cgImage);
    CGContextRelease(context);
    CGColorSpaceRelease(colorSpace);
    return [nsImage autorelease];
}

qreal pixelRatio()
{
    return QCoreApplication::testAttribute(Qt::AA_UseHighDpiPixmaps) ? qApp->devicePixelRatio()
                                                                     : 1.0;
}
} // namespace

struct QCocoaSystemTrayIconEx::StatusItemHolder
{
    QNSStatusItemEx* item = nil;
};

QCocoaSystemTrayIconEx::QCocoaSystemTrayIconEx(QObject* pParent)
    : QPlatformSystemTrayIconEx(pParent), m_pStatusItem(new StatusItemHolder)
{}

QCocoaSystemTrayIconEx::~QCocoaSystemTrayIconEx()
{
    cleanup();
}

void QCocoaSystemTrayIconEx::init()
{
    if (!m_pStatusItem->item) {
        m_pStatusItem->item = [[QNSStatusItemEx alloc] initWithSysTray:this];
    }
    [[NSUserNotificationCenter defaultUserNotificationCenter] setDelegate:m_pStatusItem->item];
}

void QCocoaSystemTrayIconEx::cleanup()
{
    QNSStatusItemEx* pItem = m_pStatusItem->item;
    if (!pItem) {
        return;
    }
    [pItem->imageCell setHidden:YES];
    NSUserNotificationCenter* center = [NSUserNotificationCenter defaultUserNotificationCenter];
    if (center.delegate == pItem) {
        center.delegate = nil;
    }
    [pItem release];
    m_pStatusItem->item = nil;
}

void QCocoaSystemTrayIconEx::updateIcon(const QIcon& icon)
{
    QNSStatusItemEx* pItem = m_pStatusItem->item;
    if (!pItem) {
        return;
    }
    pItem->icon = icon;
    [[pItem item] setLength:[pItem->imageCell statusItemLength]];
    [pItem->imageCell setNeedsDisplay:YES];
}

void QCocoaSystemTrayIconEx::updateToolTip(const QString& toolTip)
{
    QNSStatusItemEx* pItem = m_pStatusItem->item;
    if (pItem) {
        [pItem->imageCell setToolTip:toolTip.toNSString()];
    }
}

void QCocoaSystemTrayIconEx::updateMenu(QMenu* pMenu)
{
    QNSStatusItemEx* pItem = m_pStatusItem->item;
    if (!pItem) {
        return;
    }
    pItem->menu = pMenu;
    [[pItem item] setHighlightMode:(pMenu && !pMenu->actions().isEmpty()) ? YES : NO];
}

QRect QCocoaSystemTrayIconEx::geometry() const
{
    QNSStatusItemEx* pItem = m_pStatusItem->item;
    return pItem ? [pItem geometry] : QRect();
}

void QCocoaSystemTrayIconEx::showMessage(const QString& title, const QString& message,
                                         const QIcon& /*icon*/, MessageIcon /*iconType*/,
                                         int /*msecs*/)
{
    if (!m_pStatusItem->item) {
        return;
    }
    NSUserNotification* notification = [[NSUserNotification alloc] init];
    notification.title = title.toNSString();
    notification.informativeText = message.toNSString();
    [[NSUserNotificationCenter defaultUserNotificationCenter] deliverNotification:notification];
    [notification release];
}

bool QCocoaSystemTrayIconEx::isSystemTrayAvailable() const
{
    return true;
}

bool QCocoaSystemTrayIconEx::supportsMessages() const
{
    return true;
}

@implementation QNSStatusItemEx

- (id)initWithSysTray:(QCocoaSystemTrayIconEx*)sys
{
    self = [super init];
    if (self) {
        systray = sys;
        item =
            [[[NSStatusBar systemStatusBar] statusItemWithLength:NSSquareStatusItemLength] retain];
        menu = nullptr;
        menuVisible = false;
        imageCell = [[QNSImageViewEx alloc] initWithParent:self];
        [item setView:imageCell];
    }
    return self;
}

- (void)dealloc
{
    [[NSStatusBar systemStatusBar] removeStatusItem:item];
    [[NSNotificationCenter defaultCenter] removeObserver:imageCell];
    [imageCell release];
    [item release];
    [super dealloc];
}

- (NSStatusItem*)item
{
    return item;
}

- (QRect)geometry
{
    NSWindow* window = [imageCell window];
    if (!window) {
        return QRect();
    }
    const NSRect frame = [window frame];
    const NSRect screen = [[window screen] frame];
    return StatusItemHelpers::toolkitGeometry(frame.origin.x, frame.origin.y, frame.size.width,
                                              frame.size.height, screen.size.height);
}

- (void)triggerSelector:(id)sender button:(Qt::MouseButton)mouseButton
{
    Q_UNUSED(sender);
    if (!systray) {
        return;
    }
    systray->emitActivated(mouseButton == Qt::MiddleButton ? QPlatformSystemTrayIconEx::MiddleClick
                                                           : QPlatformSystemTrayIconEx::Trigger);
}

- (void)doubleClickSelector:(id)sender
{
    Q_UNUSED(sender);
    if (systray) {
        systray->emitActivated(QPlatformSystemTrayIconEx::DoubleClick);
    }
}

- (void)reapplyIcon
{
    if (systray) {
        systray->updateIcon(icon);
    }
}

- (BOOL)userNotificationCenter:(NSUserNotificationCenter*)center
     shouldPresentNotification:(NSUserNotification*)notification
{
    Q_UNUSED(center);
    Q_UNUSED(notification);
    return YES;
}

- (void)userNotificationCenter:(NSUserNotificationCenter*)center
       didActivateNotification:(NSUserNotification*)notification
{
    Q_UNUSED(center);
    Q_UNUSED(notification);
    if (systray) {
        systray->emitMessageClicked();
    }
}

@end

@implementation QNSImageViewEx

- (id)initWithParent:(QNSStatusItemEx*)myParent
{
    self = [super init];
    if (self) {
        parent = myParent;
        down = NO;
    }
    return self;
}

- (float)statusItemLength
{
    if (!parent || !parent->systray) {
        return 6;
    }
    return StatusItemHelpers::statusItemLength(parent->systray->menuBarState(), isFehrenheit());
}

- (NSMutableAttributedString*)attributedString
{
    const StatusItemHelpers::StatusItemText text =
        StatusItemHelpers::statusItemText(parent->systray->menuBarState(), isFehrenheit());
    if (text.text.isEmpty()) {
        return nil;
    }
    NSMutableAttributedString* string =
        [[[NSMutableAttributedString alloc] initWithString:text.text.toNSString()] autorelease];
    const NSRange whole = NSMakeRange(0, [string length]);
    if (text.bCentred) {
        NSMutableParagraphStyle* style =
            [[[NSParagraphStyle defaultParagraphStyle] mutableCopy] autorelease];
        [style setAlignment:NSTextAlignmentCenter];
        [string addAttribute:NSParagraphStyleAttributeName value:style range:whole];
    }
    [string addAttribute:NSFontAttributeName
                   value:[NSFont fontWithName:@"Lucida Grande" size:text.nFontSize]
                   range:whole];
    if (parent->menu && parent->menuVisible) {
        [string addAttribute:NSForegroundColorAttributeName value:[NSColor whiteColor] range:whole];
    }
    return string;
}

- (void)drawRect:(NSRect)rect
{
    [[parent item] drawStatusBarBackgroundInRect:rect withHighlight:down];
    const QStatusItemState& state = parent->systray->menuBarState();
    const CGFloat barHeight = menuBarHeight();

    int iconSize = 0;
    if (state.m_ShowIcon != 0) {
        const QIcon& icon = parent->icon;
        const QList<QSize> sizes = icon.availableSizes();
        iconSize = (icon.isNull() || sizes.isEmpty()) ? int(barHeight) - 4 : sizes.first().width();
        const QPixmap pixmap =
            icon.isNull() ? QPixmap() : icon.pixmap(QSize(iconSize * 10, iconSize));
        const qreal ratio = pixelRatio();
        const int stripWidth = pixmap.isNull() ? iconSize : pixmap.width();
        QImage strip(QSize(stripWidth, int(barHeight)) * ratio,
                     QImage::Format_ARGB32_Premultiplied);
        strip.setDevicePixelRatio(ratio);
        strip.fill(Qt::transparent);
        if (!pixmap.isNull()) {
            QPainter painter(&strip);
            const QSizeF size = QSizeF(pixmap.size()) / pixmap.devicePixelRatio();
            painter.drawPixmap(QRectF(QPointF((stripWidth - size.width()) / 2.0,
                                              (barHeight - size.height()) / 2.0),
                                      size),
                               pixmap, QRectF(pixmap.rect()));
        }
        [toNSImage(strip) drawInRect:NSMakeRect(4, 1, iconSize, barHeight)
                            fromRect:NSZeroRect
                           operation:NSCompositingOperationSourceOver
                            fraction:1.0];
    }
    if (state.m_DisplayFlags != 0) {
        NSMutableAttributedString* string = [self attributedString];
        const int lines = state.m_DisplayFlags == 3 ? 2 : 1;
        [string drawAtPoint:NSMakePoint(StatusItemHelpers::textX(state, iconSize),
                                        StatusItemHelpers::textBottom(lines))];
    }
}

- (void)menuTrackingDone:(NSNotification*)notification
{
    Q_UNUSED(notification);
    [[NSNotificationCenter defaultCenter] removeObserver:self
                                                    name:NSMenuDidEndTrackingNotification
                                                  object:nil];
    down = NO;
    [parent reapplyIcon];
    parent->menuVisible = false;
    [self setNeedsDisplay:YES];
}

- (void)mousePressed:(NSEvent*)mouseEvent button:(Qt::MouseButton)mouseButton
{
    down = YES;
    [self setNeedsDisplay:YES];
    [parent reapplyIcon];

    if ([mouseEvent clickCount] == 2) {
        [self menuTrackingDone:nil];
        [parent doubleClickSelector:self];
        return;
    }
    [parent triggerSelector:self button:mouseButton];
    if (parent->menu) {
        NSMenu* nsMenu = parent->menu->toNSMenu();
        [[NSNotificationCenter defaultCenter] addObserver:self
                                                 selector:@selector(menuTrackingDone:)
                                                     name:NSMenuDidEndTrackingNotification
                                                   object:nsMenu];
        parent->menuVisible = true;
        [[parent item] popUpStatusItemMenu:nsMenu];
    }
}

- (void)mouseDown:(NSEvent*)mouseEvent
{
    [self mousePressed:mouseEvent button:Qt::LeftButton];
}

- (void)mouseUp:(NSEvent*)mouseEvent
{
    Q_UNUSED(mouseEvent);
    [self menuTrackingDone:nil];
}

- (void)rightMouseDown:(NSEvent*)mouseEvent
{
    [self mousePressed:mouseEvent button:Qt::RightButton];
}

- (void)rightMouseUp:(NSEvent*)mouseEvent
{
    Q_UNUSED(mouseEvent);
    [self menuTrackingDone:nil];
}

- (void)otherMouseDown:(NSEvent*)mouseEvent
{
    // Button numbers above the right one map to the toolkit's buttons of the same number.
    const Qt::MouseButton button =
        Qt::MouseButton(uint(Qt::LeftButton) << [mouseEvent buttonNumber]);
    [self mousePressed:mouseEvent button:button];
}

- (void)otherMouseUp:(NSEvent*)mouseEvent
{
    Q_UNUSED(mouseEvent);
    [self menuTrackingDone:nil];
}

@end
