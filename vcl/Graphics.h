// Colours and fonts as the form definition names them, and their Win32 counterparts.
#pragma once

#include <windows.h>

#include "FormReader.h"

namespace vcl {

// A colour: either an RGB value (0x00BBGGRR) or a system colour (high bit set, low byte = COLOR_*).
using TColor = unsigned int;
constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clRed = 0x000000FFu;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;

COLORREF ColorToRGB(TColor color);
// A colour property of the form definition: "clRed", "clBtnFace" or "clWindowText".
TColor PropertyColor(const String& name, const TPropertyValue& value);

struct TFont {
  String Name = L"Tahoma";
  int Height = 16;  // character height in pixels at 96 DPI
  bool Bold = false;
  TColor Color = clWindowText;

  // A new GDI font for the given DPI; the caller owns it.
  HFONT Create(int dpi) const;
};

inline int ScaleToDpi(int value, int dpi) { return MulDiv(value, dpi, 96); }

}  // namespace vcl
