// What par2 prints while it verifies and repairs, line by line. Input: the output.
//
// Invariants: no count goes negative (nor wraps); present data blocks never exceed their
// total; a progress line names its phase in letters and blanks with a percentage of at least
// 0; the last line kept is a line of the input, trimmed.

#include <cmath>
#include <string>
#include <string_view>

#include "app/text_util.h"
#include "fuzz_support.h"
#include "postprocess/par2_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qs;
    std::string_view input = fuzz::AsText(data, size);
    Par2Report report;
    while (!input.empty()) {
        const size_t lf = input.find_first_of("\r\n");
        const std::string_view line = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        if (const auto progress = ParsePar2Progress(line)) {
            QS_FUZZ_CHECK(!progress->phase.empty());
            for (char c : progress->phase)
                QS_FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ');
            QS_FUZZ_CHECK(progress->percent >= 0 && !std::isnan(progress->percent));
        }
        AddPar2Line(line, report);
        QS_FUZZ_CHECK(report.blocks_available >= 0 && report.blocks_loaded >= 0 &&
                      report.blocks_missing >= 0 && report.blocks_used >= 0 &&
                      report.data_blocks_total >= 0 && report.data_blocks_present >= 0);
        QS_FUZZ_CHECK(report.data_blocks_present <= report.data_blocks_total);
        QS_FUZZ_CHECK(report.last_line.empty() ||
                      std::string_view(report.last_line) == Trim(report.last_line));
    }
    return 0;
}
