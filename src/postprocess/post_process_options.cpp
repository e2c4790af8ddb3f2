#include "postprocess/post_process_options.h"

namespace qs {

PostProcessMode PostProcessModeFromSetting(int value) {
    switch (value) {
        case 0:
            return PostProcessMode::none;
        case 1:
            return PostProcessMode::verify_and_repair;
        default:
            return PostProcessMode::repair_and_unpack;
    }
}

}  // namespace qs
