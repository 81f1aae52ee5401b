#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Presses OK on every message box that comes up while it lives; records texts, runs onShown.
struct QMessageBoxCloser : QObject
{
    QStringList texts;
    std::function<void()> onShown;
    QTimer timer;
    QMessageBoxCloser()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget* pWidget : QApplication::topLevelWidgets())
                if (auto* pBox = qobject_cast<QMessageBox*>(pWidget); pBox && pBox->isVisible()) {
                    texts << pBox->text();
                    if (onShown)
                        onShown();
                    pBox->done(QMessageBox::Ok);
                }
        });
        timer.start(5);
    }
};
