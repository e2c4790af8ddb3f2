#pragma once

#include <wx/bitmap.h>
#include <wx/icon.h>
#include <wx/iconbndl.h>

#include <memory>

class wxImageList;

namespace qs::ui {

// The program's own pictures, drawn for it and built into it.
enum class ToolImage {
    Scan,
    Grab,
    Pause,
    Stop,
    Autograb,
    Find,
    ReadMessage,
    PostMessage,
    BrowseDir,
    Options,
    About,
};

// A toolbar picture (32x32), normal or greyed for a disabled button.
wxBitmap ToolBitmap(ToolImage image, bool disabled = false);
// The eight 16x16 state images, index state - 1 (complete, incomplete, queued,
// downloading, done, failed, (7: a multigroup head), scan entry).
std::unique_ptr<wxImageList> StateImageList();
// The two 9x5 sort arrows: index 0 ascending, 1 descending.
std::unique_ptr<wxImageList> SortArrowImageList();
// The 7x7 glyph of a slot's stop button.
wxBitmap StopGlyph();
// The application icon in every size drawn (16, 32, 48, 256).
wxIconBundle AppIcons();
wxIcon AppIcon(int size = 32);

}  // namespace qs::ui
