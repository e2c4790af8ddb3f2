#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/imaglist.h>

#include <algorithm>
#include <vector>

#include "ui/art.h"
#include "ui/command_ids.h"
#include "ui/folder_tab_ctrl.h"

namespace qs::ui {
namespace {

bool Opaque(const wxImage& image, int x, int y) {
    return image.HasAlpha() ? image.GetAlpha(x, y) == wxIMAGE_ALPHA_OPAQUE
                            : !image.IsTransparent(x, y);
}

bool Transparent(const wxImage& image, int x, int y) {
    return image.HasAlpha() && image.GetAlpha(x, y) == wxIMAGE_ALPHA_TRANSPARENT;
}

// Every picture comes out of the program itself at its promised size, drawn on a
// transparent ground (a square picture with an opaque corner would show a box on the toolbar).
TEST(Art, EveryPictureLoadsAtItsSizeOnATransparentGround) {
    for (int i = 0; i <= static_cast<int>(ToolImage::About); ++i) {
        SCOPED_TRACE(i);
        for (bool disabled : {false, true}) {
            const wxBitmap bitmap = ToolBitmap(static_cast<ToolImage>(i), disabled);
            ASSERT_TRUE(bitmap.IsOk());
            EXPECT_EQ(bitmap.GetSize(), wxSize(32, 32));
            const wxImage image = bitmap.ConvertToImage();
            EXPECT_TRUE(Transparent(image, 0, 0));
            EXPECT_TRUE(Transparent(image, 31, 0));
            int opaque = 0;
            int coloured = 0;
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    if (!Opaque(image, x, y))
                        continue;
                    ++opaque;
                    const int r = image.GetRed(x, y), g = image.GetGreen(x, y);
                    const int b = image.GetBlue(x, y);
                    if (std::max({r, g, b}) - std::min({r, g, b}) > 40)
                        ++coloured;
                }
            }
            EXPECT_GT(opaque, 60) << "an empty picture";
            // The greyed variant has no colour left; Options is grey to begin with.
            if (disabled) {
                EXPECT_EQ(coloured, 0);
            } else if (static_cast<ToolImage>(i) != ToolImage::Options) {
                EXPECT_GT(coloured, 20);
            }
        }
    }

    const auto states = StateImageList();
    ASSERT_EQ(states->GetImageCount(), 9);  // states 1 to 9
    for (int i = 0; i < 9; ++i) {
        const wxImage image = states->GetBitmap(i).ConvertToImage();
        EXPECT_EQ(image.GetSize(), wxSize(16, 16)) << i;
        EXPECT_TRUE(Transparent(image, 0, 0)) << i;
        EXPECT_TRUE(Opaque(image, 8, 8) || Opaque(image, 5, 5)) << i;
    }

    const auto arrows = SortArrowImageList();
    ASSERT_EQ(arrows->GetImageCount(), 2);
    const wxImage up = arrows->GetBitmap(0).ConvertToImage();
    const wxImage down = arrows->GetBitmap(1).ConvertToImage();
    EXPECT_EQ(up.GetSize(), wxSize(9, 5));
    EXPECT_EQ(down.GetSize(), wxSize(9, 5));
    // Ascending points up: its tip is the top middle pixel, its base the bottom row.
    EXPECT_TRUE(Opaque(up, 4, 0) && Transparent(up, 0, 0) && Opaque(up, 0, 4));
    EXPECT_TRUE(Opaque(down, 4, 4) && Transparent(down, 0, 4) && Opaque(down, 0, 0));

    const wxImage glyph = StopGlyph().ConvertToImage();
    EXPECT_EQ(glyph.GetSize(), wxSize(7, 7));
    EXPECT_TRUE(Opaque(glyph, 0, 0) && Opaque(glyph, 3, 3) && Opaque(glyph, 6, 6));

    const wxIconBundle icons = AppIcons();
    ASSERT_EQ(icons.GetIconCount(), 4u);
    for (int size : {16, 32, 48, 256}) {
        const wxIcon icon = icons.GetIcon(size, wxIconBundle::FALLBACK_NONE);
        ASSERT_TRUE(icon.IsOk()) << size;
        EXPECT_EQ(icon.GetSize(), wxSize(size, size));
        wxBitmap bitmap;
        bitmap.CopyFromIcon(icon);
        const wxImage image = bitmap.ConvertToImage();
        EXPECT_TRUE(Transparent(image, 0, 0)) << size;  // rounded corners
        EXPECT_TRUE(Opaque(image, size / 2, size / 2)) << size;
    }
    EXPECT_EQ(AppIcon(24).GetSize(), wxSize(24, 24));
}

TEST(FolderTabCtrl, AClickOnAnotherTabSelectsItAndTellsTheFrame) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "tabs");
    std::vector<int> commands;
    frame->Bind(
        wxEVT_MENU, [&](wxCommandEvent& event) { commands.push_back(event.GetId()); }, ID_VIEW_LIST,
        ID_VIEW_LOG);
    auto* tabs = new CFolderTabCtrl(frame, "  List  \n Queue \n Log ");
    ASSERT_EQ(tabs->tab_count(), 3);
    EXPECT_EQ(tabs->selected(), 0);
    EXPECT_GT(tabs->StripWidth(), 60);
    EXPECT_EQ(tabs->GetBestSize().x, tabs->StripWidth());
    EXPECT_GE(tabs->GetBestSize().y, 12);
    EXPECT_LE(tabs->GetBestSize().y, 30);
    frame->Show();

    const auto click = [&](int x) {
        wxMouseEvent down(wxEVT_LEFT_DOWN);
        down.SetEventObject(tabs);
        down.m_x = x;
        down.m_y = tabs->GetBestSize().y / 2;
        tabs->GetEventHandler()->ProcessEvent(down);
        wxTheApp->ProcessPendingEvents();
    };
    // The middle of the strip lies in the middle tab, "Queue".
    click(tabs->StripWidth() / 2);
    EXPECT_EQ(tabs->selected(), kTabQueue);
    EXPECT_EQ(commands, std::vector<int>{ID_VIEW_QUEUE});

    click(tabs->StripWidth() / 2);   // the current tab: nothing
    click(tabs->StripWidth() + 40);  // beside the strip: nothing
    tabs->SelectTab(kTabLog);        // the frame's own choice: no event back
    wxTheApp->ProcessPendingEvents();
    EXPECT_EQ(tabs->selected(), kTabLog);
    EXPECT_EQ(commands, std::vector<int>{ID_VIEW_QUEUE});

    click(2);
    EXPECT_EQ(tabs->selected(), kTabList);
    EXPECT_EQ(commands, (std::vector<int>{ID_VIEW_QUEUE, ID_VIEW_LIST}));
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
}

}  // namespace
}  // namespace qs::ui
