#pragma once

#include <wx/panel.h>

#include <array>
#include <functional>
#include <string>

#include "app/settings.h"

class wxCheckBox;
class wxBitmapButton;
class wxGauge;
class wxStaticText;

namespace qs::ui {

// "Threadbar": one row per slot with its check box ("Thread 1:" ...), a small stop button,
// a progress bar and the status text, which stretches to the bar's right edge.
class ThreadBar : public wxPanel {
  public:
    struct Callbacks {
        std::function<void(int slot, bool enabled)> enable;
        std::function<void(int slot)> stop;
    };
    ThreadBar(wxWindow* parent, Callbacks callbacks);

    void SetEnabledBox(int slot, bool enabled);
    bool enabled_box(int slot) const;
    void SetStatus(int slot, const std::string& text);
    std::string status(int slot) const;
    void SetProgress(int slot, int range, int value);
    wxCheckBox* check_box(int slot) { return boxes_[static_cast<size_t>(slot)]; }
    wxBitmapButton* stop_button(int slot) { return stops_[static_cast<size_t>(slot)]; }

  private:
    Callbacks callbacks_;
    std::array<wxCheckBox*, kThreadSlots> boxes_{};
    std::array<wxBitmapButton*, kThreadSlots> stops_{};
    std::array<wxGauge*, kThreadSlots> gauges_{};
    std::array<wxStaticText*, kThreadSlots> texts_{};
};

}  // namespace qs::ui
