#pragma once

#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"

#include <QtGlobal>

#include <memory>

Q_FORWARD_DECLARE_OBJC_CLASS(QNSStatusItemEx);

// The item in the macOS menu bar: an NSStatusItem whose view (QNSImageViewEx) draws the icon
// and the text from the menu-bar state, reports clicks and pops the menu up. The Cocoa objects
// exist between init() and cleanup(). Notifications go through the user-notification centre.
class QCocoaSystemTrayIconEx : public QPlatformSystemTrayIconEx
{
    Q_OBJECT
public:
    explicit QCocoaSystemTrayIconEx(QObject* pParent = nullptr);
    ~QCocoaSystemTrayIconEx() override;

    void init() override;
    void cleanup() override;
    void updateIcon(const QIcon& icon) override;
    void updateToolTip(const QString& toolTip) override;
    void updateMenu(QMenu* pMenu) override;
    QRect geometry() const override;
    void showMessage(const QString& title, const QString& message, const QIcon& icon,
                     MessageIcon iconType, int msecs) override;
    bool isSystemTrayAvailable() const override;
    bool supportsMessages() const override;

    // Called from the Cocoa side.
    void emitActivated(ActivationReason reason) { emit activated(reason); }
    void emitMessageClicked() { emit messageClicked(); }

private:
    struct StatusItemHolder;
    std::unique_ptr<StatusItemHolder> m_pStatusItem;
};
