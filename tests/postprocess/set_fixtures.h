#pragma once

#include <string>
#include <vector>

namespace qs::test {

// Bytes that no compressor shrinks, the same for the same seed.
std::string RandomBytes(size_t size, unsigned seed);

// Runs a Debian tool (par2, 7z, zip) in dir to make a set; the output when it fails.
bool RunTool(const std::string& dir, const std::vector<std::string>& argv, std::string* output);

// An entry of a zip written byte by byte: zip itself refuses names such as "../x".
struct ZipEntry {
    std::string name;
    std::string data;  // a symbolic link's target
    bool symlink = false;
};

// The bytes of a zip (stored, names flagged UTF-8, Unix modes) holding the entries.
std::string StoredZip(const std::vector<ZipEntry>& entries);

// Overwrites a byte range of a file with zeros, keeping its size: a lost article.
void PunchZeros(const std::string& path, size_t offset, size_t length);

}  // namespace qs::test
