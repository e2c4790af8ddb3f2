#pragma once

// What every fuzz target shares: a scratch directory per process and the invariant check.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qs::fuzz {

// Stops the run with a crash libFuzzer records when an invariant does not hold.
#define QS_FUZZ_CHECK(cond)                                \
    do {                                                   \
        if (!(cond))                                       \
            ::qs::fuzz::Broken(#cond, __FILE__, __LINE__); \
    } while (0)

[[noreturn]] void Broken(const char* what, const char* file, int line);

// A directory of its own under $TMPDIR for this process, removed at exit; ends in "/".
const std::string& ScratchRoot();

// Removes everything below `dir` (the directory itself stays).
void EmptyDirectory(const std::string& dir);

// Every path below `dir` that is not a regular file directly inside it; empty when the
// directory holds only plain files.
std::string NotPlainFilesIn(const std::string& dir);

// How many entries `dir` holds (0 when it does not exist).
size_t CountEntries(const std::string& dir);

// The bytes of a file that exist on disk (holes of a sparse file not counted); the file's
// size when that is smaller.
uint64_t AllocatedBytes(const std::string& path);

std::string_view AsText(const uint8_t* data, size_t size);

}  // namespace qs::fuzz
