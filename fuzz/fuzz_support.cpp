#include "fuzz_support.h"

#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qs::fuzz {

namespace fs = std::filesystem;

void Broken(const char* what, const char* file, int line) {
    std::fprintf(stderr, "invariant broken at %s:%d: %s\n", file, line, what);
    std::fflush(stderr);
    __builtin_trap();
}

namespace {

struct Scratch {
    std::string root;
    Scratch() {
        // Memory-backed when there is one: the databases commit on every input.
        const char* tmp = std::getenv("TMPDIR");
        std::error_code ec;
        std::string base = tmp && *tmp                        ? tmp
                           : fs::is_directory("/dev/shm", ec) ? "/dev/shm"
                                                              : "/tmp";
        std::string pattern = base + "/qs-fuzz.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        root = pattern + "/";
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

}  // namespace

const std::string& ScratchRoot() {
    static Scratch scratch;
    return scratch.root;
}

void EmptyDirectory(const std::string& dir) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        fs::remove_all(entry.path(), ec);
}

size_t CountEntries(const std::string& dir) {
    size_t count = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

std::string_view AsText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

sqlite3* OpenForChecking(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        Broken("the checking connection does not open", __FILE__, __LINE__);
    return db;
}

int64_t Count(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    QS_FUZZ_CHECK(sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK);
    QS_FUZZ_CHECK(sqlite3_step(s) == SQLITE_ROW);
    const int64_t n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return n;
}

}  // namespace qs::fuzz
