#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

// Answers every message box that comes up while it lives, as a user pressing OK: records its
// text and runs onShown first (to look at the program while the box is open).
class QMessageBoxCloser : public QObject
{
public:
    QMessageBoxCloser()
    {
        connect(&m_Timer, &QTimer::timeout, this, &QMessageBoxCloser::poll);
        m_Timer.start(5);
    }

    QStringList texts;
    std::function<void()> onShown;

private:
    void poll()
    {
        for (QWidget* pWidget : QApplication::topLevelWidgets()) {
            auto* pBox = qobject_cast<QMessageBox*>(pWidget);
            if (pBox && pBox->isVisible()) {
                texts << pBox->text();
                if (onShown)
                    onShown();
                pBox->done(QMessageBox::Ok);
            }
        }
    }
    QTimer m_Timer;
};
