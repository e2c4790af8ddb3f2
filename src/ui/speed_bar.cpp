#include "ui/speed_bar.h"

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>

#include "app/debug_log.h"

namespace qs::ui {

SpeedBar::SpeedBar(wxWindow* parent, bool use, int kbps, Callbacks callbacks)
    : wxPanel(parent, wxID_ANY), callbacks_(std::move(callbacks)) {
    use_ = new wxCheckBox(this, wxID_ANY, "Max Speed");
    use_->SetValue(use);
    value_ = new wxSpinCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxSP_ARROW_KEYS, 0, 32767, kbps);
    value_->SetMinSize(wxSize(value_->GetSizeFromTextSize(GetTextExtent("327670")).x, -1));
    shutdown_ = new wxCheckBox(this, wxID_ANY, "Shutdown when finished");
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(use_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 6);
    row->Add(value_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 6);
    row->Add(new wxStaticText(this, wxID_ANY, "KB/s"), 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 4);
    row->Add(shutdown_, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 18);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(row, 0, wxTOP | wxBOTTOM, 2);
    SetSizer(outer);

    use_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) {
        LogLine("usespeed: %d\n", event.IsChecked() ? 1 : 0);
        SpeedChanged();
    });
    value_->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { SpeedChanged(); });
    value_->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { SpeedChanged(); });
    shutdown_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& event) {
        LogLine("shutdown: %d\n", event.IsChecked() ? 1 : 0);
        if (callbacks_.shutdown)
            callbacks_.shutdown(event.IsChecked());
    });
}

void SpeedBar::SpeedChanged() {
    if (callbacks_.speed)
        callbacks_.speed(use_->GetValue(), value_->GetValue());
}

}  // namespace qs::ui
