#include "ui/tree_options_ctrl.h"

#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/imaglist.h>
#include <wx/renderer.h>

#include <cstring>

namespace qs::ui {

namespace {

constexpr int kToggleSize = 16;

wxBitmap DrawToggle(wxWindow* window, bool radio, bool checked) {
    wxImage ground(kToggleSize, kToggleSize);
    ground.InitAlpha();
    std::memset(ground.GetAlpha(), 0, kToggleSize * kToggleSize);
    wxBitmap bitmap(ground, 32);
    {
        wxMemoryDC dc(bitmap);
        const wxRect rect(0, 0, kToggleSize, kToggleSize);
        const int flags = checked ? static_cast<int>(wxCONTROL_CHECKED) : 0;
        if (radio)
            wxRendererNative::Get().DrawRadioBitmap(window, dc, rect, flags);
        else
            wxRendererNative::Get().DrawCheckBox(window, dc, rect, flags);
    }
    return bitmap;
}

}  // namespace

std::unique_ptr<wxImageList> ToggleImageList(wxWindow* window) {
    auto images = std::make_unique<wxImageList>(kToggleSize, kToggleSize, true, 4);
    images->Add(DrawToggle(window, false, false));
    images->Add(DrawToggle(window, false, true));
    images->Add(DrawToggle(window, true, false));
    images->Add(DrawToggle(window, true, true));
    return images;
}

}  // namespace qs::ui
