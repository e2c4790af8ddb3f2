#include "ui/art.h"

#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/imaglist.h>

namespace qs::ui {
namespace {

// Placeholder pictures: a coloured square on a transparent ground.
wxBitmap Square(int width, int height, const wxColour& colour) {
    wxBitmap bitmap(width, height, 32);
    {
        wxMemoryDC dc(bitmap);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        dc.SetPen(*wxBLACK_PEN);
        dc.SetBrush(wxBrush(colour));
        dc.DrawRectangle(1, 1, width - 2, height - 2);
    }
    wxImage image = bitmap.ConvertToImage();
    image.SetMaskColour(255, 255, 255);
    image.InitAlpha();
    return wxBitmap(image);
}

}  // namespace

wxBitmap ToolBitmap(ToolImage image, bool disabled) {
    wxBitmap bitmap = Square(32, 32, wxColour(40 + 20 * static_cast<int>(image), 120, 200));
    if (disabled)
        return wxBitmap(bitmap.ConvertToImage().ConvertToDisabled());
    return bitmap;
}

std::unique_ptr<wxImageList> StateImageList() {
    auto list = std::make_unique<wxImageList>(16, 16, true, 8);
    for (int i = 0; i < 8; ++i)
        list->Add(Square(16, 16, wxColour(30 * i, 160, 90)));
    return list;
}

std::unique_ptr<wxImageList> SortArrowImageList() {
    auto list = std::make_unique<wxImageList>(9, 5, true, 2);
    list->Add(Square(9, 5, *wxBLACK));
    list->Add(Square(9, 5, *wxBLACK));
    return list;
}

wxBitmap StopGlyph() {
    return Square(7, 7, *wxRED);
}

wxIconBundle AppIcons() {
    wxIconBundle bundle;
    for (int size : {16, 32, 48, 256})
        bundle.AddIcon(AppIcon(size));
    return bundle;
}

wxIcon AppIcon(int size) {
    wxIcon icon;
    icon.CopyFromBitmap(Square(size, size, wxColour(30, 90, 170)));
    return icon;
}

}  // namespace qs::ui
