#pragma once

#include "SystemTrayIconEx/QPlatformSystemTrayIconEx.h"

#include <QImage>
#include <QPointer>
#include <QSystemTrayIcon>

class QMenu;
class QWidget;

// The item on the toolkit's own tray icon, the platform object wherever the desktop has a
// tray rather than a menu bar of its own (linux/ makes it): the icon and the text are drawn into
// one picture as wide as the item (StatusItemPaintHelpers), which the tray shows. Clicks open the
// menu as the menu-bar item does: the toolkit's own context menu handling is not used, so that a
// left and a right click behave alike. Without a tray on the desktop the item simply stays
// invisible; the toolkit puts it into a tray that appears later.
class QQtSystemTrayIconEx : public QPlatformSystemTrayIconEx
{
    Q_OBJECT
public:
    explicit QQtSystemTrayIconEx(QObject* pParent = nullptr);
    ~QQtSystemTrayIconEx() override;

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

    // The picture last handed to the tray (null before the first draw).
    QImage renderedImage() const { return m_Image; }
    bool isMenuVisible() const { return m_bMenuVisible; }

public slots:
    // One activation as the toolkit reports it.
    void OnActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void OnMenuHidden();

private:
    void redraw();
    QPoint menuPosition() const;

    QSystemTrayIcon* m_pTrayIcon = nullptr; // owned; exists between init and cleanup
    QIcon m_Icon;
    QPointer<QMenu> m_pMenu;
    bool m_bMenuVisible = false;
    QImage m_Image;
    QPointer<QWidget> m_pTrayWidget; // the toolkit's window embedded in the tray, if any
};
