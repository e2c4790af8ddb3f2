#include "postprocess/find_program.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace qs {

std::string FindProgram(std::string_view name) {
    if (name.empty())
        return {};
    const std::string wanted(name);
    if (wanted.find('/') != std::string::npos)
        return ::access(wanted.c_str(), X_OK) == 0 ? wanted : std::string();
    const char* path = std::getenv("PATH");
    std::string_view dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);  // empty: the current directory
        const std::string candidate =
            (dir.empty() ? std::filesystem::path(".") : std::filesystem::path(dir)) / wanted;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        dirs.remove_prefix(colon + 1);
    }
}

}  // namespace qs
