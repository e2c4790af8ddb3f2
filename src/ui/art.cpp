#include "ui/art.h"

#include <wx/image.h>
#include <wx/imaglist.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <algorithm>
#include <array>
#include <string>

#include "icons_embedded.h"

namespace qs::ui {
namespace {

constexpr int kToolSize = 32;
constexpr int kStateSize = 16;
constexpr std::array<int, 4> kAppSizes = {16, 32, 48, 256};

// In ToolImage order.
constexpr std::array<const char*, 11> kToolFiles = {
    "tool_scan.png",     "tool_grab.png",    "tool_pause.png", "tool_stop.png",
    "tool_autograb.png", "tool_find.png",    "tool_read.png",  "tool_post.png",
    "tool_browse.png",   "tool_options.png", "tool_about.png",
};

// Index = attachment state - 1; the state with no value of its own (7) shows the multigroup
// head.
constexpr std::array<const char*, 9> kStateFiles = {
    "state_complete.png",    "state_incomplete.png", "state_queued.png",
    "state_downloading.png", "state_done.png",       "state_failed.png",
    "state_multigroup.png",  "state_scan.png",       "state_held.png",
};

// A picture built into the program, at the size the caller promises. A picture that is
// missing or does not decode (a broken build) becomes a transparent one of that size, so
// the window still opens.
wxImage LoadImage(const char* file_name, int width, int height) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
    wxImage image;
    if (const auto* file = embedded_icons::Find(file_name)) {
        wxMemoryInputStream stream(file->data, file->size);
        image.LoadFile(stream, wxBITMAP_TYPE_PNG);
    }
    if (!image.IsOk()) {
        wxLogDebug("picture %s is not built into the program", file_name);
        image.Create(width, height);
        image.SetAlpha();
        std::fill_n(image.GetAlpha(), width * height, wxIMAGE_ALPHA_TRANSPARENT);
    } else if (image.GetWidth() != width || image.GetHeight() != height) {
        image.Rescale(width, height, wxIMAGE_QUALITY_HIGH);
    }
    return image;
}

wxBitmap LoadBitmap(const char* file_name, int width, int height) {
    return wxBitmap(LoadImage(file_name, width, height));
}

}  // namespace

wxBitmap ToolBitmap(ToolImage image, bool disabled) {
    const auto index = static_cast<std::size_t>(image);
    if (index >= kToolFiles.size())
        return LoadBitmap("", kToolSize, kToolSize);
    wxImage picture = LoadImage(kToolFiles[index], kToolSize, kToolSize);
    // Grey first: ConvertToDisabled alone only pales the colours.
    if (disabled)
        picture = picture.ConvertToGreyscale().ConvertToDisabled();
    return wxBitmap(picture);
}

std::unique_ptr<wxImageList> StateImageList() {
    auto list = std::make_unique<wxImageList>(kStateSize, kStateSize, false,
                                              static_cast<int>(kStateFiles.size()));
    for (const char* file : kStateFiles)
        list->Add(LoadBitmap(file, kStateSize, kStateSize));
    return list;
}

std::unique_ptr<wxImageList> SortArrowImageList() {
    auto list = std::make_unique<wxImageList>(9, 5, false, 2);
    list->Add(LoadBitmap("sort_ascending.png", 9, 5));
    list->Add(LoadBitmap("sort_descending.png", 9, 5));
    return list;
}

wxBitmap StopGlyph() {
    return LoadBitmap("stop_glyph.png", 7, 7);
}

wxIconBundle AppIcons() {
    wxIconBundle bundle;
    for (int size : kAppSizes)
        bundle.AddIcon(AppIcon(size));
    return bundle;
}

wxIcon AppIcon(int size) {
    // The drawn size nearest above, scaled down when another size is asked for.
    int drawn = kAppSizes.back();
    for (int candidate : kAppSizes) {
        if (size <= candidate) {
            drawn = candidate;
            break;
        }
    }
    const std::string file = "app_" + std::to_string(drawn) + ".png";
    wxImage image = LoadImage(file.c_str(), drawn, drawn);
    if (size > 0 && size != drawn)
        image.Rescale(size, size, wxIMAGE_QUALITY_HIGH);
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(image));
    return icon;
}

}  // namespace qs::ui
