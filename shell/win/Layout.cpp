#include "shell/win/Layout.h"

#include <algorithm>
#include <utility>

#include "shell/win/Controls.h"

TLayout::TLayout(TForm& form) : Form_(form), Screen_(nullptr) {}

int TLayout::Scale(int value) const { return ScaleForDpi(value, Form_.Dpi()); }

int TLayout::TextHeight(HFONT font, const std::wstring& text, int width, UINT format) const {
  SelectedObject selected(Screen_.get(), font);
  RECT rect{0, 0, std::max(width, 1), 0};
  // An empty text still takes its line.
  const std::wstring measured = text.empty() ? L" " : text;
  DrawTextW(Screen_.get(), measured.c_str(), static_cast<int>(measured.size()), &rect,
            format | DT_CALCRECT);
  return rect.bottom - rect.top;
}

std::vector<TControl*> TLayout::ChildrenOf(TForm& form, TContainer& container) {
  std::vector<TControl*> children;
  // TControl is the form layer's one kind of control; the form knows it as TFormControl.
  for (TFormControl* control : form.Controls()) {
    auto* child = static_cast<TControl*>(control);
    if (&child->ParentContainer() == &container) children.push_back(child);
  }
  return children;
}

namespace {

// Sorts a handful of items in place, keeping equal ones in their order: a form's children
// are few, and std::stable_sort would cost setup.exe kilobytes for each kind of item.
template <class T, class Less>
void SortFew(std::vector<T>& items, Less less) {
  for (size_t i = 1; i < items.size(); ++i)
    for (size_t j = i; j > 0 && less(items[j], items[j - 1]); --j)
      std::swap(items[j], items[j - 1]);
}

// A control and the label before it, which names it and moves with it in the tab order.
struct TTabUnit {
  TControl* Label;
  TControl* Control;
  RECT Place;
  int Row;
};

}  // namespace

int TLayout::Arrange(TContainer& container, int width, int designHeight) {
  std::vector<TControl*> children = ChildrenOf(Form_, container);
  SortFew(children, [](const TControl* a, const TControl* b) {
    return a->Bounds().Top < b->Bounds().Top;
  });
  struct TPlaced {
    int DesignBottom;
    int Bottom;
  };
  std::vector<TPlaced> above;
  int reach = 0;  // how far the lowest child came below its design
  for (TControl* child : children) {
    const RECT design = ScaleBounds(child->Bounds(), Form_.Dpi());
    // Moved down as far as the control above it that moved furthest.
    int shift = 0;
    for (const TPlaced& placed : above)
      if (placed.DesignBottom <= design.top)
        shift = std::max(shift, placed.Bottom - placed.DesignBottom);
    const int designed = design.bottom - design.top, across = design.right - design.left;
    const int height = std::max(designed, child->NeededHeight(*this, across, designed));
    const int top = design.top + shift;
    child->Place({design.left, top, design.right, top + height});
    above.push_back({static_cast<int>(design.bottom), top + height});
    reach = std::max(reach, top + height - static_cast<int>(design.bottom));
  }
  const int height = designHeight + reach;
  if (container.ChildrenFillIt())
    for (TControl* child : children) child->Place({0, 0, width, height});
  OrderTabStops(Form_, container);
  return height;
}

void TLayout::OrderTabStops(TForm& form, TContainer& container) {
  std::vector<TTabUnit> units;
  for (TControl* child : ChildrenOf(form, container)) {
    if (!child->HasWindow()) return;  // a page not shown yet: ordered when it is
    if (!units.empty() && units.back().Control->IsLabel() && !units.back().Label &&
        !child->IsLabel())
      units.back().Label = std::exchange(units.back().Control, child);
    else
      units.push_back({nullptr, child, {}, 0});
  }
  if (units.empty()) return;
  // Rows from the top: a unit stands in a row when its top lies less than half the height of
  // the lower of the two below the top of the row's first unit (a tall list beside a field
  // does not take in what lies below the field). Then each row from the left.
  for (TTabUnit& unit : units) unit.Place = unit.Control->Placement();
  SortFew(units, [](const TTabUnit& a, const TTabUnit& b) { return a.Place.top < b.Place.top; });
  for (size_t i = 1, lead = 0; i < units.size(); ++i) {
    const RECT& first = units[lead].Place;
    const RECT& next = units[i].Place;
    if (next.top - first.top >= std::min(first.bottom - first.top, next.bottom - next.top) / 2)
      lead = i;
    units[i].Row = static_cast<int>(lead);
  }
  SortFew(units, [](const TTabUnit& a, const TTabUnit& b) {
    return a.Row != b.Row ? a.Row < b.Row : a.Place.left < b.Place.left;
  });

  std::vector<HWND> order, current;
  for (const TTabUnit& unit : units) {
    if (unit.Label) order.push_back(unit.Label->Handle());
    order.push_back(unit.Control->Handle());
  }
  for (HWND child = GetWindow(container.ContainerHandle(), GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT))
    if (std::find(order.begin(), order.end(), child) != order.end()) current.push_back(child);
  if (current == order) return;
  HWND after = HWND_TOP;
  for (HWND window : order) {
    SetWindowPos(window, after, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    after = window;
  }
}
