#pragma once
// The controls of a dialog template as toolkit widgets, for the platform's
// own use.

#include "DialogTemplate.h"
#include "DialogUnits.h"

#include <QFont>
#include <QWidget>

// The font of a dialog. Windows' logical dialog faces ("MS Shell Dlg", ...)
// do not exist here: they become the system's general font family, at the
// template's size.
QFont DialogFont(const char* face, int pointSize);
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Creates the control at its place in the dialog, shown unless it is hidden.
QWidget* CreateControl(const ControlTemplate& control, DialogBaseUnits units, QWidget* dialog);
