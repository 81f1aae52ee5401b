#include "core/TemperatureScaleHelpers.h"

#include "helpers/QCoreServices.h"
#include "settings/QPreferences.h"

#include <QChar>

#include <climits>
#include <cmath>

namespace {
// Truncation toward zero that stays defined for values no int can hold (a corrupt setting or
// an absurd input must not become undefined behaviour).
int truncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}
} // namespace

int celsiusToFahrenheit(int c)
{
    return truncateToInt(c * 9.0 / 5.0 + 32.0);
}

double celsiusToFahrenheit(double c)
{
    return c * 9.0 / 5.0 + 32.0;
}

bool isFehrenheit()
{
    const QPreferences* pPreferences = QCoreServices::preferences();
    if (!pPreferences)
        return false;
    // A missing key reads -1 and therefore means Fahrenheit; start-up writes 0 when absent.
    return pPreferences->getInt(QStringLiteral("Fahrenheit"), -1) != 0;
}

QString getTemperatureScaleSymbol()
{
    return QString(QChar(0x00B0)) + (isFehrenheit() ? QLatin1Char('F') : QLatin1Char('C'));
}

int getTemperatureValueForCurrentScale(int c)
{
    return isFehrenheit() ? celsiusToFahrenheit(c) : c;
}

double getTemperatureValueForCurrentScale(double c)
{
    return isFehrenheit() ? celsiusToFahrenheit(c) : c;
}

int getCelsiusTemperatureFromValue(int v)
{
    // Rounded to the nearest degree, so that a Celsius value shown in whole degrees Fahrenheit
    // and typed back unchanged comes back as the same Celsius value.
    return isFehrenheit()
               ? truncateToInt(std::floor((static_cast<double>(v) - 32.0) * 5.0 / 9.0 + 0.5))
               : v;
}
