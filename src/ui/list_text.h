#pragma once

// The texts the lists show, kept apart from the windows so that they can be checked alone.

#include <cstdint>
#include <string>
#include <string_view>

namespace qs::ui {

// Up to 1048576 bytes "%.2f KB" of bytes / 1024, above "%.2f MB" of bytes / 1048576.
std::string SizeText(uint64_t bytes);
// The local time in the 24-character form "Wed Jan 02 02:03:55 1980" (no newline); "" for
// a time the C library cannot convert.
std::string TimeText(int64_t seconds);
// The group list's "Last scanned": "Never..." for 0, else TimeText.
std::string LastScannedText(int64_t seconds);
// Text from servers and files, made fit for display: valid UTF-8 stays as it is, any other
// byte is taken as Latin-1 (a subject in an 8-bit code page still shows, never as "").
std::string DisplayUtf8(std::string_view text);

// The Result column of the Queue and Log tabs: a filed entry's reason, with what became of
// its set ("set: repaired (2 blocks)", noted last) moved to the front; a held recovery
// volume that has no reason says it is held.
std::string ResultText(std::string_view reason, bool held);

}  // namespace qs::ui
