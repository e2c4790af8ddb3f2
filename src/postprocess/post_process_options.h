#pragma once

namespace qs {

// What is done with a set once its last file is filed (the settings' PostProcess value).
enum class PostProcessMode {
    none = 0,
    verify_and_repair = 1,
    repair_and_unpack = 2,
};

struct PostProcessOptions {
    PostProcessMode mode = PostProcessMode::repair_and_unpack;
    bool delete_after_unpack = false;  // the archive volumes and par2 files, once unpacked
};

// A stored setting as a mode; values out of range mean the default.
PostProcessMode PostProcessModeFromSetting(int value);

}  // namespace qs
