#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace qs::ui {

// Reads the tips file one tip at a time from a saved offset: a tip is the next line (at
// most 1000 bytes) that does not start with a tab, a blank, ";" or end at once; at the end
// of the file reading starts over.
class TipReader {
  public:
    // Opens the file; ok() is false when it cannot be read.
    TipReader(const std::string& path, int64_t offset);
    bool ok() const { return ok_; }
    // The next tip; "" (with ok() false) when the file has none or cannot be read again.
    std::string Next();
    // Where the next tip starts: the offset to save.
    int64_t offset() const { return offset_; }

  private:
    bool ReadTip(std::string& tip);

    std::ifstream file_;
    bool ok_ = false;
    int64_t offset_ = 0;
};

// The text shown when the file cannot be opened.
inline constexpr const char* kNoTipsFile = "Tips file does not exist in the prescribed directory";

}  // namespace qs::ui
