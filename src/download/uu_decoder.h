#pragma once

#include <string>
#include <string_view>

#include "download/decoder.h"

namespace qs {

// Decodes uuencoded attachments. The length of the first data line is taken as the
// normal length: lines of that length are written at once, the last shorter line is held
// back and written at the end only when no full-length line came after it (a short line
// in the middle of a part is damage, not data).
class UuDecoder final : public DecoderFrame {
  public:
    UuDecoder(std::string subject, OutputNamer namer);

    // Looks for the "begin" line, opens the output file in `directory` and decodes the
    // rest of the part. NotFound when there is no "begin" line or the file cannot be opened.
    DecodeOutcome Start(std::string_view directory, const PartBody& body) override;
    // Decodes a later part from its first line; always Decoded.
    DecodeOutcome Continue(const PartBody& body) override;
    // Writes the held line when due and closes the output file.
    void Finish() override;
    void Reset() override;

  private:
    bool FindBegin();
    void DecodeLines();
    void DecodeLine(std::string_view line);

    int standard_length_ = 0;
    bool first_line_ = true;
    int last_good_ = 0;
    int last_false_ = 0;
    int line_number_ = 0;
    std::string held_;
};

// Decodes one uuencoded line (line end removed): the count character and the groups it
// announces. Groups cut short by the line's end give the bytes their characters hold;
// nothing is read past the end. Returns the number of bytes written to `out`, which needs
// room for line.size() bytes.
size_t DecodeUuLine(std::string_view line, uint8_t* out);

}  // namespace qs
