#pragma once

#include <wx/treectrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class wxImageList;
class wxSpinCtrl;

namespace qs::ui {

// Check box and radio button pictures drawn by the native renderer, on a transparent ground,
// for rows that carry their state as an image: index 0 unchecked box, 1 checked box, 2 radio
// button off, 3 radio button on.
enum ToggleImage { kImageUnchecked = 0, kImageChecked, kImageRadioOff, kImageRadioOn };
std::unique_ptr<wxImageList> ToggleImageList(wxWindow* window);

}  // namespace qs::ui
