#include "ui/QClampingSpinBox.h"

#include <algorithm>

QClampingSpinBox::QClampingSpinBox(QWidget* pParent) : QSpinBox(pParent)
{}

QString QClampingSpinBox::digitsOf(const QString& text) const
{
    QString core = text;
    if (core.startsWith(prefix()))
        core.remove(0, prefix().size());
    if (!suffix().isEmpty() && core.endsWith(suffix()))
        core.chop(suffix().size());
    core = core.trimmed();
    const bool bDigits =
        std::all_of(core.cbegin(), core.cend(), [](QChar c) { return c.isDigit(); });
    return bDigits ? core : QString();
}

QValidator::State QClampingSpinBox::validate(QString& text, int& pos) const
{
    const QString digits = digitsOf(text);
    if (digits.isEmpty() || minimum() < 0)
        return QSpinBox::validate(text, pos); // signs and empty text: the usual rules
    bool bOk = false;
    const qlonglong value = digits.toLongLong(&bOk);
    if (bOk && value >= minimum() && value <= maximum())
        return QValidator::Acceptable;
    // Out of range, however long: the value is clamped when the text is taken.
    return QValidator::Intermediate;
}

void QClampingSpinBox::fixup(QString& text) const
{
    if (digitsOf(text).isEmpty())
        QSpinBox::fixup(text);
    else
        text = textFromValue(valueFromText(text));
}

int QClampingSpinBox::valueFromText(const QString& text) const
{
    const QString digits = digitsOf(text);
    if (digits.isEmpty())
        return QSpinBox::valueFromText(text);
    bool bOk = false;
    const qlonglong value = digits.toLongLong(&bOk);
    if (!bOk) // more digits than any number holds: far above the top
        return maximum();
    return static_cast<int>(std::clamp<qlonglong>(value, minimum(), maximum()));
}
