#pragma once

#include <QString>

// Temperatures are kept in degrees Celsius everywhere; these helpers convert only for display
// and input, following the integer setting "Fahrenheit" (0 = Celsius, anything else =
// Fahrenheit). The setting is read at every call so a change applies at the next display.
// Without a settings store the scale is Celsius.

// c * 9 / 5 + 32, truncated toward zero.
int celsiusToFahrenheit(int c);
double celsiusToFahrenheit(double c);

// The user chose Fahrenheit. The misspelling is the established name of this call.
bool isFehrenheit();

// The degree sign followed by "F" or "C".
QString getTemperatureScaleSymbol();

int getTemperatureValueForCurrentScale(int c);
double getTemperatureValueForCurrentScale(double c);

// A whole value in the user's scale back to Celsius, rounded to the nearest degree (half up):
// every whole Celsius degree shown in Fahrenheit converts back to itself.
int getCelsiusTemperatureFromValue(int v);
