#include "Graphics.h"

namespace vcl {

COLORREF ColorToRGB(TColor color) {
  if (color & clSystemColor) return GetSysColor(static_cast<int>(color & 0xFF));
  return static_cast<COLORREF>(color);
}

TColor PropertyColor(const String& name, const TPropertyValue& value) {
  static const TNamedValue<TColor> colors[] = {
      {L"clRed", clRed}, {L"clWindowText", clWindowText}, {L"clBtnFace", clBtnFace}};
  return PropertyNamed(name, value, colors);
}

HFONT TFont::Create(int dpi) const {
  // A negative height asks for the character height, as the form definition gives it.
  return CreateFontW(-ScaleToDpi(Height, dpi), 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, Name.c_str());
}

}  // namespace vcl
