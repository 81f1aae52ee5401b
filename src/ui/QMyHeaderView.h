#pragma once

#include <QHeaderView>

// The horizontal header of the main window's tables: one fixed, compact height.
class QMyHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit QMyHeaderView(QWidget* pParent = nullptr);

    QSize sizeHint() const override;
    static int headerHeight() { return 20; }
};
