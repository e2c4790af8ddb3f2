#pragma once

#include <gtest/gtest.h>
#include <wx/window.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "ui/event_pump.h"

namespace qs::ui {

// The window's area of the screen into dir/name.png, taken with ImageMagick's import once
// the window has settled.
inline void Shoot(wxWindow* window, const std::string& dir, const std::string& name) {
    PumpFor(std::chrono::milliseconds(700));
    const wxRect r = window->GetScreenRect();
    const std::string command = "import -window root -crop " + std::to_string(r.width) + "x" +
                                std::to_string(r.height) + "+" + std::to_string(r.x) + "+" +
                                std::to_string(r.y) + " +repage '" + dir + "/" + name + ".png'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace qs::ui
