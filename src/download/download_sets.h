#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/records.h"
#include "postprocess/set_names.h"

namespace qs {

// The file name a subject announces: the text between its first pair of quotes, else its
// last word before a closing "yEnc" ("[1/9] - \"Movie.7z.001\" yEnc" -> "Movie.7z.001").
std::string PostedFileName(std::string_view subject);

// The set a queue entry belongs to: entries downloading into one directory whose posted
// names share a base name (compared without case). A plain file and a scan entry belong to
// none.
struct SetKey {
    std::string dir;   // the entry's download directory, without trailing "/"
    std::string base;  // lower case
    bool operator==(const SetKey&) const = default;
};

struct SetMember {
    SetKey key;
    SetFileName name;  // base spelled as posted
};

std::optional<SetMember> SetMemberOf(const Attachment& entry);

}  // namespace qs
