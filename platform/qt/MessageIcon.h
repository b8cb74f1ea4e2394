#pragma once

#include "platform/Message.h"

#include <QMessageBox>

namespace platform
{

// The Qt message box icon for a message's icon.
inline QMessageBox::Icon ToQtMessageIcon(EMessageIcon eIcon)
{
    switch (eIcon)
    {
    case EMessageIcon::Warning:
        return QMessageBox::Warning;
    case EMessageIcon::Information:
        return QMessageBox::Information;
    case EMessageIcon::Critical:
        return QMessageBox::Critical;
    case EMessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace platform
