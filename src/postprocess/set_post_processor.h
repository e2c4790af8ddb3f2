#pragma once

#include <functional>
#include <string>
#include <vector>

#include "postprocess/par2_output.h"
#include "postprocess/post_process_options.h"
#include "postprocess/post_process_outcome.h"

namespace qs {

struct PostProcessHooks {
    std::string par2_program = "par2";
    std::function<void(const Par2Progress&)> on_progress;
    std::function<bool()> should_stop;
};

// Verifies and repairs a finished set whose files (names, all in dir) are all present, then
// unpacks each archive of it into dir, as the options say. A set without par2 files is
// unpacked unchecked; a set that cannot be repaired is not unpacked and keeps every file.
// Never throws.
PostProcessOutcome PostProcessSet(const std::string& dir, const std::vector<std::string>& files,
                                  const PostProcessOptions& options,
                                  const PostProcessHooks& hooks = {});

}  // namespace qs
