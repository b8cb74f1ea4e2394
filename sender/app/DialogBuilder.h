#pragma once

#include "resources/DialogTables.h"
#include "sender/app/DialogUnits.h"

#include <QFont>
#include <functional>

class QDialog;
class QWidget;

// Builds a Qt dialog from its table: the dialog font, the window's size and styles, and
// one child widget per control at its place, created in tab order. A dialog may supply
// its own widget for a control (a link, a tinted label); every control widget is named
// "control<ID>" and carries its ID in the property "controlId".
class CDialogBuilder
{
public:
    // Returns the widget for a control, or null to get the standard widget of its kind.
    using ControlFactory =
        std::function<QWidget*(const resources::SControlTemplate& control, QWidget* pParent)>;

    static QFont DialogFont(const resources::SDialogTemplate& dialog);
    static SDialogBaseUnits BaseUnitsOf(const QFont& font);

    // Lays out dialog from the table; returns the base units it used.
    static SDialogBaseUnits Build(QDialog& dialog, const resources::SDialogTemplate& table,
                                  const ControlFactory& factory = {});

    // The control widget with the given ID (the first one, for ID_STATIC), or null.
    static QWidget* Control(const QWidget& dialog, int nId);
    template <typename T> static T* Control(const QWidget& dialog, int nId)
    {
        return qobject_cast<T*>(Control(dialog, nId));
    }

    static QString ControlName(int nId);

private:
    static QWidget* CreateStandardControl(const resources::SControlTemplate& control, QWidget* pParent);
};
