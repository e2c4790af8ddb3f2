#pragma once

#include <string>
#include <string_view>

namespace qs {

// The full path of an executable: a name with a "/" is taken as it is, any other is looked up
// in the directories of PATH. Empty when there is no such executable.
std::string FindProgram(std::string_view name);

}  // namespace qs
