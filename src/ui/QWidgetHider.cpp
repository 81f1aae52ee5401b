#include "ui/QWidgetHider.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>

namespace {
// Where a hidden widget keeps the focus policy it had, so that showing it again gives a label
// back its NoFocus instead of turning it into a tab stop.
const char* const kSavedFocusPolicy = "thermoraHiderFocusPolicy";
} // namespace

QWidgetHider::QWidgetHider(QObject* pParent) : QObject(pParent)
{}

void QWidgetHider::setVisible(QWidget* pWidget, bool bVisible)
{
    if (!pWidget) {
        return;
    }
    setVisibleOne(pWidget, bVisible);
    // The inner widgets (a spin box's line edit) paint and take input on their own, so each
    // gets the same treatment. Pop-up windows (a combo box's list) are not part of the layout.
    const QList<QWidget*> children = pWidget->findChildren<QWidget*>();
    for (QWidget* pChild : children) {
        if (!pChild->isWindow()) {
            setVisibleOne(pChild, bVisible);
        }
    }
}

void QWidgetHider::setVisibleOne(QWidget* pWidget, bool bVisible)
{
    if (bVisible) {
        pWidget->removeEventFilter(this);
        const QVariant saved = pWidget->property(kSavedFocusPolicy);
        pWidget->setFocusPolicy(saved.isValid() ? static_cast<Qt::FocusPolicy>(saved.toInt())
                                                : Qt::StrongFocus);
        pWidget->setProperty(kSavedFocusPolicy, QVariant());
    } else {
        if (!pWidget->property(kSavedFocusPolicy).isValid()) {
            pWidget->setProperty(kSavedFocusPolicy, static_cast<int>(pWidget->focusPolicy()));
        }
        pWidget->setFocusPolicy(Qt::NoFocus);
        pWidget->clearFocus();
        // Installing twice would only move the filter to the front; remove first to keep one.
        pWidget->removeEventFilter(this);
        pWidget->installEventFilter(this);
    }
    pWidget->update();
}

bool QWidgetHider::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    const int type = pEvent->type();
    if (type >= QEvent::MouseButtonPress && type <= QEvent::Paint) {
        return true;
    }
    return QObject::eventFilter(pWatched, pEvent);
}
