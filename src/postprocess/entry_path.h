#pragma once

#include <string_view>

namespace qs {

// Whether an archive entry's name stays inside the directory it is unpacked into: relative,
// not empty, no ".." component.
bool IsConfinedEntryName(std::string_view name);

// Whether a symbolic link stored as entry_name, pointing to target, resolves inside that
// directory (judged by its text; a link through another link is refused when written).
bool IsConfinedSymlink(std::string_view entry_name, std::string_view target);

}  // namespace qs
