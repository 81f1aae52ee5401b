#pragma once

class QDialog;
class QWidget;

// Small layout functions shared by the windows and dialogs.
namespace GraphicHelpers {
// Makes the widget's font the given number of points smaller. A null widget, or a font sized
// in pixels or too small to shrink that far, is left as it is.
void DecrementWidgetFontSize(QWidget* pWidget, double points);
// Replaces the bottom and right contents margins of the dialog's layout; -1 keeps a margin.
// A dialog without a layout is left as it is.
void decreaseDialogLayoutMargins(QDialog* pDialog, int bottom, int right);
} // namespace GraphicHelpers
