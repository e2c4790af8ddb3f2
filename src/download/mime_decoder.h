#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "download/decoder.h"

namespace qs {

// Decodes MIME attachments whose body is base64 (RFC 2045). The part is recognised by
// "base64" and name=" in its header lines. Like the UU decoder it takes the first data
// line's length as the normal one and holds the last shorter line back until the end.
class Base64Decoder final : public DecoderFrame {
  public:
    Base64Decoder(std::string subject, OutputNamer namer);

    // Finds the MIME header with a name, opens the output file in `directory` and decodes
    // the lines after the headers. NotFound when there is no such header or no file.
    DecodeOutcome Start(std::string_view directory, const PartBody& body) override;
    // Decodes a later part from its first line; always Decoded.
    DecodeOutcome Continue(const PartBody& body) override;
    // Decodes the held line when due and closes the output file.
    void Finish() override;
    void Reset() override;

  private:
    // Characters of an unfinished group, carried from line to line within one part.
    struct Group {
        uint32_t value = 0;
        int count = 0;
    };

    bool FindHeader();
    void DecodeLines();
    // Decodes from the line's first character; true when it stopped at "=".
    bool DecodeLine(std::string_view line, Group& group);

    bool first_line_ = true;
    int standard_length_ = 0;
    int last_good_ = 0;
    int last_false_ = 0;
    int line_number_ = 0;
    std::string held_;
};

}  // namespace qs
