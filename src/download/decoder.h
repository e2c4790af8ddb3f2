#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "download/buffered_writer.h"

namespace qs {

// The body lines of one part as part retrieval reads them: the line feed dropped, a
// carriage return before it kept, no dot-unstuffing (the decoders drop the first of two
// leading dots), the terminating "." line not included.
using LineList = std::vector<std::string>;

// Turns the name a decoder found into the full output path:
// (subject, name, directory) -> path. Normally MakeOutputPath with the user's settings.
using OutputNamer = std::function<std::string(std::string_view subject, std::string_view name,
                                              std::string_view directory)>;

// MakeOutputPath bound to a copy of the naming options of `settings`.
OutputNamer MakeOutputNamer(const Settings& settings);

// What the three decoders share: the subject and output path, the line reader over the
// current part's lines, and the output file.
class DecoderFrame {
  public:
    DecoderFrame(const DecoderFrame&) = delete;
    DecoderFrame& operator=(const DecoderFrame&) = delete;

    // Full path of the output file (empty until a header named it).
    const std::string& output_path() const { return output_path_; }
    bool output_open() const { return out_.is_open(); }
    // True when writing the output file failed (disk full, I/O error).
    bool write_failed() const { return out_.failed(); }
    // "path: reason" when the output file could not be created or written; else empty.
    std::string output_error() const {
        if (!open_error_.empty())
            return open_error_;
        return out_.failed() ? output_path_ + ": " + out_.error() : std::string();
    }

  protected:
    DecoderFrame(std::string subject, OutputNamer namer);
    ~DecoderFrame() = default;

    // Makes `lines` the current part and starts reading at its first line.
    void Attach(const LineList& lines);
    void set_directory(std::string_view directory) { directory_ = directory; }

    // The next line without its trailing CR/LF characters; false at the end of the part.
    bool ReadLine(std::string_view& line);
    // Steps back one line, so the next ReadLine returns it again.
    void UnreadLine() {
        if (position_ > 0)
            --position_;
    }
    bool AtEnd() const { return lines_ == nullptr || position_ >= lines_->size(); }

    // Asks the namer for the path of `name`, unless the output file is already open (then
    // the path of the open file stays).
    void NameOutput(std::string_view name);
    // Opens the output path, truncating; logs "Opening outfile for <kind>: <path>" and,
    // on failure, "error opening outfile".
    bool OpenOutput(const char* kind);
    // Forgets the part and closes the output file when one is open.
    void ResetFrame();

    BufferedWriter out_;

  private:
    std::string subject_;
    OutputNamer namer_;
    std::string directory_;
    std::string output_path_;
    std::string open_error_;  // "path: reason" of the last failed open
    const LineList* lines_ = nullptr;
    size_t position_ = 0;
};

// Formatted reading of `text` from its start as scanf does it for patterns made of
// literal characters, blanks and %d: literals must match exactly, a blank matches any run
// of white space (also an empty one), %d skips white space and takes a signed decimal
// number (saturated rather than overflowing). Returns how many numbers were taken.
int ScanNumbers(std::string_view text, std::string_view pattern, int64_t* values, int max);

// Case-insensitive (A-Z only) search; npos when `needle` is not in `text`.
size_t FindNoCase(std::string_view text, std::string_view needle);

}  // namespace qs
