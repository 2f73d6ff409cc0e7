#pragma once

#include <QIcon>

// The program's icon, for its windows and the notification area: the icon
// "com.kestrum.Panel" of the hicolor icon theme. The resource collection
// carries it at every size it is shown at (":/icons/hicolor/", a place the
// theme lookup always searches), and an installed copy lives in the
// system's hicolor theme. A theme icon reads a size from its file only when
// something asks for that size: a hidden window decodes nothing, and a tray
// icon only the size its notification area shows.
namespace AppIcon {

inline QIcon icon()
{
    // Windows and the offscreen platform name no icon theme, and a lookup
    // without one finds nothing; a desktop's own theme is kept, as hicolor
    // is the theme every other one falls back to.
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName("hicolor");
    return QIcon::fromTheme("com.kestrum.Panel");
}

} // namespace AppIcon
