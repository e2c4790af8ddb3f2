#include "postprocess/entry_path.h"

namespace qs {
namespace {

// Walks the components of a relative path from a starting depth below the top directory:
// the depth it ends at, or -1 once it climbs above the top.
int DepthAfter(std::string_view path, int depth) {
    while (true) {
        const size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part == "..") {
            if (--depth < 0)
                return -1;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        if (slash == std::string_view::npos)
            return depth;
        path.remove_prefix(slash + 1);
    }
}

bool HasDotDot(std::string_view path) {
    while (true) {
        const size_t slash = path.find('/');
        if (path.substr(0, slash) == "..")
            return true;
        if (slash == std::string_view::npos)
            return false;
        path.remove_prefix(slash + 1);
    }
}

}  // namespace

bool IsConfinedEntryName(std::string_view name) {
    return !name.empty() && name.front() != '/' && !HasDotDot(name) &&
           name.find('\0') == std::string_view::npos;
}

bool IsConfinedSymlink(std::string_view entry_name, std::string_view target) {
    if (!IsConfinedEntryName(entry_name) || target.empty() || target.front() == '/')
        return false;
    // The target starts from the link's own directory.
    const size_t slash = entry_name.rfind('/');
    const int depth =
        slash == std::string_view::npos ? 0 : DepthAfter(entry_name.substr(0, slash), 0);
    return DepthAfter(target, depth) >= 0;
}

}  // namespace qs
