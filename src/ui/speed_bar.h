#pragma once

#include <wx/panel.h>

#include <functional>

class wxCheckBox;
class wxSpinCtrl;

namespace qs::ui {

// "Speedbar": "Max Speed", the limit in KB/s (0 to 32767) and "Shutdown when finished".
class SpeedBar : public wxPanel {
  public:
    struct Callbacks {
        std::function<void(bool use, int kbps)> speed;
        std::function<void(bool on)> shutdown;
    };
    SpeedBar(wxWindow* parent, bool use, int kbps, Callbacks callbacks);

    wxCheckBox* max_speed_box() { return use_; }
    wxSpinCtrl* speed_box() { return value_; }
    wxCheckBox* shutdown_box() { return shutdown_; }

  private:
    void SpeedChanged();

    Callbacks callbacks_;
    wxCheckBox* use_ = nullptr;
    wxSpinCtrl* value_ = nullptr;
    wxCheckBox* shutdown_ = nullptr;
};

}  // namespace qs::ui
