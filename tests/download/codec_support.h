#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/decoder.h"

namespace qs::test {

// Random bytes, the same for the same seed.
std::string RandomBytes(size_t size, uint32_t seed);

// Splits text at LF into the lines part retrieval would store: CR at the end of each line
// (added where the text had none), a leading "." doubled as a server sends it, and the
// body's terminating "." line left out.
LineList ToLineList(const std::string& text);

// Cuts `lines` into consecutive parts of at most `per_part` lines.
std::vector<LineList> SplitLines(const LineList& lines, size_t per_part);

// yEnc encoding of `data`, one data line per entry, without line ends. Escapes NUL, LF, CR
// and "=", TAB and space at both ends of a line, and "." at the start when `escape_dots`.
std::vector<std::string> EncodeYencLines(const std::string& data, size_t line_length,
                                         bool escape_dots);

// A yEnc post of `data` split into `parts` parts, each a complete body with its
// "=ybegin"/"=ypart"/"=yend" lines (single-part form when `parts` is 1), with CRCs.
std::vector<LineList> EncodeYencPost(const std::string& data, const std::string& name, int parts,
                                     size_t line_length = 128, bool escape_dots = false);

// The plain, obviously correct yEnc decoding of one line, to check the fast one against.
std::string ReferenceYencDecode(const std::string& line);

// Output of a shell command (stdout); fails the test when it cannot run.
std::string RunCommand(const std::string& command);

}  // namespace qs::test
