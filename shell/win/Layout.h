// Layout measured from the text. Each control starts from its design bounds (96-DPI pixels
// scaled to the form's DPI) and is made as tall as its text needs at its width, measured in
// the font it is drawn in, so that nothing is cut at any DPI or system text size. What lies
// below a control that grew moves down with it, and its container grows to hold it, up to
// the form; widths stay, the text wraps. Then each container's tab order follows what the
// user sees: row after row from the top, each from the left, a label kept before the
// control it names (a label's accelerator and a screen reader's name for the control both
// come from the label before it).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/Handles.h"

class TForm;
class TContainer;
class TControl;

class TLayout {
 public:
  explicit TLayout(TForm& form);
  TLayout(const TLayout&) = delete;
  TLayout& operator=(const TLayout&) = delete;

  // Places the children of `container`, which is `width` pixels wide and `designHeight`
  // tall by its design; answers the height it needs.
  int Arrange(TContainer& container, int width, int designHeight);

  // The height of `text` drawn in `font` within `width` pixels, with DrawTextW's `format`.
  int TextHeight(HFONT font, const std::wstring& text, int width, UINT format) const;
  // A 96-DPI length at the form's DPI.
  int Scale(int value) const;

  // Orders the windows of `container`'s children as the user reads them.
  static void OrderTabStops(TForm& form, TContainer& container);

 private:
  static std::vector<TControl*> ChildrenOf(TForm& form, TContainer& container);

  TForm& Form_;
  WindowDC Screen_;
};
