#pragma once

// What every fuzz target shares: a scratch directory per process and the invariant check.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

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

// How many entries `dir` holds (0 when it does not exist).
size_t CountEntries(const std::string& dir);

std::string_view AsText(const uint8_t* data, size_t size);

// A read-only connection to a scratch database, to check what the code under test stored.
sqlite3* OpenForChecking(const std::string& path);
// The one integer a query gives.
int64_t Count(sqlite3* db, const char* sql);

}  // namespace qs::fuzz
