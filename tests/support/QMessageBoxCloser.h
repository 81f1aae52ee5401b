#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Presses OK on every message box that comes up while it lives; records texts, runs onShown.
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
