#include "ui/thread_bar.h"

#include <wx/bmpbuttn.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "ui/art.h"

namespace qs::ui {

ThreadBar::ThreadBar(wxWindow* parent, Callbacks callbacks)
    : wxPanel(parent, wxID_ANY), callbacks_(std::move(callbacks)) {
    auto* grid = new wxFlexGridSizer(4, wxSize(6, 1));
    grid->AddGrowableCol(3, 1);
    const wxBitmap glyph = StopGlyph();
    for (int i = 0; i < kThreadSlots; ++i) {
        const size_t s = static_cast<size_t>(i);
        boxes_[s] = new wxCheckBox(this, wxID_ANY, wxString::Format("Thread %d:", i + 1));
        // Flat, so that GTK's button padding does not make every row a button high.
        stops_[s] = new wxBitmapButton(this, wxID_ANY, glyph, wxDefaultPosition, wxSize(26, 20),
                                       wxBU_EXACTFIT | wxBORDER_NONE);
        stops_[s]->SetToolTip(wxString::Format("Stop thread %d", i + 1));
        gauges_[s] = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxSize(160, 12),
                                 wxGA_HORIZONTAL | wxGA_SMOOTH);
        texts_[s] = new wxStaticText(this, wxID_ANY, "Ready...", wxDefaultPosition, wxDefaultSize,
                                     wxST_ELLIPSIZE_END | wxST_NO_AUTORESIZE);
        grid->Add(boxes_[s], 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 4);
        grid->Add(stops_[s], 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(gauges_[s], 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(texts_[s], 1, wxALIGN_CENTER_VERTICAL | wxEXPAND | wxRIGHT, 4);
        boxes_[s]->Bind(wxEVT_CHECKBOX, [this, i](wxCommandEvent& event) {
            if (callbacks_.enable)
                callbacks_.enable(i, event.IsChecked());
        });
        stops_[s]->Bind(wxEVT_BUTTON, [this, i](wxCommandEvent&) {
            if (callbacks_.stop)
                callbacks_.stop(i);
        });
    }
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->Add(grid, 1, wxEXPAND | wxTOP | wxBOTTOM, 2);
    SetSizer(outer);
}

void ThreadBar::SetEnabledBox(int slot, bool enabled) {
    boxes_[static_cast<size_t>(slot)]->SetValue(enabled);
}

bool ThreadBar::enabled_box(int slot) const {
    return boxes_[static_cast<size_t>(slot)]->GetValue();
}

void ThreadBar::SetStatus(int slot, const std::string& text) {
    wxStaticText* label = texts_[static_cast<size_t>(slot)];
    const wxString value = wxString::FromUTF8(text);
    if (label->GetLabel() != value)
        label->SetLabel(value);
}

std::string ThreadBar::status(int slot) const {
    return texts_[static_cast<size_t>(slot)]->GetLabel().utf8_string();
}

void ThreadBar::SetProgress(int slot, int range, int value) {
    wxGauge* gauge = gauges_[static_cast<size_t>(slot)];
    if (range <= 0)
        range = 100;
    if (gauge->GetRange() != range)
        gauge->SetRange(range);
    value = value < 0 ? 0 : (value > range ? range : value);
    if (gauge->GetValue() != value)
        gauge->SetValue(value);
}

}  // namespace qs::ui
