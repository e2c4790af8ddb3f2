#pragma once

#include <string>
#include <string_view>

namespace qs {

// What a file is within a posted set; the names decide it, case-insensitively.
enum class SetFileRole {
    plain,            // anything else ("movie.mkv", "info.nfo")
    rar_volume,       // name.part01.rar, name.rar + name.r00 ...
    sevenzip_volume,  // name.7z, name.7z.001 ...
    zip_volume,       // name.zip, name.z01 ...
    par2_index,       // name.par2
    par2_recovery,    // name.vol03+04.par2
};

struct SetFileName {
    std::string base;  // shared by every file of the set, spelled as in the name
    SetFileRole role = SetFileRole::plain;
    // Order among the set's archive volumes (0 first); a split zip's ".zip" comes after
    // every ".zNN", as zip writes it last. Unused for other roles.
    int volume = 0;
    int recovery_blocks = 0;  // blocks in a par2 recovery volume
};

SetFileName ClassifySetFile(std::string_view file_name);

bool IsArchiveVolume(SetFileRole role);

}  // namespace qs
