#pragma once

#include <string>
#include <string_view>

namespace qs::cli {

// Text that came from a server or a file, made safe to print on a terminal: a tab, CR or
// LF becomes a blank (a row stays one row of tab-separated values), every other control
// character (ESC sequences, BEL, DEL) is written as \xNN. Other bytes pass unchanged.
std::string Printable(std::string_view text);

}  // namespace qs::cli
