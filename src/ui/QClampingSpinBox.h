#pragma once

#include <QSpinBox>

// A spin box for a value the user types in full: it takes any number of digits, also beyond
// the maximum, and when the text is taken (Enter, leaving the box, interpretText) a value
// outside the range becomes the nearest bound. A plain spin box refuses the last digit of a
// number above its maximum and turns what is left into its minimum, so a user typing a speed
// above the top would get the lowest one.
class QClampingSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit QClampingSpinBox(QWidget* pParent = nullptr);

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    // Digits out of range become the nearest bound's text.
    void fixup(QString& text) const override;
    int valueFromText(const QString& text) const override;

private:
    // The digits of text without prefix, suffix and blanks; empty when there is anything else.
    QString digitsOf(const QString& text) const;
};
