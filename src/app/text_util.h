#pragma once

#include <string>
#include <string_view>

namespace qs {

// Small string helpers shared by every subsystem.
std::string_view Trim(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLower(std::string_view text);
// The line without the CR and LF characters at its end (a reply line for a message).
std::string WithoutLineEnd(std::string_view line);

// Writes every byte to a descriptor, retrying short writes and interrupts.
bool WriteAll(int fd, std::string_view data);

}  // namespace qs
