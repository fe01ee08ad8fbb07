#include "controls/Graphics.h"

#include <QPalette>

QColor ColorToQColor(TColor color, const QPalette& palette)
{
    if ((color & clSystemColor) == 0)
        return RawColor(color);
    // The system colours by index, mapped onto the roles of this platform's palette.
    switch (color & 0xFF) {
    case 1:  // desktop
    case 12: // application workspace
        return palette.color(QPalette::Active, QPalette::Dark);
    case 2:  // active caption
    case 13: // highlight
        return palette.color(QPalette::Active, QPalette::Highlight);
    case 3: // inactive caption
        return palette.color(QPalette::Inactive, QPalette::Highlight);
    case 5: // window background
        return palette.color(QPalette::Active, QPalette::Base);
    case 6:  // window frame
    case 21: // dark 3D shadow
        return palette.color(QPalette::Active, QPalette::Shadow);
    case 7: // menu text
    case 8: // window text
        return palette.color(QPalette::Active, QPalette::WindowText);
    case 9:  // caption text
    case 14: // highlighted text
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    case 16: // button shadow
        return palette.color(QPalette::Active, QPalette::Dark);
    case 17: // grey text
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18: // button text
        return palette.color(QPalette::Active, QPalette::ButtonText);
    case 19: // inactive caption text
        return palette.color(QPalette::Inactive, QPalette::HighlightedText);
    case 20: // button highlight
        return palette.color(QPalette::Active, QPalette::Light);
    case 22: // 3D light
        return palette.color(QPalette::Active, QPalette::Midlight);
    case 23: // tooltip text
        return palette.color(QPalette::Active, QPalette::ToolTipText);
    case 24: // tooltip background
        return palette.color(QPalette::Active, QPalette::ToolTipBase);
    case 0:  // scroll bar
    case 4:  // menu
    case 10: // active border
    case 11: // inactive border
    case 15: // button face
    default:
        return palette.color(QPalette::Active, QPalette::Button);
    }
}
