#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "download/buffered_writer.h"

namespace qs {

// The body of one part as part retrieval reads it, in one string: its lines as the server
// sent them, each ended by a line feed (a carriage return before it kept), no
// dot-unstuffing (the decoders drop the first of two leading dots), the terminating "."
// line not included.
using PartBody = std::string;

// A body written line by line, as tests and tools build one: line feeds not included.
// Converts to the PartBody the decoders take.
class LineList : public std::vector<std::string> {
  public:
    using std::vector<std::string>::vector;
    operator PartBody() const;  // NOLINT: converts where a body is expected
};

// Turns the name a decoder found into the full output path:
// (subject, name, directory) -> path. Normally MakeOutputPath with the user's settings.
using OutputNamer = std::function<std::string(std::string_view subject, std::string_view name,
                                              std::string_view directory)>;

// MakeOutputPath bound to a copy of the naming options of `settings`.
OutputNamer MakeOutputNamer(const Settings& settings);

// What became of a part given to a decoder.
enum class DecodeOutcome {
    NotFound,  // no data of the decoder's encoding in the lines (or no file to write it to)
    Decoded,   // decoded and written
    HeldBack,  // failed its check and waits: fetch it again, or write it with KeepBadParts
};

// One encoding's decoder as AttachmentDecoder drives it: Start with each part until one is
// recognised, Continue with every part after that, Finish at the end. These calls come once
// per part; the work per line stays inside the decoder.
class PartDecoder {
  public:
    virtual ~PartDecoder() = default;

    // Looks for this encoding in `body`; when found, opens the output file in `directory`
    // and decodes the part. NotFound also when the output file cannot be opened.
    virtual DecodeOutcome Start(std::string_view directory, const PartBody& body) = 0;
    // Decodes a later part of the same attachment.
    virtual DecodeOutcome Continue(const PartBody& body) = 0;
    // Writes the parts the last Start or Continue held back (only yEnc checks its parts).
    virtual void KeepBadParts() {}
    // Writes what is still pending and closes the output file.
    virtual void Finish() = 0;
    // Back to the state after creation; an open output file is closed.
    virtual void Reset() = 0;

    // Full path of the output file (empty until a header named it).
    virtual const std::string& output_path() const = 0;
    // True when writing the output file failed (disk full, I/O error).
    virtual bool write_failed() const = 0;
    // "path: reason" when the output file could not be created or written; else empty.
    virtual std::string output_error() const = 0;
    // The errno behind output_error (0 when none).
    virtual int output_errno() const { return 0; }
    // Why the file written is not what the poster sent ("" when it is, or when the encoding
    // cannot tell): a whole-file checksum that does not match, or bytes that never came.
    virtual std::string damage() const { return {}; }
    // True when the damage is only a whole-file checksum that disagrees while every part
    // matched its own: the poster's trailer is wrong, the bytes are as posted.
    virtual bool only_the_trailer_disagrees() const { return false; }
};

// What the three decoders share: the subject and output path, the line reader over the
// current part's lines, and the output file.
class DecoderFrame : public PartDecoder {
  public:
    DecoderFrame(const DecoderFrame&) = delete;
    DecoderFrame& operator=(const DecoderFrame&) = delete;

    const std::string& output_path() const final { return output_path_; }
    bool output_open() const { return out_.is_open(); }
    bool write_failed() const final { return out_.failed(); }
    std::string output_error() const final {
        if (!open_error_.empty())
            return open_error_;
        return out_.failed() ? output_path_ + ": " + out_.error() : std::string();
    }
    int output_errno() const final {
        if (!open_error_.empty())
            return open_errno_;
        return out_.failed() ? out_.error_number() : 0;
    }

  protected:
    DecoderFrame(std::string subject, OutputNamer namer);

    // Makes `body` the current part and starts reading at its first line.
    void Attach(std::string_view body);
    void set_directory(std::string_view directory) { directory_ = directory; }

    // The next line without its trailing CR/LF characters; false at the end of the part.
    bool ReadLine(std::string_view& line);
    bool AtEnd() const { return position_ >= body_.size(); }
    // The part's bytes from the next line on, and a step over `size` of them (which must
    // end at a line's start).
    std::string_view Unread() const { return body_.substr(position_); }
    void StepOver(size_t size) { position_ += size; }

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
    int open_errno_ = 0;
    std::string_view body_;
    size_t position_ = 0;  // where the next line starts
};

// Formatted reading of `text` from its start as scanf does it for patterns made of
// literal characters, blanks and %d: literals must match exactly, a blank matches any run
// of white space (also an empty one), %d reads a number as scanf_reader::ReadInt does
// (saturated rather than overflowing). Returns how many numbers were taken.
int ScanNumbers(std::string_view text, std::string_view pattern, int64_t* values, int max);

// Case-insensitive (A-Z only) search; npos when `needle` is not in `text`.
size_t FindNoCase(std::string_view text, std::string_view needle);

}  // namespace qs
