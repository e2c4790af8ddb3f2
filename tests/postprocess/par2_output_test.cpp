#include "postprocess/par2_output.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qs {
namespace {

Par2Report Read(std::initializer_list<std::string> lines) {
    Par2Report report;
    for (const std::string& line : lines)
        AddPar2Line(line, report);
    return report;
}

// The recovery blocks par2 loads are summed over its volumes' lines; lines with numbers no
// par2 prints (a damaged or foreign output) stop the sum at the limit instead of overflowing
// it, and progress lines never count.
TEST(Par2Output, LoadedBlocksAddUpAndSaturate) {
    Par2Report report = Read({"Loaded 6 new packets", "Loading: 84.0%",
                              "Loaded 1 new packets including 3 recovery blocks",
                              "Loaded 2 new packets including 4 recovery blocks"});
    EXPECT_EQ(report.blocks_loaded, 7);
    EXPECT_EQ(report.last_line, "Loaded 2 new packets including 4 recovery blocks");

    report = Read({"Loaded 1 new packets including 2147483647 recovery blocks",
                   "Loaded 1 new packets including 5 recovery blocks",
                   "Loaded 1 new packets including 2147483647 recovery blocks"});
    EXPECT_EQ(report.blocks_loaded, INT_MAX);
}

}  // namespace
}  // namespace qs
