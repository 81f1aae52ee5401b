#pragma once

#include <QObject>

class QWidget;

// Makes widgets invisible and inert while they keep their place in the layout, so that a
// dialog whose widgets come and go keeps one fixed size. A hidden widget (and every widget
// inside it) is neither painted nor reachable by mouse, keyboard or focus.
class QWidgetHider : public QObject
{
    Q_OBJECT
public:
    explicit QWidgetHider(QObject* pParent = nullptr);

    void setVisible(QWidget* pWidget, bool bVisible);

protected:
    // Swallows mouse, key, focus, enter/leave and paint events.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void setVisibleOne(QWidget* pWidget, bool bVisible);
};
