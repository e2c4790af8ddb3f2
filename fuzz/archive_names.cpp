// Archive entry names and link targets as the unpacker judges them, set file names as the
// set logic classifies them, and the input itself unpacked as an archive into a scratch
// directory. Input: a NUL byte, an entry name, "\n", a link target; anything else is the
// archive.
//
// Invariants: a name is confined exactly when it is relative, not empty, without NUL and
// without a ".." component; a link judged confined resolves, by its text, inside the
// directory; a classified name's base is the start of the name; unpacking creates nothing
// outside its target directory and leaves no link there that points out of it.

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "postprocess/entry_path.h"
#include "postprocess/set_names.h"
#include "postprocess/unpacker.h"

namespace {

using namespace qs;
namespace fs = std::filesystem;

std::vector<std::string_view> Components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (true) {
        const size_t slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos)
            return parts;
        path.remove_prefix(slash + 1);
    }
}

bool ConfinedName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string_view::npos)
        return false;
    for (std::string_view part : Components(name))
        if (part == "..")
            return false;
    return true;
}

// The depth below the top a walk of `path` ends at, starting at `depth`; -1 once above it.
int Walk(std::string_view path, int depth) {
    for (std::string_view part : Components(path)) {
        if (part == "..")
            depth -= 1;
        else if (!part.empty() && part != ".")
            depth += 1;
        if (depth < 0)
            return -1;
    }
    return depth;
}

void CheckNames(std::string_view name, std::string_view target) {
    QS_FUZZ_CHECK(IsConfinedEntryName(name) == ConfinedName(name));
    if (IsConfinedSymlink(name, target)) {
        QS_FUZZ_CHECK(ConfinedName(name) && !target.empty() && target.front() != '/');
        const size_t slash = name.rfind('/');
        const int start = slash == std::string_view::npos ? 0 : Walk(name.substr(0, slash), 0);
        QS_FUZZ_CHECK(start >= 0 && Walk(target, start) >= 0);
    }
    const SetFileName set = ClassifySetFile(name);
    QS_FUZZ_CHECK(set.base.size() <= name.size() && name.substr(0, set.base.size()) == set.base);
    QS_FUZZ_CHECK(set.recovery_blocks >= 0);
    if (set.role != SetFileRole::par2_recovery)
        QS_FUZZ_CHECK(set.recovery_blocks == 0);
}

void CheckUnpacked(const std::string& out) {
    std::error_code ec;
    const fs::path top = fs::weakly_canonical(out, ec);
    for (auto it = fs::recursive_directory_iterator(out, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        QS_FUZZ_CHECK(it.depth() < 64);
        if (!it->is_symlink(ec))
            continue;
        it.disable_recursion_pending();
        // Where the link leads, by its text, from its own directory.
        const fs::path resolved =
            (it->path().parent_path() / fs::read_symlink(it->path(), ec)).lexically_normal();
        // Outside when its first step is "..": a name such as "..." is an ordinary one.
        const fs::path relative = resolved.lexically_relative(top);
        QS_FUZZ_CHECK(!relative.empty() && *relative.begin() != "..");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0 && data[0] == 0) {
        const std::string_view input = fuzz::AsText(data + 1, size - 1);
        const size_t lf = input.find('\n');
        const std::string_view name = input.substr(0, lf);
        const std::string_view target =
            lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        CheckNames(name, target);
        return 0;
    }

    static const std::string root = fuzz::ScratchRoot();
    static const std::string archive = root + "in/archive";
    static const std::string out = root + "out/";
    fuzz::EmptyDirectory(root);
    fs::create_directories(root + "in");
    {
        const int fd = ::open(archive.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        QS_FUZZ_CHECK(fd >= 0);
        QS_FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
        ::close(fd);
    }
    UnpackArchive({archive}, out);
    QS_FUZZ_CHECK(fuzz::CountEntries(root) <= 2);
    QS_FUZZ_CHECK(fuzz::CountEntries(root + "in") == 1);
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        const std::string leaf = entry.path().filename();
        QS_FUZZ_CHECK(leaf == "in" || leaf == "out");
    }
    CheckUnpacked(out);
    return 0;
}
