#include "ui/colors.h"

#include <QApplication>

namespace ui {
namespace {

// The palette entry closest to each system colour, by the system colour's number.
struct SystemColor {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

constexpr SystemColor kSystemColors[] = {
    {QPalette::Active, QPalette::Mid},                // 0 scroll bar
    {QPalette::Active, QPalette::Window},             // 1 desktop background
    {QPalette::Active, QPalette::Highlight},          // 2 active caption
    {QPalette::Inactive, QPalette::Highlight},        // 3 inactive caption
    {QPalette::Active, QPalette::Window},             // 4 menu
    {QPalette::Active, QPalette::Base},               // 5 window
    {QPalette::Active, QPalette::Shadow},             // 6 window frame
    {QPalette::Active, QPalette::WindowText},         // 7 menu text
    {QPalette::Active, QPalette::Text},               // 8 window text
    {QPalette::Active, QPalette::HighlightedText},    // 9 caption text
    {QPalette::Active, QPalette::Window},             // 10 active border
    {QPalette::Inactive, QPalette::Window},           // 11 inactive border
    {QPalette::Active, QPalette::Dark},               // 12 application workspace
    {QPalette::Active, QPalette::Highlight},          // 13 highlight
    {QPalette::Active, QPalette::HighlightedText},    // 14 highlighted text
    {QPalette::Active, QPalette::Button},             // 15 button face
    {QPalette::Active, QPalette::Dark},               // 16 button shadow
    {QPalette::Disabled, QPalette::Text},             // 17 grey text
    {QPalette::Active, QPalette::ButtonText},         // 18 button text
    {QPalette::Inactive, QPalette::HighlightedText},  // 19 inactive caption text
    {QPalette::Active, QPalette::Light},              // 20 button highlight
    {QPalette::Active, QPalette::Shadow},             // 21 3D dark shadow
    {QPalette::Active, QPalette::Midlight},           // 22 3D light
    {QPalette::Active, QPalette::ToolTipText},        // 23 tooltip text
    {QPalette::Active, QPalette::ToolTipBase},        // 24 tooltip background
};

}  // namespace

QColor ColorToRGB(TColor color, const QPalette& palette) {
  if (IsSystemColor(color)) {
    unsigned index = color & 0xFF;
    if (index >= std::size(kSystemColors)) return palette.color(QPalette::Active, QPalette::Window);
    return palette.color(kSystemColors[index].group, kSystemColors[index].role);
  }
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

QColor ColorToRGB(TColor color) {
  return ColorToRGB(color, QApplication::palette());
}

}  // namespace ui
